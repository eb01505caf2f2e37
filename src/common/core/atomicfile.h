#pragma once
// Whole files replaced so that a crash or a power cut leaves either the old
// content or the new one, never a mix: the new bytes go to a temporary file
// beside the target (".<name>.XXXXXX"), which is flushed to the disk,
// renamed over the target, and then the folder itself is flushed so the
// rename is on the disk too.

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace bilmeko {

// Replaces (or creates) the file. An existing file keeps its permissions; a
// new one gets newMode. Throws IoError with the standard message on any
// failure; the old file is then unchanged and no temporary is left.
void replaceFileAtomically(const QString &path, const QByteArray &bytes, mode_t newMode = 0600);

// Removes the temporaries an interrupted replace of this file left behind
// (".<name>.XXXXXX" beside it; only regular files). Returns how many went.
// Only for a folder no other writer uses at the moment.
int removeStaleTemporaries(const QString &path);

} // namespace bilmeko

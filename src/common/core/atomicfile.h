#pragma once
// Whole files replaced so that a crash or a power cut leaves either the old
// content or the new one, never a mix: the new bytes go to a temporary file
// beside the target (".<name>.tmp-XXXXXX", a name no person would give a
// file), which is flushed to the disk,
// renamed over the target, and then the folder itself is flushed so the
// rename is on the disk too. Every whole-file save of the program goes
// through AtomicFile, so removeStaleTemporaries knows all its leftovers.

#include "errors.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <memory>
#include <sys/types.h>

namespace bilmeko {

// A failed replace: the system's error number and its text as the message.
// Callers put it into their own message naming the file.
class AtomicFileError : public Error
{
public:
    explicit AtomicFileError(int errorNumber);
    int errorNumber() const { return m_errno; }

private:
    int m_errno;
};

// One replace, streamed: open() creates the temporary file and gives the
// device writing to it (or another writer fills tempPath() by name);
// commit() makes it the target. Destroyed without a commit, the temporary
// file goes and the target stays as it was.
//
// A symbolic link is followed, so the link stays a link. An existing target
// must be a regular file the user may write (a read-only file stays as it
// is); it keeps its permissions, and its owner when root saves it. A new
// file gets newMode less the umask, as open(2) would give it.
class AtomicFile
{
public:
    explicit AtomicFile(const QString &target, mode_t newMode = 0666);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // The file replaced: the given path made absolute, links followed.
    const QString &target() const { return m_target; }
    // The temporary file; empty until open().
    const QString &tempPath() const { return m_temp; }

    // Creates the temporary file; throws AtomicFileError when the target
    // may not be replaced or the file cannot be made.
    QIODevice &open();
    // Flushes what was written, renames it over the target and flushes the
    // folder; throws AtomicFileError on any failure (a failed write through
    // the device included), the temporary file then removed. Only a failed
    // flush of the folder comes after the rename.
    void commit();

private:
    class Device;
    [[noreturn]] void fail(int err);

    QString m_target;
    mode_t m_newMode;
    QString m_temp;
    int m_fd = -1;
    bool m_exists = false;
    mode_t m_mode = 0;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    std::unique_ptr<Device> m_device;
    bool m_done = false;
};

// Replaces (or creates) the file with these bytes through AtomicFile.
// Throws IoError with the standard message on any failure; the old file is
// then unchanged and no temporary is left.
void replaceFileAtomically(const QString &path, const QByteArray &bytes, mode_t newMode = 0600);

// Removes the temporaries an interrupted replace of this file left behind
// (".<name>.tmp-" and six letters or digits beside it, or beside the file a link leads to; only
// regular files). Returns how many went.
// Only for a folder no other writer uses at the moment.
int removeStaleTemporaries(const QString &path);

} // namespace bilmeko

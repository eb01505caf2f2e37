// Arbitrary bytes as the running-sessions file: the start restores them or
// reports the file as damaged (keeping it aside), never crashes; a file that
// reads is written back to the same bytes and reads back the same.

#include "app/core/sessionboard.h"
#include "app/core/sessionstate.h"
#include "common/core/clock.h"
#include "common/core/formats.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

using namespace bilmeko;

namespace {

QString workDir()
{
    static const QString dir = [] {
        const QString d = QDir::tempPath() + QStringLiteral("/bilmeko-fuzz-state-%1").arg(::getpid());
        QDir().mkpath(d);
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    SessionState state;
    QString problem;
    if (parseSessionState(bytes, state, &problem)) {
        const QByteArray again = serializeSessionState(state);
        SessionState back;
        if (!parseSessionState(again, back, nullptr) || !(back == state))
            std::abort();
    } else if (problem.isEmpty()) {
        std::abort();
    }

    // The start itself, on a file with these bytes and an empty journal.
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    ScopedClock scoped(&clock);
    const QString dir = workDir();
    {
        QFile f(dir + QStringLiteral("/Bilmeko.sessions"));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            std::abort();
    }
    SessionBoard board(dir + QStringLiteral("/Bilmeko.log"));
    board.setStatePath(dir + QStringLiteral("/Bilmeko.sessions"));
    const RestoreReport report = board.restoreSessions();
    const bool damaged
        = !report.problems.isEmpty() && report.problems[0].startsWith(QStringLiteral("Файл идущих сеансов"));
    // The file reader and the start agree on what is damaged; every session
    // read is restored, ended, found written or refused by the checks.
    if (damaged != !problem.isEmpty())
        std::abort();
    endedAwayText(report.endedAway);
    if (!damaged
        && board.curLog().rowCount() + report.endedAway.size() + report.alreadyWritten + report.refused
            != state.sessions.size())
        std::abort();
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return 0;
}

#pragma once
// The running sessions on disk: the file "Bilmeko.sessions" beside the
// journal, rewritten whole (atomically) at every change, read at start.
//
// Format, version 3: UTF-8 text, lines ending in LF, fields separated by
// one TAB.
//
//   Bilmeko sessions<TAB>3
//   boot<TAB><run of the monotonic clock, or "-">[/<journal bytes>]
//   session<TAB><id><TAB><start><TAB><start-mono><TAB><booked><TAB><paused><TAB><pause-start><TAB><pause-start-mono><TAB><price><TAB><client><TAB><service><TAB><note><TAB><payment><TAB><abonement>
//   ... one session line per running session, in the grid's order ...
//   crc32<TAB><8 lowercase hex digits>
//
// journal bytes: the journal's length when the file was saved, less where
// a record of a listed session may already lie (a Stop taken back, an
// append that failed): no record of these sessions lies before it, so the
// start looks at the journal from there on. Without it (earlier files)
// the whole journal is looked at. A version 2 file may carry it too: it
// rides on the boot line, which that version's readers took as one of
// another boot.
//
// paused: milliseconds of the pauses already over. pause-start: the instant
// the pause going on began, "-" while the session runs; pause-start-mono:
// the monotonic clock's reading then, or "-". Version 1 (written before
// pauses existed) has none of the three and still loads. payment: the
// payment method as the journal record keeps it (0 not given, 1 cash, 2
// card, 3 transfer); abonement: 1 when the session draws on the client's
// abonement, else 0. Versions 1 and 2 have neither: 0 and 0.
//
// id: 16 lowercase hex digits, not zero, unique in the file. start: the
// start instant in milliseconds since 1970-01-01 UTC. start-mono: the
// monotonic clock's reading at the start, in milliseconds, or "-"; it is
// used only when "boot" names the machine's current boot. booked: the
// booked duration in milliseconds, extensions included. price: per minute,
// shortest decimal form that reads back exactly ('.' as the point). The
// three texts are percent-encoded (RFC 3986: all but A-Z a-z 0-9 - . _ ~).
// crc32: CRC-32 (zlib's) of every byte before the "crc32" line. Nothing may
// follow that line. Any other content is a damaged file.

#include "session.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace bilmeko {

// A session's line: the Session, and whether its monotonic readings were
// saved (they are "-" otherwise, and mean nothing).
struct SavedSession : Session
{
    bool hasStartMono = false;
    bool hasPauseStartMono = false;

    bool operator==(const SavedSession &) const = default;
};

struct SessionState
{
    QByteArray monotonicRun; // empty: unknown
    qint64 journalFrom = -1; // -1: unknown, the whole journal
    QList<SavedSession> sessions;

    bool operator==(const SessionState &) const = default;
};

namespace sessionstate {
constexpr int Version = 3;
// The oldest version still read.
constexpr int FirstVersion = 1;
// A file larger than this is not a state file of this program.
constexpr qsizetype MaxBytes = 4 * 1024 * 1024;
// Longest booked duration a file may hold: ten years.
constexpr std::int64_t MaxBookedMs = 3650LL * 86'400'000;
// Last millisecond of the year 9999 (UTC).
constexpr std::int64_t MaxInstantMs = 253'402'300'799'999LL;
} // namespace sessionstate

QByteArray serializeSessionState(const SessionState &state);
// One session's line, with its LF: what the board keeps for each session,
// so a save encodes only the sessions that changed.
QByteArray serializeSessionLine(const SavedSession &s, bool withMonotonic);
// The whole file around session lines already encoded.
QByteArray serializeSessionState(const QByteArray &monotonicRun, qint64 journalFrom,
                                 const QList<const QByteArray *> &lines);
// False, with what is wrong in Russian, for anything but a well-formed file.
bool parseSessionState(const QByteArray &bytes, SessionState &state, QString *problem);

// The file itself.
class SessionStateFile
{
public:
    explicit SessionStateFile(QString path = QString()) : m_path(std::move(path)) {}
    QString path() const { return m_path; }
    bool isSet() const { return !m_path.isEmpty(); }

    enum class Status { Missing, Loaded, Damaged };
    struct Loaded
    {
        Status status = Status::Missing;
        SessionState state;
        // Damaged: the message for the operator (names the file, what is
        // wrong and where the file was kept).
        QString message;
        QString keptAs; // where the damaged file now is; empty if it stayed
    };
    // Reads the file. A damaged or unreadable one is renamed aside
    // ("<name>.damaged-<date>-<time>"), never deleted.
    Loaded load() const;
    // Replaces the file atomically; throws Error with a Russian message
    // naming the file when it cannot.
    void save(const SessionState &state) const;
    // The same with the file's bytes already made.
    void save(const QByteArray &bytes) const;
    // Copies the file, as it is now, beside itself
    // ("<name>.damaged-<date>-<time>"), leaving it in place: some sessions in
    // it were not restored. Returns the copy's path, or throws Error.
    QString keepCopy() const;

private:
    QString m_path;
};

} // namespace bilmeko

#pragma once
// The owner's board without a window: every desk of the chain as one typed
// row (its light, its running sessions and their amount due, today's
// sessions, takings and reversals, its last record), a totals row, every
// running session of every desk, the alerts, and a desk's summary over a
// period against the period of equal length before it.
//
// Readings come from the ledger (ownerqueries.h) and hold durations the
// server measured on its own clock at the reading ("seen 40 s ago", "ran
// 25 min"); the board carries them forward on the monotonic clock of
// Clock::current(), so neither the owner's wall clock nor a desk's being
// set wrong moves a light or a charge. The wall clock only names instants
// ("нет связи с 14:05").
//
//     OwnerBoard board(options);
//     board.apply(reading);                       // from the feed, any time
//     for (const OwnerAlert &a : board.tick()) …  // every 20 s and at
//                                                 // board.msToNextChange()

#include "common/core/datetime.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace bilmeko {

class ByteOutput;
class ProfileFile;

// [Owner] of the board's settings file.
struct OwnerOptions
{
    static constexpr int DefaultOfflineMinutes = 10;
    static constexpr int DefaultMaxReversals = 3;
    // A desk not seen for longer is red.
    std::int64_t offlineMs = DefaultOfflineMinutes * MsPerMinute;
    // More reversals than this in a day raise an alert.
    int maxReversals = DefaultMaxReversals;
};

// The board's settings file: [Ledger] Connection= (an owner role's libpq
// connection string) and [Owner] OfflineMinutes= (1 to 1440) and
// MaxReversals= (0 to 10000). An unusable value is named in `problems` and
// its default holds.
struct OwnerSettings
{
    QString connection;
    OwnerOptions options;
    QStringList problems;
};
inline const QString OwnerSection = QStringLiteral("Owner");
OwnerSettings readOwnerSettings(const ProfileFile &ini);
// A fresh settings file: the keys with their defaults, so the owner sees
// what to fill in.
void writeOwnerSettingsTemplate(const ProfileFile &ini);

// One desk as the ledger held it at a reading.
struct DeskLive
{
    QString desk;
    QString version;
    std::int64_t seenAgoMs = -1; // since the desk's last update, server's clock; -1: never
    qint64 recordsWritten = 0;
    qint64 recordsShipped = 0;
    QDateTime lastRecord; // the written time of its newest record (local, as recorded); invalid: none
    bool connected = false;
    qint64 todaySessions = 0; // counted records minus counted reversals
    double todayTakings = 0;
    qint64 todayReversals = 0;
    int openShift = 0; // the shift open at the desk; 0: none, or the ledger keeps no shifts
    QString shiftOperator; // and who works it

    qint64 waiting() const { return std::max<qint64>(recordsWritten - recordsShipped, 0); }
};

// A running session of a desk at a reading.
struct RunningLive
{
    QString desk;
    qint64 sessionId = 0;
    QString client;
    QString service;
    double pricePerMin = 0;
    QDateTime start; // as the desk's clock shows it (its date and time; no zone, held as UTC)
    std::int64_t ranMs = 0; // time run at the reading, pauses left out
    std::int64_t bookedMs = 0; // booked time
    bool paused = false;
};

// One reading: every desk, or only those a notification named.
struct LiveReading
{
    QList<DeskLive> desks;
    QList<RunningLive> running; // of those desks
    bool whole = true; // false: the other desks stay as they were
    QStringList named; // when not whole: the desks re-read (one may have gone)
    std::int64_t readAtMs = 0; // monotonic clock when the answer came
};

enum class Light { Green, Yellow, Red };

// Green: seen within a minute and nothing waiting; yellow: records waiting
// or seen 1 minute to offlineMs ago; red: not seen for longer (or never).
Light deskLight(std::int64_t seenAgoMs, qint64 waiting, std::int64_t offlineMs);

struct DeskRow
{
    DeskLive live;
    Light light = Light::Red;
    std::int64_t seenAgoMs = -1;
    QDateTime lastSeen; // wall clock of the board's machine; invalid: never
    QString lightText; // "на связи", "отправка: 12", "нет связи с 14:05"
    int runningCount = 0; // its rows in the sessions grid
    double runningAmount = 0; // and their amount due now
    bool offlineAlert = false; // raised and not yet over
    bool reversalAlert = false; // today's reversals above the limit
    bool isTotals = false;
};

struct SessionRow
{
    QString desk;
    QString client;
    QString service;
    QDateTime start;
    std::int64_t leftMs = 0;
    double amount = 0;
    bool paused = false;
};

struct OwnerAlert
{
    enum Kind { Offline, Reversals };
    Kind kind = Offline;
    QString desk;
    QString text; // the tray message
};

class OwnerBoard
{
public:
    explicit OwnerBoard(OwnerOptions options = {});

    const OwnerOptions &options() const { return m_options; }
    void setOptions(const OwnerOptions &o) { m_options = o; }

    // Takes a reading; the rows follow at the next tick().
    void apply(const LiveReading &reading);
    // Recomputes every row for the clock's now; the alerts raised by this
    // tick, each once.
    QList<OwnerAlert> tick();

    // By desk name.
    const QList<DeskRow> &desks() const { return m_rows; }
    // What the desk rows add up to; lastSeen and lastRecord the latest.
    DeskRow totals() const;
    // Desk by desk, each desk's in order of start.
    const QList<SessionRow> &sessions() const { return m_sessions; }
    // Milliseconds until a light changes by time alone; -1: none will.
    std::int64_t msToNextChange() const;
    bool hasReading() const { return m_read; }

private:
    struct Desk
    {
        DeskLive live;
        std::int64_t readAtMs = 0;
        QList<RunningLive> running;
        Light shown = Light::Green;
        bool seen = false; // a tick has judged it
        bool offlineAlert = false;
        QDate reversalDay; // the day its reversal alert was raised
    };

    OwnerOptions m_options;
    QHash<QString, Desk> m_desks;
    QList<DeskRow> m_rows;
    QList<SessionRow> m_sessions;
    std::int64_t m_tickAtMs = 0;
    bool m_read = false;
};

// The minute rule of the desk's grid: whole minutes of the time run are
// charged, a started minute is not; a session past its booked end is
// charged the booked time.
double amountDue(std::int64_t ranMs, std::int64_t bookedMs, double pricePerMin);

// "5:04:10", "-" for nothing left; hours beyond 23 go on (26:00:00).
QString leftText(std::int64_t ms);

// A desk's figures over a period, and over the period of equal length
// right before it.
struct DeskPeriod
{
    QString desk;
    qint64 sessions = 0;
    double minutes = 0;
    double takings = 0;
    qint64 reversals = 0;
    qint64 previousSessions = 0;
    double previousTakings = 0;
    // The takings by how they were paid; the rest of them: not said.
    double cash = 0;
    double card = 0;
    double transfer = 0;
};

struct DeskSummaryRow
{
    DeskPeriod figures;
    double average = 0; // takings per session; NaN: no sessions
    double share = 0; // of the total takings, 0..1; NaN: no takings at all
    double change = 0; // against the previous period, +0.25 = 25 % more; NaN: nothing then
};

class DeskSummary
{
public:
    // The previous period: as many days, ending the day before `from`.
    static QDate previousFrom(const QDate &from, const QDate &to);

    DeskSummary(const QDate &from, const QDate &to, QList<DeskPeriod> desks);

    QDate from() const { return m_from; }
    QDate to() const { return m_to; }
    const QList<DeskSummaryRow> &rows() const { return m_rows; }
    // The sum of exactly the rows listed.
    const DeskSummaryRow &total() const { return m_total; }

    // "Сводка по стойкам: 01.10.2026 – 31.12.2026"
    QString title() const;
    // Tab-separated: the column titles, a line per desk, the totals.
    static QString headerLine();
    QString line(const DeskSummaryRow &r) const;
    QString totalsLine() const;
    QStringList lines() const;

    // Text (lines as above) or CSV (UTF-8 with a byte-order mark, ';',
    // decimal comma, percentages as numbers, CR LF, no totals row, like the
    // report's CSV). False when the output refused the bytes.
    bool write(ByteOutput &out, bool csv) const;

private:
    QDate m_from;
    QDate m_to;
    QList<DeskSummaryRow> m_rows;
    DeskSummaryRow m_total;
};

// "+12,5 %", "-3,0 %", "—" for NaN.
QString percentText(double fraction, bool sign);

} // namespace bilmeko

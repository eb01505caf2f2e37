#pragma once
// Today's takings: the sessions the journal holds for one day and their sum,
// read once (from the end of the journal backwards) and then followed record
// by record, and what the running sessions owe so far.
//
//     DayTakings day;
//     day.load(journalPath, clock.today());
//     connect(&board, &SessionBoard::recordAppended, [&](const LogRecord &r) { day.add(r); });
//     label->setText(takingsText(day, runningFigures(board)));
//
// Records are appended in the order sessions end, so a day's records lie at
// the journal's end. Some lie out of that order: a session that ended while
// the program was not running is written at the next start with its booked
// end, and a reversal carries the time of the Stop it takes back. So the
// reading looks back past the day's first record until OrderSlack records
// in a row are older than the day, then reads that stretch forwards, in
// journal order, as the report does: trusted records only, a reversal
// counted only against its Stop (CountedStops). A record of the day lying
// behind more than that many older ones (only a wall clock set back by a
// day or more makes one) is not counted; the period report still shows it.

#include "journal/core/countedstops.h"
#include "journal/core/logrecord.h"
#include "sessionboard.h"

#include <QDate>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace bilmeko {

class DayTakings
{
public:
    static constexpr int OrderSlack = 4096;

    // The journal's figures for that day. A missing journal holds none;
    // throws IoError when it cannot be read (the figures are then zero).
    void load(const QString &journalPath, const QDate &day);
    // One record just appended: counted when it belongs to the day. A
    // reversal takes back one session and its amount when it takes back a
    // counted Stop.
    void add(const LogRecord &record);

    QDate day() const { return m_day; }
    int sessions() const { return m_sessions; }
    double amount() const { return m_amount; }
    // The part of the amount paid by that method.
    double amount(Payment method) const { return m_byMethod[static_cast<size_t>(method) & 3]; }
    // The session of the journal's last record that is neither damaged nor
    // taken back by a reversal after it, among the records the load read;
    // none in an empty journal.
    const std::optional<FinishedSession> &lastFinished() const { return m_lastFinished; }
    // Records the last load read: what it cost.
    qint64 recordsRead() const { return m_read; }

private:
    bool holds(double written) const { return written >= m_first && written < m_first + 1; }

    QDate m_day;
    CountedStops m_stops;
    double m_first = 0;
    int m_sessions = 0;
    double m_amount = 0;
    std::array<double, PaymentCount> m_byMethod{};
    qint64 m_read = 0;
    std::optional<FinishedSession> m_lastFinished;
};

// The running sessions and what they owe now by the minute charge rule.
struct RunningFigures
{
    int sessions = 0;
    double owed = 0;
};
RunningFigures runningFigures(const SessionBoard &board);

// "сеанс", "сеанса" or "сеансов", as goes with the number.
QString sessionsWord(int n);
// "Сегодня: 14 сеансов, 5 230,00 ₽ (нал. 3 000,00 ₽, карта 2 230,00 ₽) · идут:
// 3, 410,00 ₽": once the day has money of a known method, cash and card
// always, a transfer or an amount of no method when there is one.
QString takingsText(const DayTakings &day, const RunningFigures &running);

} // namespace bilmeko

#include "ownerboard.h"

#include "ledgersettings.h"

#include "common/core/clock.h"
#include "common/core/formats.h"
#include "journal/core/reporttext.h"
#include "prices/core/profilefile.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bilmeko {

namespace {

constexpr std::int64_t SeenRecentlyMs = MsPerMinute;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::optional<int> wholeNumber(const QString &text, int least, int most)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < least || v > most)
        return std::nullopt;
    return v;
}

QString instantText(const QDateTime &at, const QDate &today)
{
    const QString hm = at.toString(QStringLiteral("HH:mm"));
    return at.date() == today ? hm : Formats::current().dateText(at.date()) + QLatin1Char(' ') + hm;
}

QString deskName(const QString &desk)
{
    return QStringLiteral("Стойка «%1»").arg(desk);
}

} // namespace

OwnerSettings readOwnerSettings(const ProfileFile &ini)
{
    OwnerSettings s;
    s.connection = ini.readString(LedgerSection, QStringLiteral("Connection")).trimmed();
    const QString offline = ini.readString(OwnerSection, QStringLiteral("OfflineMinutes"));
    if (!offline.trimmed().isEmpty()) {
        if (const auto v = wholeNumber(offline, 1, 24 * 60))
            s.options.offlineMs = *v * MsPerMinute;
        else
            s.problems << QStringLiteral("OfflineMinutes=%1: нужно целое число минут от 1 до 1440, взято %2")
                              .arg(offline, QString::number(OwnerOptions::DefaultOfflineMinutes));
    }
    const QString reversals = ini.readString(OwnerSection, QStringLiteral("MaxReversals"));
    if (!reversals.trimmed().isEmpty()) {
        if (const auto v = wholeNumber(reversals, 0, 10'000))
            s.options.maxReversals = *v;
        else
            s.problems << QStringLiteral("MaxReversals=%1: нужно целое число от 0 до 10000, взято %2")
                              .arg(reversals, QString::number(OwnerOptions::DefaultMaxReversals));
    }
    return s;
}

void writeOwnerSettingsTemplate(const ProfileFile &ini)
{
    ini.writeString(LedgerSection, QStringLiteral("Connection"), QString());
    ini.writeString(OwnerSection, QStringLiteral("OfflineMinutes"),
                    QString::number(OwnerOptions::DefaultOfflineMinutes));
    ini.writeString(OwnerSection, QStringLiteral("MaxReversals"), QString::number(OwnerOptions::DefaultMaxReversals));
}

Light deskLight(std::int64_t seenAgoMs, qint64 waiting, std::int64_t offlineMs)
{
    if (seenAgoMs < 0 || seenAgoMs > offlineMs)
        return Light::Red;
    if (waiting > 0 || seenAgoMs >= SeenRecentlyMs)
        return Light::Yellow;
    return Light::Green;
}

double amountDue(std::int64_t ranMs, std::int64_t bookedMs, double pricePerMin)
{
    const std::int64_t charged = std::clamp<std::int64_t>(ranMs, 0, std::max<std::int64_t>(bookedMs, 0));
    return double(charged / MsPerMinute) * pricePerMin;
}

QString leftText(std::int64_t ms)
{
    if (ms <= 0)
        return QStringLiteral("-");
    const std::int64_t s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

OwnerBoard::OwnerBoard(OwnerOptions options) : m_options(options)
{
}

void OwnerBoard::apply(const LiveReading &reading)
{
    if (reading.whole) {
        // A desk the ledger no longer lists (its rows removed) leaves.
        QSet<QString> listed;
        for (const DeskLive &d : reading.desks)
            listed.insert(d.desk);
        for (auto it = m_desks.begin(); it != m_desks.end();)
            it = listed.contains(it.key()) ? std::next(it) : m_desks.erase(it);
    } else {
        for (const QString &name : reading.named)
            if (auto it = m_desks.find(name); it != m_desks.end())
                it->running.clear();
    }
    for (const DeskLive &d : reading.desks) {
        Desk &desk = m_desks[d.desk];
        desk.live = d;
        desk.readAtMs = reading.readAtMs;
        desk.running.clear();
    }
    for (const RunningLive &r : reading.running)
        if (auto it = m_desks.find(r.desk); it != m_desks.end())
            it->running.append(r);
    m_read = true;
}

QList<OwnerAlert> OwnerBoard::tick()
{
    const Clock &clock = Clock::current();
    const std::int64_t mono = clock.monotonicMs();
    const QDateTime wall = clock.now();
    const QDate today = wall.date();
    m_tickAtMs = mono;

    QList<OwnerAlert> alerts;
    QStringList names = m_desks.keys();
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return QString::localeAwareCompare(a, b) < 0; });
    m_rows.clear();
    m_sessions.clear();
    for (const QString &name : names) {
        Desk &d = m_desks[name];
        const std::int64_t since = std::max<std::int64_t>(mono - d.readAtMs, 0);
        DeskRow row;
        row.live = d.live;
        row.seenAgoMs = d.live.seenAgoMs < 0 ? -1 : d.live.seenAgoMs + since;
        if (row.seenAgoMs >= 0)
            row.lastSeen = wall.addMSecs(-row.seenAgoMs);
        row.light = deskLight(row.seenAgoMs, d.live.waiting(), m_options.offlineMs);
        switch (row.light) {
        case Light::Green: row.lightText = QStringLiteral("на связи"); break;
        case Light::Yellow:
            row.lightText = d.live.waiting() > 0
                ? QStringLiteral("отправка: %1").arg(d.live.waiting())
                : QStringLiteral("была на связи %1 мин назад").arg(row.seenAgoMs / MsPerMinute);
            break;
        case Light::Red:
            row.lightText = row.lastSeen.isValid()
                ? QStringLiteral("нет связи с %1").arg(instantText(row.lastSeen, today))
                : QStringLiteral("нет связи");
            break;
        }

        // Turning red is told once; the mark stays while it is red.
        if (row.light == Light::Red && d.seen && d.shown != Light::Red) {
            d.offlineAlert = true;
            alerts.append({OwnerAlert::Offline, name, deskName(name) + QLatin1String(": ") + row.lightText});
        }
        if (row.light != Light::Red)
            d.offlineAlert = false;
        d.shown = row.light;
        d.seen = true;
        // The reversals counted are today's: the mark goes at midnight.
        const bool manyReversals = d.live.todayReversals > m_options.maxReversals;
        if (manyReversals && d.reversalDay != today) {
            d.reversalDay = today;
            alerts.append({OwnerAlert::Reversals, name,
                           QStringLiteral("%1: отмен за сегодня %2 (допустимо %3)")
                               .arg(deskName(name))
                               .arg(d.live.todayReversals)
                               .arg(m_options.maxReversals)});
        }
        row.offlineAlert = d.offlineAlert;
        row.reversalAlert = manyReversals && d.reversalDay == today;

        QList<RunningLive> running = d.running;
        std::stable_sort(running.begin(), running.end(),
                         [](const RunningLive &a, const RunningLive &b) { return a.start < b.start; });
        for (const RunningLive &r : running) {
            const std::int64_t ran = r.ranMs + (r.paused ? 0 : since);
            SessionRow s{name,    r.client,         r.service,
                         r.start, r.bookedMs - ran, amountDue(ran, r.bookedMs, r.pricePerMin),
                         r.paused};
            row.runningAmount += s.amount;
            ++row.runningCount;
            m_sessions.append(s);
        }
        m_rows.append(row);
    }
    return alerts;
}

DeskRow OwnerBoard::totals() const
{
    DeskRow t;
    t.isTotals = true;
    t.live.desk = QStringLiteral("Итого");
    long double takings = 0;
    for (const DeskRow &r : m_rows) {
        t.runningCount += r.runningCount;
        t.runningAmount += r.runningAmount;
        t.live.todaySessions += r.live.todaySessions;
        takings += r.live.todayTakings;
        t.live.todayReversals += r.live.todayReversals;
        t.live.recordsWritten += r.live.recordsWritten;
        t.live.recordsShipped += r.live.recordsShipped;
        if (r.live.lastRecord.isValid() && (!t.live.lastRecord.isValid() || r.live.lastRecord > t.live.lastRecord))
            t.live.lastRecord = r.live.lastRecord;
    }
    t.live.todayTakings = double(takings);
    qsizetype red = 0;
    for (const DeskRow &r : m_rows)
        red += r.light == Light::Red ? 1 : 0;
    t.light = red > 0 ? Light::Red : Light::Green;
    t.lightText = red > 0 ? QStringLiteral("нет связи: %1 из %2").arg(red).arg(m_rows.size())
                          : QStringLiteral("стоек: %1").arg(m_rows.size());
    return t;
}

std::int64_t OwnerBoard::msToNextChange() const
{
    std::int64_t next = -1;
    const std::int64_t since = Clock::current().monotonicMs() - m_tickAtMs;
    for (const DeskRow &r : m_rows) {
        if (r.seenAgoMs < 0 || r.light == Light::Red)
            continue;
        const std::int64_t age = r.seenAgoMs + since;
        for (const std::int64_t edge : {SeenRecentlyMs, m_options.offlineMs + 1}) {
            if (age < edge && (next < 0 || edge - age < next))
                next = edge - age;
        }
    }
    return next;
}

QString percentText(double fraction, bool sign)
{
    if (!std::isfinite(fraction))
        return QStringLiteral("—");
    QString s = Formats::fixedHalfUp(fraction * 100, 1).replace(QLatin1Char('.'), QLatin1Char(','));
    // The sign of a negative number is in the digits already.
    if (sign && fraction > 0 && s != QLatin1String("0,0"))
        s.prepend(QLatin1Char('+'));
    return s + QStringLiteral(" %");
}

QDate DeskSummary::previousFrom(const QDate &from, const QDate &to)
{
    return from.addDays(-(from.daysTo(to) + 1));
}

namespace {

DeskSummaryRow summaryRow(const DeskPeriod &p, double total)
{
    DeskSummaryRow r;
    r.figures = p;
    r.average = p.sessions > 0 ? p.takings / double(p.sessions) : NaN;
    r.share = total != 0 ? p.takings / total : NaN;
    r.change = p.previousTakings > 0 ? (p.takings - p.previousTakings) / p.previousTakings : NaN;
    return r;
}

QString minutesText(double m)
{
    return Formats::generalNumber(std::round(m * 100) / 100);
}

} // namespace

DeskSummary::DeskSummary(const QDate &from, const QDate &to, QList<DeskPeriod> desks) : m_from(from), m_to(to)
{
    std::sort(desks.begin(), desks.end(),
              [](const DeskPeriod &a, const DeskPeriod &b) { return QString::localeAwareCompare(a.desk, b.desk) < 0; });
    DeskPeriod all;
    all.desk = QStringLiteral("Итого");
    long double takings = 0, previous = 0, minutes = 0, cash = 0, card = 0, transfer = 0;
    for (const DeskPeriod &d : desks) {
        all.sessions += d.sessions;
        minutes += d.minutes;
        takings += d.takings;
        all.reversals += d.reversals;
        all.previousSessions += d.previousSessions;
        previous += d.previousTakings;
        cash += d.cash;
        card += d.card;
        transfer += d.transfer;
    }
    all.takings = double(takings);
    all.minutes = double(minutes);
    all.previousTakings = double(previous);
    all.cash = double(cash);
    all.card = double(card);
    all.transfer = double(transfer);
    for (const DeskPeriod &d : desks)
        m_rows.append(summaryRow(d, all.takings));
    m_total = summaryRow(all, all.takings);
}

QString DeskSummary::title() const
{
    const Formats &f = Formats::current();
    return QStringLiteral("Сводка по стойкам: %1 – %2").arg(f.dateText(m_from), f.dateText(m_to));
}

QString DeskSummary::headerLine()
{
    return QStringLiteral("Стойка\tСеансов\tМинут\tВыручка\tСредний чек\tДоля\tК прошлому периоду"
                          "\tНаличные\tКарта\tПеревод");
}

QString DeskSummary::line(const DeskSummaryRow &r) const
{
    const DeskPeriod &f = r.figures;
    return QStringList{f.desk,
                       QString::number(f.sessions),
                       minutesText(f.minutes),
                       Formats::money(f.takings),
                       std::isfinite(r.average) ? Formats::money(r.average) : QStringLiteral("—"),
                       percentText(r.share, false),
                       percentText(r.change, true),
                       Formats::money(f.cash),
                       Formats::money(f.card),
                       Formats::money(f.transfer)}
        .join(QLatin1Char('\t'));
}

QString DeskSummary::totalsLine() const
{
    return line(m_total);
}

QStringList DeskSummary::lines() const
{
    QStringList out{headerLine()};
    for (const DeskSummaryRow &r : m_rows)
        out << line(r);
    out << totalsLine();
    return out;
}

bool DeskSummary::write(ByteOutput &out, bool csv) const
{
    if (!csv) {
        for (const QString &l : lines()) {
            out.putUtf8(l);
            out.put('\n');
        }
        return out.flush();
    }
    const auto number = [](double v, int decimals) {
        return std::isfinite(v) ? Formats::fixedHalfUp(v, decimals).replace(QLatin1Char('.'), QLatin1Char(','))
                                : QString();
    };
    out.put("\xEF\xBB\xBF");
    out.putUtf8(QStringLiteral("Стойка;Сеансов;Минут;Выручка;Средний чек;Доля, %;К прошлому периоду, %;"
                               "Выручка в прошлом периоде;Наличные;Карта;Перевод\r\n"));
    for (const DeskSummaryRow &r : m_rows) {
        const DeskPeriod &f = r.figures;
        const QByteArray desk = CsvWriter::sourceField(f.desk);
        out.put(std::string_view(desk.constData(), size_t(desk.size())));
        out.putUtf8(QLatin1Char(';') + QString::number(f.sessions) + QLatin1Char(';') + minutesText(f.minutes)
                    + QLatin1Char(';') + number(f.takings, 2) + QLatin1Char(';') + number(r.average, 2)
                    + QLatin1Char(';') + number(r.share * 100, 1) + QLatin1Char(';') + number(r.change * 100, 1)
                    + QLatin1Char(';') + number(f.previousTakings, 2) + QLatin1Char(';') + number(f.cash, 2)
                    + QLatin1Char(';') + number(f.card, 2) + QLatin1Char(';') + number(f.transfer, 2)
                    + QStringLiteral("\r\n"));
    }
    return out.flush();
}

} // namespace bilmeko

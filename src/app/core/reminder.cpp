#include "reminder.h"

#include "app/core/sessionboard.h"
#include "common/core/errors.h"
#include "prices/core/profilefile.h"

namespace bilmeko {

QList<MemTable::RowId> SessionReminder::update(const QList<TimeLeft> &sessions)
{
    QList<MemTable::RowId> fresh;
    const qint64 window = qint64(m_minutes) * 60'000;
    const auto due = [&](qint64 left) { return m_minutes > 0 && left > 0 && left <= window; };
    // Most looks change no mark: then nothing is built.
    qsizetype stay = 0;
    for (const auto &[id, left] : sessions) {
        if (!due(left))
            continue;
        if (m_marked.contains(id))
            ++stay;
        else
            fresh.append(id);
    }
    if (fresh.isEmpty() && stay == m_marked.size())
        return fresh;
    QSet<MemTable::RowId> marked;
    marked.reserve(stay + fresh.size());
    for (const auto &[id, left] : sessions)
        if (due(left))
            marked.insert(id);
    m_marked = std::move(marked);
    return fresh;
}

QList<TimeLeft> timeLeftOf(const SessionBoard &board)
{
    const MemTable &log = board.curLog();
    QList<TimeLeft> out;
    out.reserve(log.rowCount());
    for (int r = 0; r < log.rowCount(); ++r) {
        const MemTable::RowId id = log.rowId(r);
        if (const Session *s = board.session(id))
            out.append({id, s->bookedMs - board.elapsedMs(id)});
    }
    return out;
}

ReminderOption readReminderOption(const ProfileFile &ini)
{
    ReminderOption option;
    const QString section = QLatin1String(OptionsSection);
    const QString key = QLatin1String(ReminderKey);
    const QString text = ini.readString(section, key).trimmed();
    bool ok = false;
    const int minutes = text.toInt(&ok);
    if (ok && minutes >= 0 && minutes <= SessionReminder::MaxMinutes) {
        option.minutes = minutes;
        return option;
    }
    if (text.isEmpty())
        return option;
    option.message = QStringLiteral("В файле «%1» в разделе [%2] значение %3=%4 не подходит: нужно целое "
                                    "число минут от 0 до %5 (0 — без напоминания). Напоминание будет за "
                                    "%6 мин. до конца сеанса; это значение записано в файл.")
                         .arg(ini.path(), section, key, text)
                         .arg(SessionReminder::MaxMinutes)
                         .arg(SessionReminder::DefaultMinutes);
    try {
        ini.writeString(section, key, QString::number(SessionReminder::DefaultMinutes));
    } catch (const Error &) {
        // A read-only file: the default holds for this run.
        if (!option.message.isEmpty())
            option.message.replace(QStringLiteral("; это значение записано в файл."), QStringLiteral("."));
    }
    return option;
}

} // namespace bilmeko

#include "receipt.h"

#include "common/core/formats.h"
#include "sessionboard.h"

namespace bilmeko {

QString Receipt::text() const
{
    QStringList out{salon, title};
    for (const auto &[label, value] : lines)
        out << label + QStringLiteral(": ") + value;
    return out.join(QLatin1Char('\n'));
}

Receipt makeReceipt(const FinishedSession &f, const QString &salon, const QDateTime &printed)
{
    const Formats &fm = Formats::current();
    const auto when = [&fm](const QDateTime &t) {
        return fm.dateText(t.date()) + QLatin1Char(' ') + fm.timeText(t.time());
    };
    Receipt r;
    r.salon = salon.isEmpty() ? QStringLiteral("Bilmeko") : salon;
    r.title = QStringLiteral("Чек");
    r.lines = {
        {QStringLiteral("Клиент"), f.client},
        {QStringLiteral("Услуга"), f.service},
        {QStringLiteral("Цена за минуту"), fm.currency2(f.price)},
        {QStringLiteral("Начало"), when(QDateTime::fromMSecsSinceEpoch(f.session.startUtcMs))},
        {QStringLiteral("Конец"), when(QDateTime::fromMSecsSinceEpoch(f.endUtcMs))},
    };
    // What the minutes charged leave out, so the client can follow the sum.
    if (const std::int64_t pauses = f.session.pauseMs(f.endMonoMs); pauses >= MsPerMinute)
        r.lines.append({QStringLiteral("Паузы, мин"), QString::number(pauses / MsPerMinute)});
    r.lines.append({QStringLiteral("Минут"), QString::number(f.charge.minutes)});
    r.lines.append({QStringLiteral("Сумма"), fm.currency2(f.charge.amount)});
    r.lines.append({QStringLiteral("Напечатано"), when(printed)});
    return r;
}

} // namespace bilmeko

#include "receipt.h"

#include "cashdesk/core/abonement.h"
#include "common/core/formats.h"
#include "sessionboard.h"

namespace bilmeko {

QString Receipt::text() const
{
    QStringList out{salon, title};
    for (const auto &[label, value] : lines)
        out << label + QStringLiteral(": ") + value;
    if (!footer.isEmpty())
        out << footer;
    return out.join(QLatin1Char('\n'));
}

namespace {

QString when(const QDateTime &t)
{
    const Formats &fm = Formats::current();
    return fm.dateText(t.date()) + QLatin1Char(' ') + fm.timeText(t.time());
}

void head(Receipt &r, const QString &title, const QString &salon, const ReceiptHeading &h)
{
    r.salon = salon.isEmpty() ? QStringLiteral("Bilmeko") : salon;
    r.title = h.number > 0 ? QStringLiteral("%1 № %2").arg(title).arg(h.number) : title;
    if (h.copy)
        r.title += QStringLiteral(" (копия)");
    if (!h.desk.isEmpty())
        r.lines.append({QStringLiteral("Касса"), h.desk});
    r.lines.append(
        {QStringLiteral("Оператор"), h.operatorName.isEmpty() ? QStringLiteral("смена не открыта") : h.operatorName});
    r.footer = NotFiscal;
}

} // namespace

Receipt makeReceipt(const FinishedSession &f, const QString &salon, const QDateTime &printed,
                    const ReceiptHeading &heading)
{
    const Formats &fm = Formats::current();
    Receipt r;
    head(r, QStringLiteral("Чек"), salon, heading);
    const std::int64_t pauses = std::max<std::int64_t>(f.session.pauseMs(f.endMonoMs), 0);
    // What the start, the pauses and the end leave: the time charged, to
    // the second, so the lines add up.
    const std::int64_t charged = std::max<std::int64_t>(f.endUtcMs - f.session.startUtcMs - pauses, 0);
    r.lines.append({QStringLiteral("Клиент"), f.session.client});
    r.lines.append({QStringLiteral("Услуга"), f.session.service});
    r.lines.append({QStringLiteral("Цена за минуту"), fm.currency2(f.session.price)});
    r.lines.append({QStringLiteral("Начало"), when(QDateTime::fromMSecsSinceEpoch(f.session.startUtcMs))});
    if (pauses >= 1000)
        r.lines.append({QStringLiteral("Паузы"), elapsedText(pauses)});
    r.lines.append({QStringLiteral("Время"), elapsedText(charged)});
    r.lines.append({QStringLiteral("Конец"), when(QDateTime::fromMSecsSinceEpoch(f.endUtcMs))});
    r.lines.append({QStringLiteral("Минут"), QString::number(f.charge.minutes)});
    if (f.session.abonement)
        r.lines.append({QStringLiteral("Оплата"), QStringLiteral("абонемент, %1 мин").arg(f.charge.minutes)});
    else
        r.lines.append({QStringLiteral("Оплата"), paymentText(f.session.payment)});
    r.lines.append({QStringLiteral("Сумма"), fm.currency2(f.charge.amount)});
    r.lines.append({QStringLiteral("Напечатано"), when(printed)});
    return r;
}

Receipt makeReversalSlip(const FinishedSession &f, const QString &salon, const QDateTime &printed,
                         const ReceiptHeading &heading, int stopReceipt)
{
    const Formats &fm = Formats::current();
    Receipt r;
    head(r, QStringLiteral("Отмена"), salon, heading);
    if (stopReceipt > 0)
        r.lines.append({QStringLiteral("Отменяет чек"), QStringLiteral("№ %1").arg(stopReceipt)});
    r.lines.append({QStringLiteral("Клиент"), f.session.client});
    r.lines.append({QStringLiteral("Услуга"), f.session.service});
    r.lines.append({QStringLiteral("Стоп"), when(QDateTime::fromMSecsSinceEpoch(f.endUtcMs))});
    r.lines.append({QStringLiteral("Минут"), QString::number(-f.charge.minutes)});
    r.lines.append({QStringLiteral("Оплата"), paymentText(f.session.payment)});
    r.lines.append({QStringLiteral("Сумма"), fm.currency2(-f.charge.amount)});
    r.lines.append({QStringLiteral("Напечатано"), when(printed)});
    return r;
}

Receipt makeAbonementReceipt(const LogRecord &sale, const QString &salon, const QDateTime &printed,
                             const ReceiptHeading &heading)
{
    const Formats &fm = Formats::current();
    Receipt r;
    head(r, QStringLiteral("Чек"), salon, heading);
    r.lines.append({QStringLiteral("Клиент"), sale.clientName});
    r.lines.append({QStringLiteral("Абонемент"), sale.service});
    r.lines.append({QStringLiteral("Минут"), QString::number(soldMinutes(sale))});
    r.lines.append({QStringLiteral("Продан"), when(toDateTime(sale.written))});
    r.lines.append({QStringLiteral("Оплата"), paymentText(sale.payment)});
    r.lines.append({QStringLiteral("Сумма"), fm.currency2(sale.amount)});
    r.lines.append({QStringLiteral("Напечатано"), when(printed)});
    return r;
}

} // namespace bilmeko

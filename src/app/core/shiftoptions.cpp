#include "shiftoptions.h"

#include "prices/core/profilefile.h"
#include "reminder.h"

namespace bilmeko {

namespace {

QString unusable(const ProfileFile &ini, const QString &key, const QString &value, const QString &want,
                 const QString &instead)
{
    return QStringLiteral("В файле «%1» в разделе [%2] значение %3=%4 не подходит: %5. Вместо него "
                          "используется %6.")
        .arg(ini.path(), QLatin1String(OptionsSection), key, value, want, instead);
}

} // namespace

Payment paymentFromName(const QString &name)
{
    const QString n = name.trimmed().toLower();
    for (Payment p : ChosenPayments)
        if (n == paymentText(p))
            return p;
    if (n == QLatin1String("cash"))
        return Payment::Cash;
    if (n == QLatin1String("card"))
        return Payment::Card;
    if (n == QLatin1String("transfer"))
        return Payment::Transfer;
    return Payment::Unknown;
}

ShiftOptions readShiftOptions(const ProfileFile &ini)
{
    ShiftOptions o;
    const QString section = QLatin1String(OptionsSection);
    const auto read = [&](const char *key) { return ini.readString(section, QLatin1String(key)).trimmed(); };

    if (const QString v = read("UndoStopMinutes"); !v.isEmpty()) {
        bool ok = false;
        const int n = v.toInt(&ok);
        if (ok && n >= 0 && n <= ShiftOptions::MaxUndoStopMinutes)
            o.undoStopMinutes = n;
        else
            o.messages << unusable(ini, QStringLiteral("UndoStopMinutes"), v,
                                   QStringLiteral("нужно целое число минут от 0 до %1 (0 — стоп не отменяется)")
                                       .arg(ShiftOptions::MaxUndoStopMinutes),
                                   QString::number(ShiftOptions::DefaultUndoStopMinutes));
    }
    if (const QString v = read("Receipt"); !v.isEmpty()) {
        if (v == QLatin1String("0") || v == QLatin1String("1"))
            o.receipt = v == QLatin1String("1");
        else
            o.messages << unusable(ini, QStringLiteral("Receipt"), v, QStringLiteral("нужно 1 (печатать чек) или 0"),
                                   QStringLiteral("0"));
    }
    o.salonName = read("SalonName");
    if (const QString v = read("ReceiptWidth"); !v.isEmpty()) {
        if (v == QLatin1String("58") || v == QLatin1String("80"))
            o.receiptWidthMm = v.toInt();
        else
            o.messages << unusable(ini, QStringLiteral("ReceiptWidth"), v,
                                   QStringLiteral("ширина ленты в мм: 58 или 80"), QStringLiteral("58"));
    }
    if (const QString v = read("Payment"); !v.isEmpty()) {
        if (const Payment p = paymentFromName(v); p != Payment::Unknown)
            o.payment = p;
        else
            o.messages << unusable(ini, QStringLiteral("Payment"), v,
                                   QStringLiteral("способ оплаты: наличные, карта или перевод"),
                                   paymentText(Payment::Cash));
    }
    return o;
}

} // namespace bilmeko

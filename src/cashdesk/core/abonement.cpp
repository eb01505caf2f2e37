#include "abonement.h"

#include "common/core/errors.h"
#include "journal/core/countedstops.h"
#include "journal/core/periodreport.h"
#include "prices/core/profilefile.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <cstring>

namespace bilmeko {

namespace {

const QString Section = QStringLiteral("Abonements");

QString clientKey(const QString &name)
{
    return name.trimmed().toCaseFolded();
}

} // namespace

AbonementKinds readAbonementKinds(const ProfileFile &ini)
{
    AbonementKinds out;
    for (const profile::Entry &e : ini.readSection(Section)) {
        const QStringList parts = e.value.split(QLatin1Char(';'));
        bool minutesOk = false, priceOk = false;
        AbonementKind k;
        k.name = e.key.trimmed();
        if (parts.size() == 2) {
            k.minutes = parts[0].trimmed().toInt(&minutesOk);
            QString price = parts[1].trimmed();
            price.replace(QLatin1Char(','), QLatin1Char('.'));
            k.price = price.toDouble(&priceOk);
        }
        if (k.name.isEmpty() || !minutesOk || !priceOk || k.minutes < 1 || k.minutes > 100'000
            || !std::isfinite(k.price) || k.price < 0 || k.price > 10'000'000) {
            out.messages << QStringLiteral("В файле «%1» в разделе [Abonements] строка %2=%3 не подходит: нужно "
                                           "Название=минуты;цена, например 10 часов=600;4500. Абонемент не "
                                           "продается.")
                                .arg(ini.path(), e.key, e.value);
            continue;
        }
        out.kinds.append(k);
    }
    return out;
}

LogRecord abonementSale(const QString &client, const AbonementKind &kind, Payment payment, DateTimeValue now)
{
    LogRecord r;
    r.written = now;
    r.startTime = now - std::floor(now);
    r.endTime = r.startTime;
    r.amount = kind.price;
    r.clientName = client;
    r.service = kind.name;
    r.note = QStringLiteral("%1 мин").arg(kind.minutes);
    r.status = StatusAbonement;
    r.payment = payment;
    r.abonement = true;
    return r;
}

int soldMinutes(const LogRecord &r)
{
    if (!r.abonement || r.status != StatusAbonement)
        return 0;
    const qsizetype space = r.note.indexOf(QLatin1Char(' '));
    bool ok = false;
    const int n = r.note.left(space).toInt(&ok);
    return ok && n > 0 && n <= 100'000 ? n : 0;
}

AbonementBalance abonementBalance(const JournalSource &journal, const QString &client)
{
    AbonementBalance b;
    const QString key = clientKey(client);
    // A session's Stop and its reversal both carry the flag: the flag's
    // records alone tell which reversal takes back a counted Stop.
    CountedStops stops;
    scanJournal(journal, true, [&](const char *records, qint64 count, qint64) {
        for (qint64 k = 0; k < count; ++k) {
            const char *stored = records + k * RecordSize;
            // Only the flag's records, and only those to be trusted.
            if (!isAbonementRecord(stored) || !trustedRecord(stored) || !stops.counts(stored))
                continue;
            RecordBytes plain;
            std::memcpy(plain.data(), stored, RecordSize);
            ScrambleRecord(plain);
            const LogRecord r = deserializeRecord(plain.data());
            if (clientKey(r.clientName) != key)
                continue;
            const int sign = r.reversal ? -1 : 1;
            if (r.status == StatusAbonement) {
                b.bought += soldMinutes(r);
            } else {
                b.used += sign * (roundToMs(std::fabs(r.elapsed)) / MsPerMinute);
            }
        }
    });
    return b;
}

AbonementBalance abonementBalance(const QString &journalPath, const QString &client)
{
    if (!QFile::exists(journalPath))
        return {};
    try {
        const auto source = FileSource::openForReading(journalPath);
        return abonementBalance(*source, client);
    } catch (const Error &e) {
        throw Error(
            QStringLiteral("Журнал \"%1\" не прочитан: %2").arg(QDir::toNativeSeparators(journalPath), e.message()));
    }
}

} // namespace bilmeko

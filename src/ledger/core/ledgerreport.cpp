#include "ledgerreport.h"

#include "ledger.h"

#include "journal/core/periodreport.h"
#include "journal/core/reportcsv.h"

#include <QDate>
#include <cstring>

namespace bilmeko {

namespace {

QString dayText(DateTimeValue v)
{
    return dateOf(v).toString(QStringLiteral("yyyy-MM-dd"));
}

// A text[] value for a parameter: every element quoted.
QString textArray(const QStringList &items)
{
    QString out = QStringLiteral("{");
    for (qsizetype i = 0; i < items.size(); ++i) {
        QString e = items[i];
        e.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        out += (i ? QStringLiteral(",\"") : QStringLiteral("\"")) + e + QLatin1Char('"');
    }
    return out + QLatin1Char('}');
}

const char Where[] = " FROM bilmeko.records WHERE written >= $1::date AND written < $2::date + 1"
                     " AND ($3::text[] IS NULL OR desk = ANY($3::text[]))";

} // namespace

LedgerTotals ledgerReport(PgConnection &c, DateTimeValue dateBeg, DateTimeValue dateEnd, const QStringList &desks,
                          const std::function<bool(const QString &desk, const LogRecord &r)> &row)
{
    checkLedgerSchema(c);
    const QList<QString> params = {dayText(dateBeg), dayText(dateEnd), desks.isEmpty() ? QString() : textArray(desks)};
    LedgerTotals t;
    c.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    try {
        const PgResult sums = c.exec((QByteArrayLiteral("SELECT count(*), coalesce(sum(amount), 0)::text,"
                                                        " coalesce(extract(epoch FROM sum(elapsed)), 0)::text")
                                      + Where).constData(),
                                     params);
        t.records = sums.number(0, 0);
        t.amount = sums.text(0, 1).toDouble();
        t.days = sums.text(0, 2).toDouble() / 86400.0L;
        c.exec((QByteArrayLiteral("DECLARE ledger_rows NO SCROLL CURSOR FOR SELECT desk, raw") + Where
                + " ORDER BY desk, journal_offset")
                   .constData(),
               params);
        bool more = true;
        while (more) {
            const PgResult piece = c.exec("FETCH 5000 FROM ledger_rows");
            for (int i = 0; i < piece.rows() && more; ++i) {
                QByteArray raw = piece.bytes(i, 1);
                if (raw.size() != RecordSize)
                    continue;
                ScrambleRecord(raw.data());
                more = row(piece.text(i, 0), deserializeRecord(raw.constData()));
            }
            if (piece.rows() == 0)
                break;
        }
        c.exec("COMMIT");
    } catch (...) {
        if (c.ok())
            c.exec("ROLLBACK");
        throw;
    }
    return t;
}

QString deskColumnTitle()
{
    return QStringLiteral("Стойка");
}

bool writeLedgerReport(QIODevice &out, PgConnection &c, DateTimeValue dateBeg, DateTimeValue dateEnd,
                       const QStringList &desks, bool csv)
{
    bool ok = true;
    QByteArray buffer;
    const auto flush = [&](bool always) {
        if (ok && (always || buffer.size() > (1 << 16))) {
            ok = out.write(buffer) == buffer.size();
            buffer.clear();
        }
        return ok;
    };
    if (csv) {
        buffer += "\xEF\xBB\xBF";
        QStringList head = csvColumns(false);
        head << deskColumnTitle();
        for (QString &f : head)
            f = csvField(f);
        buffer += head.join(QLatin1Char(';')).toUtf8() + "\r\n";
    } else {
        buffer += (reportHeader() + QLatin1Char('\t') + deskColumnTitle() + QLatin1Char('\n')).toUtf8();
    }
    const LedgerTotals t = ledgerReport(c, dateBeg, dateEnd, desks, [&](const QString &desk, const LogRecord &r) {
        if (csv) {
            QStringList fields = csvRecordFields(r);
            fields << desk;
            for (QString &f : fields)
                f = csvField(f);
            buffer += fields.join(QLatin1Char(';')).toUtf8() + "\r\n";
        } else {
            buffer += (reportLine(r) + QLatin1Char('\t') + desk + QLatin1Char('\n')).toUtf8();
        }
        return flush(false);
    });
    if (!csv)
        buffer += (totalsText(t.amount, t.days) + QLatin1Char('\n')).toUtf8();
    return flush(true);
}

} // namespace bilmeko

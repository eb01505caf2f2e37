#include "ledgerreport.h"

#include "ledger.h"

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

} // namespace bilmeko

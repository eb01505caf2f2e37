#include "ledgerreport.h"

#include "ledger.h"

#include "journal/core/periodreport.h"

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
                          const std::function<bool(const QString &desk, const char *plain)> &row)
{
    // A reversal with no Stop of its own before it is listed, not summed.
    const QByteArray counted = checkLedgerSchema(c) >= 2 ? " FILTER (WHERE counted)" : "";
    const QList<QString> params = {dayText(dateBeg), dayText(dateEnd), desks.isEmpty() ? QString() : textArray(desks)};
    LedgerTotals t;
    PgTransaction tx(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    const PgResult sums
        = c.exec((QByteArrayLiteral("SELECT count(*), coalesce(sum(amount)") + counted
                  + ", 0)::text, coalesce(extract(epoch FROM sum(elapsed)" + counted + "), 0)::text" + Where)
                     .constData(),
                 params);
    t.records = sums.number(0, 0);
    t.amount = sums.text(0, 1).toDouble();
    t.days = sums.text(0, 2).toDouble() / 86400.0L;
    // Every row is wanted: plan for all of them (one pass and a sort),
    // not for the first few.
    c.exec("SET LOCAL cursor_tuple_fraction = 1.0");
    c.exec((QByteArrayLiteral("DECLARE ledger_rows NO SCROLL BINARY CURSOR FOR SELECT desk, raw") + Where
            + " ORDER BY desk, journal_offset")
               .constData(),
           params);
    RecordBytes plain;
    QString desk;
    std::string_view deskBytes;
    for (;;) {
        const PgResult piece = c.exec("FETCH 20000 FROM ledger_rows", {}, true);
        bool more = piece.rows() > 0;
        for (int i = 0; i < piece.rows() && more; ++i) {
            const std::string_view raw = piece.raw(i, 1);
            if (raw.size() != size_t(RecordSize))
                continue;
            const std::string_view d = piece.raw(i, 0);
            if (d != deskBytes || desk.isNull()) {
                desk = QString::fromUtf8(d.data(), qsizetype(d.size()));
                deskBytes = d;
            }
            std::memcpy(plain.data(), raw.data(), RecordSize);
            ScrambleRecord(plain);
            more = row(desk, plain.data());
        }
        // deskBytes points into this piece: compare by text next time.
        deskBytes = {};
        if (!more)
            break;
    }
    tx.commit();
    return t;
}

QString deskColumnTitle()
{
    return QStringLiteral("Стойка");
}

bool writeLedgerReport(ByteOutput &out, PgConnection &c, DateTimeValue dateBeg, DateTimeValue dateEnd,
                       const QStringList &desks, bool csv)
{
    CsvWriter csvRows(out);
    LineWriter lines;
    if (csv) {
        csvRows.header(deskColumnTitle());
    } else {
        out.putUtf8(reportHeader() + QLatin1Char('\t') + deskColumnTitle());
        out.put('\n');
    }
    QString lastDesk;
    QByteArray deskField;
    const LedgerTotals t = ledgerReport(c, dateBeg, dateEnd, desks, [&](const QString &desk, const char *plain) {
        if (desk != lastDesk || deskField.isEmpty()) {
            lastDesk = desk;
            deskField = csv ? CsvWriter::sourceField(desk) : desk.toUtf8();
        }
        const std::string_view deskView(deskField.constData(), size_t(deskField.size()));
        const RecordFields f = RecordFields::fromPlain(plain);
        if (csv) {
            csvRows.row(f, deskView);
        } else {
            out.putUtf8(lines.format(f));
            out.put('\t');
            out.put(deskView);
            out.put('\n');
        }
        return !out.failed();
    });
    if (!csv)
        out.putUtf8(totalsText(t.amount, t.days) + QLatin1Char('\n'));
    return out.flush();
}

} // namespace bilmeko

// The entry of bilmeko-report's ledger module: the --ledger paths, with
// libpq, loaded only when --ledger is given. No widgets.

#include "common/core/datetime.h"
#include "common/core/errors.h"
#include "journal/core/reporttext.h"
#include "ledger/core/ledgermodule.h"
#include "ledger/core/ledgerreport.h"
#include "ledger/core/ownerqueries.h"

#include <cstring>
#include <type_traits>
#include <unistd.h>

using namespace bilmeko;

namespace {

enum Status { Ok = 0, Damaged = 1, Refused = 2 };

int run(const LedgerReportRequest &r)
{
    const auto complain = r.complain;
    // The selection and the sums run in the database; nothing is printed
    // when it cannot be reached.
    try {
        PgConnection c(r.connection);
        // A desk named wrongly would give an empty report that looks like
        // a quiet desk.
        if (const QStringList unknown = unknownDesks(c, r.desks); !unknown.isEmpty()) {
            complain(QStringLiteral("общая книга не знает стойки «%1»").arg(unknown.join(QStringLiteral("», «"))));
            return Damaged;
        }
        if (r.byDesk)
            checkOwnerTables(c);
        FdOutput out(STDOUT_FILENO);
        const bool written = r.byDesk
            ? DeskSummary(r.from, r.to, readDeskPeriods(c, r.from, r.to, r.desks)).write(out, r.csv)
            : writeLedgerReport(out, c, dateValue(r.from), dateValue(r.to), r.desks, r.csv);
        if (!written) {
            complain(
                QStringLiteral("отчет не выведен: %1").arg(QString::fromLocal8Bit(std::strerror(out.errorNumber()))));
            return Refused;
        }
    } catch (const Error &e) {
        complain(QStringLiteral("общая книга: %1").arg(e.message()));
        return Refused;
    } catch (const std::exception &e) {
        // Nothing thrown crosses into the program.
        complain(QStringLiteral("общая книга: %1").arg(QString::fromLocal8Bit(e.what())));
        return Refused;
    }
    return Ok;
}

} // namespace

extern "C" Q_DECL_EXPORT int bilmekoRunLedgerReport(const LedgerHost *host, const LedgerReportRequest *request)
{
    if (!host || !host->adopt() || !request || !request->complain)
        return -1;
    return run(*request);
}

static_assert(std::is_same_v<decltype(&bilmekoRunLedgerReport), RunLedgerReportFn>);

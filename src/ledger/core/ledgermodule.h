#pragma once
// The ledger's code (libpq and everything that talks to the server) lives
// in modules loaded only when a ledger is asked for: [Ledger] Connection=
// on a desk, `bilmeko --owner`, `bilmeko-report --ledger`. A program
// without a ledger then starts without PostgreSQL's client library and the
// libraries under it.
//
//   bilmeko-ledger-desk.so    the desk's shipper and its status indicator
//   bilmeko-owner.so          the owner's board window
//   bilmeko-ledger-report.so  bilmeko-report's --ledger paths (no widgets)
//
// This is what passes between a program and a module. A module has its own
// copy of the formats and of the error routing, so the program hands over
// its own; a module of another build is refused rather than misread.
//
//     auto run = loadLedgerEntry<RunLedgerReportFn>(LedgerReportModule, RunLedgerReportSymbol);
//     LedgerHost host = LedgerHost::ofThisProgram();
//     const int status = run(&host, &request);   // -1: the module refused the host

#include "common/core/formats.h"

#include <QDate>
#include <QStringList>

namespace bilmeko {

struct LedgerHost
{
    // Raised whenever LedgerHost, a request or an entry's signature change
    // shape, so a module from another build is refused rather than misread.
    static constexpr int CurrentVersion = 2;

    int version = CurrentVersion;
    int size = int(sizeof(LedgerHost));
    const Formats *formats = nullptr;
    // The program's error box and notice: errors inside the module end up here.
    void (*showErrorBox)(const QString &message) = nullptr;
    void (*showErrorNotice)(const QString &message) = nullptr;
    // The print helper the program found and its deadline: the report
    // window inside a module prints through them too.
    QString printHelper;
    int printDeadlineMs = 0;

    // The program's own formats and error routing.
    static LedgerHost ofThisProgram();
    // In a module: whether the host is of this build; when it is, takes
    // over its formats, error routing and print helper.
    bool adopt() const;
};

inline constexpr char LedgerDeskModule[] = "bilmeko-ledger-desk.so";
inline constexpr char OwnerBoardModule[] = "bilmeko-owner.so";
inline constexpr char LedgerReportModule[] = "bilmeko-ledger-report.so";

// Where a module is looked for: beside the program (the build tree), then
// where it is installed, relative to the program before the absolute place.
QStringList ledgerModulePlaces(const QString &module);

// Loads the module (once per process) and returns its entry. Throws Error
// naming the module's file when it is missing, does not load (libpq not
// installed) or has no such entry.
void *loadLedgerModule(const QString &module, const char *symbol);
template <typename Fn> Fn loadLedgerEntry(const char *module, const char *symbol)
{
    return reinterpret_cast<Fn>(loadLedgerModule(QString::fromLatin1(module), symbol));
}
// The error for a module that refused the host: another build.
[[noreturn]] void throwLedgerModuleRefused(const QString &module);

// bilmeko-report --ledger: the records of a period (or the summary per
// desk) as text or CSV on standard output. The status is bilmeko-report's
// exit code; -1 when the module refused the host.
struct LedgerReportRequest
{
    QString connection;
    QStringList desks; // empty: every desk
    QDate from;
    QDate to;
    bool csv = false;
    bool byDesk = false;
    // Where a message for standard error goes.
    void (*complain)(const QString &line) = nullptr;
};
using RunLedgerReportFn = int (*)(const LedgerHost *host, const LedgerReportRequest *request);
inline constexpr char RunLedgerReportSymbol[] = "bilmekoRunLedgerReport";

} // namespace bilmeko

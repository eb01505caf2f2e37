// bilmeko-report: the period report without a window, for one journal or
// for several desks (one journal each), as text or CSV on standard output.
// Links the libraries without widgets only, so it runs with no display.

#include "app/core/datafolder.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/periodreport.h"
#include "journal/core/reportcsv.h"
#include "ledger/core/ledgerreport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>
#include <optional>

using namespace bilmeko;

namespace {

enum Status { Ok = 0, Damaged = 1, Refused = 2 };

const char Usage[] =
    "Использование: bilmeko-report [--csv] [--journal ФАЙЛ]... С ПО\n"
    "               bilmeko-report --ledger СОЕДИНЕНИЕ [--desk СТОЙКА]... [--csv] С ПО\n"
    "\n"
    "Печатает отчет о работе салона за период с С по ПО включительно.\n"
    "Даты пишутся ДД.ММ.ГГГГ или ГГГГ-ММ-ДД.\n"
    "\n"
    "  --journal ФАЙЛ  журнал, по которому строится отчет; можно указать\n"
    "                  несколько (по журналу на стойку): строки каждого журнала\n"
    "                  идут подряд, последний столбец называет журнал, итоги общие.\n"
    "                  Без --journal читается журнал программы: Bilmeko.log в её\n"
    "                  папке данных (BILMEKO_DATA_DIR, если она задана; иначе папка\n"
    "                  программы или ~/.local/share/Bilmeko, как у самой программы).\n"
    "  --csv           вывести CSV вместо текста: UTF-8, начинается с метки порядка\n"
    "                  байтов (BOM), поля через ';', строка заголовков, по строке на\n"
    "                  запись, без строки итогов.\n"
    "  --ledger СОЕДИНЕНИЕ  отчет по общей книге всех стоек в PostgreSQL (строка\n"
    "                  соединения libpq, например service=salon): строки каждой\n"
    "                  стойки подряд, последний столбец называет стойку, итоги\n"
    "                  общие; отбор и суммы считает база.\n"
    "  --desk СТОЙКА   с --ledger: только эта стойка; можно указать несколько.\n"
    "  --help          показать эту справку.\n"
    "\n"
    "Текст содержит те же строки и итоги, что окно отчета.\n"
    "Код выхода: 0 - отчет построен; 1 - журнал поврежден (напечатано то, что\n"
    "удалось прочитать, сообщение в stderr); 2 - ошибка в параметрах, журнал\n"
    "не читается или нет соединения с базой.\n";

void complain(const QString &line)
{
    QTextStream err(stderr);
    err << "bilmeko-report: " << line << Qt::endl;
}

std::optional<QDate> parseDay(const QString &text)
{
    for (const char *format : {"d.M.yyyy", "yyyy-M-d"}) {
        const QDate d = QDate::fromString(text, QLatin1String(format));
        if (d.isValid())
            return d;
    }
    return std::nullopt;
}

// The journal the desk program on this machine uses: its data folder is
// chosen by the same rule (without the command-line option, which is not
// this program's).
QString defaultJournal()
{
    DataFolderInputs in = DataFolderInputs::current({QCoreApplication::applicationFilePath()});
    return resolveDataFolder(in).path + QStringLiteral("Bilmeko.log");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The desk program's name: its user data folder is found by it.
    QCoreApplication::setApplicationName(QStringLiteral("Bilmeko"));
    Formats::setCurrent(Formats::fromLocale(QLocale::system()));

    bool csv = false;
    QString ledger;
    QStringList ledgerDesks;
    QStringList journals;
    QStringList days;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(Usage, stdout);
            return Ok;
        }
        if (a == QLatin1String("--csv")) {
            csv = true;
        } else if (a == QLatin1String("--journal")) {
            if (i + 1 >= args.size()) {
                complain(QStringLiteral("после --journal нужен файл журнала (см. --help)"));
                return Refused;
            }
            journals << args[++i];
        } else if (a.startsWith(QLatin1String("--journal="))) {
            journals << a.mid(10);
        } else if (a == QLatin1String("--ledger") || a == QLatin1String("--desk")) {
            if (i + 1 >= args.size()) {
                complain(QStringLiteral("после %1 нужно значение (см. --help)").arg(a));
                return Refused;
            }
            (a == QLatin1String("--ledger") ? ledger : ledgerDesks.emplace_back()) = args[++i];
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1 && !a[1].isDigit()) {
            complain(QStringLiteral("неизвестный параметр %1 (см. --help)").arg(a));
            return Refused;
        } else {
            days << a;
        }
    }
    if (days.size() != 2) {
        complain(QStringLiteral("нужны две даты, С и ПО (см. --help)"));
        return Refused;
    }
    const std::optional<QDate> from = parseDay(days[0]);
    const std::optional<QDate> to = parseDay(days[1]);
    for (int k = 0; k < 2; ++k)
        if (!(k == 0 ? from : to)) {
            complain(QStringLiteral("дата «%1» не читается: нужно ДД.ММ.ГГГГ или ГГГГ-ММ-ДД").arg(days[k]));
            return Refused;
        }
    if (*to < *from) {
        complain(QStringLiteral("период %1 – %2 кончается раньше, чем начинается").arg(days[0], days[1]));
        return Refused;
    }
    if (!ledger.isEmpty() && !journals.isEmpty()) {
        complain(QStringLiteral("--ledger и --journal вместе не указываются"));
        return Refused;
    }
    if (ledger.isEmpty() && !ledgerDesks.isEmpty()) {
        complain(QStringLiteral("--desk указывается только с --ledger"));
        return Refused;
    }
    if (!ledger.isEmpty()) {
        // The selection and the sums run in the database; nothing is
        // printed when it cannot be reached.
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly)) {
            complain(QStringLiteral("стандартный вывод закрыт"));
            return Refused;
        }
        try {
            PgConnection c(ledger);
            if (!writeLedgerReport(out, c, dateValue(*from), dateValue(*to), ledgerDesks, csv) || !out.flush()) {
                complain(QStringLiteral("отчет не выведен: %1").arg(out.errorString()));
                return Refused;
            }
        } catch (const Error &e) {
            out.flush();
            complain(QStringLiteral("общая книга: %1").arg(e.message()));
            return Refused;
        }
        return Ok;
    }
    if (journals.isEmpty())
        journals << defaultJournal();

    // Every journal is read before anything is printed: one that cannot be
    // read ends the command with nothing on standard output.
    QList<ReportDesk> desks;
    for (const QString &path : journals) {
        try {
            desks.append({readPeriodReport(path, dateValue(*from), dateValue(*to)), path});
        } catch (const Error &e) {
            complain(QStringLiteral("журнал «%1» не читается: %2").arg(path, e.message()));
            return Refused;
        }
    }

    const bool several = desks.size() > 1;
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
        complain(QStringLiteral("стандартный вывод закрыт"));
        return Refused;
    }
    bool written = true;
    if (csv) {
        written = writeReportCsv(out, desks);
    } else {
        QTextStream text(&out);
        text << reportHeader() << (several ? QStringLiteral("\tЖурнал") : QString()) << '\n';
        double amount = 0;
        long double time = 0;
        for (const ReportDesk &desk : desks) {
            const QString suffix = several ? QLatin1Char('\t') + desk.name : QString();
            for (qsizetype i = 0; i < desk.report.recordCount(); ++i)
                text << desk.report.recordLine(i) << suffix << '\n';
            amount += desk.report.amountTotal();
            time += desk.report.timeTotal();
        }
        text << totalsText(amount, time) << '\n';
        text.flush();
        written = text.status() == QTextStream::Ok;
    }
    out.flush();
    if (!written || out.error() != QFileDevice::NoError) {
        complain(QStringLiteral("отчет не выведен: %1").arg(out.errorString()));
        return Refused;
    }

    Status status = Ok;
    for (const ReportDesk &desk : desks) {
        if (desk.report.damaged()) {
            complain(QStringLiteral("%1: %2").arg(desk.name, desk.report.damageMessage()));
            status = Damaged;
        }
    }
    return status;
}

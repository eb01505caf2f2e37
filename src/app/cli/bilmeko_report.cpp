// bilmeko-report: the period report without a window, for one journal or
// for several desks (one journal each), as text or CSV on standard output.
// Links the libraries without widgets only, so it runs with no display;
// the --ledger paths come with a module (libpq) loaded only for them.

#include "app/core/datafolder.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/periodreport.h"
#include "journal/core/reportcsv.h"
#include "ledger/core/ledgermodule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace bilmeko;

namespace {

enum Status { Ok = 0, Damaged = 1, Refused = 2 };

const char Usage[]
    = "Использование: bilmeko-report [--csv] [--journal ФАЙЛ]... С ПО\n"
      "               bilmeko-report --ledger СОЕДИНЕНИЕ [--desk СТОЙКА]... [--csv] С ПО\n"
      "               bilmeko-report --ledger СОЕДИНЕНИЕ --by-desk [--desk СТОЙКА]... [--csv] С ПО\n"
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
      "                  Стойка, которой общая книга не знает, - ошибка (код 1).\n"
      "  --by-desk       с --ledger: сводка по стойкам вместо записей: сеансы,\n"
      "                  минуты, выручка, средний чек, доля в общей выручке и\n"
      "                  изменение против предыдущего периода той же длины.\n"
      "  --version       показать версию программы.\n"
      "  --help          показать эту справку.\n"
      "\n"
      "Текст содержит те же строки и итоги, что окно отчета.\n"
      "Код выхода: 0 - отчет построен; 1 - журнал поврежден (напечатано то, что\n"
      "удалось прочитать, сообщение в stderr) или общая книга не знает стойки; 2 - ошибка в параметрах, журнал\n"
      "не читается (или это не файл: папка, канал, устройство) или нет\n"
      "соединения с базой.\n";

void complain(const QString &line)
{
    QTextStream err(stderr);
    err << "bilmeko-report: " << line << Qt::endl;
}

// "bilmeko-report: журнал «…»: 42 %" on the terminal while a large journal
// is read, rewritten in place and wiped at the end.
class Progress
{
public:
    Progress(const QString &path, qint64 size, bool shown) : m_path(path), m_shown(shown && size >= MinimumBytes) {}
    ~Progress()
    {
        if (m_percent >= 0)
            std::fputs("\r\033[K", stderr);
    }
    ReadProgress report()
    {
        if (!m_shown)
            return {};
        return [this](qint64 done, qint64 total) {
            const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
            if (percent == m_percent)
                return;
            m_percent = percent;
            std::fprintf(stderr, "\rbilmeko-report: журнал «%s»: %d %%", m_path.toUtf8().constData(), percent);
            std::fflush(stderr);
        };
    }

private:
    // Smaller journals are read before anyone could look.
    static constexpr qint64 MinimumBytes = 64 * 1024 * 1024;
    QString m_path;
    bool m_shown;
    int m_percent = -1;
};

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
    bool byDesk = false;
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
        if (a == QLatin1String("--version")) {
            std::printf("bilmeko-report %s\n", BILMEKO_VERSION);
            return Ok;
        }
        if (a == QLatin1String("--csv")) {
            csv = true;
        } else if (a == QLatin1String("--by-desk")) {
            byDesk = true;
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
    if (ledger.isEmpty() && byDesk) {
        complain(QStringLiteral("--by-desk указывается только с --ledger"));
        return Refused;
    }
    if (!ledger.isEmpty()) {
        // libpq and the queries come with a module loaded only here, so a
        // report of journals starts without them.
        LedgerReportRequest request;
        request.connection = ledger;
        request.desks = ledgerDesks;
        request.from = *from;
        request.to = *to;
        request.csv = csv;
        request.byDesk = byDesk;
        request.complain = &complain;
        try {
            const auto runReport = loadLedgerEntry<RunLedgerReportFn>(LedgerReportModule, RunLedgerReportSymbol);
            const LedgerHost host = LedgerHost::ofThisProgram();
            const int status = runReport(&host, &request);
            if (status < 0)
                throwLedgerModuleRefused(QString::fromLatin1(LedgerReportModule));
            return status;
        } catch (const Error &e) {
            complain(e.message());
            return Refused;
        }
    }
    if (journals.isEmpty())
        journals << defaultJournal();

    // A journal that cannot be opened, or is no file, is refused before
    // anything is printed; each is opened again (one at a time) when its
    // turn comes.
    for (const QString &path : journals) {
        try {
            FileSource::openForReading(path);
        } catch (const Error &e) {
            complain(e.message().contains(path) ? e.message()
                                                : QStringLiteral("журнал «%1» не читается: %2").arg(path, e.message()));
            return Refused;
        }
    }

    // One journal open at a time, each line written as its record is read.
    const bool several = journals.size() > 1;
    FdOutput out(STDOUT_FILENO);
    CsvWriter csvRows(out);
    LineWriter lines;
    if (csv) {
        csvRows.header(several);
    } else {
        out.putUtf8(reportHeader());
        if (several)
            out.putUtf8(QStringLiteral("\tЖурнал"));
        out.put('\n');
    }
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    ReportTotals all;
    Status status = Ok;
    for (const QString &path : journals) {
        const QByteArray source = csv ? CsvWriter::sourceField(path) : path.toUtf8();
        const std::string_view sourceView(source.constData(), static_cast<size_t>(source.size()));
        ReportTotals t;
        try {
            const std::unique_ptr<FileSource> journal = FileSource::openForReading(path);
            Progress progress(path, journal->size(), showProgress);
            t = streamPeriodReport(
                *journal, dateValue(*from), dateValue(*to),
                [&](const char *plain, bool counted) {
                    RecordFields f = RecordFields::fromPlain(plain);
                    f.uncounted = !counted;
                    if (csv) {
                        if (several)
                            csvRows.row(f, sourceView);
                        else
                            csvRows.row(f);
                        return;
                    }
                    out.putUtf8(lines.format(f));
                    if (several) {
                        out.put('\t');
                        out.put(sourceView);
                    }
                    out.put('\n');
                },
                progress.report());
        } catch (const Error &e) {
            out.flush();
            const QString message = e.message().contains(path)
                ? e.message()
                : QStringLiteral("журнал «%1» не читается: %2").arg(path, e.message());
            complain(message);
            return Refused;
        }
        all.add(t);
        if (t.damaged) {
            out.flush();
            complain(QStringLiteral("%1: %2").arg(path, t.damageMessage()));
            status = Damaged;
        }
        if (out.failed())
            break;
    }
    if (!csv && !out.failed())
        out.putUtf8(totalsText(static_cast<double>(all.amount), all.time) + QLatin1Char('\n'));
    if (!out.flush()) {
        complain(QStringLiteral("отчет не выведен: %1").arg(QString::fromLocal8Bit(std::strerror(out.errorNumber()))));
        return Refused;
    }
    return status;
}

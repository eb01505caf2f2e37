#include "printjob.h"

#include "errors.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

namespace bilmeko {

namespace {

QString g_helper;
int g_deadlineMs = PrintJob::DefaultDeadlineMs;
int g_running = 0;

// What is kept of the helper's answers: a printer's name and a reason fit.
constexpr qsizetype MaxOutput = 16 * 1024;

QString seconds(int ms)
{
    return QString::number((ms + 999) / 1000);
}

QString withoutFullStop(QString text)
{
    text = text.trimmed();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

} // namespace

QString PrintJob::Result::message(const QString &document) const
{
    const QString where = printer.isEmpty() ? QString() : QStringLiteral(" на принтере «%1»").arg(printer);
    switch (outcome) {
    case Printed: return {};
    case NoPrinter: return QStringLiteral("%1 не напечатан: принтер не установлен.").arg(document);
    case Failed:
        return QStringLiteral("%1 не напечатан%2: %3.")
            .arg(document, where, reason.isEmpty() ? QStringLiteral("печать не удалась") : withoutFullStop(reason));
    case TimedOut:
        if (printer.isEmpty())
            return QStringLiteral("%1 не напечатан: %2 не ответила за %3 с, печать отменена.")
                .arg(document, printService(), seconds(g_deadlineMs));
        return QStringLiteral("%1 не напечатан%2: принтер не ответил за %3 с, печать отменена.")
            .arg(document, where, seconds(g_deadlineMs));
    }
    return {};
}

QString PrintJob::helperProgram()
{
    if (!g_helper.isEmpty())
        return g_helper;
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("bilmeko-print"));
}

void PrintJob::setHelperProgram(const QString &path)
{
    g_helper = path;
}

int PrintJob::deadlineMs()
{
    return g_deadlineMs;
}

void PrintJob::setDeadlineMs(int ms)
{
    g_deadlineMs = ms > 0 ? ms : DefaultDeadlineMs;
}

QString PrintJob::printService()
{
    // The print service's client library reads the same variable.
    const QString server = qEnvironmentVariable("CUPS_SERVER").trimmed();
    return server.isEmpty() ? QStringLiteral("служба печати этого компьютера")
                            : QStringLiteral("служба печати «%1»").arg(server);
}

int PrintJob::running()
{
    return g_running;
}

PrintJob::PrintJob(QObject *owner) : QObject(owner), m_process(new QProcess(this)), m_deadline(new QTimer(this))
{
    ++g_running;
    m_deadline->setSingleShot(true);
}

PrintJob::~PrintJob()
{
    if (m_process->state() != QProcess::NotRunning) {
        // Abandoned with its owner: no word of it reaches an owner that
        // is going. Killed, it ends at once: the wait only collects it.
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(1000);
    }
    --g_running;
}

qint64 PrintJob::helperPid() const
{
    return m_process->processId();
}

PrintJob *PrintJob::start(const QString &kind, const QString &title, const std::function<void(QDataStream &)> &write,
                          QObject *owner)
{
    const QString helper = helperProgram();
    if (!QFileInfo(helper).isExecutable())
        throw Error(QStringLiteral("Не найдена программа печати «%1».").arg(QDir::toNativeSeparators(helper)));

    QTemporaryFile document(QDir(QDir::tempPath()).filePath(QStringLiteral("bilmeko-print-XXXXXX")));
    if (!document.open())
        throw Error(QStringLiteral("Не удалось создать временный файл для печати в папке «%1»: %2")
                        .arg(QDir::toNativeSeparators(QDir::tempPath()), document.errorString()));
    {
        QDataStream out(&document);
        out.setVersion(QDataStream::Qt_6_0);
        out << QByteArray(Magic) << kind << title;
        write(out);
        if (out.status() != QDataStream::Ok || !document.flush())
            throw Error(QStringLiteral("Не удалось записать временный файл для печати «%1»: %2")
                            .arg(QDir::toNativeSeparators(document.fileName()), document.errorString()));
    }

    auto *job = new PrintJob(owner);
    QProcess *p = job->m_process;
    // The helper reads the file as its standard input, opened before it
    // starts; the name goes when this function returns.
    p->setStandardInputFile(document.fileName());
    // Only its answers on the standard output count; what the libraries
    // under it say goes where the program's own messages go.
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(p, &QProcess::readyReadStandardOutput, job, &PrintJob::readOutput);
    connect(p, &QProcess::errorOccurred, job, [job](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        job->end({Result::Failed,
                  {},
                  QStringLiteral("программа печати «%1» не запускается")
                      .arg(QDir::toNativeSeparators(job->m_process->program()))});
        job->deleteLater();
    });
    connect(p, &QProcess::finished, job, [job](int code, QProcess::ExitStatus status) {
        job->readOutput();
        const QString reason = job->m_reason;
        Result r{Result::Failed, job->m_printer, reason};
        if (status == QProcess::NormalExit && code == HelperStatus::Printed)
            r.outcome = Result::Printed;
        else if (status == QProcess::NormalExit && code == HelperStatus::NoPrinter)
            r.outcome = Result::NoPrinter;
        else if (status != QProcess::NormalExit)
            r.reason = QStringLiteral("программа печати завершилась аварийно");
        else if (reason.isEmpty())
            r.reason = QStringLiteral("программа печати завершилась с кодом %1").arg(code);
        job->end(r);
        job->deleteLater();
    });
    connect(job->m_deadline, &QTimer::timeout, job, [job] {
        job->end({Result::TimedOut, job->m_printer, {}});
        // Its end (finished above) lets the job go.
        job->m_process->kill();
    });
    p->start(helper, {});
    job->m_deadline->start(g_deadlineMs);
    return job;
}

void PrintJob::readOutput()
{
    if (m_output.size() < MaxOutput)
        m_output += m_process->readAllStandardOutput().left(MaxOutput);
    else
        m_process->readAllStandardOutput();
    // Whole lines only: a name may arrive in pieces.
    const QByteArray printer("printer\t");
    const QByteArray error("error\t");
    for (const QByteArray &line : m_output.left(m_output.lastIndexOf('\n') + 1).split('\n')) {
        if (line.startsWith(printer))
            m_printer = QString::fromUtf8(line.mid(printer.size())).trimmed();
        else if (line.startsWith(error))
            m_reason = QString::fromUtf8(line.mid(error.size())).trimmed();
    }
}

void PrintJob::end(Result result)
{
    if (m_ended)
        return;
    m_ended = true;
    m_deadline->stop();
    emit finished(result);
}

} // namespace bilmeko

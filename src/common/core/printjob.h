#pragma once
// A document printed by the print helper, a process of its own: it finds
// the default printer, paints the document on it and hands the job to the
// print service. A print service that takes the connection and never
// answers then holds up that process alone: the window's thread only
// writes the document and starts it, and never waits for it.
//
// A job not done within the deadline (30 s) is abandoned: the helper is
// killed and the job reports it, naming the printer (or the print service
// when not even the printer was found). Jobs still running when their
// owner goes (the program quits) are killed with it, so nothing waits for
// a printer at quit.
//
//     auto *job = PrintJob::start(QStringLiteral("receipt"), QStringLiteral("Чек"),
//                                 [&](QDataStream &out) { out << ...; }, this);
//     connect(job, &PrintJob::finished, this, [](const PrintJob::Result &r) { ... });
//
// The document goes to the helper through an unnamed temporary file (its
// standard input), so a long report is written out once and never held
// twice in memory. The helper answers on its standard output:
// "printer\t<name>" once it knows the printer, "error\t<why>" when it
// fails; its exit status says how it ended (HelperStatus).

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>

class QDataStream;
class QProcess;
class QTimer;

namespace bilmeko {

class PrintJob : public QObject
{
    Q_OBJECT
public:
    // What opens every document, before its kind.
    static constexpr char Magic[] = "Bilmeko print job 1";
    static constexpr int DefaultDeadlineMs = 30'000;

    // The helper's exit statuses.
    enum HelperStatus { Printed = 0, Failed = 1, BadDocument = 2, NoPrinter = 3 };

    struct Result
    {
        enum Outcome { Printed, NoPrinter, Failed, TimedOut };
        Outcome outcome = Failed;
        QString printer; // empty while the helper had not found it
        QString reason; // why it failed, in the helper's words
        // "<document> не напечатан…", naming the printer or the print
        // service; empty for a printed job.
        QString message(const QString &document) const;
    };

    // Writes the document (Magic, the kind, the job's title as the print
    // service lists it, then what write() adds) and starts the helper on
    // it; returns at once. finished() comes exactly once, from the event
    // loop. Throws Error when the document cannot be written or there is no
    // helper to start.
    static PrintJob *start(const QString &kind, const QString &title, const std::function<void(QDataStream &)> &write,
                           QObject *owner);

    // The helper program: the one set, else "bilmeko-print" beside the
    // running program.
    static QString helperProgram();
    static void setHelperProgram(const QString &path);
    // How long a job may take; tests make it short.
    static int deadlineMs();
    static void setDeadlineMs(int ms);
    // The print service the helper talks to, as the operator would name it.
    static QString printService();
    // Jobs not yet finished, over all owners.
    static int running();

    ~PrintJob() override;

    const QString &printer() const { return m_printer; }
    qint64 helperPid() const;

signals:
    void finished(const PrintJob::Result &result);

private:
    explicit PrintJob(QObject *owner);
    void readOutput();
    void end(Result result);

    QProcess *m_process;
    QTimer *m_deadline;
    QString m_printer;
    QString m_reason;
    QByteArray m_output;
    bool m_ended = false;
};

} // namespace bilmeko

#pragma once
// A PostgreSQL server of the test's own: initdb into a temporary folder,
// pg_ctl start listening on a Unix socket in that folder only (no TCP),
// run as the postgres user when the test runs as root. One per test
// program; stop() and start() again keep the data.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace bilmeko::test {

class PgServer
{
public:
    // The role that logs in with a password (all others are trusted on
    // the socket), for the wrong-password case.
    static constexpr const char *PasswordRole = "bilmeko_pw";

    // durable: the server syncs to the disk as in real use (the benchmark);
    // the tests skip that.
    explicit PgServer(bool durable = false) : m_dir(QStringLiteral("/tmp/bilmeko-pg-XXXXXX")), m_durable(durable)
    {
        QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versions.begin(), versions.end(),
                  [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
        for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
            const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(*it);
            if (QFileInfo(bin + QStringLiteral("pg_ctl")).isExecutable()) {
                m_bin = bin;
                break;
            }
        }
        if (m_bin.isEmpty()) {
            m_missing
                = QStringLiteral("no PostgreSQL server binaries under /usr/lib/postgresql (make deps installs them)");
            return;
        }
        m_port = 5500 + int(getpid() % 100);
        if (getuid() == 0) {
            const passwd *pw = getpwnam("postgres");
            if (!pw) {
                m_missing = QStringLiteral("running as root and there is no postgres user");
                return;
            }
            m_uid = pw->pw_uid;
            m_gid = pw->pw_gid;
            if (::chown(QFile::encodeName(m_dir.path()).constData(), m_uid, m_gid) != 0)
                qFatal("cannot give %s to postgres", qPrintable(m_dir.path()));
            m_asPostgres = true;
        }
        run(QStringLiteral("initdb"),
            {QStringLiteral("-D"), data(), QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-A"),
             QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-sync")});
        QFile hba(data() + QStringLiteral("/pg_hba.conf"));
        if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write pg_hba.conf");
        hba.write(QByteArray("local all ") + PasswordRole + " scram-sha-256\nlocal all all trust\n");
        hba.close();
        if (m_asPostgres && ::chown(QFile::encodeName(hba.fileName()).constData(), m_uid, m_gid) != 0)
            qFatal("cannot give pg_hba.conf to postgres");
        start();
    }

    ~PgServer()
    {
        if (m_running)
            stop();
    }

    // Empty when the server runs; otherwise why the tests skip.
    QString missing() const { return m_missing; }
    QString socketDir() const { return m_dir.path(); }
    int port() const { return m_port; }
    QString binDir() const { return m_bin; }
    QString conninfo(const QString &user = QStringLiteral("postgres")) const
    {
        return QStringLiteral("host=%1 port=%2 user=%3 dbname=postgres").arg(m_dir.path()).arg(m_port).arg(user);
    }

    void start()
    {
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), data(), QStringLiteral("-l"), m_dir.path() + QStringLiteral("/log"),
             QStringLiteral("-w"), QStringLiteral("-o"),
             QStringLiteral("-k %1 -p %2 -c listen_addresses=''%3")
                 .arg(m_dir.path())
                 .arg(m_port)
                 .arg(m_durable ? QString() : QStringLiteral(" -c fsync=off")),
             QStringLiteral("start")});
        m_running = true;
    }
    // Fast shutdown: the sessions are cut off, as by a server going down.
    void stop()
    {
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), data(), QStringLiteral("-w"), QStringLiteral("-m"), QStringLiteral("fast"),
             QStringLiteral("stop")});
        m_running = false;
    }

private:
    QString data() const { return m_dir.path() + QStringLiteral("/data"); }

    void run(const QString &tool, const QStringList &args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (m_asPostgres) {
            // Root may not run the server; the folder belongs to postgres.
            p.start(QStringLiteral("runuser"),
                    QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), m_bin + tool}
                        + args);
        } else {
            p.start(m_bin + tool, args);
        }
        if (!p.waitForFinished(120'000) || p.exitCode() != 0)
            qFatal("%s failed: %s", qPrintable(tool), p.readAll().constData());
    }

    QTemporaryDir m_dir;
    QString m_bin;
    QString m_missing;
    int m_port = 5500;
    bool m_durable = false;
    bool m_running = false;
    bool m_asPostgres = false;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

} // namespace bilmeko::test

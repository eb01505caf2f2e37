// bilmeko-ledger: the central ledger's administration without a window:
// creating or migrating its schema, what it holds per desk, and shipping
// an existing journal once.

#include "journal/core/logrecord.h"
#include "ledger/core/ledger.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QTextStream>
#include <cstdio>

using namespace bilmeko;

namespace {

enum Status { Ok = 0, Damaged = 1, Refused = 2 };

const char Usage[] = "Использование:\n"
                     "  bilmeko-ledger init СОЕДИНЕНИЕ\n"
                     "  bilmeko-ledger status СОЕДИНЕНИЕ\n"
                     "  bilmeko-ledger import СОЕДИНЕНИЕ --desk СТОЙКА ЖУРНАЛ\n"
                     "\n"
                     "Центральный журнал салона в базе PostgreSQL.\n"
                     "СОЕДИНЕНИЕ - строка соединения libpq, например \"service=salon\" или\n"
                     "\"host=db.example dbname=salon user=owner sslmode=verify-full\". Пароль\n"
                     "берется из ~/.pgpass, в строку его не пишут.\n"
                     "\n"
                     "  init    создает схему (таблицы, роли bilmeko_desk и bilmeko_owner) или\n"
                     "          переводит ее на версию программы, сохраняя все записи; каждый раз\n"
                     "          заново выставляет права и правила доступа.\n"
                     "  status  по каждой стойке: число записей, время последней записи, когда\n"
                     "          стойка была на связи, сколько записей ждут отправки, подключена ли\n"
                     "          она сейчас, сколько сеансов идет, какая смена открыта и кем.\n"
                     "  import  отправляет записи журнала ЖУРНАЛ стойки СТОЙКА; то, что уже есть\n"
                     "          в базе, повторно не добавляется.\n"
                     "\n"
                     "Код выхода: 0 - сделано; 1 - сделано, поврежденные записи пропущены (их\n"
                     "число в stderr); 2 - ошибка в параметрах или нет соединения с базой.\n";

void complain(const QString &line)
{
    QTextStream err(stderr);
    err << "bilmeko-ledger: " << line << Qt::endl;
}

void say(const QString &line)
{
    QTextStream out(stdout);
    out << line << Qt::endl;
}

QString when(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QStringLiteral("-");
}

int runInit(const QString &conninfo)
{
    PgConnection c(conninfo);
    const InitOutcome o = initLedger(c);
    if (o.versionBefore == o.versionAfter)
        say(QStringLiteral("Схема уже версии %1; права и правила доступа проверены.").arg(o.versionAfter));
    else if (o.versionBefore == 0)
        say(QStringLiteral("Схема создана, версия %1.").arg(o.versionAfter));
    else
        say(QStringLiteral("Схема переведена с версии %1 на %2.").arg(o.versionBefore).arg(o.versionAfter));
    if (o.keptAside > 0)
        complain(QStringLiteral("записей, которые сервер не может прочитать, отложено в bilmeko.records_v1: %1")
                     .arg(o.keptAside));
    return Ok;
}

int runStatus(const QString &conninfo)
{
    PgConnection c(conninfo);
    const QList<DeskStatus> desks = ledgerStatus(c);
    say(QStringLiteral("Стойка\tЗаписей\tПоследняя запись\tНа связи\tЖдут отправки\tПодключена\tСеансов идет\tВерсия"
                       "\tСмена"));
    for (const DeskStatus &d : desks)
        say(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8\t%9")
                .arg(d.desk)
                .arg(d.records)
                .arg(when(d.lastWritten), when(d.lastSeen),
                     d.pending < 0 ? QStringLiteral("-") : QString::number(d.pending),
                     d.connected ? QStringLiteral("да") : QStringLiteral("нет"))
                .arg(d.running)
                .arg(d.version.isEmpty() ? QStringLiteral("-") : d.version,
                     d.openShift == 0 ? QStringLiteral("-")
                         : d.shiftOperator.isEmpty()
                         ? QString::number(d.openShift)
                         : QStringLiteral("%1 (%2)").arg(d.openShift).arg(d.shiftOperator)));
    if (desks.isEmpty())
        say(QStringLiteral("В базе пока нет записей."));
    return Ok;
}

int runImport(const QString &conninfo, const QString &desk, const QString &journal)
{
    QFileInfo info(journal);
    if (!info.isFile() || !info.isReadable()) {
        complain(QStringLiteral("журнал «%1» не читается").arg(journal));
        return Refused;
    }
    PgConnection c(conninfo);
    const int schema = checkLedgerSchema(c);
    qint64 offset = 0, offered = 0, inserted = 0, damaged = 0;
    for (;;) {
        const ShipOutcome o = shipBatch(c, desk, journal, offset, ledger::BatchRecords, schema);
        offset = o.nextOffset;
        offered += o.offered;
        inserted += o.inserted;
        damaged += o.damaged;
        if (o.atEnd || o.offered == 0)
            break;
    }
    const bool fragment = QFileInfo(journal).size() % RecordSize != 0;
    say(QStringLiteral("Журнал «%1», стойка «%2»: записей %3, добавлено в базу %4.")
            .arg(journal, desk)
            .arg(offered)
            .arg(inserted));
    if (damaged > 0)
        complain(QStringLiteral("журнал «%1»: поврежденных записей не отправлено: %2").arg(journal).arg(damaged));
    if (fragment)
        complain(QStringLiteral("журнал «%1» кончается неполной записью; она не отправлена").arg(journal));
    return damaged > 0 || fragment ? Damaged : Ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(Usage, stdout);
        return Ok;
    }
    if (args.contains(QLatin1String("--version"))) {
        std::printf("bilmeko-ledger %s\n", BILMEKO_VERSION);
        return Ok;
    }
    QString desk;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--desk")) {
            if (i + 1 >= args.size() || args[i + 1].trimmed().isEmpty()) {
                complain(QStringLiteral("после --desk нужно имя стойки (см. --help)"));
                return Refused;
            }
            desk = args[i + 1];
            args.remove(i, 2);
            --i;
        } else if (args[i].startsWith(QLatin1String("--desk="))) {
            desk = args[i].mid(7);
            args.remove(i--);
        } else if (args[i].startsWith(QLatin1String("--"))) {
            complain(QStringLiteral("неизвестный параметр %1 (см. --help)").arg(args[i]));
            return Refused;
        }
    }
    if (args.isEmpty()) {
        complain(QStringLiteral("нужна команда: init, status или import (см. --help)"));
        return Refused;
    }
    const QString command = args.takeFirst();
    const qsizetype wanted = command == QLatin1String("import") ? 2 : 1;
    if (command != QLatin1String("init") && command != QLatin1String("status") && command != QLatin1String("import")) {
        complain(QStringLiteral("неизвестная команда «%1» (см. --help)").arg(command));
        return Refused;
    }
    if (args.size() != wanted) {
        complain(command == QLatin1String("import")
                     ? QStringLiteral("import: нужны строка соединения и журнал (см. --help)")
                     : QStringLiteral("%1: нужна строка соединения (см. --help)").arg(command));
        return Refused;
    }
    if (command == QLatin1String("import") && desk.isEmpty()) {
        complain(QStringLiteral("import: нужно имя стойки, --desk СТОЙКА"));
        return Refused;
    }
    if (!desk.isEmpty() && command != QLatin1String("import")) {
        complain(QStringLiteral("--desk нужен только команде import"));
        return Refused;
    }
    try {
        if (command == QLatin1String("init"))
            return runInit(args[0]);
        if (command == QLatin1String("status"))
            return runStatus(args[0]);
        return runImport(args[0], desk, args[1]);
    } catch (const LedgerError &e) {
        complain(e.message());
        return Refused;
    } catch (const Error &e) {
        complain(e.message());
        return Refused;
    }
}

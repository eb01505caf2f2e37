#pragma once
// The line between a second start and the running program on the same data
// folder: the second start asks, the running program shows its window and
// answers, the second start ends. A Unix stream socket named after the
// folder, open to its owner alone, carries it; nothing else travels on it.
//
//     InstanceChannel channel(dir);            // the running program
//     connect(&channel, &InstanceChannel::showRequested, ...);
//     channel.listen();
//
//     InstanceChannel::askToShow(dir);         // a second start

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace bilmeko {

class InstanceChannel : public QObject
{
    Q_OBJECT
public:
    // dataDir: the folder of the journal and the settings file.
    explicit InstanceChannel(const QString &dataDir, QObject *parent = nullptr);
    ~InstanceChannel() override;

    // Starts listening; false when no socket could be made (the program
    // then runs without it). Only the holder of the instance lock calls
    // this, so a socket file left by a crashed run is replaced.
    bool listen();
    bool listening() const;

    // A second start: asks the running program to show its window and waits
    // up to timeoutMs for its answer. True when it answered.
    static bool askToShow(const QString &dataDir, int timeoutMs = 2000);

    // Where the socket lives: in the data folder itself when the path is
    // short enough for a socket, else a name made from the folder's path in
    // the user's runtime folder.
    static QStringList socketNames(const QString &dataDir);

signals:
    void showRequested();

private:
    void accept();

    QStringList m_names;
    QString m_path;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace bilmeko

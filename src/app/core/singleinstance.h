#pragma once
// One running copy per data folder: an exclusive lock on the file
// "Bilmeko.lock" in the folder that holds the journal and the price list.
// Whatever the environment or the user of a second copy, it meets the same
// file and is refused; a copy working on another folder runs. The system
// drops the lock when the process ends, however it ends, so a crashed copy
// never blocks the next start.

#include <QString>

namespace bilmeko {

class InstanceLock
{
public:
    enum class Result {
        Acquired, // this process now holds the lock
        HeldByAnother, // another copy runs on this folder
        Failed, // the lock file cannot be used: see errorMessage()
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // The lock file of a data folder.
    static QString lockPath(const QString &folder);

    // Never waits. Calling it again while held returns Acquired.
    Result tryAcquire(const QString &folder);
    bool held() const { return m_fd >= 0; }
    // Why the last tryAcquire failed, in Russian, naming the file.
    QString errorMessage() const { return m_error; }

private:
    int m_fd = -1;
    QString m_error;
};

// The folder of the running executable, without a final separator; where
// the program keeps its files.
QString executableFolder();

} // namespace bilmeko

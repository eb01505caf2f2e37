#pragma once
// One running instance per user: an exclusive lock on a file named after
// "Bilmeko_CHECKEXIST". The system drops the lock when the process ends,
// however it ends, so a crashed instance never blocks the next start.

#include <QString>

namespace bilmeko {

// The lock file in the user's runtime directory, or in /tmp with the user id
// in its name when there is no runtime directory.
QString instanceLockPath();

class InstanceLock
{
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // True when this process now holds the lock; false when another holds
    // it or the file cannot be opened. Never waits.
    bool tryAcquire(const QString &path);
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace bilmeko

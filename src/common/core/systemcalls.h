#pragma once
// The system calls the desk's files depend on (opening, locking, reading,
// writing, flushing, truncating, replacing), kept in one table so that
// tests can make any of them fail and reach each failure path. The program
// itself never changes the table.

#include <functional>
#include <sys/types.h>

namespace bilmeko {

struct SystemCalls
{
    std::function<int(const char *path, int flags, mode_t mode)> open;
    std::function<int(int fd, int operation)> flock;
    std::function<ssize_t(int fd, void *data, size_t size)> read;
    std::function<ssize_t(int fd, void *data, size_t size, off_t offset)> pread;
    std::function<int(int fd, off_t length)> ftruncate;
    std::function<ssize_t(int fd, const void *data, size_t size)> write;
    std::function<ssize_t(int fd, const void *data, size_t size, off_t offset)> pwrite;
    std::function<int(int fd)> fsync;
    std::function<int(const char *from, const char *to)> rename;
    std::function<int(int fd)> close;
};

// The calls in force: the system's own unless a test replaced some.
const SystemCalls &systemCalls();

// Installs the calls (an empty member is the system's own); returns the
// previous set.
SystemCalls setSystemCalls(SystemCalls calls);

// The calls replaced for a scope.
class ScopedSystemCalls
{
public:
    explicit ScopedSystemCalls(SystemCalls calls) : m_previous(setSystemCalls(std::move(calls))) {}
    ~ScopedSystemCalls() { setSystemCalls(std::move(m_previous)); }
    ScopedSystemCalls(const ScopedSystemCalls &) = delete;
    ScopedSystemCalls &operator=(const ScopedSystemCalls &) = delete;

private:
    SystemCalls m_previous;
};

} // namespace bilmeko

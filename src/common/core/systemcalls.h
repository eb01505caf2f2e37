#pragma once
// The system calls of the writes that must reach the disk (whole-file
// replaces, journal appends), kept in one table so that tests can make any
// of them fail and reach each failure path. The program itself never
// changes the table.

#include <functional>
#include <sys/types.h>

namespace bilmeko {

struct SystemCalls
{
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

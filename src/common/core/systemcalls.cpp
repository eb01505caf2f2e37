#include "systemcalls.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace bilmeko {

namespace {

SystemCalls withDefaults(SystemCalls c)
{
    if (!c.open)
        c.open = [](const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); };
    if (!c.flock)
        c.flock = [](int fd, int operation) { return ::flock(fd, operation); };
    if (!c.read)
        c.read = [](int fd, void *data, size_t size) { return ::read(fd, data, size); };
    if (!c.pread)
        c.pread = [](int fd, void *data, size_t size, off_t offset) { return ::pread(fd, data, size, offset); };
    if (!c.ftruncate)
        c.ftruncate = [](int fd, off_t length) { return ::ftruncate(fd, length); };
    if (!c.write)
        c.write = [](int fd, const void *data, size_t size) { return ::write(fd, data, size); };
    if (!c.pwrite)
        c.pwrite = [](int fd, const void *data, size_t size, off_t offset) { return ::pwrite(fd, data, size, offset); };
    if (!c.fsync)
        c.fsync = [](int fd) { return ::fsync(fd); };
    if (!c.rename)
        c.rename = [](const char *from, const char *to) { return ::rename(from, to); };
    if (!c.close)
        c.close = [](int fd) { return ::close(fd); };
    return c;
}

SystemCalls &table()
{
    static SystemCalls c = withDefaults({});
    return c;
}

} // namespace

const SystemCalls &systemCalls()
{
    return table();
}

SystemCalls setSystemCalls(SystemCalls c)
{
    return std::exchange(table(), withDefaults(std::move(c)));
}

} // namespace bilmeko

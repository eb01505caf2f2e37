#pragma once
// Helpers shared by the tests: pinned Russian formats, a recorder for error
// boxes, files, and dropping root's rights.

#include "common/core/errors.h"
#include "common/core/systemcalls.h"

#include <QStringList>

namespace bilmeko::test {

// Russian conventions, whatever the machine's locale.
void pinRussian();

// A file's whole content; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Replaces a file's content; the test fails hard when it cannot.
void writeFile(const QString &path, const QByteArray &bytes);

// System calls whose close() of a file with this name closes it and then
// reports EIO, as a network file system may after the data is flushed.
SystemCalls closeFailingFor(const QString &fileName);

// A print service that takes every connection (the system queues them on
// its listening socket) and never says a word; CUPS_SERVER names it.
class SilentPrintServer
{
public:
    // Listens on a Unix socket at the path; false when it cannot.
    bool listen(const QString &path);
    ~SilentPrintServer();

private:
    int m_fd = -1;
};

// Collects the texts of error boxes while alive instead of showing them.
class ErrorRecorder
{
public:
    ErrorRecorder();
    ~ErrorRecorder();
    ErrorRecorder(const ErrorRecorder &) = delete;
    ErrorRecorder &operator=(const ErrorRecorder &) = delete;
    QStringList messages;

private:
    ErrorSink m_previous;
};

// Drops root's rights for a scope (tests run as root in CI, where file
// permissions would otherwise not apply). Does nothing for other users.
class AsUnprivileged
{
public:
    AsUnprivileged();
    ~AsUnprivileged();
    AsUnprivileged(const AsUnprivileged &) = delete;
    AsUnprivileged &operator=(const AsUnprivileged &) = delete;

private:
    bool m_dropped = false;
};

} // namespace bilmeko::test

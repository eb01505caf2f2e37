#include "quitsignals.h"

#include "common/core/errors.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace bilmeko {

namespace {

int wakeFds[2] = {-1, -1};
bool quitting = false;

// Only what is safe inside a signal handler: one write to a pipe.
void onSignal(int)
{
    const int saved = errno;
    const char b = 1;
    if (::write(wakeFds[1], &b, 1) < 0) { /* the pipe is full: a quit is pending */
    }
    errno = saved;
}

} // namespace

bool quitRequested()
{
    return quitting;
}

bool quitOnTerminationSignals()
{
    if (wakeFds[0] >= 0)
        return true;
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto *notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buf[16];
        while (::read(wakeFds[0], buf, sizeof buf) > 0) {}
        quitting = true;
        // A message still to come on the way out (the start going on after
        // the box the signal closed) goes to standard error, not into a box
        // that would hold the program up.
        setErrorPresenter([](const QString &text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
        // exit(), not quit(): quit() would first ask the main window to
        // close, and that asks the operator. It also ends a message box's
        // loop, which the start may be in.
        QCoreApplication::exit(0);
    });
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    bool ok = true;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ok = ::sigaction(sig, &sa, nullptr) == 0 && ok;
    return ok;
}

} // namespace bilmeko

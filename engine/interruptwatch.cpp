#include "engine/interruptwatch.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{

#ifdef Q_OS_UNIX
// Ctrl-C, a kill, and the terminal going away end a run the same way.
const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
int signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}
#endif

} // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
{
#ifdef Q_OS_UNIX
    if (::pipe(signalPipe) != 0)
        return;
    for (int fd : signalPipe)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : stopSignals)
        sigaction(sig, &sa, nullptr);
    notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [onInterrupt] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        onInterrupt();
    });
#else
    Q_UNUSED(onInterrupt);
#endif
}

InterruptWatch::~InterruptWatch()
{
#ifdef Q_OS_UNIX
    // Once the jobs are done, Ctrl-C ends the program as usual again.
    if (!notifier)
        return;
    notifier.reset();
    for (const int sig : stopSignals)
        signal(sig, SIG_DFL);
    for (int &fd : signalPipe) {
        ::close(fd);
        fd = -1;
    }
#endif
}

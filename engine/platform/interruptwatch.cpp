#include "engine/platform/interruptwatch.h"

#include <QSocketNotifier>

#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{

#ifdef Q_OS_UNIX
// The signals of each kind, and the pipe each kind's handler writes to (the
// one thing a signal handler may safely do).
std::vector<int> signalsOf(InterruptWatch::Kind kind)
{
    return kind == InterruptWatch::Kind::Stop ? std::vector<int>{SIGINT, SIGTERM, SIGHUP}
                                              : std::vector<int>{SIGUSR1};
}
int stopPipe[2] = {-1, -1};
int reportPipe[2] = {-1, -1};
int *pipeOf(InterruptWatch::Kind kind)
{
    return kind == InterruptWatch::Kind::Stop ? stopPipe : reportPipe;
}
void onStop(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}
void onReport(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(reportPipe[1], &byte, 1);
    errno = saved;
}
#endif

} // namespace

InterruptWatch::InterruptWatch(std::function<void()> onSignal, Kind kind) : kind(kind)
{
#ifdef Q_OS_UNIX
    int *fds = pipeOf(kind);
    if (::pipe(fds) != 0)
        return;
    for (int i = 0; i < 2; ++i)
        ::fcntl(fds[i], F_SETFL, ::fcntl(fds[i], F_GETFL) | O_NONBLOCK);
    struct sigaction sa = {};
    sa.sa_handler = kind == Kind::Stop ? onStop : onReport;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : signalsOf(kind))
        sigaction(sig, &sa, nullptr);
    notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [fds, onSignal] {
        char byte;
        while (::read(fds[0], &byte, 1) > 0) {
        }
        onSignal();
    });
#else
    Q_UNUSED(onSignal);
#endif
}

InterruptWatch::~InterruptWatch()
{
#ifdef Q_OS_UNIX
    // Once the watch is gone, the signals have their usual effect again.
    if (!notifier)
        return;
    notifier.reset();
    for (const int sig : signalsOf(kind))
        signal(sig, SIG_DFL);
    int *fds = pipeOf(kind);
    for (int i = 0; i < 2; ++i) {
        ::close(fds[i]);
        fds[i] = -1;
    }
#endif
}

#include "engine/platform/interruptwatch.h"

#include <QSocketNotifier>

#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef Q_OS_UNIX
struct InterruptWatch::Saved {
    std::vector<std::pair<int, struct sigaction>> actions;
};
#else
struct InterruptWatch::Saved {
};
#endif

namespace
{

#ifdef Q_OS_UNIX
// The signals of each kind, and the pipe each kind's handler writes to (the
// one thing a signal handler may safely do).
std::vector<int> signalsOf(InterruptWatch::Kind kind, InterruptWatch::Also also)
{
    if (kind == InterruptWatch::Kind::Report)
        return {SIGUSR1};
    if (kind == InterruptWatch::Kind::Reload)
        return {SIGHUP};
    std::vector<int> stop{SIGINT, SIGTERM};
    if (also != InterruptWatch::Also::QuitNotHangUp)
        stop.push_back(SIGHUP);
    if (also != InterruptWatch::Also::Nothing)
        stop.push_back(SIGQUIT);
    return stop;
}
int stopPipe[2] = {-1, -1};
int reportPipe[2] = {-1, -1};
int reloadPipe[2] = {-1, -1};
int *pipeOf(InterruptWatch::Kind kind)
{
    switch (kind) {
    case InterruptWatch::Kind::Stop:
        return stopPipe;
    case InterruptWatch::Kind::Report:
        return reportPipe;
    case InterruptWatch::Kind::Reload:
        break;
    }
    return reloadPipe;
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
void onReload(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(reloadPipe[1], &byte, 1);
    errno = saved;
}

// Non-blocking, and closed in every program this one starts.
bool makePipe(int fds[2])
{
#ifdef Q_OS_LINUX
    return ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0;
#else
    if (::pipe(fds) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
        ::fcntl(fds[i], F_SETFL, ::fcntl(fds[i], F_GETFL) | O_NONBLOCK);
    }
    return true;
#endif
}
#endif

} // namespace

InterruptWatch::InterruptWatch(std::function<void()> onSignal, Kind kind, Also also)
    : saved(std::make_unique<Saved>()), kind(kind)
{
#ifdef Q_OS_UNIX
    int *fds = pipeOf(kind);
    if (!makePipe(fds))
        return;
    struct sigaction sa = {};
    sa.sa_handler = kind == Kind::Stop ? onStop : kind == Kind::Report ? onReport : onReload;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : signalsOf(kind, also)) {
        struct sigaction before = {};
        if (::sigaction(sig, nullptr, &before) != 0 || before.sa_handler == SIG_IGN)
            continue;
        if (::sigaction(sig, &sa, nullptr) == 0)
            saved->actions.emplace_back(sig, before);
    }
    notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated,
                     [fds, onSignal = std::move(onSignal)] {
                         char byte;
                         while (::read(fds[0], &byte, 1) > 0) {
                         }
                         onSignal();
                     });
#else
    Q_UNUSED(onSignal);
    Q_UNUSED(also);
#endif
}

InterruptWatch::~InterruptWatch()
{
#ifdef Q_OS_UNIX
    // Once the watch is gone, the signals have their earlier effect again.
    if (!notifier)
        return;
    notifier.reset();
    // Fails only for a bad signal or action, and these are the system's own.
    for (const auto &[sig, action] : saved->actions)
        (void)::sigaction(sig, &action, nullptr);
    int *fds = pipeOf(kind);
    for (int i = 0; i < 2; ++i) {
        ::close(fds[i]);
        fds[i] = -1;
    }
#endif
}

#ifndef INTERRUPTWATCH_H
#define INTERRUPTWATCH_H

#include <functional>
#include <memory>

class QSocketNotifier;

// While it lives, Ctrl-C, SIGTERM and SIGHUP (a kill, the terminal going
// away) call `onInterrupt` in the event loop instead of ending the process,
// so that the running jobs close their ports and record the module in
// hand. Afterwards the signals end the program as usual again. Elsewhere
// than on POSIX systems it does nothing.
class InterruptWatch
{
public:
    explicit InterruptWatch(std::function<void()> onInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier;
};

#endif // INTERRUPTWATCH_H

#ifndef INTERRUPTWATCH_H
#define INTERRUPTWATCH_H

#include <functional>
#include <memory>

class QSocketNotifier;

// While it lives, the signals of its kind call `onSignal` in the event loop
// instead of their usual effect; afterwards they have it again. Elsewhere
// than on POSIX systems it does nothing.
//   Stop:   Ctrl-C, SIGTERM and SIGHUP (a kill, the terminal going away):
//           the running jobs close their ports and record the module in
//           hand, instead of the process ending under them.
//   Report: SIGUSR1: a long-running command says how it stands.
// One watch of each kind at a time.
class InterruptWatch
{
public:
    enum class Kind { Stop, Report };

    explicit InterruptWatch(std::function<void()> onSignal, Kind kind = Kind::Stop);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier;
    Kind kind;
};

#endif // INTERRUPTWATCH_H

#ifndef INTERRUPTWATCH_H
#define INTERRUPTWATCH_H

#include <functional>
#include <memory>

class QSocketNotifier;

// While it lives, the signals of its kind call `onSignal` in the event loop
// instead of their usual effect; afterwards they have the effect they had
// before. Elsewhere than on POSIX systems it does nothing.
//   Stop:   Ctrl-C, SIGTERM and SIGHUP (a kill, the terminal going away):
//           the running jobs close their ports and record the module in
//           hand, instead of the process ending under them. With
//           Also::Quit, SIGQUIT (Ctrl-\) too, for a service that ends on it
//           as on SIGTERM.
//   Report: SIGUSR1: a long-running command says how it stands.
//   Reload: SIGHUP: a service reads its configuration again. A Stop watch
//           beside it takes Also::QuitNotHangUp, which leaves SIGHUP to it.
// A signal that was ignored when the watch began stays ignored: the one who
// started the program wants it so (`nohup` ignores SIGHUP, a shell's
// background job SIGINT and SIGQUIT). One watch of each kind at a time.
class InterruptWatch
{
public:
    enum class Kind { Stop, Report, Reload };
    enum class Also { Nothing, Quit, QuitNotHangUp };

    explicit InterruptWatch(std::function<void()> onSignal, Kind kind = Kind::Stop,
                            Also also = Also::Nothing);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    struct Saved;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<Saved> saved; // the actions to put back
    Kind kind;
};

#endif // INTERRUPTWATCH_H

#ifndef CONNECTPOLICY_H
#define CONNECTPOLICY_H

#include <QAbstractSocket>
#include <QString>
#include <QtGlobal>

// When a connection to a module's TCP port is tried again, how long a try
// may take and when trying ends: one policy for everything that connects to
// a module (the reach check, the bus's master, the bridge's and the
// gateway's module link). No sockets and no timers: the caller says when a
// run of tries begins and how each try ended, on one monotonic clock in
// milliseconds, and is told how long the next try may take and the pause
// before it, or that the run is over.
//
// - After a quick failure (refused, unreachable, an error on the way) the
//   next try follows a pause: firstPauseMs, doubled after each failure up
//   to longestPauseMs. A module that accepted and closed at once (a
//   single-client converter still serving another) is asked again after
//   the longest pause.
// - A try that took its whole time-out is followed by the next at once: it
//   has waited long enough.
// - With a give-up time, no try starts after it has passed since the run
//   began: the pause before the last try is cut to what is left, as is a
//   try's time-out, but never under shortestTryMs, and the last try's
//   outcome is the run's. 0: one try; -1: tries for as long as it is asked.
// - begin() starts a run afresh: the give-up time from then, the pause back
//   to the first.
//
// The two schedules differ only where their callers do: a check waits for
// a module within a time (the write's reach check and bus check, each while
// the module comes back from its restart), where every millisecond of
// pause is the job's and the run is short, so it is asked at a steady
// quarter second; a link kept up runs for days, where a module gone for
// hours is asked every 2 s, sparing it and the trace.
class ConnectPolicy
{
public:
    static constexpr int firstPauseMs = 250;
    static constexpr int longestPauseMs = 2000;
    static constexpr int shortestTryMs = 250;
    static constexpr int defaultTryTimeoutMs = 3000;

    struct Schedule {
        int firstPauseMs = ConnectPolicy::firstPauseMs;
        int longestPauseMs = ConnectPolicy::firstPauseMs;
        int tryTimeoutMs = ConnectPolicy::defaultTryTimeoutMs;
        int giveUpMs = 0; // 0: one try; -1: never
    };
    // A module waited for within `giveUpMs` (0: one try): the reach check
    // and the bus's master.
    static Schedule within(int giveUpMs, int tryTimeoutMs = defaultTryTimeoutMs);
    // A module's link kept up, tried again for as long as it is up: the
    // bridge's and the gateway's. (Their give-up is the program's own end
    // after so long without a connection, not the end of a run of tries.)
    static Schedule keptUp();

    // How a try ended without a connection.
    enum class Ended {
        Failed,       // refused, unreachable, an error: at once
        TimedOut,     // nothing within the try's time-out
        ClosedAtOnce, // accepted, then closed by the module at once
    };

    ConnectPolicy();
    explicit ConnectPolicy(const Schedule &schedule) : plan(schedule) {}

    const Schedule &schedule() const { return plan; }
    // A run of tries begins at `nowMs`: the first try is made now.
    void begin(qint64 nowMs);
    // How long the try that starts at `nowMs` may take.
    int tryTimeout(qint64 nowMs) const;
    // A try ended at `nowMs` without a connection: the pause before the
    // next one, or -1 when the run is over.
    int afterFailure(Ended how, qint64 nowMs);
    // Since the run began.
    qint64 elapsed(qint64 nowMs) const { return nowMs - beganMs; }

    // What a failed try is, in one word for every command that connects:
    // the reach check, the bus and what they record.
    enum class Failure {
        Refused,     // the host answered that nothing listens there
        NoAnswer,    // nothing came back, or the network said nothing is there
        Unreachable, // this computer would not send to it (no route)
    };
    // A failure inside the connect call itself is this computer's: nothing
    // went out (no route, a blackhole route, which the system reports as a
    // refusal). A host's refusal and the network's word come back later.
    static Failure failureOf(QAbstractSocket::SocketError error, bool inConnectCall);
    // "refused", "no answer", "unreachable": never translated.
    static QString word(Failure failure);

private:
    Schedule plan;
    qint64 beganMs = 0;
    int pauseMs = ConnectPolicy::firstPauseMs;
};

#endif // CONNECTPOLICY_H

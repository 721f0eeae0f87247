#include "engine/link/connectpolicy.h"

ConnectPolicy::ConnectPolicy() : plan(Schedule()) {}

ConnectPolicy::Schedule ConnectPolicy::within(int giveUpMs, int tryTimeoutMs)
{
    Schedule s;
    s.giveUpMs = qMax(0, giveUpMs);
    s.tryTimeoutMs = tryTimeoutMs;
    return s;
}

ConnectPolicy::Schedule ConnectPolicy::keptUp()
{
    Schedule s;
    s.longestPauseMs = longestPauseMs;
    s.giveUpMs = -1;
    return s;
}

void ConnectPolicy::begin(qint64 nowMs)
{
    beganMs = nowMs;
    pauseMs = plan.firstPauseMs;
}

int ConnectPolicy::tryTimeout(qint64 nowMs) const
{
    if (plan.giveUpMs <= 0)
        return plan.tryTimeoutMs;
    // The last try gets what is left, but not next to nothing.
    const qint64 left = plan.giveUpMs - elapsed(nowMs);
    return int(qMin<qint64>(plan.tryTimeoutMs, qMax<qint64>(left, shortestTryMs)));
}

int ConnectPolicy::afterFailure(Ended how, qint64 nowMs)
{
    const qint64 left = plan.giveUpMs < 0 ? -1 : plan.giveUpMs - elapsed(nowMs);
    if (plan.giveUpMs >= 0 && left <= 0)
        return -1;
    int pause = 0;
    switch (how) {
    case Ended::TimedOut:
        break;
    case Ended::Failed:
        pause = pauseMs;
        pauseMs = qMin(pauseMs * 2, plan.longestPauseMs);
        break;
    case Ended::ClosedAtOnce:
        pause = plan.longestPauseMs;
        pauseMs = plan.longestPauseMs;
        break;
    }
    return left < 0 ? pause : int(qMin<qint64>(pause, left));
}

ConnectPolicy::Failure ConnectPolicy::failureOf(QAbstractSocket::SocketError error,
                                                bool inConnectCall)
{
    if (inConnectCall)
        return Failure::Unreachable;
    if (error == QAbstractSocket::ConnectionRefusedError)
        return Failure::Refused;
    return Failure::NoAnswer;
}

QString ConnectPolicy::word(Failure failure)
{
    switch (failure) {
    case Failure::Refused:
        return QStringLiteral("refused");
    case Failure::NoAnswer:
        break;
    case Failure::Unreachable:
        return QStringLiteral("unreachable");
    }
    return QStringLiteral("no answer");
}

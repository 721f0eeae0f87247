#include "engine/reach/reachcheck.h"

#include "engine/link/hostport.h"
#include "engine/platform/tracelog.h"

#include <QTcpSocket>

ReachCheck::ReachCheck(QObject *parent) : QObject(parent) {}

ReachCheck::~ReachCheck()
{
    for (const auto &t : targets) {
        if (t->socket)
            t->socket->disconnect(this);
    }
}

int ReachCheck::addTarget(const QHostAddress &address, quint16 port)
{
    auto t = std::make_unique<Target>();
    t->address = address;
    t->port = port;
    t->timer.setSingleShot(true);
    t->timer.setTimerType(Qt::PreciseTimer);
    const int index = int(targets.size());
    connect(&t->timer, &QTimer::timeout, this, [this, index] { onTimer(index); });
    targets.push_back(std::move(t));
    return index;
}

QString ReachCheck::target(int index) const
{
    const Target &t = *targets.at(size_t(index));
    return t.address.toString() + QLatin1Char(':') + QString::number(t.port);
}

void ReachCheck::start()
{
    if (started)
        return;
    started = true;
    for (int i = 0; i < count(); ++i)
        ready << i;
    pump();
    checkFinished();
}

void ReachCheck::stop()
{
    if (finishedFlag)
        return;
    ready.clear();
    for (const auto &t : targets) {
        t->timer.stop();
        if (t->socket) {
            closeSocket(t.get(), false);
            --inProgress;
        }
        if (!t->done)
            t->result.outcome = Outcome::Pending;
        t->done = true;
    }
    started = true;
    checkFinished();
}

void ReachCheck::pump()
{
    // An attempt may end inside the call that starts it (this computer
    // refuses to send): the loop goes on, no deeper call.
    if (pumping)
        return;
    pumping = true;
    while (inProgress < maxAtOnce && !ready.isEmpty())
        attempt(ready.takeFirst());
    pumping = false;
}

void ReachCheck::attempt(int index)
{
    Target &t = *targets.at(size_t(index));
    if (t.result.attempts == 0) {
        t.sinceFirst.start();
        t.policy = ConnectPolicy(ConnectPolicy::within(retryForMs, connectTimeoutMs));
        t.policy.begin(0);
    }
    ++t.result.attempts;
    ++inProgress;
    const int timeoutMs = t.policy.tryTimeout(t.sinceFirst.elapsed());
    t.socket = new QTcpSocket(this);
    connect(t.socket, &QTcpSocket::connected, this, [this, index] { onConnected(index); });
    connect(t.socket, &QAbstractSocket::errorOccurred, this, [this, index] { onError(index); });
    t.timer.start(timeoutMs);
    t.tryClock.start();
    t.inConnectCall = true;
    t.socket->connectToHost(t.address, t.port);
    t.inConnectCall = false;
}

void ReachCheck::onConnected(int index)
{
    Target &t = *targets.at(size_t(index));
    t.result.ms = int(t.tryClock.elapsed());
    endTry(index, Outcome::Reachable, QString());
}

void ReachCheck::onError(int index)
{
    Target &t = *targets.at(size_t(index));
    if (!t.socket)
        return;
    const QString detail = t.socket->errorString();
    switch (ConnectPolicy::failureOf(t.socket->error(), t.inConnectCall)) {
    case ConnectPolicy::Failure::Unreachable:
        endTry(index, Outcome::Unreachable, detail);
        break;
    case ConnectPolicy::Failure::Refused:
        endTry(index, Outcome::Refused, detail);
        break;
    case ConnectPolicy::Failure::NoAnswer:
        endTry(index, Outcome::NoAnswer, detail);
        break;
    }
}

void ReachCheck::onTimer(int index)
{
    Target &t = *targets.at(size_t(index));
    if (t.socket) {
        endTry(index, Outcome::NoAnswer,
               tr("nothing came back within %1 s").arg(t.timer.interval() / 1000.0), true);
        return;
    }
    // The pause before the next try is over.
    if (!t.done) {
        ready << index;
        pump();
    }
}

void ReachCheck::endTry(int index, Outcome outcome, const QString &detail, bool timedOut)
{
    Target &t = *targets.at(size_t(index));
    t.timer.stop();
    closeSocket(&t, outcome == Outcome::Reachable);
    --inProgress;
    t.result.outcome = outcome;
    t.result.detail = detail;
    const int pause = outcome == Outcome::Reachable
                          ? -1
                          : t.policy.afterFailure(timedOut ? ConnectPolicy::Ended::TimedOut
                                                           : ConnectPolicy::Ended::Failed,
                                                  t.sinceFirst.elapsed());
    if (pause == 0) {
        ready << index;
    } else if (pause > 0) {
        t.timer.start(pause);
    } else {
        t.done = true;
        t.result.time = TraceLog::timestamp();
        emit targetFinished(index);
    }
    pump();
    checkFinished();
}

void ReachCheck::closeSocket(Target *t, bool graceful)
{
    QTcpSocket *socket = t->socket;
    t->socket = nullptr;
    if (!socket)
        return;
    socket->disconnect(this);
    // Not inside the socket's own signal: the next time round the loop.
    QMetaObject::invokeMethod(
        socket,
        [socket, graceful] {
            if (graceful)
                socket->disconnectFromHost();
            else
                socket->abort();
            socket->deleteLater();
        },
        Qt::QueuedConnection);
}

void ReachCheck::checkFinished()
{
    if (finishedFlag || !started)
        return;
    for (const auto &t : targets) {
        if (!t->done)
            return;
    }
    finishedFlag = true;
    // Never inside a caller's own call (start(), stop(), a socket's signal).
    QMetaObject::invokeMethod(this, &ReachCheck::finished, Qt::QueuedConnection);
}

QString ReachCheck::word(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Reachable:
        return QStringLiteral("reachable");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::NoAnswer:
        return QStringLiteral("no answer");
    case Outcome::Unreachable:
        return QStringLiteral("unreachable");
    case Outcome::Pending:
        break;
    }
    return QString();
}

QString ReachCheck::describe(const Result &result)
{
    switch (result.outcome) {
    case Outcome::Reachable:
        return tr("reachable (%1 ms)").arg(result.ms);
    case Outcome::Refused:
        return tr("refused");
    case Outcome::NoAnswer:
        return tr("no answer");
    case Outcome::Unreachable:
        return tr("unreachable");
    case Outcome::Pending:
        break;
    }
    return tr("not checked");
}

#include "engine/link/modulelink.h"

#include "engine/platform/tracelog.h"

#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace
{

// How much of the module's bytes Qt holds while the port has no room; past
// it TCP slows the module down.
constexpr int moduleReadBuffer = 256 * 1024;

} // namespace

ModuleLink::ModuleLink(const HostPort &target, QObject *parent) : QObject(parent), where(target)
{
    retryTimer.setSingleShot(true);
    retryTimer.setTimerType(Qt::PreciseTimer);
    connect(&retryTimer, &QTimer::timeout, this, &ModuleLink::connectNow);
    connectTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, [this] {
        onDown(QStringLiteral("no answer within %1 s").arg(policy.schedule().tryTimeoutMs / 1000));
    });
    keptTimer.setSingleShot(true);
    connect(&keptTimer, &QTimer::timeout, this, &ModuleLink::keep);
    giveUpTimer.setSingleShot(true);
    connect(&giveUpTimer, &QTimer::timeout, this, [this] {
        const QString reason =
            QStringLiteral("no connection for %1 s").arg(down.elapsed() / 1000.0, 0, 'f', 1) +
            (lastReason.isEmpty() ? QString() : QStringLiteral(" (") + lastReason + ')');
        stop();
        emit gaveUp(reason);
    });
}

ModuleLink::~ModuleLink()
{
    stop();
}

void ModuleLink::event(const QString &what)
{
    if (trace)
        trace->event(target(), what);
}

void ModuleLink::start()
{
    if (currentState != State::Idle)
        return;
    down.start();
    if (giveUpMs >= 0)
        giveUpTimer.start(giveUpMs);
    connectNow();
}

void ModuleLink::stop()
{
    if (currentState == State::Stopped)
        return;
    currentState = State::Stopped;
    retryTimer.stop();
    connectTimer.stop();
    giveUpTimer.stop();
    keptTimer.stop();
    dropSocket();
}

// What has left for the network on the connection up now: Qt's buffer
// holds the rest.
void ModuleLink::account()
{
    if (!socket)
        return;
    const qint64 nowLeft = handed - socket->bytesToWrite();
    if (nowLeft > left) {
        count.bytesSent += nowLeft - left;
        left = nowLeft;
    }
    while (!frameEnds.empty() && frameEnds.front() <= left) {
        frameEnds.pop_front();
        ++count.framesSent;
    }
}

void ModuleLink::dropSocket()
{
    if (!socket)
        return;
    account();
    count.bytesLost += handed - left;
    count.framesLost += qint64(frameEnds.size());
    frameEnds.clear();
    handed = left = 0;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    socket = nullptr;
}

void ModuleLink::connectNow()
{
    if (currentState == State::Stopped)
        return;
    dropSocket();
    currentState = State::Connecting;
    kept = false;
    socket = new QTcpSocket(this);
    socket->setReadBufferSize(moduleReadBuffer);
    connect(socket, &QTcpSocket::connected, this, &ModuleLink::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &ModuleLink::onReadable);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        account();
        emit drained();
    });
    connect(socket, &QTcpSocket::disconnected, this,
            [this] { onDown(QStringLiteral("the module closed the connection")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        switch (error) {
        case QAbstractSocket::RemoteHostClosedError:
            onDown(QStringLiteral("the module closed the connection"));
            break;
        case QAbstractSocket::HostNotFoundError:
            onDown(QStringLiteral("the name %1 does not resolve: %2")
                       .arg(where.host, socket->errorString()));
            break;
        default:
            onDown(socket->errorString());
            break;
        }
    });
    connectTimer.start(policy.tryTimeout(0));
    if (where.isName())
        socket->connectToHost(where.host, where.port);
    else
        socket->connectToHost(where.address, where.port);
}

void ModuleLink::onConnected()
{
    connectTimer.stop();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    // A module that is gone (powered off, its cable pulled) is noticed within
    // seconds: idle 5 s, then 3 probes 1 s apart; data unacknowledged for
    // 8 s drops the connection too.
    const int fd = int(socket->socketDescriptor());
    const int idle = 5, interval = 1, probes = 3;
    const unsigned int unacknowledgedMs = 8000;
    // Without them the system's defaults apply and a lost module is noticed
    // late: the trace says so.
    if (::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledgedMs,
                     sizeof unacknowledgedMs) != 0)
        event(QStringLiteral("keep-alive not set: ") +
              QString::fromLocal8Bit(std::strerror(errno)));
#endif
    ++connections;
    currentState = State::Connected;
    keptTimer.start(keptMs);
}

// The connection has lasted, or the module spoke on it: it is no refusal.
void ModuleLink::keep()
{
    if (kept || currentState != State::Connected)
        return;
    keptTimer.stop();
    kept = true;
    giveUpTimer.stop();
    keptSince.start();
    const qint64 downMs = everKept ? down.elapsed() : -1;
    if (everKept)
        ++count.reconnects;
    everKept = true;
    const qint64 refusals = inRefusals ? runRefusals : 0;
    inRefusals = false;
    runRefusals = 0;
    lastReason.clear();
    policy.begin(0);
    event(downMs < 0 ? QStringLiteral("connected")
                     : QStringLiteral("connected again after %1 ms").arg(downMs));
    emit connected(downMs, refusals);
}

void ModuleLink::onReadable()
{
    keep();
    emit readyRead();
}

void ModuleLink::onDown(const QString &reason)
{
    if (currentState != State::Connecting && currentState != State::Connected)
        return;
    connectTimer.stop();
    keptTimer.stop();
    const bool wasConnected = currentState == State::Connected;
    lastReason = reason;
    if (socket && socket->bytesAvailable() > 0) {
        // What the module sent before it closed is still the program's.
        keep();
        rest += socket->readAll();
    }
    const bool refused = wasConnected && !kept;
    dropSocket();
    currentState = State::Waiting;
    if (!rest.isEmpty())
        emit readyRead();
    if (currentState != State::Waiting)
        return; // stopped meanwhile
    if (refused) {
        ++count.refusals;
        ++runRefusals;
        event(QStringLiteral("closed at once by the module"));
        if (!inRefusals) {
            inRefusals = true;
            emit refusing();
        }
    } else if (wasConnected) {
        down.start();
        if (giveUpMs >= 0)
            giveUpTimer.start(giveUpMs);
        event(QStringLiteral("lost: ") + reason);
        emit lost(reason);
    } else if (!everKept && !inRefusals && !reportedNotReached) {
        reportedNotReached = true;
        event(QStringLiteral("not reached: ") + reason);
        emit notReached(reason);
    }
    if (currentState != State::Waiting)
        return;
    // A module that closed at once is called every 2 s, not four times a
    // second.
    retryTimer.start(policy.afterFailure(
        refused ? ConnectPolicy::Ended::ClosedAtOnce : ConnectPolicy::Ended::Failed, 0));
}

bool ModuleLink::send(const QByteArray &frame)
{
    if (currentState != State::Connected || !socket)
        return false;
    socket->write(frame);
    handed += frame.size();
    frameEnds.push_back(handed);
    socket->flush();
    account();
    return true;
}

qint64 ModuleLink::backlog() const
{
    return socket ? socket->bytesToWrite() : 0;
}

qint64 ModuleLink::bytesAvailable() const
{
    return rest.size() + (socket ? socket->bytesAvailable() : 0);
}

QByteArray ModuleLink::read(qint64 max)
{
    QByteArray bytes;
    if (!rest.isEmpty()) {
        bytes = rest.left(int(qMin<qint64>(max, rest.size())));
        rest.remove(0, bytes.size());
    } else if (socket) {
        bytes = socket->read(max);
    }
    count.bytesReceived += bytes.size();
    return bytes;
}

QString ModuleLink::stateName(State state)
{
    switch (state) {
    case State::Connected:
        return QStringLiteral("connected");
    case State::Connecting:
        return QStringLiteral("connecting");
    case State::Waiting:
        return QStringLiteral("reconnecting");
    case State::Stopped:
        return QStringLiteral("stopped");
    case State::Idle:
        break;
    }
    return QStringLiteral("idle");
}

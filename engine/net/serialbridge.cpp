#include "engine/net/serialbridge.h"

#include "engine/platform/tracelog.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <cmath>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#endif

namespace
{

constexpr int firstRetryMs = 250;
constexpr int longestRetryMs = 2000;
// A module that neither accepts nor refuses (gone from the network).
constexpr int connectTimeoutMs = 3000;
// How much of the module's bytes Qt holds while the port has no room.
constexpr int moduleReadBuffer = 256 * 1024;

} // namespace

SerialBridge::SerialBridge(const Settings &settings, QObject *parent)
    : QObject(parent), settings(settings)
{
    gapTimer.setSingleShot(true);
    gapTimer.setTimerType(Qt::PreciseTimer);
    connect(&gapTimer, &QTimer::timeout, this, &SerialBridge::flushFrame);
    retryTimer.setSingleShot(true);
    retryTimer.setTimerType(Qt::PreciseTimer);
    connect(&retryTimer, &QTimer::timeout, this, &SerialBridge::connectNow);
    connectTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, [this] {
        onSocketDown(QStringLiteral("no answer within %1 s").arg(connectTimeoutMs / 1000));
    });
    giveUpTimer.setSingleShot(true);
    connect(&giveUpTimer, &QTimer::timeout, this, [this] {
        const QString reason =
            QStringLiteral("no connection for %1 s").arg(down.elapsed() / 1000.0, 0, 'f', 1) +
            (lastReason.isEmpty() ? QString() : QStringLiteral(" (") + lastReason + ')');
        stop();
        emit gaveUp(reason);
    });
}

SerialBridge::~SerialBridge()
{
    stop();
}

bool SerialBridge::parseTarget(const QString &text, QString *host, quint16 *port, QString *problem)
{
    // host:port, or [address]:port for an IPv6 address.
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^:\\[\\]\\s/]+)):([0-9]{1,5})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        *problem = QStringLiteral("\"%1\" is not HOST:PORT").arg(text);
        return false;
    }
    const QString name = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
    if (!m.captured(1).isEmpty() &&
        QHostAddress(name).protocol() != QAbstractSocket::IPv6Protocol) {
        *problem = QStringLiteral("\"%1\": [%2] is not an IPv6 address").arg(text, name);
        return false;
    }
    const int number = m.captured(3).toInt();
    if (number < 1 || number > 65535 || m.captured(3).startsWith(QLatin1Char('0'))) {
        *problem = QStringLiteral("\"%1\": the port must be 1-65535").arg(text);
        return false;
    }
    *host = name;
    *port = quint16(number);
    return true;
}

QString SerialBridge::target() const
{
    return settings.host.contains(QLatin1Char(':'))
               ? QStringLiteral("[%1]:%2").arg(settings.host).arg(settings.port)
               : QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
}

void SerialBridge::start()
{
    if (currentState != State::Idle)
        return;
    down.start();
    if (settings.giveUpMs >= 0)
        giveUpTimer.start(settings.giveUpMs);
    connectNow();
}

void SerialBridge::stop()
{
    if (currentState == State::Stopped)
        return;
    // A frame gathered while connected still goes (best effort: the
    // connection closes next).
    if (currentState == State::Connected)
        flushFrame();
    setState(State::Stopped);
    gapTimer.stop();
    retryTimer.stop();
    connectTimer.stop();
    giveUpTimer.stop();
    if (!frame.isEmpty()) {
        // Gathered but never sent: counted as what was written too late.
        count.discardedBytes += frame.size();
        ++count.discardedFrames;
        frame.clear();
    }
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
    portReadable.reset();
    portWritable.reset();
    openWatch.reset();
#ifdef Q_OS_UNIX
    if (openWatchFd >= 0)
        ::close(openWatchFd);
    openWatchFd = -1;
    if (masterFd >= 0) {
        // Only a link that still points to this port: another bridge may
        // have taken the path over meanwhile.
        const QByteArray link = QFile::encodeName(settings.link);
        char buffer[4096];
        const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer - 1);
        if (n > 0 && QByteArray(buffer, int(n)) == QFile::encodeName(devicePath))
            ::unlink(link.constData());
        ::close(slaveFd);
        ::close(masterFd);
        slaveFd = masterFd = -1;
    }
#endif
    if (settings.trace)
        settings.trace->event(target(), QStringLiteral("stopped"));
}

void SerialBridge::setState(State state)
{
    currentState = state;
}

void SerialBridge::connectNow()
{
    if (currentState == State::Stopped)
        return;
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    setState(State::Connecting);
    socket = new QTcpSocket(this);
    socket->setReadBufferSize(moduleReadBuffer);
    connect(socket, &QTcpSocket::connected, this, &SerialBridge::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &SerialBridge::onModuleReadable);
    connect(socket, &QTcpSocket::disconnected, this,
            [this] { onSocketDown(QStringLiteral("the module closed the connection")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        onSocketDown(error == QAbstractSocket::RemoteHostClosedError
                         ? QStringLiteral("the module closed the connection")
                         : socket->errorString());
    });
    connectTimer.start(connectTimeoutMs);
    socket->connectToHost(settings.host, settings.port);
}

void SerialBridge::onConnected()
{
    connectTimer.stop();
    giveUpTimer.stop();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    // A module that is gone (powered off, its cable pulled) is noticed within
    // seconds: idle 5 s, then 3 probes 1 s apart; data unacknowledged for
    // 8 s drops the connection too.
    const int fd = int(socket->socketDescriptor());
    const int idle = 5, interval = 1, probes = 3;
    const unsigned int unacknowledgedMs = 8000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledgedMs, sizeof unacknowledgedMs);
#endif
    ++generation;
    connectedSince.start();
    setState(State::Connected);
    const qint64 downMs = everConnected ? down.elapsed() : -1;
    if (everConnected)
        ++count.reconnects;
    everConnected = true;
    lastReason.clear();
    if (settings.trace)
        settings.trace->event(
            target(), downMs < 0 ? QStringLiteral("connected")
                                 : QStringLiteral("connected again after %1 ms").arg(downMs));
    emit connected(downMs);
}

void SerialBridge::onSocketDown(const QString &reason)
{
    if (currentState == State::Stopped || currentState == State::Waiting ||
        currentState == State::Idle)
        return;
    connectTimer.stop();
    const bool wasConnected = currentState == State::Connected;
    lastReason = reason;
    if (socket && wasConnected && socket->bytesAvailable() > 0) {
        // What the module sent before it closed still goes to the port.
        const QByteArray rest = socket->readAll();
        count.bytesFromModule += rest.size();
        if (settings.trace)
            settings.trace->received(target(), rest);
        toPort = toPort.mid(toPortAt, toPortEnd - toPortAt) + rest;
        toPortAt = 0;
        toPortEnd = toPort.size();
        writeToPort();
    }
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
    setState(State::Waiting);
    if (wasConnected) {
        // A connection that lasted starts the back-off afresh; one closed at
        // once (a single-client module still holding a stale connection)
        // does not, so that such a module is not called four times a second.
        if (connectedSince.elapsed() >= longestRetryMs)
            retryMs = firstRetryMs;
        down.start();
        if (settings.giveUpMs >= 0)
            giveUpTimer.start(settings.giveUpMs);
        if (settings.trace)
            settings.trace->event(target(), QStringLiteral("lost: ") + reason);
        emit lost(reason);
    } else if (!everConnected && !reportedNotReached) {
        reportedNotReached = true;
        if (settings.trace)
            settings.trace->event(target(), QStringLiteral("not reached: ") + reason);
        emit notReached(reason);
    }
    if (currentState == State::Waiting)
        scheduleRetry();
}

void SerialBridge::scheduleRetry()
{
    retryTimer.start(retryMs);
    retryMs = qMin(retryMs * 2, longestRetryMs);
}

void SerialBridge::flushFrame()
{
    gapTimer.stop();
    if (frame.isEmpty())
        return;
    QByteArray bytes;
    bytes.swap(frame);
    // Sent only on the connection it was written under: bytes written while
    // there was none, or across a loss, would arrive late.
    if (currentState != State::Connected || frameGeneration != generation || !socket) {
        count.discardedBytes += bytes.size();
        ++count.discardedFrames;
        if (settings.trace)
            settings.trace->event(
                target(), QStringLiteral("discarded (no connection): ") +
                              QString::fromLatin1(bytes.size() > 64 ? bytes.left(64).toHex() + "..."
                                                                    : bytes.toHex()));
        return;
    }
    socket->write(bytes);
    socket->flush();
    count.bytesToModule += bytes.size();
    ++count.framesToModule;
    if (settings.trace)
        settings.trace->sent(target(), bytes);
}

void SerialBridge::onModuleReadable()
{
    // While the port has no room, the module's bytes wait in the socket (and
    // TCP slows the module down), in order. One buffer, read into again.
    while (socket && toPortAt >= toPortEnd) {
        if (toPort.size() < largestFrame)
            toPort.resize(largestFrame);
        const qint64 n = socket->read(toPort.data(), largestFrame);
        if (n <= 0)
            return;
        toPortAt = 0;
        toPortEnd = int(n);
        count.bytesFromModule += n;
        if (settings.trace)
            settings.trace->received(target(), QByteArray::fromRawData(toPort.constData(), int(n)));
        writeToPort();
    }
}

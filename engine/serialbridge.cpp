#include "engine/serialbridge.h"

#include "engine/tracelog.h"

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
// Bytes streamed without a pause leave in pieces of this size: a frame of
// a serial protocol is far smaller.
constexpr int largestFrame = 64 * 1024;
// How much of the module's bytes Qt holds while the port has no room.
constexpr int moduleReadBuffer = 256 * 1024;

#ifdef Q_OS_UNIX
// The speed of a port no program has set yet: a real setting always
// differs from it.
constexpr speed_t unsetSpeed = B50;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The speed a termios holds, in bits per second; 0 for none (B0) or an
// unknown constant.
int baudOf(speed_t speed)
{
    static const struct {
        speed_t code;
        int baud;
    } speeds[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},
        {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400},
        {B57600, 57600},   {B115200, 115200}, {B230400, 230400},
#ifdef B460800
        {B460800, 460800},
#endif
#ifdef B921600
        {B921600, 921600},
#endif
    };
    for (const auto &s : speeds) {
        if (s.code == speed)
            return s.baud;
    }
    return 0;
}
#endif

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

bool SerialBridge::available()
{
#ifdef Q_OS_UNIX
    return true;
#else
    return false;
#endif
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

int SerialBridge::characterGapUs(int baud, int bitsPerCharacter)
{
    if (baud <= 0)
        return 1000;
    const double us = 3.5 * bitsPerCharacter * 1e6 / baud;
    return qMax(1000, int(std::ceil(us)));
}

QString SerialBridge::target() const
{
    return settings.host.contains(QLatin1Char(':'))
               ? QStringLiteral("[%1]:%2").arg(settings.host).arg(settings.port)
               : QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
}

int SerialBridge::currentGapUs() const
{
    if (settings.gapUs >= 0)
        return settings.gapUs;
#ifdef Q_OS_UNIX
    termios t;
    if (slaveFd < 0 || ::tcgetattr(slaveFd, &t) != 0)
        return lastGapUs; // the port closed: the gap it had
    // A character: start bit, data bits, parity bit if any, stop bits.
    int dataBits = 8;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        dataBits = 5;
        break;
    case CS6:
        dataBits = 6;
        break;
    case CS7:
        dataBits = 7;
        break;
    default:
        break;
    }
    // A pseudo-terminal drops the parity flag a program sets; the parity
    // check it sets with it (INPCK) stands for it.
    const bool parity = (t.c_cflag & PARENB) || (t.c_iflag & INPCK);
    const int bits = 1 + dataBits + (parity ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
    const speed_t speed = cfgetospeed(&t);
    lastGapUs = characterGapUs(speed == unsetSpeed ? 0 : baudOf(speed), bits);
    return lastGapUs;
#else
    return 1000;
#endif
}

bool SerialBridge::openPort(QString *problem)
{
#ifdef Q_OS_UNIX
    const QByteArray link = QFile::encodeName(settings.link);
    struct stat st;
    if (::lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *problem =
            QStringLiteral("%1 exists and is not a symbolic link: not replaced").arg(settings.link);
        return false;
    }
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        *problem = QStringLiteral("cannot make a pseudo-terminal: ") + systemError(errno);
        return false;
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    const char *name =
        (::grantpt(master) == 0 && ::unlockpt(master) == 0) ? ::ptsname(master) : nullptr;
    const int slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave < 0) {
        *problem = QStringLiteral("cannot open a pseudo-terminal: ") + systemError(errno);
        ::close(master);
        return false;
    }
    const QByteArray device(name);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // Usable by the group of serial ports, where the bridge may give it
    // (as root, or as a member of that group: the service); otherwise the
    // bridge's user's own, as the system made it.
    if (const group *serial = ::getgrnam("dialout")) {
        if (::fchown(slave, uid_t(-1), serial->gr_gid) == 0)
            ::fchmod(slave, 0660);
    }

    // A link made beside the path and renamed over it: an old link is
    // replaced in one step, and a failure leaves nothing half made.
    const QByteArray temporary = link + ".new-" + QByteArray::number(qint64(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(device.constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), link.constData()) != 0) {
        *problem = QStringLiteral("cannot make %1: %2").arg(settings.link, systemError(errno));
        ::unlink(temporary.constData());
        ::close(slave);
        ::close(master);
        return false;
    }
    masterFd = master;
    slaveFd = slave;
    devicePath = QString::fromLocal8Bit(device);
    resetPort();
#ifdef Q_OS_LINUX
    openWatchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (openWatchFd >= 0 &&
        ::inotify_add_watch(openWatchFd, device.constData(), IN_OPEN | IN_CLOSE) >= 0) {
        openWatch = std::make_unique<QSocketNotifier>(openWatchFd, QSocketNotifier::Read);
        connect(openWatch.get(), &QSocketNotifier::activated, this, &SerialBridge::onOpenEvents);
    }
#endif
    portReadable = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Read);
    connect(portReadable.get(), &QSocketNotifier::activated, this, &SerialBridge::onPortReadable);
    portWritable = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Write);
    portWritable->setEnabled(false);
    connect(portWritable.get(), &QSocketNotifier::activated, this, &SerialBridge::onPortWritable);
    if (settings.trace)
        settings.trace->event(settings.link, QStringLiteral("port %1").arg(devicePath));
    return true;
#else
    *problem = QStringLiteral("virtual serial ports need pseudo-terminals, which this system "
                              "does not have");
    return false;
#endif
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

void SerialBridge::resetPort()
{
#ifdef Q_OS_UNIX
    // Raw, at the speed no program sets; what nobody read is dropped.
    termios t;
    if (::tcgetattr(slaveFd, &t) != 0)
        return;
    ::cfmakeraw(&t);
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CS8 | CREAD | CLOCAL;
    ::cfsetispeed(&t, unsetSpeed);
    ::cfsetospeed(&t, unsetSpeed);
    ::tcsetattr(slaveFd, TCSANOW, &t);
    ::tcflush(slaveFd, TCIFLUSH);
#endif
}

void SerialBridge::onOpenEvents()
{
#ifdef Q_OS_LINUX
    alignas(inotify_event) char buffer[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = ::read(openWatchFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_OPEN)
                ++programsOpen;
            if (event->mask & IN_CLOSE) {
                programsOpen = qMax(0, programsOpen - 1);
                closed = true;
            }
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    if (closed && programsOpen == 0)
        resetPort();
#endif
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

void SerialBridge::onPortReadable()
{
#ifdef Q_OS_UNIX
    char buffer[16384];
    bool got = false;
    // A few reads at a time, so that a program streaming without a pause
    // leaves the module's side its turn.
    for (int reads = 0; reads < 8; ++reads) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n > 0) {
            if (frame.isEmpty())
                frameGeneration = currentState == State::Connected ? generation : 0;
            frame.append(buffer, int(n));
            got = true;
            if (frame.size() >= largestFrame)
                flushFrame();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (!got)
        return;
    const int gapUs = frame.isEmpty() ? 0 : currentGapUs();
    if (gapUs == 0)
        flushFrame();
    else
        gapTimer.start((gapUs + 999) / 1000);
#endif
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

void SerialBridge::writeToPort()
{
#ifdef Q_OS_UNIX
    while (toPortAt < toPortEnd) {
        const ssize_t n =
            ::write(masterFd, toPort.constData() + toPortAt, size_t(toPortEnd - toPortAt));
        if (n > 0) {
            toPortAt += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (portWritable)
        portWritable->setEnabled(toPortAt < toPortEnd);
#endif
}

void SerialBridge::onPortWritable()
{
    writeToPort();
    if (toPortAt >= toPortEnd)
        onModuleReadable();
}

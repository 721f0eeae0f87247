// The pseudo-terminal side of the bridge: the port a program opens, its
// speed and the gap that follows from it, and the bytes to and from it.
#include "engine/net/serialbridge.h"

#include "engine/platform/tracelog.h"

#include <QFile>
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
#include <sys/inotify.h>
#endif

namespace
{

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

bool SerialBridge::available()
{
#ifdef Q_OS_UNIX
    return true;
#else
    return false;
#endif
}

int SerialBridge::characterGapUs(int baud, int bitsPerCharacter)
{
    if (baud <= 0)
        return 1000;
    const double us = 3.5 * bitsPerCharacter * 1e6 / baud;
    return qMax(1000, int(std::ceil(us)));
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

#include "engine/bridge/ptyport.h"

#include "engine/platform/textsafety.h"

#include <QFile>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
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
// The speed of a port no program has set: a real setting always differs
// from it.
constexpr speed_t unsetSpeed = B50;
// Bytes read from the programs at a time, after packet mode's status byte.
constexpr int readChunk = 16384;
// Below this, what waits for the port is topped up: the port never runs dry
// while the module sends.
constexpr int drainedBelow = 16384;

using textsafety::systemError;

// The speed a termios holds, in bits per second; 0 for none (B0), the unset
// speed or an unknown constant.
int baudOf(speed_t speed)
{
    static const struct {
        speed_t code;
        int baud;
    } speeds[] = {
        {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},     {B200, 200},
        {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},   {B2400, 2400},
        {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400}, {B57600, 57600},
        {B115200, 115200}, {B230400, 230400},
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

PtyPort::PtyPort(QObject *parent) : QObject(parent) {}

PtyPort::~PtyPort()
{
    close();
}

bool PtyPort::available()
{
#ifdef Q_OS_UNIX
    return true;
#else
    return false;
#endif
}

bool PtyPort::open(const QString &link, QString *problem)
{
#ifdef Q_OS_UNIX
    if (isOpen()) {
        *problem = QStringLiteral("the port is open already (%1)").arg(devicePath);
        return false;
    }
    if (!portLink.claim(link, problem))
        return false;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char *name = master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0
                           ? ::ptsname(master)
                           : nullptr;
    const int slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave < 0) {
        *problem = QStringLiteral("cannot make a pseudo-terminal: ") + systemError(errno);
        if (master >= 0)
            ::close(master);
        portLink.release();
        return false;
    }
    masterFd = master;
    slaveFd = slave;
    const QByteArray device(name);
    devicePath = QString::fromLocal8Bit(device);
    const int flags = ::fcntl(masterFd, F_GETFL);
    if (flags < 0 || ::fcntl(masterFd, F_SETFL, flags | O_NONBLOCK) != 0) {
        *problem =
            QStringLiteral("cannot make the pseudo-terminal non-blocking: ") + systemError(errno);
        close();
        return false;
    }
    // Usable by the group of serial ports, where the bridge may give it (as
    // root, or as a member of that group: the service); otherwise the
    // bridge's user's own, as the system made it.
    if (const group *serial = ::getgrnam("dialout")) {
        // Failing, the port stays its owner's, as without the group.
        if (::fchown(slaveFd, uid_t(-1), serial->gr_gid) == 0)
            (void)::fchmod(slaveFd, 0660);
    }
#ifdef TIOCPKT
    int on = 1;
    packetMode = ::ioctl(masterFd, TIOCPKT, &on) == 0;
#endif
    // A port that is not raw would change the bytes that pass.
    if (!resetSettings()) {
        *problem = QStringLiteral("cannot set the pseudo-terminal up: ") + systemError(errno);
        close();
        return false;
    }
#ifdef Q_OS_LINUX
    // Watched before the link exists: no program can open the port unseen.
    openWatchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (openWatchFd >= 0 &&
        ::inotify_add_watch(openWatchFd, device.constData(), IN_OPEN | IN_CLOSE) >= 0) {
        openWatch = std::make_unique<QSocketNotifier>(openWatchFd, QSocketNotifier::Read);
        connect(openWatch.get(), &QSocketNotifier::activated, this, &PtyPort::syncOpens);
    }
#endif
    if (!portLink.point(device, problem)) {
        close();
        return false;
    }
    readable = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Read);
    readable->setEnabled(reading);
    connect(readable.get(), &QSocketNotifier::activated, this, &PtyPort::readyRead);
    writable = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Write);
    writable->setEnabled(false);
    connect(writable.get(), &QSocketNotifier::activated, this, [this] {
        flushOut();
        if (waiting() < drainedBelow)
            emit drained();
    });
    return true;
#else
    *problem = QStringLiteral("virtual serial ports need pseudo-terminals, which this system "
                              "does not have");
    Q_UNUSED(link);
    return false;
#endif
}

void PtyPort::close()
{
    readable.reset();
    writable.reset();
    openWatch.reset();
#ifdef Q_OS_UNIX
    if (openWatchFd >= 0)
        ::close(openWatchFd);
    openWatchFd = -1;
    portLink.release(QFile::encodeName(devicePath));
    if (masterFd >= 0) {
        ::close(slaveFd);
        ::close(masterFd);
    }
#endif
    slaveFd = masterFd = -1;
    openCount = 0;
    out.clear();
    outAt = 0;
}

int PtyPort::programs()
{
    syncOpens();
    return openCount;
}

PtyPort::Format PtyPort::format()
{
    noteSettings();
    return noted;
}

void PtyPort::setReading(bool on)
{
    reading = on;
    if (readable)
        readable->setEnabled(on);
}

// The opens and closes of the port since the last look, in their order.
void PtyPort::syncOpens()
{
#ifdef Q_OS_LINUX
    if (openWatchFd < 0)
        return;
    alignas(inotify_event) char buffer[4096];
    bool allClosed = false;
    for (;;) {
        const ssize_t n = ::read(openWatchFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_OPEN)
                ++openCount;
            if ((event->mask & IN_CLOSE) && openCount > 0 && --openCount == 0)
                allClosed = true;
            // Events lost: a program may have the port open.
            if (event->mask & IN_Q_OVERFLOW)
                openCount = qMax(openCount, 1);
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    if (!allClosed)
        return;
    // What the last program left unread, here and in the port, was meant
    // for it: the next program must not take it for its answer.
    qint64 dropped = waiting();
    out.clear();
    outAt = 0;
    if (writable)
        writable->setEnabled(false);
    int unread = 0;
    if (::ioctl(slaveFd, FIONREAD, &unread) != 0)
        unread = 0;
    if (::tcflush(slaveFd, TCIFLUSH) == 0)
        dropped += unread;
    // A program that opened it again meanwhile keeps what it set. Failing,
    // the port keeps the last program's settings: the next sets its own.
    if (openCount == 0)
        (void)resetSettings();
    emit closedByAll(dropped);
#endif
}

void PtyPort::noteSettings()
{
#ifdef Q_OS_UNIX
    termios t;
    if (slaveFd < 0 || ::tcgetattr(slaveFd, &t) != 0)
        return;
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
    const bool parity = (t.c_cflag & (PARENB | PARODD)) || (t.c_iflag & INPCK);
    noted.bitsPerCharacter = 1 + dataBits + (parity ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
    const int baud = baudOf(cfgetospeed(&t));
    if (baud == 0)
        return;
    noted.baud = baud;
    // Back to the unset speed: the next setting a program makes changes it.
    ::cfsetispeed(&t, unsetSpeed);
    ::cfsetospeed(&t, unsetSpeed);
    // Failing, the port keeps the speed just noted, which stays right.
    (void)::tcsetattr(slaveFd, TCSANOW, &t);
#endif
}

bool PtyPort::resetSettings()
{
#ifdef Q_OS_UNIX
    termios t;
    if (::tcgetattr(slaveFd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    t.c_iflag = 0;
    t.c_oflag = 0;
    // EXTPROC: the pseudo-terminal reports each change of settings in
    // packet mode.
#ifdef EXTPROC
    t.c_lflag = EXTPROC;
#else
    t.c_lflag = 0;
#endif
    t.c_cflag = CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, unsetSpeed);
    ::cfsetospeed(&t, unsetSpeed);
    const bool set = ::tcsetattr(slaveFd, TCSANOW, &t) == 0 && ::tcflush(slaveFd, TCIFLUSH) == 0;
    noted = Format();
    return set;
#else
    return false;
#endif
}

QByteArray PtyPort::take()
{
    QByteArray got;
#ifdef Q_OS_UNIX
    syncOpens();
    if (masterFd < 0 || !reading)
        return got;
    char buffer[readChunk + 1];
    // A few reads at a time, so that a program streaming without a pause
    // leaves the module's side its turn.
    for (int reads = 0; reads < 8; ++reads) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            // Cannot happen while the bridge holds the other side; no spin.
            setReading(false);
            break;
        }
        if (n <= 0)
            break;
        if (!packetMode) {
            got.append(buffer, int(n));
            continue;
        }
        // Packet mode: a status byte first; data only after TIOCPKT_DATA.
#ifdef TIOCPKT
        if (buffer[0] == TIOCPKT_DATA)
            got.append(buffer + 1, int(n - 1));
#ifdef TIOCPKT_IOCTL
        else if (buffer[0] & TIOCPKT_IOCTL)
            noteSettings();
#endif
#endif
    }
    // A program that turned packet mode's reports off still has its
    // settings read with its bytes.
    if (!got.isEmpty())
        noteSettings();
#endif
    return got;
}

void PtyPort::write(const QByteArray &bytes)
{
    if (masterFd < 0 || bytes.isEmpty())
        return;
    if (outAt >= out.size()) {
        out.clear();
        outAt = 0;
    }
    out.append(bytes);
    flushOut();
}

void PtyPort::flushOut()
{
#ifdef Q_OS_UNIX
    while (outAt < out.size()) {
        const ssize_t n = ::write(masterFd, out.constData() + outAt, size_t(out.size() - outAt));
        if (n > 0) {
            outAt += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    const bool more = outAt < out.size();
    if (writable)
        writable->setEnabled(more);
    if (!more) {
        out.clear();
        outAt = 0;
    }
#endif
}

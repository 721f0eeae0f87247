#include "engine/bridge/ptyport.h"

#include "engine/platform/textsafety.h"

#include <QFile>
#include <QSocketNotifier>

#include <climits>
#include <iterator>

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
// The speeds of a port no program has set, in turn: a real setting always
// differs from them, and each change the bridge makes differs from the one
// before (see the class comment).
constexpr speed_t unsetSpeeds[] = {B50, B75, B134};
// Bytes read from the programs at a time, after packet mode's status byte.
constexpr int readChunk = 16384;
// Below this, what waits for the port is topped up: the port never runs dry
// while the module sends.
constexpr int drainedBelow = 16384;

using textsafety::systemError;

// The speed a termios holds, in bits per second; 0 for none (B0), an unset
// speed or an unknown constant.
int baudOf(speed_t speed)
{
    static const struct {
        speed_t code;
        int baud;
    } speeds[] = {
        {B110, 110},       {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},
        {B1200, 1200},     {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},
        {B19200, 19200},   {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
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

// Reads what is there without blocking; false when the descriptor failed.
bool readAll(int fd, QByteArray *into)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into->append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n == 0 || errno == EAGAIN;
    }
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
    // Its own side does not block either: at the end of an opening the
    // bridge reads out what the programs left unread.
    const int slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK) : -1;
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
        connect(openWatch.get(), &QSocketNotifier::activated, this, &PtyPort::readyRead);
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
    outBytes = outAt = 0;
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

QList<PtyPort::Event> PtyPort::take(Reading what)
{
    QList<Event> events;
#ifdef Q_OS_UNIX
    if (masterFd < 0)
        return events;
    // The opens and closes first: bytes read after them that belong to an
    // opening that ended are given with the later one only when written
    // after it began (see endOpening()).
    syncOpens(&events);
    if (!reading || what == Reading::OpeningsOnly)
        return events;
    QByteArray got;
    // A few reads at a time, so that a program streaming without a pause
    // leaves the module's side its turn.
    if (!readMaster(&got, 8))
        setReading(false); // cannot happen while the bridge holds the other side; no spin
    if (!got.isEmpty()) {
        // A program that turned packet mode's reports off still has its
        // settings read with its bytes.
        noteSettings();
        if (!events.isEmpty() && events.last().kind == Event::Kind::Bytes &&
            events.last().opening == openings)
            events.last().bytes += got;
        else
            events.append(Event{Event::Kind::Bytes, openings, got, 0});
    }
#endif
    return events;
}

// Reads what the programs wrote, `reads` reads at most; a report of new
// settings in packet mode is taken note of. False when the port failed.
bool PtyPort::readMaster(QByteArray *into, int reads)
{
#ifdef Q_OS_UNIX
    char buffer[readChunk + 1];
    for (int i = 0; i < reads; ++i) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN;
        if (n == 0)
            return true;
        if (!packetMode) {
            into->append(buffer, int(n));
            continue;
        }
        // Packet mode: a status byte first; data only after TIOCPKT_DATA.
#ifdef TIOCPKT
        if (buffer[0] == TIOCPKT_DATA)
            into->append(buffer + 1, int(n - 1));
#ifdef TIOCPKT_IOCTL
        else if (buffer[0] & TIOCPKT_IOCTL)
            noteSettings();
#endif
#endif
    }
    return true;
#else
    Q_UNUSED(into);
    Q_UNUSED(reads);
    return false;
#endif
}

// The opens and closes of the port since the last look, in their order.
void PtyPort::syncOpens(QList<Event> *events)
{
#ifdef Q_OS_LINUX
    if (openWatchFd < 0)
        return;
    alignas(inotify_event) char buffer[4096];
    bool ended = false;
    for (;;) {
        const ssize_t n = ::read(openWatchFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if ((event->mask & IN_OPEN) && openCount++ == 0)
                events->append(Event{Event::Kind::Opened, ++openings, {}, 0});
            if ((event->mask & IN_CLOSE) && openCount > 0 && --openCount == 0) {
                endOpening(events);
                ended = true;
            }
            // Events lost: a program may have the port open.
            if ((event->mask & IN_Q_OVERFLOW) && openCount == 0) {
                openCount = 1;
                events->append(Event{Event::Kind::Opened, ++openings, {}, 0});
            }
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    // A program that opened it again meanwhile keeps what it set. Failing,
    // the port keeps the last program's settings: the next sets its own.
    if (ended && openCount == 0)
        (void)resetSettings();
#else
    Q_UNUSED(events);
#endif
}

// The last program closed the port. What the programs wrote before is this
// opening's: read now, even while reading is paused (the pseudo-terminal
// holds a bounded amount). Bytes written by a program that opened the port
// since then may come with it: they are taken for this opening's, so that a
// reply is dropped rather than given to a program that did not ask. What
// was meant for the programs and waits, here or in the port, was meant for
// them only: dropped, and counted exactly by reading it out.
void PtyPort::endOpening(QList<Event> *events)
{
#ifdef Q_OS_UNIX
    QByteArray written;
    // Failing, what is left is read with the next opening's bytes.
    (void)readMaster(&written, INT_MAX);
    if (!written.isEmpty())
        events->append(Event{Event::Kind::Bytes, openings, written, 0});
    qint64 unread = waiting();
    out.clear();
    outBytes = outAt = 0;
    if (writable)
        writable->setEnabled(false);
    QByteArray left;
    (void)readAll(slaveFd, &left); // failing, the flush below drops the rest
    unread += left.size();
    // A line a program left in canonical mode is not given to a read: it
    // goes with the flush.
    int lineLeft = 0;
    if (::ioctl(slaveFd, FIONREAD, &lineLeft) == 0 && ::tcflush(slaveFd, TCIFLUSH) == 0)
        unread += lineLeft;
    events->append(Event{Event::Kind::Closed, openings, {}, unread});
#else
    Q_UNUSED(events);
#endif
}

void PtyPort::noteSettings()
{
#ifdef Q_OS_UNIX
    termios t;
    if (slaveFd < 0 || ::tcgetattr(slaveFd, &t) != 0)
        return;
    const int baud = baudOf(cfgetospeed(&t));
    if (baud == 0)
        return; // nothing set since the bridge last put the port aside
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
    noted.baud = baud;
    // At an unset speed again, so that the next setting a program makes
    // changes it; reporting the next change (a program may have cleared
    // EXTPROC).
    const speed_t unset = unsetSpeeds[turn++ % std::size(unsetSpeeds)];
    ::cfsetispeed(&t, unset);
    ::cfsetospeed(&t, unset);
#ifdef EXTPROC
    t.c_lflag |= EXTPROC;
#endif
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
    const speed_t unset = unsetSpeeds[turn++ % std::size(unsetSpeeds)];
    ::cfsetispeed(&t, unset);
    ::cfsetospeed(&t, unset);
    const bool set = ::tcsetattr(slaveFd, TCSANOW, &t) == 0;
    noted = Format();
    return set;
#else
    return false;
#endif
}

void PtyPort::write(const QByteArray &bytes)
{
    if (masterFd < 0 || bytes.isEmpty())
        return;
    out.push_back(bytes);
    outBytes += bytes.size();
    flushOut();
}

void PtyPort::flushOut()
{
#ifdef Q_OS_UNIX
    while (!out.empty()) {
        const QByteArray &first = out.front();
        const ssize_t n =
            ::write(masterFd, first.constData() + outAt, size_t(first.size() - outAt));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        outAt += int(n);
        if (outAt < first.size())
            break; // the port is full
        outBytes -= first.size();
        outAt = 0;
        out.pop_front();
    }
    if (writable)
        writable->setEnabled(!out.empty());
#endif
}

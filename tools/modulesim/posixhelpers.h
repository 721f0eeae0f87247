#ifndef POSIXHELPERS_H
#define POSIXHELPERS_H

// Small POSIX helpers of the simulator's line and its network side.
#include <QByteArray>
#include <QFile>
#include <QSocketNotifier>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace posix
{

// Keeps errno as the caller left it. The simulator may share a process (and
// an event loop) with a QSerialPort, which reads errno after its own calls;
// a value left over from the simulator's calls would be misread there.
struct ErrnoKeeper {
    int saved = errno;
    ~ErrnoKeeper() { errno = saved; }
};

inline void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

inline bool isSymlink(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// "what: the system's words for errno".
inline QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

// A raw pseudo-terminal: bytes pass both ways untouched (no echo, no CR/LF
// mapping), both ends close on exec and the master does not block. With a
// speed, the line is set to it. On failure nothing stays open and error
// says why.
inline bool openRawPty(int &master, int &slave, QString &slaveName, QString &error,
                       speed_t speed = 0)
{
    master = slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) < 0) {
        error = systemError("openpty");
        return false;
    }
    const auto failed = [&](const char *what) {
        error = systemError(what);
        closeFd(master);
        closeFd(slave);
        return false;
    };
    const int flags = ::fcntl(master, F_GETFL);
    if (::fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(slave, F_SETFD, FD_CLOEXEC) != 0 ||
        flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
        return failed("fcntl");
    struct termios tio;
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        if (speed)
            ::cfsetspeed(&tio, speed);
        // A line that is not raw would change the bytes that pass.
        if (::tcsetattr(slave, TCSANOW, &tio) != 0)
            return failed("tcsetattr");
    }
    char name[256];
    if (::ttyname_r(slave, name, sizeof name) != 0)
        return failed("ttyname");
    slaveName = QFile::decodeName(name);
    return true;
}

// A pseudo-terminal that a program may set as a serial port again and
// again. glibc's tcsetattr() fails with EINVAL when the settings did not
// change and the port dropped parity that was asked for (a pseudo-terminal
// drops PARENB): a program asking for 19200 8E1 where the last one left
// 19200 8E1. So the master reports each change of settings (packet mode,
// EXTPROC on the slave), and after each one the port is put at a speed no
// program asks for (putAside()); those speeds take turns, so that a change
// made while a program's tcsetattr() is under way never leaves the port as
// that program found it. Reads of the master then start with packet mode's
// status byte (readPacket()).
inline bool reportSettings(int master, int slave)
{
    int on = 1;
    struct termios tio;
    if (::ioctl(master, TIOCPKT, &on) != 0 || ::tcgetattr(slave, &tio) != 0)
        return false;
    tio.c_lflag |= EXTPROC;
    return ::tcsetattr(slave, TCSANOW, &tio) == 0;
}

// After a program's setting: the port at the next speed no program asks
// for, still reporting. Nothing when it is at one already.
inline void putAside(int slave, unsigned &turn)
{
    static const speed_t unset[] = {B50, B75, B134};
    struct termios tio;
    if (::tcgetattr(slave, &tio) != 0)
        return;
    const speed_t now = ::cfgetospeed(&tio);
    if (now == B50 || now == B75 || now == B134)
        return;
    const speed_t next = unset[turn++ % std::size(unset)];
    ::cfsetispeed(&tio, next);
    ::cfsetospeed(&tio, next);
    tio.c_lflag |= EXTPROC;
    (void)::tcsetattr(slave, TCSANOW, &tio); // failing, the next setting may
}

// One read of a master in packet mode: the data into `bytes`; `settings`
// when the status byte reports a change of settings. The read's result.
inline ssize_t readPacket(int master, QByteArray &bytes, bool &settings)
{
    char buf[4097];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0)
        return n;
    if (buf[0] == TIOCPKT_DATA)
        bytes.append(buf + 1, int(n - 1));
    else if (buf[0] & TIOCPKT_IOCTL)
        settings = true;
    return n;
}

// Writes what is pending to a non-blocking descriptor, as far as it takes
// it now. What it does not take yet waits for `writable` (enabled until it
// has taken everything); what it refuses is dropped with a warning naming
// `what`.
inline void writePending(int fd, QByteArray &pending, QSocketNotifier *writable, const char *what)
{
    ErrnoKeeper keep;
    while (fd >= 0 && !pending.isEmpty()) {
        const ssize_t n = ::write(fd, pending.constData(), size_t(pending.size()));
        if (n > 0) {
            pending.remove(0, int(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (writable)
                writable->setEnabled(true); // the other end is not reading
            return;
        } else {
            qWarning("%s: write failed: %s", what, strerror(errno));
            pending.clear();
        }
    }
    if (writable)
        writable->setEnabled(false);
}

} // namespace posix

#endif // POSIXHELPERS_H

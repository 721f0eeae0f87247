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
#include <pty.h>
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

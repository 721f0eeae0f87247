#include "engine/bridge/portlink.h"

#include "engine/platform/textsafety.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif

namespace
{

#ifdef Q_OS_UNIX
using textsafety::systemError;

QByteArray lockName(const QString &path)
{
    return QFile::encodeName(path) + ".lock";
}

QByteArray readLink(const QByteArray &path)
{
    char target[4096];
    const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
    return n > 0 ? QByteArray(target, int(n)) : QByteArray();
}

// A pseudo-terminal's slave side: /dev/pts/N (Linux: the majors of Unix98
// pseudo-terminal slaves).
bool isPseudoTerminal(const struct stat &st, const QByteArray &target)
{
    if (!S_ISCHR(st.st_mode))
        return false;
#ifdef Q_OS_LINUX
    Q_UNUSED(target);
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
#else
    return target.startsWith("/dev/pts/");
#endif
}
#endif

} // namespace

PortLink::~PortLink()
{
    release();
}

bool PortLink::claim(const QString &path, QString *problem)
{
#ifdef Q_OS_UNIX
    release();
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *problem = QStringLiteral("%1 exists and is not a symbolic link: not replaced").arg(path);
        return false;
    }
    // The lock: a file that another bridge may have just removed is taken
    // again, so that two bridges never hold two files of one name.
    const QByteArray lock = lockName(path);
    for (int attempt = 0; attempt < 10 && lockFd < 0; ++attempt) {
        const int fd = ::open(lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            *problem = QStringLiteral("cannot make %1: %2")
                           .arg(QFile::decodeName(lock), systemError(errno));
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            char pid[32] = {};
            const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
            ::close(fd);
            const QByteArray holder = QByteArray(pid, int(qMax<ssize_t>(n, 0))).trimmed();
            *problem =
                QStringLiteral("%1 is the port of another bridge%2: not replaced")
                    .arg(path,
                         holder.isEmpty()
                             ? QString()
                             : QStringLiteral(" (process %1)").arg(QString::fromLatin1(holder)));
            return false;
        }
        struct stat held, there;
        if (::fstat(fd, &held) == 0 && ::stat(lock.constData(), &there) == 0 &&
            held.st_dev == there.st_dev && held.st_ino == there.st_ino)
            lockFd = fd;
        else
            ::close(fd);
    }
    if (lockFd < 0) {
        *problem = QStringLiteral("cannot lock %1").arg(QFile::decodeName(lock));
        return false;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(lockFd, 0) != 0 ||
        ::pwrite(lockFd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
        *problem =
            QStringLiteral("cannot write %1: %2").arg(QFile::decodeName(lock), systemError(errno));
        release();
        return false;
    }
    linkPath = path;

    // Under the lock: what the link points to.
    if (::lstat(name.constData(), &st) != 0)
        return true; // nothing there
    const QByteArray target = readLink(name);
    struct stat to;
    if (::stat(name.constData(), &to) != 0) {
        if (errno == ENOENT)
            return true; // dangling
        *problem = QStringLiteral("%1 points to %2, which cannot be looked at (%3): not replaced")
                       .arg(path, QFile::decodeName(target), systemError(errno));
        release();
        return false;
    }
    if (!isPseudoTerminal(to, target)) {
        *problem = QStringLiteral("%1 points to %2, which is not a pseudo-terminal: not replaced")
                       .arg(path, QFile::decodeName(target));
        release();
        return false;
    }
    return true;
#else
    Q_UNUSED(path);
    *problem = QStringLiteral("virtual serial ports need pseudo-terminals, which this system "
                              "does not have");
    return false;
#endif
}

bool PortLink::point(const QByteArray &device, QString *problem)
{
#ifdef Q_OS_UNIX
    // Made beside the path and renamed over it: an old link is replaced in
    // one step, and a failure leaves nothing half made.
    const QByteArray link = QFile::encodeName(linkPath);
    const QByteArray temporary = link + ".new-" + QByteArray::number(qint64(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(device.constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), link.constData()) != 0) {
        *problem = QStringLiteral("cannot make %1: %2").arg(linkPath, systemError(errno));
        ::unlink(temporary.constData());
        return false;
    }
    return true;
#else
    Q_UNUSED(device);
    Q_UNUSED(problem);
    return false;
#endif
}

void PortLink::release(const QByteArray &device)
{
#ifdef Q_OS_UNIX
    if (lockFd < 0)
        return;
    const QByteArray link = QFile::encodeName(linkPath);
    if (!device.isEmpty() && readLink(link) == device)
        ::unlink(link.constData());
    // Removed while still held: the next bridge makes a new one.
    ::unlink(lockName(linkPath).constData());
    ::close(lockFd);
    lockFd = -1;
#else
    Q_UNUSED(device);
#endif
    linkPath.clear();
}

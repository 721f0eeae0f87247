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

// The first line of a bridge's lock: what tells it from any other file.
const QByteArray lockHeading = "ordan-cli bridge lock\n";
constexpr int attempts = 10;

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

QByteArray lockContent(const QByteArray &device)
{
    QByteArray content = lockHeading + "pid " + QByteArray::number(qint64(::getpid())) + '\n';
    if (!device.isEmpty())
        content += "port " + device + '\n';
    return content;
}

// The value of "KEY value" in a lock's content; empty when not there.
QByteArray lockValue(const QByteArray &content, const QByteArray &key)
{
    for (const QByteArray &line : content.split('\n')) {
        if (line.startsWith(key + ' '))
            return line.mid(key.size() + 1);
    }
    return QByteArray();
}

bool sameFile(int fd, const QByteArray &path)
{
    struct stat held, there;
    return ::fstat(fd, &held) == 0 && ::stat(path.constData(), &there) == 0 &&
           held.st_dev == there.st_dev && held.st_ino == there.st_ino;
}

// Whether what is at `path` may become the link, with the lock held:
// nothing, a dangling link, or a link to the pseudo-terminal a stale bridge
// lock named (`staleDevice`).
bool linkMayGo(const QString &path, const QByteArray &staleDevice, QString *problem)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) != 0)
        return true; // nothing there
    if (!S_ISLNK(st.st_mode)) {
        *problem = QStringLiteral("%1 exists and is not a symbolic link: not replaced").arg(path);
        return false;
    }
    const QByteArray target = readLink(name);
    struct stat to;
    if (::stat(name.constData(), &to) != 0) {
        if (errno == ENOENT)
            return true; // dangling: a killed bridge's, its pseudo-terminal gone with it
        *problem = QStringLiteral("%1 points to %2, which cannot be looked at (%3): not replaced")
                       .arg(path, QFile::decodeName(target), systemError(errno));
        return false;
    }
    if (!isPseudoTerminal(to, target)) {
        *problem = QStringLiteral("%1 points to %2, which is not a pseudo-terminal: not replaced")
                       .arg(path, QFile::decodeName(target));
        return false;
    }
    if (staleDevice.isEmpty() || staleDevice != target) {
        *problem = QStringLiteral("%1 points to %2, the pseudo-terminal of a program that is not "
                                  "a bridge: not replaced")
                       .arg(path, QFile::decodeName(target));
        return false;
    }
    return true; // a killed bridge's link, its number taken by another program since
}

// A new file of the bridge's own beside `path` (PATH.new-PID-N), made
// exclusively: nothing there before is touched. -1 with errno on failure.
int makeOwnFile(const QByteArray &path, QByteArray *name)
{
    for (int n = 0; n < 100; ++n) {
        *name =
            path + ".new-" + QByteArray::number(qint64(::getpid())) + '-' + QByteArray::number(n);
        const int fd =
            ::open(name->constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}
#endif

} // namespace

PortLink::~PortLink()
{
    release();
}

#ifdef Q_OS_UNIX
// Takes PATH.lock (see the class comment) when what is at the path may
// become the link (linkMayGo()), which is looked at with the lock held:
// the bridge's own new one, or the stale one it is about to replace.
bool PortLink::takeLock(const QString &path, QString *problem)
{
    const QByteArray lock = lockName(path);
    const QString lockText = QFile::decodeName(lock);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        QByteArray own;
        const int fd = makeOwnFile(lock, &own);
        const QByteArray content = lockContent(QByteArray());
        if (fd < 0 || ::write(fd, content.constData(), size_t(content.size())) != content.size() ||
            ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *problem = QStringLiteral("cannot make %1: %2").arg(lockText, systemError(errno));
            if (fd >= 0) {
                ::unlink(own.constData());
                ::close(fd);
            }
            return false;
        }
        const auto giveUp = [&](const QString &why) {
            *problem = why;
            ::unlink(own.constData());
            ::close(fd);
            return false;
        };
        if (::link(own.constData(), lock.constData()) == 0) {
            ::unlink(own.constData());
            if (!linkMayGo(path, QByteArray(), problem)) {
                ::unlink(lock.constData()); // this bridge's own, just made
                ::close(fd);
                return false;
            }
            lockFd = fd;
            return true;
        }
        if (errno != EEXIST)
            return giveUp(QStringLiteral("cannot make %1: %2").arg(lockText, systemError(errno)));
        // Something is there: only a bridge's lock that no bridge holds is
        // taken over.
        const int there = ::open(lock.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (there < 0 && errno == ENOENT) {
            ::unlink(own.constData());
            ::close(fd);
            continue; // removed meanwhile
        }
        struct stat st;
        char text[4096];
        const ssize_t n = there >= 0 && ::fstat(there, &st) == 0 && S_ISREG(st.st_mode)
                              ? ::pread(there, text, sizeof text, 0)
                              : -1;
        const QByteArray found(text, int(qMax<ssize_t>(n, 0)));
        if (!found.startsWith(lockHeading)) {
            if (there >= 0)
                ::close(there);
            return giveUp(QStringLiteral("%1 exists and is not a bridge's lock: not touched (the "
                                         "link cannot be made without it)")
                              .arg(lockText));
        }
        if (::flock(there, LOCK_EX | LOCK_NB) != 0) {
            ::close(there);
            const QByteArray holder = lockValue(found, "pid");
            return giveUp(
                QStringLiteral("%1 is the port of another bridge%2: not replaced")
                    .arg(path,
                         holder.isEmpty()
                             ? QString()
                             : QStringLiteral(" (process %1)").arg(QString::fromLatin1(holder))));
        }
        // A bridge's lock no bridge holds: replaced by this one in one step
        // while the old one is held, if it is still the one at the path and
        // the link may go; otherwise left as it is.
        if (!sameFile(there, lock)) {
            ::close(there);
            ::unlink(own.constData());
            ::close(fd);
            continue;
        }
        if (!linkMayGo(path, lockValue(found, "port"), problem)) {
            ::close(there);
            ::unlink(own.constData());
            ::close(fd);
            return false;
        }
        const bool replaced = ::rename(own.constData(), lock.constData()) == 0;
        ::close(there);
        if (!replaced)
            return giveUp(QStringLiteral("cannot make %1: %2").arg(lockText, systemError(errno)));
        lockFd = fd;
        return true;
    }
    *problem = QStringLiteral("cannot lock %1: it keeps changing").arg(lockText);
    return false;
}

bool PortLink::writeLock(const QByteArray &device)
{
    const QByteArray content = lockContent(device);
    return ::ftruncate(lockFd, 0) == 0 &&
           ::pwrite(lockFd, content.constData(), size_t(content.size()), 0) == content.size();
}
#endif

bool PortLink::claim(const QString &path, QString *problem)
{
#ifdef Q_OS_UNIX
    release();
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *problem = QStringLiteral("%1 exists and is not a symbolic link: not replaced").arg(path);
        return false;
    }
    if (!takeLock(path, problem))
        return false;
    linkPath = path;
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
    const QByteArray link = QFile::encodeName(linkPath);
    if (!writeLock(device)) {
        *problem = QStringLiteral("cannot write %1: %2")
                       .arg(QFile::decodeName(lockName(linkPath)), systemError(errno));
        return false;
    }
    // Made beside the path under a name of its own and renamed over it: an
    // old link is replaced in one step, and a failure leaves nothing half
    // made.
    for (int n = 0; n < 100; ++n) {
        const QByteArray temporary =
            link + ".new-" + QByteArray::number(qint64(::getpid())) + '-' + QByteArray::number(n);
        if (::symlink(device.constData(), temporary.constData()) != 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        if (::rename(temporary.constData(), link.constData()) == 0)
            return true;
        const int error = errno;
        ::unlink(temporary.constData());
        errno = error;
        break;
    }
    *problem = QStringLiteral("cannot make %1: %2").arg(linkPath, systemError(errno));
    return false;
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
    // Removed while still held, and only while it is this bridge's own.
    const QByteArray lock = lockName(linkPath);
    if (sameFile(lockFd, lock))
        ::unlink(lock.constData());
    ::close(lockFd);
    lockFd = -1;
#else
    Q_UNUSED(device);
#endif
    linkPath.clear();
}

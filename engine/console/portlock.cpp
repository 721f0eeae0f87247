#include "engine/console/portlock.h"

#include "engine/console/portcatalog.h"
#include "engine/console/portlockholder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <map>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifndef ORDAN_LOCK_DIRECTORY
#error "ORDAN_LOCK_DIRECTORY comes from engine/console/CMakeLists.txt"
#endif

namespace
{

struct Held {
    int descriptor = -1; // the lock file, flock()ed
    QByteArray path;
    int users = 0;
};

// The name locks this process holds, by key: a run and its jobs share them.
std::map<QString, Held> &held()
{
    static std::map<QString, Held> locks;
    return locks;
}

QString &directoryOverride()
{
    static QString path;
    return path;
}

// The name under which a port is locked: its path as given, made absolute,
// links not followed, so that two runs naming one alias meet even while its
// device is away.
QString keyOf(const QString &port)
{
#ifdef Q_OS_UNIX
    return PortCatalog::location(port);
#else
    return port.toUpper();
#endif
}

QString lockFileName(const QString &key)
{
    // A readable part for a person looking at the directory, and a hash
    // that keeps two ports apart whatever their names.
    QString readable = QFileInfo(key).fileName();
    readable.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QDir(PortLock::directory())
        .filePath(QStringLiteral("ordan-port-") + readable.left(60) + QLatin1Char('-') +
                  QString::fromLatin1(hash) + QStringLiteral(".lock"));
}

#ifdef Q_OS_UNIX

QString systemError(int cause)
{
    return QString::fromLocal8Bit(std::strerror(cause));
}

QString userName(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

// The lock directory is used only when nobody else can take its files
// away: a directory itself (not a link to one), belonging to root or to
// this user, that others may write into only when it is sticky (as
// /run/lock is), so that they cannot remove or replace another's files.
bool directorySafe(const QString &directory, QString *why)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(directory).constData(), &status) != 0) {
        *why = PortLock::tr("the lock directory %1: %2").arg(directory, systemError(errno));
        return false;
    }
    if (S_ISLNK(status.st_mode)) {
        *why = PortLock::tr("the lock directory %1 is a symbolic link").arg(directory);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        *why = PortLock::tr("the lock directory %1 is not a directory").arg(directory);
        return false;
    }
    if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
        *why = PortLock::tr("the lock directory %1 belongs to %2, not to root or to you")
                   .arg(directory, userName(status.st_uid));
        return false;
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0) {
        *why = PortLock::tr("others may replace the files in the lock directory %1 (it is "
                            "writable by them and not sticky)")
                   .arg(directory);
        return false;
    }
    return true;
}

// Opens the lock file, making it when missing. Made under a name of its
// own and put in place in one step, readable and writable by all: any
// user's run may take over a lock whose process is gone, and it holds no
// secret. -1 with the reason on failure.
int openLockFile(const QByteArray &path, QString *why)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int descriptor = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        if (descriptor >= 0)
            return descriptor;
        const int cause = errno;
        if (cause == ELOOP) {
            *why = PortLock::tr("the lock file %1 is a symbolic link").arg(QFile::decodeName(path));
            return -1;
        }
        if (cause != ENOENT) {
            *why = PortLock::tr("the lock file %1: %2")
                       .arg(QFile::decodeName(path), systemError(cause));
            return -1;
        }
        const QByteArray made = path + '.' + QByteArray::number(::getpid());
        ::unlink(made.constData());
        const int fresh =
            ::open(made.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fresh < 0) {
            *why = PortLock::tr("the lock file %1: %2")
                       .arg(QFile::decodeName(made), systemError(errno));
            return -1;
        }
        const bool shared = ::fchmod(fresh, 0666) == 0;
        ::close(fresh);
        // Another run may have put its own in place meanwhile: that one is
        // as good.
        if (shared && ::link(made.constData(), path.constData()) != 0 && errno != EEXIST) {
            *why = PortLock::tr("the lock file %1: %2")
                       .arg(QFile::decodeName(path), systemError(errno));
            ::unlink(made.constData());
            return -1;
        }
        ::unlink(made.constData());
    }
    *why = PortLock::tr("the lock file %1 keeps changing").arg(QFile::decodeName(path));
    return -1;
}

// A lock file is one of ours: a plain file with no other name (a hard link
// to another file would have that file written), belonging to root or to
// this user, or shared with every user as this program makes them.
bool fileSafe(int descriptor, const QByteArray &path, QString *why)
{
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
        *why = PortLock::tr("the lock file %1 is not a plain file of its own")
                   .arg(QFile::decodeName(path));
        return false;
    }
    if (status.st_uid != 0 && status.st_uid != ::geteuid() && (status.st_mode & 0666) != 0666) {
        *why = PortLock::tr("the lock file %1 belongs to %2 and others may not write it")
                   .arg(QFile::decodeName(path), userName(status.st_uid));
        return false;
    }
    return true;
}

// The run that holds a lock file: the kernel's table names it; else what
// the holder wrote into the file.
QString heldBy(int descriptor, const QString &port)
{
    portlockholder::Holder holder;
    struct stat status = {};
    if (::fstat(descriptor, &status) == 0)
        holder = portlockholder::ofFile(quint64(status.st_dev), quint64(status.st_ino));
    if (holder.pid <= 0) {
        char text[256] = {};
        const ssize_t size = ::pread(descriptor, text, sizeof text - 1, 0);
        const QList<QByteArray> lines = QByteArray(text, int(qMax<ssize_t>(size, 0))).split('\n');
        holder.pid = lines.value(0).toLongLong();
        holder.program = QString::fromLocal8Bit(lines.value(1));
    }
    if (holder.pid <= 0)
        return PortLock::tr("%1 is in use by another run").arg(port);
    return PortLock::tr("%1 is in use by another run (%2, process %3)")
        .arg(port, holder.program)
        .arg(holder.pid);
}

// Takes the lock file of a key; -1 with the refusal when another process
// holds it or the file is not safe to use.
int lockKey(const QString &key, const QString &port, QString *error)
{
    const QByteArray path = QFile::encodeName(lockFileName(key));
    QString why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int descriptor = openLockFile(path, &why);
        if (descriptor < 0 || !fileSafe(descriptor, path, &why)) {
            if (descriptor >= 0)
                ::close(descriptor);
            *error = PortLock::tr("cannot lock %1: %2").arg(port, why);
            return -1;
        }
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            const int cause = errno;
            *error = cause == EWOULDBLOCK
                         ? heldBy(descriptor, port)
                         : PortLock::tr("cannot lock %1: %2").arg(port, systemError(cause));
            ::close(descriptor);
            return -1;
        }
        // Its last holder removes the file as it lets go: the one locked
        // must be the one in place.
        struct stat opened = {}, placed = {};
        if (::fstat(descriptor, &opened) == 0 && ::stat(path.constData(), &placed) == 0 &&
            opened.st_dev == placed.st_dev && opened.st_ino == placed.st_ino) {
            // For a person looking, and where the kernel does not tell.
            const QByteArray holder = QByteArray::number(::getpid()) + '\n' +
                                      QCoreApplication::applicationName().toLocal8Bit() + '\n';
            if (::ftruncate(descriptor, 0) != 0 ||
                ::pwrite(descriptor, holder.constData(), size_t(holder.size()), 0) < 0) {
                // The lock holds all the same; only its note is missing.
            }
            return descriptor;
        }
        ::close(descriptor);
    }
    *error = PortLock::tr("cannot lock %1: the lock file %2 keeps changing")
                 .arg(port, QFile::decodeName(path));
    return -1;
}

#endif // Q_OS_UNIX

// Takes one key for this process (shared within it); false with the
// refusal when another process holds it.
bool take(const QString &key, const QString &port, QString *error)
{
    Held &lock = held()[key];
    if (lock.users == 0) {
#ifdef Q_OS_UNIX
        lock.descriptor = lockKey(key, port, error);
        if (lock.descriptor < 0) {
            held().erase(key);
            return false;
        }
        lock.path = QFile::encodeName(lockFileName(key));
#else
        // The system opens a serial port for one program at a time; within
        // this program the lock is shared as elsewhere.
        Q_UNUSED(port);
        Q_UNUSED(error);
#endif
    }
    ++lock.users;
    return true;
}

void letGo(const QStringList &keys)
{
    for (const QString &key : keys) {
        auto it = held().find(key);
        if (it == held().end() || --it->second.users > 0)
            continue;
#ifdef Q_OS_UNIX
        if (it->second.descriptor >= 0) {
            // Removed while still held (a run that opened it meanwhile
            // finds it gone and makes another); another user's file stays.
            ::unlink(it->second.path.constData());
            ::close(it->second.descriptor);
        }
#endif
        held().erase(it);
    }
}

} // namespace

PortLock::PortLock(PortLock &&other) noexcept : keys(std::exchange(other.keys, QStringList())) {}

PortLock &PortLock::operator=(PortLock &&other) noexcept
{
    if (this != &other) {
        release();
        keys = std::exchange(other.keys, QStringList());
    }
    return *this;
}

QString PortLock::directory()
{
    return directoryOverride().isEmpty() ? QStringLiteral(ORDAN_LOCK_DIRECTORY)
                                         : directoryOverride();
}

void PortLock::setDirectory(const QString &path)
{
    directoryOverride() = path;
}

bool PortLock::acquire(const QString &port, QString *error)
{
    const QString key = keyOf(port);
    if (keys.contains(key))
        return true;
#ifdef Q_OS_UNIX
    QString why;
    if (!directorySafe(directory(), &why)) {
        *error = tr("cannot lock %1: %2").arg(port, why);
        return false;
    }
#endif
    if (!portlockholder::deviceFree(port, error) || !take(key, port, error))
        return false;
    keys << key;
    return true;
}

void PortLock::release()
{
    letGo(std::exchange(keys, QStringList()));
}

// The lock files of port names, in the system's lock directory.
#include "engine/console/portlockfile.h"

#include "engine/console/portcatalog.h"
#include "engine/console/portlockholder.h"
#include "engine/platform/textsafety.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

// POSIX only: elsewhere the system opens a serial port for one program at
// a time, and PortLock shares its locks within the program alone.
#ifdef Q_OS_UNIX

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString lockFileName(const QString &directory, const QString &key)
{
    // A readable part for a person looking at the directory, and a hash
    // that keeps two ports apart whatever their names.
    QString readable = QFileInfo(key).fileName();
    readable.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QDir(directory).filePath(QStringLiteral("ordan-port-") + readable.left(60) +
                                    QLatin1Char('-') + QString::fromLatin1(hash) +
                                    QStringLiteral(".lock"));
}

using textsafety::systemError;

QString userName(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
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
            *why = QCoreApplication::translate("PortLock", "the lock file %1 is a symbolic link")
                       .arg(QFile::decodeName(path));
            return -1;
        }
        if (cause != ENOENT) {
            *why = QCoreApplication::translate("PortLock", "the lock file %1: %2")
                       .arg(QFile::decodeName(path), systemError(cause));
            return -1;
        }
        const QByteArray made = path + '.' + QByteArray::number(::getpid());
        ::unlink(made.constData());
        const int fresh =
            ::open(made.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fresh < 0) {
            *why = QCoreApplication::translate("PortLock", "the lock file %1: %2")
                       .arg(QFile::decodeName(made), systemError(errno));
            return -1;
        }
        const bool shared = ::fchmod(fresh, 0666) == 0;
        ::close(fresh);
        // Another run may have put its own in place meanwhile: that one is
        // as good.
        if (shared && ::link(made.constData(), path.constData()) != 0 && errno != EEXIST) {
            *why = QCoreApplication::translate("PortLock", "the lock file %1: %2")
                       .arg(QFile::decodeName(path), systemError(errno));
            ::unlink(made.constData());
            return -1;
        }
        ::unlink(made.constData());
    }
    *why = QCoreApplication::translate("PortLock", "the lock file %1 keeps changing")
               .arg(QFile::decodeName(path));
    return -1;
}

// A lock file is one of ours: a plain file with no other name (a hard link
// to another file would have that file written), belonging to root or to
// this user, or shared with every user as this program makes them.
bool fileSafe(int descriptor, const QByteArray &path, QString *why)
{
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
        *why = QCoreApplication::translate("PortLock",
                                           "the lock file %1 is not a plain file of its own")
                   .arg(QFile::decodeName(path));
        return false;
    }
    if (status.st_uid != 0 && status.st_uid != ::geteuid() && (status.st_mode & 0666) != 0666) {
        *why = QCoreApplication::translate(
                   "PortLock", "the lock file %1 belongs to %2 and others may not write it")
                   .arg(QFile::decodeName(path), userName(status.st_uid));
        return false;
    }
    return true;
}

// What a holder writes into its lock file, a line each: its process, its
// program and the port's name (its key).
struct Note {
    qint64 pid = 0;
    QString program;
    QString name;
};

QByteArray noteText(const QString &key)
{
    return QByteArray::number(::getpid()) + '\n' +
           QCoreApplication::applicationName().toLocal8Bit() + '\n' + key.toLocal8Bit() + '\n';
}

Note readNote(int descriptor)
{
    char text[4096] = {};
    const ssize_t size = ::pread(descriptor, text, sizeof text - 1, 0);
    const QList<QByteArray> lines = QByteArray(text, int(qMax<ssize_t>(size, 0))).split('\n');
    return {lines.value(0).toLongLong(), QString::fromLocal8Bit(lines.value(1)),
            QString::fromLocal8Bit(lines.value(2))};
}

// The process that holds the lock file open and locked: the kernel's table
// names it; where it cannot, the one the note names, if it lives.
portlockholder::Holder holderOf(int descriptor)
{
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0)
        return {};
#ifdef Q_OS_LINUX
    return portlockholder::ofFile(quint64(status.st_dev), quint64(status.st_ino));
#else
    const Note note = readNote(descriptor);
    if (note.pid > 0 && note.pid != ::getpid() &&
        (::kill(pid_t(note.pid), 0) == 0 || errno == EPERM))
        return {note.pid, note.program};
    return {};
#endif
}

QString inUse(const QString &port, const portlockholder::Holder &holder)
{
    if (holder.pid <= 0 || holder.program.isEmpty())
        return QCoreApplication::translate("PortLock", "%1 is in use by another run").arg(port);
    return QCoreApplication::translate("PortLock", "%1 is in use by another run (%2, process %3)")
        .arg(port, textsafety::escapeControls(holder.program))
        .arg(holder.pid);
}

} // namespace

// The lock directory is used only when nobody else can take its files
// away: a directory itself (not a link to one), belonging to root or to
// this user, that others may write into only when it is sticky (as
// /run/lock is), so that they cannot remove or replace another's files.
bool portlockfile::directorySafe(const QString &directory, QString *why)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(directory).constData(), &status) != 0) {
        *why = QCoreApplication::translate("PortLock", "the lock directory %1: %2")
                   .arg(directory, systemError(errno));
        return false;
    }
    if (S_ISLNK(status.st_mode)) {
        *why = QCoreApplication::translate("PortLock", "the lock directory %1 is a symbolic link")
                   .arg(directory);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        *why = QCoreApplication::translate("PortLock", "the lock directory %1 is not a directory")
                   .arg(directory);
        return false;
    }
    if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
        *why = QCoreApplication::translate(
                   "PortLock", "the lock directory %1 belongs to %2, not to root or to you")
                   .arg(directory, userName(status.st_uid));
        return false;
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0) {
        *why = QCoreApplication::translate(
                   "PortLock", "others may replace the files in the lock directory %1 (it is "
                               "writable by them and not sticky)")
                   .arg(directory);
        return false;
    }
    return true;
}

// Another run holds a name that leads to the same device now (a by-id
// alias held between two modules, this port named as /dev/ttyUSB0): false
// with the refusal.
bool portlockfile::deviceFree(const QString &directory, const QString &key, const QString &port,
                              QString *error)
{
    const QString device = PortCatalog::devicePath(port);
    const QDir folder(directory);
    const QStringList files = folder.entryList({QStringLiteral("ordan-port-*.lock")},
                                               QDir::Files | QDir::NoSymLinks | QDir::Hidden);
    for (const QString &file : files) {
        const int descriptor = ::open(QFile::encodeName(folder.filePath(file)).constData(),
                                      O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (descriptor < 0)
            continue;
        const Note note = readNote(descriptor);
        portlockholder::Holder holder;
        if (!note.name.isEmpty() && note.name != key && note.pid != ::getpid() &&
            PortCatalog::devicePath(note.name) == device)
            holder = holderOf(descriptor);
        ::close(descriptor);
        if (holder.pid > 0) {
            *error = inUse(port, holder);
            return false;
        }
    }
    return true;
}

bool portlockfile::nameFree(const QString &directory, const QString &key, const QString &port,
                            QString *error)
{
    const int descriptor = ::open(QFile::encodeName(lockFileName(directory, key)).constData(),
                                  O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0)
        return true;
    const portlockholder::Holder holder = holderOf(descriptor);
    ::close(descriptor);
    if (holder.pid <= 0)
        return true;
    *error = inUse(port, holder);
    return false;
}

// Takes the lock file of a key; -1 with the refusal when another process
// holds it or the file is not safe to use.
int portlockfile::lock(const QString &directory, const QString &key, const QString &port,
                       QString *error)
{
    const QByteArray path = QFile::encodeName(lockFileName(directory, key));
    QString why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int descriptor = openLockFile(path, &why);
        if (descriptor < 0 || !fileSafe(descriptor, path, &why)) {
            if (descriptor >= 0)
                ::close(descriptor);
            *error = QCoreApplication::translate("PortLock", "cannot lock %1: %2").arg(port, why);
            return -1;
        }
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            const int cause = errno;
            *error = cause == EWOULDBLOCK
                         ? inUse(port, holderOf(descriptor))
                         : QCoreApplication::translate("PortLock", "cannot lock %1: %2")
                               .arg(port, systemError(cause));
            ::close(descriptor);
            return -1;
        }
        // Its last holder removes the file as it lets go: the one locked
        // must be the one in place.
        struct stat opened = {}, placed = {};
        if (::fstat(descriptor, &opened) == 0 && ::stat(path.constData(), &placed) == 0 &&
            opened.st_dev == placed.st_dev && opened.st_ino == placed.st_ino) {
            const QByteArray holder = noteText(key);
            if (::ftruncate(descriptor, 0) != 0 ||
                ::pwrite(descriptor, holder.constData(), size_t(holder.size()), 0) < 0) {
                // The lock holds all the same; only its note is missing.
            }
            return descriptor;
        }
        ::close(descriptor);
    }
    *error =
        QCoreApplication::translate("PortLock", "cannot lock %1: the lock file %2 keeps changing")
            .arg(port, QFile::decodeName(path));
    return -1;
}

void portlockfile::unlock(int descriptor, const QString &directory, const QString &key)
{
    // Removed while still held (a run that opened it meanwhile finds it
    // gone and makes another); another user's file stays.
    ::unlink(QFile::encodeName(lockFileName(directory, key)).constData());
    ::close(descriptor);
}

#endif // Q_OS_UNIX

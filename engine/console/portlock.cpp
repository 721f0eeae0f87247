#include "engine/console/portlock.h"

#include "engine/console/portcatalog.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

#include <map>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace
{

struct Held {
    std::unique_ptr<QLockFile> file;
    int users = 0;
};

// The locks this process holds, by key: a run and its jobs share them.
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

// The names under which a port is locked: as given (made absolute, links
// not followed, so that two runs naming one alias meet even while its
// device is away) and the device it resolves to.
QStringList keysOf(const QString &port)
{
    QStringList keys;
#ifdef Q_OS_UNIX
    const bool isPath = port.startsWith(QLatin1Char('/')) || port.startsWith(QLatin1String("./")) ||
                        port.startsWith(QLatin1String("../"));
    keys << QDir::cleanPath(
        QFileInfo(isPath ? port : QStringLiteral("/dev/") + port).absoluteFilePath());
#else
    keys << port.toUpper();
#endif
    const QString device = PortCatalog::devicePath(port);
    if (!keys.contains(device))
        keys << device;
    return keys;
}

QString lockFileName(const QString &key)
{
    // A readable part for a person looking at the directory, and a hash
    // that keeps two devices apart whatever their names.
    QString readable = QFileInfo(key).fileName();
    readable.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QDir(PortLock::directory())
        .filePath(readable.left(60) + QLatin1Char('-') + QString::fromLatin1(hash) +
                  QStringLiteral(".lock"));
}

void letGo(const QStringList &keys)
{
    for (const QString &key : keys) {
        auto it = held().find(key);
        if (it == held().end())
            continue;
        if (--it->second.users <= 0)
            held().erase(it); // unlocks and removes the file
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
    if (!directoryOverride().isEmpty())
        return directoryOverride();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/ordan-ports");
#ifdef Q_OS_UNIX
    return QDir::tempPath() + QStringLiteral("/ordan-ports-") + QString::number(::getuid());
#else
    return QDir::tempPath() + QStringLiteral("/ordan-ports");
#endif
}

void PortLock::setDirectory(const QString &path)
{
    directoryOverride() = path;
}

namespace
{

// Takes one key for this process (shared within it); false with the reason
// when another process holds it.
bool take(const QString &key, const QString &port, QString *error)
{
    Held &lock = held()[key];
    if (!lock.file) {
        auto file = std::make_unique<QLockFile>(lockFileName(key));
        // Held for a whole run: only a holder that is gone makes it stale.
        file->setStaleLockTime(0);
        if (!file->tryLock(0)) {
            qint64 pid = 0;
            QString host, application;
            const bool known = file->getLockInfo(&pid, &host, &application);
            if (file->error() == QLockFile::LockFailedError && known)
                *error = PortLock::tr("%1 is in use by another run (%2, process %3)")
                             .arg(port, QFileInfo(application).fileName())
                             .arg(pid);
            else if (file->error() == QLockFile::LockFailedError)
                *error = PortLock::tr("%1 is in use by another run").arg(port);
            else
                *error = PortLock::tr("cannot lock %1 in %2").arg(port, PortLock::directory());
            held().erase(key);
            return false;
        }
        lock.file = std::move(file);
    }
    ++lock.users;
    return true;
}

} // namespace

bool PortLock::acquire(const QString &port, QString *error, Scope scope)
{
    const QString dir = directory();
    if (!QDir().mkpath(dir)) {
        *error = tr("cannot make the directory of the port locks %1").arg(dir);
        return false;
    }
    QFile::setPermissions(dir,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QStringList all = keysOf(port);
    QStringList taken;
    for (int i = 0; i < all.size(); ++i) {
        const QString &key = all.at(i);
        if (keys.contains(key) || taken.contains(key))
            continue;
        if (!take(key, port, error)) {
            letGo(taken);
            return false;
        }
        taken << key;
    }
    if (scope == Scope::Name && all.size() > 1 && taken.contains(all.last())) {
        // The device is only checked: another adapter may get its name
        // while this one is away.
        letGo({all.last()});
        taken.removeAll(all.last());
    }
    keys << taken;
    return true;
}

void PortLock::release()
{
    letGo(std::exchange(keys, QStringList()));
}

QString PortLock::holder(const QString &port)
{
    for (const QString &key : keysOf(port)) {
        if (held().count(key) > 0)
            continue; // this process
        QLockFile file(lockFileName(key));
        qint64 pid = 0;
        QString host, application;
        if (!file.getLockInfo(&pid, &host, &application) || pid <= 0)
            continue;
#ifdef Q_OS_UNIX
        // A lock left by a process that is gone holds nothing.
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            continue;
#endif
        return tr("in use by another run (%1, process %2)")
            .arg(QFileInfo(application).fileName())
            .arg(pid);
    }
    return QString();
}

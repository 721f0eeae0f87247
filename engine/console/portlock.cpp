#include "engine/console/portlock.h"

#include "engine/console/portcatalog.h"
#include "engine/console/portlockfile.h"
#include "engine/console/portlockholder.h"

#include <map>
#include <utility>

#ifndef ORDAN_LOCK_DIRECTORY
#error "ORDAN_LOCK_DIRECTORY comes from engine/console/CMakeLists.txt"
#endif

namespace
{

struct Held {
    int descriptor = -1; // the lock file, flock()ed
    QString directory;   // where it is
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

// Takes one key for this process (shared within it); false with the
// refusal when another process holds it.
bool take(const QString &key, const QString &port, QString *error)
{
    Held &lock = held()[key];
    if (lock.users == 0) {
#ifdef Q_OS_UNIX
        lock.directory = PortLock::directory();
        lock.descriptor = portlockfile::lock(lock.directory, key, port, error);
        if (lock.descriptor < 0) {
            held().erase(key);
            return false;
        }
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
        if (it->second.descriptor >= 0)
            portlockfile::unlock(it->second.descriptor, it->second.directory, key);
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
    const QString where = directory();
    QString why;
    if (!portlockfile::directorySafe(where, &why)) {
        *error = tr("cannot lock %1: %2").arg(port, why);
        return false;
    }
    if (!portlockfile::deviceFree(where, key, port, error))
        return false;
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

bool PortLock::holdDevice(int descriptor, const QString &port, QString *error)
{
    return portlockholder::holdDevice(descriptor, port, error);
}

QString PortLock::deviceHolder(const QString &port)
{
    return portlockholder::describeDevice(port);
}

QString PortLock::holder(const QString &port)
{
    const QString key = keyOf(port);
    if (held().count(key) > 0)
        return QString();
    QString error;
#ifdef Q_OS_UNIX
    const QString where = directory();
    if (!portlockfile::nameFree(where, key, port, &error) ||
        !portlockfile::deviceFree(where, key, port, &error))
        return error;
#endif
    if (!portlockholder::deviceFree(port, &error))
        return error;
    return QString();
}

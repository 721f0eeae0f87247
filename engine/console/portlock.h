#ifndef PORTLOCK_H
#define PORTLOCK_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// One run per port: a lock file per port in the user's runtime directory
// ($XDG_RUNTIME_DIR/ordan-ports, else a private directory under the
// system's temporary one). A run or a job holds its ports under the names
// given, from its start to its end, swaps and restarts included; an open
// console also holds the device the name leads to (device names come back
// for other adapters, so a device is held only while it is open). Taking a
// port also checks its device, so that two spellings of one device (a by-id
// alias and /dev/ttyUSB0) never serve two runs at once. Within one process
// the locks are shared (a run and its jobs hold the same port); another
// process finds them taken. A lock left by a process that is gone is taken
// over.
class PortLock
{
    Q_DECLARE_TR_FUNCTIONS(PortLock)

public:
    PortLock() = default;
    ~PortLock() { release(); }
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;
    PortLock(PortLock &&other) noexcept;
    PortLock &operator=(PortLock &&other) noexcept;

    enum class Scope {
        Name,         // the name held, its device only checked
        NameAndDevice // both held (an open port)
    };
    // Takes the port's locks (those this object does not hold yet). False
    // when another process holds one of them; *error then names the port
    // and that process.
    bool acquire(const QString &port, QString *error, Scope scope = Scope::Name);
    // Lets go of every lock this object holds.
    void release();
    bool isHeld() const { return !keys.isEmpty(); }

    // What holds the port, looked at without taking it: "in use by another
    // run (ordan-cli, process 1234)" while another process holds one of its
    // locks; empty when it is free or held by this process.
    static QString holder(const QString &port);

    // Where the lock files are.
    static QString directory();
    // Test seam: another directory (empty: the default).
    static void setDirectory(const QString &path);

private:
    QStringList keys;
};

#endif // PORTLOCK_H

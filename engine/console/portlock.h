#ifndef PORTLOCK_H
#define PORTLOCK_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// One run per port, whatever the user or the environment of the program
// that runs it (a window from the desktop, ordan-cli from cron or ssh):
//   - An open port's device is held with flock() on its open descriptor
//     (holdDevice), as other serial programs hold theirs: it excludes every
//     process, ours or another program's, and ends with the descriptor.
//   - A run or a job holds its ports by the names given, from its start to
//     its end, swaps and restarts included, while the device may be away:
//     a lock file per name in the system's lock directory (/run/lock, the
//     same for every user and session), held with flock() too, so that a
//     lock whose process is gone is free again. Taking a name also looks at
//     its device, so that a by-id alias and /dev/ttyUSB0 never serve two
//     runs at once.
// Within one process the name locks are shared (a run and its jobs hold the
// same port); another process finds them taken, and is told who holds them.
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

    // Takes the port's name lock (unless this object holds it already).
    // False when another process holds the name or has the device open, or
    // when the lock directory is not safe to use; *error then says which,
    // naming the port and what holds it.
    bool acquire(const QString &port, QString *error);
    // Lets go of every lock this object holds.
    void release();
    bool isHeld() const { return !keys.isEmpty(); }

    // Holds the device of an open port: an exclusive flock() on its open
    // descriptor, let go when the descriptor is closed. False, with what
    // holds the device in *error, when another process holds it.
    static bool holdDevice(int descriptor, const QString &port, QString *error);
    // Why the port cannot be had when its device is held by someone else:
    // "PORT is in use by another run (ordan-site, process 1234)", "PORT is
    // held by another program (minicom, process 99)", or without a name
    // when none can be found.
    static QString deviceHolder(const QString &port);
    // What holds the port, looked at without taking anything: "PORT is in
    // use by another run (ordan-cli, process 1234)" while another process
    // holds its name or its device; empty when it is free or held by this
    // process.
    static QString holder(const QString &port);

    // Where the name locks are: the system's lock directory.
    static QString directory();
    // Test seam: another directory for this process (empty: the system's).
    // Never read from the environment, so that two programs on one machine
    // always meet in one place.
    static void setDirectory(const QString &path);

private:
    QStringList keys;
};

#endif // PORTLOCK_H

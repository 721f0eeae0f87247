#ifndef PORTLOCKHOLDER_H
#define PORTLOCKHOLDER_H

#include <QString>

// Who holds a lock on a file, what a refusal names: found in the kernel's
// table of locks (/proc/locks) on Linux; elsewhere nothing is found and the
// callers fall back to what they know. And the device lock, an exclusive
// flock() on an open port's descriptor. What a refusal says is PortLock's.
namespace portlockholder
{

struct Holder {
    qint64 pid = 0; // 0: not found
    QString program;
};

// The process, other than this one, that holds a flock() on the file with
// this device and inode number.
Holder ofFile(quint64 device, quint64 inode);
// The process's program name (its argv[0] without the folder, or the
// kernel's name for it); empty when it is gone.
QString programOf(qint64 pid);
// False, with the refusal naming the holder, when another process holds
// the port's device (it has it open).
bool deviceFree(const QString &port, QString *error);
// See PortLock::holdDevice() and PortLock::deviceHolder().
bool holdDevice(int descriptor, const QString &port, QString *error);
QString describeDevice(const QString &port);

} // namespace portlockholder

#endif // PORTLOCKHOLDER_H

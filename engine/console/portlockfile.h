#ifndef PORTLOCKFILE_H
#define PORTLOCKFILE_H

#include <QString>

// The lock files of port names (POSIX systems only): one per name in the lock
// directory, held with flock() so that it is free again when its process
// is gone, with a note of its holder (process, program, name). What a
// refusal says is PortLock's.
namespace portlockfile
{

// The lock directory is used only when nobody else can take its files
// away; false with the reason.
bool directorySafe(const QString &directory, QString *why);
// Takes the lock file of the name `key` in `directory`: its descriptor, or
// -1 with the refusal naming `port` and the run that holds it.
int lock(const QString &directory, const QString &key, const QString &port, QString *error);
// False, with the refusal, when another process holds the lock file of
// the name `key`; looked at without creating or locking anything.
bool nameFree(const QString &directory, const QString &key, const QString &port, QString *error);
// Lets go of a lock file taken by lock(), removing it.
void unlock(int descriptor, const QString &directory, const QString &key);
// False, with the refusal, when another run holds a name that leads to the
// port's device now (a by-id alias held between two modules, this port
// named as /dev/ttyUSB0).
bool deviceFree(const QString &directory, const QString &key, const QString &port, QString *error);

} // namespace portlockfile

#endif // PORTLOCKFILE_H

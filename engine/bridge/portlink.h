#ifndef PORTLINK_H
#define PORTLINK_H

#include <QByteArray>
#include <QString>

// The path programs open a bridge's port by: a symbolic link to its
// pseudo-terminal, held by one bridge at a time through a lock file beside
// it (PATH.lock). No file the bridge did not make is ever touched.
//
// The lock:
// - is made exclusively, whole: written beside it under a name of its own,
//   locked (flock), then linked to PATH.lock, which fails when anything is
//   there;
// - says in its content that it is a bridge's lock, with the bridge's
//   process and, once made, the pseudo-terminal its link points to;
// - is rewritten or removed only by the bridge that holds it, or, once no
//   bridge holds it (a bridge that was killed), replaced in one step by the
//   next bridge, which holds the old one meanwhile so that two never both
//   take it over.
// An existing PATH.lock that is not a bridge's lock (a user's file, a
// link, anything else) refuses the start and is left as it is; one a
// running bridge holds refuses it, naming that bridge's process.
//
// What is at the path decides whether it may become the link:
// - nothing, or a dangling symbolic link (a bridge that was killed: its
//   pseudo-terminal went with it): made;
// - a symbolic link to a pseudo-terminal, only when a stale bridge lock
//   beside it names that pseudo-terminal (a killed bridge's link whose
//   number another program's pseudo-terminal has taken since); a link to a
//   pseudo-terminal without one (socat's, a terminal's) is refused;
// - anything else (a file, a directory, a link to a real serial port such as
//   a mistyped /dev/serial/by-id/ name): refused, untouched.
//
// POSIX only: elsewhere claim() says why not.
class PortLink
{
public:
    PortLink() = default;
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    // Takes the lock and checks what is at `path`. False with the reason,
    // nothing made or left behind, when the path may not become the link.
    bool claim(const QString &path, QString *problem);
    // Points the link to `device` (noted in the lock first), replacing in
    // one step what claim() allowed. False with the reason.
    bool point(const QByteArray &device, QString *problem);
    // Removes the link if it still points to `device`, then the lock.
    void release(const QByteArray &device = QByteArray());

    QString path() const { return linkPath; }

private:
    bool takeLock(const QString &path, QString *problem);
    bool writeLock(const QByteArray &device);

    QString linkPath;
    int lockFd = -1;
};

#endif // PORTLINK_H

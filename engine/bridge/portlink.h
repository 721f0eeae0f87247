#ifndef PORTLINK_H
#define PORTLINK_H

#include <QByteArray>
#include <QString>

// The path programs open a bridge's port by: a symbolic link to its
// pseudo-terminal, held by one bridge at a time through a lock file beside
// it (PATH.lock, holding the bridge's process id).
//
// What is at the path decides whether it may become the link:
// - nothing, or a dangling symbolic link (a bridge that ended without
//   removing it): made;
// - a symbolic link to a pseudo-terminal whose lock no bridge holds: replaced
//   (the link of a bridge that was killed);
// - anything else (a file, a directory, a link to a real serial port such as
//   a mistyped /dev/serial/by-id/ name): refused, untouched.
// A bridge that holds the lock is named in the refusal.
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
    // Points the link to `device`, replacing in one step what claim()
    // allowed. False with the reason.
    bool point(const QByteArray &device, QString *problem);
    // Removes the link if it still points to `device`, then the lock.
    void release(const QByteArray &device = QByteArray());

    QString path() const { return linkPath; }

private:
    QString linkPath;
    int lockFd = -1;
};

#endif // PORTLINK_H

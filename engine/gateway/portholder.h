#ifndef PORTHOLDER_H
#define PORTHOLDER_H

#include <QString>

// Who listens on a TCP port of this machine, for the message of a gateway
// that cannot: "gateway (process 4711)". On Linux from /proc (the
// listening socket's inode, then the process holding it); a process of
// another user whose descriptors cannot be read is "another user's
// program". Elsewhere, and when nothing is found, empty.
namespace portholder
{

QString whoListens(quint16 port);

} // namespace portholder

#endif // PORTHOLDER_H

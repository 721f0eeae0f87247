#include "engine/console/hangup.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#endif

bool portHungUp(const QSerialPort &port)
{
#ifdef Q_OS_UNIX
    if (!port.isOpen())
        return false;
    pollfd descriptor = {int(port.handle()), POLLIN, 0};
    if (descriptor.fd < 0)
        return false;
    const int savedErrno = errno;
    int ready;
    do {
        ready = ::poll(&descriptor, 1, 0);
    } while (ready < 0 && errno == EINTR);
    errno = savedErrno;
    return ready > 0 && (descriptor.revents & (POLLHUP | POLLNVAL));
#else
    Q_UNUSED(port);
    return false;
#endif
}

bool portLost(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError ||
           (error == QSerialPort::ReadError && portHungUp(port));
}

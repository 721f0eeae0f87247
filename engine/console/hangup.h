#ifndef HANGUP_H
#define HANGUP_H

#include <QSerialPort>

// True when the device end of an open port has hung up: a USB adapter was
// unplugged, the other end of a pseudo-terminal closed, the module
// restarted. Qt 5 reports that as an endless stream of read errors rather
// than as the loss of the port, so a read error is checked with this.
bool portHungUp(const QSerialPort &port);

// The lost-link rule, for the window and the engine alike: true when the
// error the port reports means the link is gone: the port went away
// (ResourceError), or a read failed because the device end hung up. Every
// other error (framing, parity, a failed write, a read error on a live line)
// leaves the link as it is.
bool portLost(const QSerialPort &port, QSerialPort::SerialPortError error);

#endif // HANGUP_H

#ifndef HANGUP_H
#define HANGUP_H

class QSerialPort;

// True when the device end of an open port has hung up: a USB adapter was
// unplugged, the other end of a pseudo-terminal closed, the module
// restarted. Qt 5 reports that as an endless stream of read errors rather
// than as the loss of the port, so a read error is checked with this.
bool portHungUp(const QSerialPort &port);

#endif // HANGUP_H

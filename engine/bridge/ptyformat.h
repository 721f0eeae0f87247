#ifndef PTYFORMAT_H
#define PTYFORMAT_H

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <termios.h>

// The line format a program set on the bridge's port, as its terminal
// settings hold it.
namespace ptyformat
{

// The speed in bits per second; 0 for none (B0), an unset speed or an
// unknown constant.
int baudOf(speed_t speed);
// Bits on the line for one character: start, data, parity, stop.
int bitsPerCharacter(const termios &t);

} // namespace ptyformat
#endif

#endif // PTYFORMAT_H

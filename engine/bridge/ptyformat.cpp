#include "engine/bridge/ptyformat.h"

#ifdef Q_OS_UNIX
int ptyformat::baudOf(speed_t speed)
{
    static const struct {
        speed_t code;
        int baud;
    } speeds[] = {
        {B110, 110},       {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},
        {B1200, 1200},     {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},
        {B19200, 19200},   {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
#ifdef B460800
        {B460800, 460800},
#endif
#ifdef B921600
        {B921600, 921600},
#endif
    };
    for (const auto &s : speeds) {
        if (s.code == speed)
            return s.baud;
    }
    return 0;
}

int ptyformat::bitsPerCharacter(const termios &t)
{
    int dataBits = 8;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        dataBits = 5;
        break;
    case CS6:
        dataBits = 6;
        break;
    case CS7:
        dataBits = 7;
        break;
    default:
        break;
    }
    const bool parity = (t.c_cflag & (PARENB | PARODD)) || (t.c_iflag & INPCK);
    return 1 + dataBits + (parity ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
}
#endif

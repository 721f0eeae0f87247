#ifndef PARAMETERS_H
#define PARAMETERS_H

#include "protocol/protocol.h"

#include <QList>
#include <QMap>
#include <QString>

// The module's parameters as values outside the window: their names in
// records and JSON and the rules a value must follow before it is sent (their
// way into and out of a settings file is settings/settingsmapping.h).
// Widget-free.
namespace parameters
{

// "name", "version", "mac", "ip", "mask", "gateway", "tcp_port", "parity",
// "speed", "stop_bits", "packet_timeout".
QString fieldKey(ModuleField field);

// Empty when `value` may be sent for `field`; otherwise the rule it breaks
// ("an IPv4 address: four numbers 0-255 separated by dots", ...).
QString checkValue(ModuleField field, const QString &value);

bool isIpv4(const QString &value);
bool isContiguousMask(const QString &value);
bool isTcpPort(const QString &value);
bool isPacketTimeout(const QString &value);

// Values by parameter; a parameter that is absent is not given.
using Values = QMap<ModuleField, QString>;

// The parameters the write sends, in the window's order (IP, mask, gateway,
// TCP port, parity, speed, stop bits, packet time-out).
QList<ModuleField> writeOrder();

// One command of a write: the bytes and the tick of the window's write that
// sends it (its reply is judged by that tick).
struct WriteStep {
    ModuleField field;
    int tick;
    QByteArray command;
};
// The commands for the given values, in the window's order; values of the
// information fields are ignored.
QList<WriteStep> writeSteps(const Values &values);

} // namespace parameters

#endif // PARAMETERS_H

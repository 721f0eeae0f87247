#ifndef PARAMETERS_H
#define PARAMETERS_H

#include "console/protocol.h"

#include <QList>
#include <QMap>
#include <QString>

class setting_module;

// The module's parameters as values outside the window: their names in
// records and JSON, the rules a value must follow before it is sent, and
// their way into and out of a settings file. Widget-free.
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

// The parameters a settings file gives: non-empty texts and chosen list
// positions (an empty text or position 0 gives nothing).
Values fromSettings(const setting_module &file);
// Fills the parameters of a settings file from values (missing ones empty).
void toSettings(const Values &values, setting_module *file);
// The parameters a settings file on the disk gives (the base values of a
// write or a plan); false when it cannot be read.
bool loadSettingsFile(const QString &path, Values *values);

} // namespace parameters

#endif // PARAMETERS_H

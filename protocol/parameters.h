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
// Their keys in a list: "ip, gateway".
QString fieldKeys(const QList<ModuleField> &fields);

// Empty when `value` may be sent for `field`; otherwise the rule it breaks
// ("an IPv4 address: four numbers 0-255 separated by dots", ...). Numbers
// are refused with leading zeros: some firmware reads "010" as octal.
QString checkValue(ModuleField field, const QString &value);

// Four decimal numbers 0-255 separated by dots, none with a leading zero.
bool parseIpv4(const QString &text, quint32 *address);
bool isIpv4(const QString &value);
bool isContiguousMask(const QString &value);
bool isTcpPort(const QString &value);
// The TCP ports a module listens on: two fixed ones (telnet, Modbus TCP) and
// a range.
inline constexpr int tcpPortsAlone[] = {23, 502};
inline constexpr int tcpPortFirst = 10000;
inline constexpr int tcpPortLast = 65535;
// Those ports in words: "23, 502 or 10000-65535".
QString tcpPortRule();
bool isPacketTimeout(const QString &value);
// An address a module may have as its own: not 0.0.0.0, not loopback
// (127.0.0.0/8), not multicast or reserved (224.0.0.0 and above, the
// broadcast address included).
bool isHostAddress(quint32 address);
// An address a connection may go to: not 0.0.0.0, nor multicast or reserved
// (224.0.0.0 and above, the broadcast address included). Loopback is one.
bool isConnectableAddress(quint32 address);
// "a.b.c.d" of a number.
QString ipv4Text(quint32 address);

// A MAC address as a module reports it: six pairs of hex digits separated
// by ":" (or all by "-"), not all zeros nor all ones (an unprogrammed
// module). Such a MAC tells one module from another.
bool isWellFormedMac(const QString &mac);
// The same MAC however it was written: upper case, ":" between the pairs;
// empty when it is not well-formed.
QString normalMac(const QString &mac);

// Values by parameter; a parameter that is absent is not given.
using Values = QMap<ModuleField, QString>;

// Something wrong with the network configuration that the values give a
// module: an address that is its subnet's network or broadcast address, a
// gateway outside the subnet, the same address for the module and its
// gateway. Only pairs whose values are all present (and valid) are looked
// at. `foreignGateway` marks the one problem that --allow-foreign-gateway
// accepts.
struct ConfigProblem {
    ModuleField field;
    QString message;
    bool foreignGateway = false;
};
QList<ConfigProblem> checkConfiguration(const Values &values);

// The parameters a write sends, in the order of the module's write commands
// (IP, mask, gateway, TCP port, parity, speed, stop bits, packet time-out).
QList<ModuleField> writeOrder();

// The parameters that tell one module from another: its name, version and
// MAC, read before a write and compared after its restart.
QList<ModuleField> identityFields();

// One command of a write: the parameter it sets and its bytes.
struct WriteStep {
    ModuleField field;
    QByteArray command;
};
// The commands for the given values, in the write's order; values of the
// information fields are ignored.
QList<WriteStep> writeSteps(const Values &values);

} // namespace parameters

#endif // PARAMETERS_H

#ifndef HOSTPORT_H
#define HOSTPORT_H

#include <QCoreApplication>
#include <QHostAddress>
#include <QString>

// A module's address and TCP port, "HOST:PORT", read one way by every
// command that connects to a module (reach, bridge, bus) and by the plan's
// ip and tcp_port.
//
// - PORT: a TCP port 1-65535, written without leading zeros ("0502" is
//   refused: some tools read it as octal).
// - HOST: an IPv4 address by protocol/'s rule (four numbers 0-255 without
//   leading zeros) that a connection may go to (not 0.0.0.0, nor 224.0.0.0
//   and above). With Hosts::NamesToo also a host name ("plc-7.site") or an
//   IPv6 address in brackets ("[fd00::31]:502"). Digits and dots alone are
//   always meant as an IPv4 address: "300.1.1.1" is refused, never looked up
//   as a name.
//
// Every problem is one line that names the part at fault.
class HostPort
{
    Q_DECLARE_TR_FUNCTIONS(HostPort)

public:
    enum class Hosts { Ipv4Only, NamesToo };

    QString host;         // as written; an IPv6 address without its brackets
    QHostAddress address; // the host when it is an address; null for a name
    quint16 port = 0;

    bool isName() const { return address.isNull(); }
    // "10.20.0.31:502", "[fd00::31]:502", "plc-7.site:502".
    QString text() const;

    // "HOST:PORT". False with the problem when it is not one.
    static bool parse(const QString &text, Hosts hosts, HostPort *target, QString *problem);
    // A host and a port given apart (a plan's ip and tcp_port).
    static bool parse(const QString &host, const QString &port, Hosts hosts, HostPort *target,
                      QString *problem);
};

#endif // HOSTPORT_H

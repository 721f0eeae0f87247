#ifndef PORTCATALOG_H
#define PORTCATALOG_H

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// What the system knows of one serial port; empty where it knows nothing.
struct PortDetails {
    QString name;           // the entry's text in the port list, what is opened
    QString systemLocation; // the device path, e.g. /dev/ttyUSB0
    QString description;
    QString manufacturer;
    QString serialNumber;
    bool hasIds = false; // USB vendor and product identifiers known
    quint16 vendorId = 0;
    quint16 productId = 0;
    // Stable names, where udev keeps them. The by-id name carries the
    // adapter's serial number: it follows the adapter (and a module that
    // brings its own adapter). The by-path name is the computer's socket:
    // the next module plugged into it gets the same name.
    QString alias;     // under /dev/serial/by-id/
    QString pathAlias; // under /dev/serial/by-path/
};

// The ports the window and ordan-cli list: the system's serial ports, in the order the
// system reports them, followed by device paths added with the
// configurator's --port, by a test or by the demo (a virtual port or a
// simulated module's pseudo-terminal never shows up among the system's
// ports).
namespace PortCatalog
{
QStringList portNames();
// The same ports with what the system knows of them, aliases looked up.
QList<PortDetails> ports();
// The path a port name stands for, links not followed: a bare name is a
// device in /dev ("ttyUSB0" is /dev/ttyUSB0), a name with a slash a path,
// relative to the current directory where it does not start with one. What
// the console opens.
QString location(const QString &port);
// The device that a port name leads to, with symbolic links (a /dev/serial/by-id/ alias)
// resolved where the device exists: two names for one port give the
// same text.
QString devicePath(const QString &port);
void addDevicePath(const QString &path);
void clearDevicePaths();

// USB vendor and product identifiers as "0403:6001"; empty when not known.
QString vidPid(const PortDetails &port);

// Test seams: where the system's ports come from (QSerialPortInfo when
// unset) and the directories searched for aliases (/dev/serial/by-id and
// /dev/serial/by-path when empty).
using PortSource = std::function<QList<PortDetails>()>;
void setSystemPortSource(PortSource source);
void setAliasDirectory(const QString &path);
void setPathAliasDirectory(const QString &path);
} // namespace PortCatalog

#endif // PORTCATALOG_H

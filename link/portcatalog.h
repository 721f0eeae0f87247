#ifndef PORTCATALOG_H
#define PORTCATALOG_H

#include <QStringList>

// The ports the window lists: the system's serial ports, in the order the
// system reports them, followed by device paths added by a test or by the
// demo (a simulated module's pseudo-terminal never shows up among the
// system's ports). The configurator itself adds nothing.
namespace PortCatalog {
QStringList portNames();
void addDevicePath(const QString &path);
void clearDevicePaths();
} // namespace PortCatalog

#endif // PORTCATALOG_H

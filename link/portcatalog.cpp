#include "link/portcatalog.h"

#include <QSerialPortInfo>

namespace {
QStringList &addedPaths()
{
    static QStringList paths;
    return paths;
}
} // namespace

QStringList PortCatalog::portNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    return names + addedPaths();
}

void PortCatalog::addDevicePath(const QString &path)
{
    if (!addedPaths().contains(path))
        addedPaths() << path;
}

void PortCatalog::clearDevicePaths()
{
    addedPaths().clear();
}

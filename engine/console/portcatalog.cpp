#include "engine/console/portcatalog.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace
{
QStringList &addedPaths()
{
    static QStringList paths;
    return paths;
}

PortCatalog::PortSource &portSource()
{
    static PortCatalog::PortSource source;
    return source;
}

QString &aliasDirectory()
{
    static QString path;
    return path;
}

QString &pathAliasDirectory()
{
    static QString path;
    return path;
}

QFileInfoList linksIn(const QString &directory)
{
    return QDir(directory).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot,
                                         QDir::Name);
}

QList<PortDetails> systemPorts()
{
    if (portSource())
        return portSource()();
    QList<PortDetails> found;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        PortDetails port;
        port.name = info.portName();
        port.systemLocation = info.systemLocation();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        port.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        port.vendorId = info.vendorIdentifier();
        port.productId = info.productIdentifier();
        found << port;
    }
    return found;
}

// The first link in the alias directory that leads to the port's device.
// The directory exists only where udev keeps it; elsewhere nothing is found.
QString aliasOf(const QString &systemLocation, const QFileInfoList &links)
{
    const QString device = QFileInfo(systemLocation).canonicalFilePath();
    if (device.isEmpty())
        return QString();
    for (const QFileInfo &link : links) {
        if (link.canonicalFilePath() == device)
            return link.absoluteFilePath();
    }
    return QString();
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

} // namespace

QStringList PortCatalog::portNames()
{
    QStringList names;
    for (const PortDetails &port : systemPorts())
        names << port.name;
    return names + addedPaths();
}

QList<PortDetails> PortCatalog::ports()
{
    QList<PortDetails> found = systemPorts();
    for (const QString &path : addedPaths()) {
        PortDetails port;
        port.name = path;
        port.systemLocation = path;
        found << port;
    }
    const QFileInfoList byId = linksIn(
        aliasDirectory().isEmpty() ? QStringLiteral("/dev/serial/by-id") : aliasDirectory());
    const QFileInfoList byPath =
        linksIn(pathAliasDirectory().isEmpty() ? QStringLiteral("/dev/serial/by-path")
                                               : pathAliasDirectory());
    for (PortDetails &port : found) {
        if (port.alias.isEmpty() && !byId.isEmpty())
            port.alias = aliasOf(port.systemLocation, byId);
        if (port.pathAlias.isEmpty() && !byPath.isEmpty())
            port.pathAlias = aliasOf(port.systemLocation, byPath);
    }
    return found;
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

QString PortCatalog::vidPid(const PortDetails &port)
{
    return port.hasIds ? hex4(port.vendorId) + QLatin1Char(':') + hex4(port.productId) : QString();
}

void PortCatalog::setSystemPortSource(PortSource source)
{
    portSource() = std::move(source);
}

void PortCatalog::setAliasDirectory(const QString &path)
{
    aliasDirectory() = path;
}

void PortCatalog::setPathAliasDirectory(const QString &path)
{
    pathAliasDirectory() = path;
}

QString PortCatalog::location(const QString &port)
{
#ifdef Q_OS_UNIX
    // A bare name is a device in /dev, as the serial library and the port
    // list name it; a name with a slash is a path, relative to the current
    // directory as every program reads one (the library would look for
    // "serial/by-id/..." in /dev).
    if (!port.contains(QLatin1Char('/')))
        return port.isEmpty() ? port : QStringLiteral("/dev/") + port;
    return QDir::cleanPath(QFileInfo(port).absoluteFilePath());
#else
    return port;
#endif
}

QString PortCatalog::devicePath(const QString &port)
{
#ifdef Q_OS_UNIX
    const QString path = location(port);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
#else
    return port.toUpper();
#endif
}

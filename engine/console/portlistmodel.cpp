#include "engine/console/portlistmodel.h"

#include "engine/platform/textsafety.h"

#include <QStringList>

PortListModel::PortListModel(QObject *parent) : QAbstractListModel(parent), labels(defaultLabels())
{
    list = PortCatalog::ports();
}

PortListModel::Labels PortListModel::defaultLabels()
{
    return {tr("Description: %1"), tr("Manufacturer: %1"), tr("Serial number: %1")};
}

void PortListModel::setLabels(const Labels &words)
{
    labels = words;
    if (!list.isEmpty())
        emit dataChanged(index(0), index(list.size() - 1), {Qt::ToolTipRole});
}

void PortListModel::refresh()
{
    beginResetModel();
    list = PortCatalog::ports();
    endResetModel();
}

QModelIndex PortListModel::indexForPort(const QString &port) const
{
    if (port.isEmpty())
        return QModelIndex();
    for (int row = 0; row < list.size(); ++row) {
        const PortDetails &known = list.at(row);
        if (port == known.systemLocation || port == known.alias || port == known.pathAlias ||
            port == known.name)
            return index(row);
    }
    const QString device = PortCatalog::devicePath(port);
    for (int row = 0; row < list.size(); ++row) {
        const PortDetails &known = list.at(row);
        if (device == PortCatalog::devicePath(
                          known.systemLocation.isEmpty() ? known.name : known.systemLocation))
            return index(row);
    }
    return QModelIndex();
}

int PortListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : list.size();
}

QVariant PortListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= list.size())
        return QVariant();
    const PortDetails &port = list.at(index.row());
    const auto known = [](const QString &text) {
        return text.isEmpty() ? QVariant() : QVariant(text);
    };
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return port.name;
    case Qt::ToolTipRole:
        return toolTip(port);
    case DeviceRole:
        return port.systemLocation.isEmpty() ? port.name : port.systemLocation;
    case AliasRole:
        return known(port.alias);
    case PathAliasRole:
        return known(port.pathAlias);
    case DescriptionRole:
        return known(port.description);
    case ManufacturerRole:
        return known(port.manufacturer);
    case SerialNumberRole:
        return known(port.serialNumber);
    case VidPidRole:
        return known(PortCatalog::vidPid(port));
    default:
        return QVariant();
    }
}

QString PortListModel::toolTip(const PortDetails &port, const Labels &words)
{
    using textsafety::escapeControls;
    QStringList lines;
    lines << escapeControls(port.systemLocation.isEmpty() ? port.name : port.systemLocation)
                 .remove(QLatin1Char('<'));
    if (!port.description.isEmpty())
        lines << words.description.arg(escapeControls(port.description));
    if (!port.manufacturer.isEmpty())
        lines << words.manufacturer.arg(escapeControls(port.manufacturer));
    if (!port.serialNumber.isEmpty())
        lines << words.serialNumber.arg(escapeControls(port.serialNumber));
    if (port.hasIds)
        lines << QStringLiteral("VID:PID: ") + PortCatalog::vidPid(port);
    if (!port.alias.isEmpty())
        lines << escapeControls(port.alias);
    if (!port.pathAlias.isEmpty())
        lines << escapeControls(port.pathAlias);
    return lines.join(QLatin1Char('\n'));
}

#ifndef PORTLISTMODEL_H
#define PORTLISTMODEL_H

#include "engine/console/portcatalog.h"

#include <QAbstractListModel>
#include <QList>

// The computer's serial ports as a list (Qt Core, no widgets): each with the
// name that is opened, its device, its stable names, what the system knows
// of it, and the tool tip that tells one adapter from another. The
// configurator's port list, the site window's port editor and `ordan-cli
// ports` all read it; PortCatalog is where the ports come from.
class PortListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        DeviceRole = Qt::UserRole + 1, // the device path, e.g. /dev/ttyUSB0
        AliasRole,                     // the /dev/serial/by-id/ name, where there is one
        PathAliasRole,                 // the /dev/serial/by-path/ name, where there is one
        DescriptionRole,
        ManufacturerRole,
        SerialNumberRole,
        VidPidRole, // "0403:6001", where known
    };
    // The words of the tool tip's lines, each with "%1" for the value.
    struct Labels {
        QString description;
        QString manufacturer;
        QString serialNumber;
    };

    explicit PortListModel(QObject *parent = nullptr);

    // The tool tip's words: translatable English ones unless a window sets
    // its own.
    void setLabels(const Labels &words);
    static Labels defaultLabels();

    // Looks at the ports again (the list is reset).
    void refresh();
    const QList<PortDetails> &ports() const { return list; }

    // The entry of a port given by any of its names (the name opened, the
    // device, a by-id or by-path alias) or by another name of its device;
    // invalid when the list does not have it.
    QModelIndex indexForPort(const QString &port) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    // Qt::DisplayRole is the name that is opened; Qt::ToolTipRole the tool tip.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // What tells the port from another, one line each, only what is known:
    // the device path, description, manufacturer, serial number, VID:PID and
    // the stable names. Plain text: text from the device has its control
    // characters escaped, and the first line is never taken for rich text.
    QString toolTip(const PortDetails &port) const { return toolTip(port, labels); }
    // The same in the words given (a list filled without this model).
    static QString toolTip(const PortDetails &port, const Labels &words);

private:
    QList<PortDetails> list;
    Labels labels;
};

#endif // PORTLISTMODEL_H

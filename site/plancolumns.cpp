#include "site/plancolumns.h"

#include <QList>

QString PlanColumns::columnKey(int column)
{
    if (column == PortColumn)
        return QStringLiteral("port");
    if (column == BusIdsColumn)
        return QStringLiteral("bus_ids");
    if (column > PortColumn && column < BusIdsColumn)
        return parameters::fieldKey(columnField(column));
    return QString();
}

ModuleField PlanColumns::columnField(int column)
{
    // The plan file's columns: the port, then the parameters in the order
    // they are written.
    static const QList<ModuleField> order = parameters::writeOrder();
    return order.at(qBound(0, column - 1, int(order.size()) - 1));
}

int PlanColumns::columnOf(ModuleField field)
{
    for (int column = IpColumn; column < BusIdsColumn; ++column) {
        if (columnField(column) == field)
            return column;
    }
    return -1;
}

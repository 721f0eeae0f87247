#ifndef COMMISSIONPLAN_P_H
#define COMMISSIONPLAN_P_H

// What the plan's reader, its rules and its CSV text share, inside
// engine/commission only.
#include "protocol/parameters.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

namespace commissionplan
{
namespace detail
{

struct Text {
    Q_DECLARE_TR_FUNCTIONS(commissionplan)
};

inline const QString portColumn = QStringLiteral("port");
inline const QString busIdsColumn = QStringLiteral("bus_ids");

// Whether a header cell names the bus_ids column (any case, "-" for "_").
bool isBusIdsColumn(const QString &header);

// The column names a plan may have, for the message on an unknown one.
QString knownColumns();
// The parameter a header cell names; false for anything else. Names are
// taken without regard to case or surrounding blanks, "-" for "_" too
// (the option spelling, "tcp-port").
bool columnField(const QString &header, ModuleField *field);
// The plan's text from a file's bytes: false when they are not UTF-8 (a byte
// sequence had to be replaced on the way in). A byte-order mark is dropped.
bool decode(const QByteArray &bytes, QString *text);
// The index in columns() of the column a header cell names; -1 for none.
int columnIndex(const QString &header);
bool blank(const QStringList &record);

} // namespace detail
} // namespace commissionplan

#endif // COMMISSIONPLAN_P_H

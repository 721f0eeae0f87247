#ifndef REGISTERINTEGRITY_H
#define REGISTERINTEGRITY_H

#include <QMap>
#include <QString>
#include <QStringList>

// Whether a register is whole, checked once when a run that writes opens
// it, before anything is sent to a module: its file's pages (SQLite's
// PRAGMA quick_check) and every table and column this program's version
// has.
namespace siteregister
{

class Sql;

// The tables this program's version has, each with its columns, as the
// statements of its versions make them.
QMap<QString, QStringList> expectedTables();

// SQLite: whether every page reads and every index agrees with its table
// (PRAGMA quick_check); PostgreSQL keeps its own pages. False with what is
// wrong: "the register X is damaged: ...".
bool checkPages(const Sql &sql, QString *error);
// Whether every table and column this program's version has is there.
bool checkTables(const Sql &sql, QString *error);

} // namespace siteregister

#endif // REGISTERINTEGRITY_H

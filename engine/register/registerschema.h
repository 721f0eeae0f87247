#ifndef REGISTERSCHEMA_H
#define REGISTERSCHEMA_H

#include <QString>
#include <QStringList>

class QSqlDatabase;

// The register's tables, versioned: register_meta holds the schema's
// version, and each version's migration brings a register from the one
// before it. Opening a register applies what it lacks, in one transaction
// (PostgreSQL: under an advisory lock, so that two stations opening a new
// register at once make its tables once).
//
//   runs     one run of a program on a plan: tool, station, user, process,
//            the plan's path and identity, the CSV record it appended to,
//            start and end
//   rows     every row's outcome, in the order of the CSV record: run, plan
//            row, port, MAC, planned values, read-back values, result, time
//   modules  each MAC ever seen: first and last seen, and where it was last
//            verified (run, row, port) with the values it was verified at
//   claims   a plan's row claimed by one station while it runs (a lease),
//            then done; one claim per row (the primary key)
//   rewrites a module written again although the register knew it verified
//   key_claims  what a row claims beside its plan's row while it runs: its
//            address ("ip:10.0.0.1") and a replacement's old module
//            ("replaces:MAC"); one claim per key (the primary key; version 2)
//
// A row's result and a rewrite's note are facts (registerfacts.h), never
// sentences (version 3).
namespace siteregister
{

inline constexpr int schemaVersion = 3;

// Every statement that makes the tables, from the first version on.
QStringList schemaStatements();

// The version of the register open in `db`, changing nothing: 0 for an
// empty database; -1 with the reason for a damaged one, one that holds
// other tables, and one of a newer program.
int storedVersion(QSqlDatabase &db, bool postgres, const QString &shown, QString *error);

// Brings the register open in `db` to schemaVersion. False with the reason
// when it cannot, and for a register of a newer program (nothing is
// touched then). `shown` names the register in the reason.
bool migrate(QSqlDatabase &db, bool postgres, const QString &shown, QString *error);

} // namespace siteregister

#endif // REGISTERSCHEMA_H

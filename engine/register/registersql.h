#ifndef REGISTERSQL_H
#define REGISTERSQL_H

#include "engine/register/registerlocation.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <memory>

// What every part of the register does with its database: statements run
// with their reason kept, write transactions, the register's clock. Both
// SQLite and PostgreSQL take the statements as written here.
namespace siteregister
{

// The reason a database gave, without Qt's "Unable to execute statement"
// padding.
QString reasonOf(const QSqlError &error);

class Sql
{
public:
    Sql(QSqlDatabase &db, bool postgres, const QString &shown)
        : db(db), postgres(postgres), shown(shown)
    {
    }

    // A prepared statement; run() binds the values in order and executes it.
    QSqlQuery prepare(const QString &statement, QString *error) const;
    bool run(QSqlQuery &query, const QVariantList &values, QString *error) const;
    // Prepares and runs in one.
    bool exec(const QString &statement, const QVariantList &values, QString *error,
              QSqlQuery *result = nullptr) const;
    // A statement that changes rows and returns none (INSERT, UPDATE,
    // DELETE), prepared once per connection; *affected counts the rows.
    bool change(const QString &statement, const QVariantList &values, QString *error,
                int *affected = nullptr) const;
    // A statement that reads rows (SELECT), prepared once per connection
    // (a server's round trips are the register's cost a row): its rows,
    // each its columns' values, read to the end so that no statement stays
    // open between calls.
    using Rows = QList<QVariantList>;
    bool select(const QString &statement, const QVariantList &values, Rows *rows,
                QString *error) const;

    // A write transaction: SQLite takes the write lock at once (two
    // programs on one file wait for each other instead of failing half
    // way); PostgreSQL's rows lock as they are touched.
    bool begin(QString *error) const;
    bool commit(QString *error) const;
    void rollback() const;

    // The register's "now" in milliseconds since 1970 as an SQL expression:
    // the server's clock for PostgreSQL, so that two stations' leases are
    // compared on one clock.
    QString nowMs() const;

    // "the register X: REASON" for a failed statement; the error is kept
    // as the last one.
    QString failure(const QSqlError &error) const;
    // The last failed statement's error, told apart by its code: SQLite's
    // file busy or a table locked (another program writing), and the
    // reason without the register's name.
    bool lastBusy() const;
    // SQLite's file that may not be written, or whose companion files
    // (a WAL's shared memory) cannot be made.
    bool lastReadOnly() const;
    QString lastReason() const { return reasonOf(last); }

    QSqlDatabase &db;
    const bool postgres;
    const QString shown;

private:
    // SQLite only, outside a transaction: whether a statement that found
    // the file locked is tried again, after a pause. SQLite's busy wait
    // covers most meetings of two programs, but not all of them (a reader
    // meeting a change of the file's mode, a snapshot grown old): a
    // statement that took no effect is then run again, for up to 10 s.
    bool againAfterBusy(const QSqlError &error, int tries) const;

    mutable bool inTransaction = false;
    mutable QSqlError last;
    // The changing statements, prepared (a row's outcome takes three).
    mutable QHash<QString, QSqlQuery> prepared;
};

// A text column's value, never NULL.
inline QVariant textColumn(const QString &value)
{
    return value.isNull() ? QString(QLatin1String("")) : value;
}

// A register's connection: its own name in Qt SQL, the database, and the
// statements' runner.
struct Connection {
    QString name;
    Location location;
    QSqlDatabase db;
    std::unique_ptr<Sql> sql;
};

} // namespace siteregister

#endif // REGISTERSQL_H

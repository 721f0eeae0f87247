#include "engine/register/registersql.h"

#include "engine/register/registertext.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlRecord>
#include <QThread>

#include <algorithm>
#include <utility>

namespace siteregister
{

QString reasonOf(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    // libpq ends its messages with a line break and may hold several lines,
    // the later ones indented.
    static const QRegularExpression lineBreak(QStringLiteral("\\s*\n\\s*"));
    text.replace(lineBreak, QStringLiteral("; "));
    return text.isEmpty() ? Text::tr("unknown database error") : text;
}

QString Sql::failure(const QSqlError &error) const
{
    last = error;
    return Text::tr("the register %1: %2").arg(shown, reasonOf(error));
}

QSqlQuery Sql::prepare(const QString &statement, QString *error) const
{
    QSqlQuery query(db);
    if (!query.prepare(statement))
        *error = failure(query.lastError());
    return query;
}

namespace
{
// SQLite's primary result codes (the low byte of an extended one): the
// file held by another connection, a table locked by one.
constexpr int sqliteBusy = 5;
constexpr int sqliteLocked = 6;
constexpr int sqliteReadOnly = 8;
constexpr int sqliteCantOpen = 14;

int sqlitePrimaryCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}
} // namespace

bool Sql::lastBusy() const
{
    const int code = sqlitePrimaryCode(last);
    return !postgres && (code == sqliteBusy || code == sqliteLocked);
}

bool Sql::lastReadOnly() const
{
    const int code = sqlitePrimaryCode(last);
    return !postgres && (code == sqliteReadOnly || code == sqliteCantOpen);
}

bool Sql::againAfterBusy(const QSqlError &error, int tries) const
{
    if (postgres || inTransaction || tries > 100 || sqlitePrimaryCode(error) != sqliteBusy)
        return false;
    QThread::msleep(static_cast<unsigned long>(std::min(10 * tries, 100)));
    return true;
}

bool Sql::run(QSqlQuery &query, const QVariantList &values, QString *error) const
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    for (int tries = 1;; ++tries) {
        if (query.exec())
            return true;
        if (!againAfterBusy(query.lastError(), tries))
            break;
    }
    *error = failure(query.lastError());
    return false;
}

bool Sql::exec(const QString &statement, const QVariantList &values, QString *error,
               QSqlQuery *result) const
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // Without values, as it stands: PostgreSQL prepares no DDL.
    bool prepared = false;
    if (values.isEmpty()) {
        for (int tries = 1; !(prepared = query.exec(statement)); ++tries) {
            if (!againAfterBusy(query.lastError(), tries))
                break;
        }
    } else {
        prepared = query.prepare(statement);
    }
    if (!prepared) {
        *error = failure(query.lastError());
        return false;
    }
    if (!values.isEmpty() && !run(query, values, error))
        return false;
    if (result)
        *result = std::move(query); // NOLINT(performance-move-const-arg): Qt 6 moves it
    return true;
}

bool Sql::change(const QString &statement, const QVariantList &values, QString *error,
                 int *affected) const
{
    auto it = prepared.find(statement);
    if (it == prepared.end()) {
        QSqlQuery query(db);
        if (!query.prepare(statement)) {
            *error = failure(query.lastError());
            return false;
        }
        it = prepared.insert(statement, query);
    }
    if (!run(*it, values, error))
        return false;
    if (affected)
        *affected = it->numRowsAffected();
    return true;
}

bool Sql::select(const QString &statement, const QVariantList &values, Rows *rows,
                 QString *error) const
{
    rows->clear();
    auto it = prepared.find(statement);
    if (it == prepared.end()) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(statement)) {
            *error = failure(query.lastError());
            return false;
        }
        it = prepared.insert(statement, query);
    }
    QSqlQuery &query = *it;
    if (!run(query, values, error))
        return false;
    while (query.next()) {
        QVariantList row;
        const int columns = query.record().count();
        row.reserve(columns);
        for (int column = 0; column < columns; ++column)
            row << query.value(column);
        rows->append(row);
    }
    const QSqlError failed = query.lastError();
    query.finish();
    if (failed.isValid()) {
        *error = failure(failed);
        return false;
    }
    return true;
}

bool Sql::begin(QString *error) const
{
    QSqlQuery query(db);
    const QString statement =
        postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE");
    for (int tries = 1;; ++tries) {
        if (query.exec(statement)) {
            inTransaction = true;
            return true;
        }
        if (!againAfterBusy(query.lastError(), tries))
            break;
    }
    *error = failure(query.lastError());
    return false;
}

bool Sql::commit(QString *error) const
{
    QSqlQuery query(db);
    inTransaction = false;
    if (query.exec(QStringLiteral("COMMIT")))
        return true;
    *error = failure(query.lastError());
    rollback();
    return false;
}

void Sql::rollback() const
{
    inTransaction = false;
    QSqlQuery query(db);
    query.exec(QStringLiteral("ROLLBACK"));
}

QString Sql::nowMs() const
{
    return postgres ? QStringLiteral("CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)")
                    : QStringLiteral("CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)");
}

} // namespace siteregister

#include "engine/register/registerintegrity.h"

#include "engine/register/registerschema.h"
#include "engine/register/registersql.h"
#include "engine/register/registertext.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

namespace siteregister
{

namespace
{

// The items of a CREATE TABLE's list, split at its own commas (not those
// inside a constraint's parentheses).
QStringList itemsOf(const QString &list)
{
    QStringList items{QString()};
    int depth = 0;
    for (const QChar c : list) {
        depth += c == QLatin1Char('(') ? 1 : c == QLatin1Char(')') ? -1 : 0;
        if (c == QLatin1Char(',') && depth == 0)
            items << QString();
        else
            items.last() += c;
    }
    return items;
}

bool damaged(const Sql &sql, const QString &why, QString *error)
{
    *error = Text::tr("the register %1 is damaged: %2").arg(sql.shown, why);
    return false;
}

} // namespace

QMap<QString, QStringList> expectedTables()
{
    static const QRegularExpression create(
        QStringLiteral("^CREATE TABLE (?:IF NOT EXISTS )?(\\w+) \\((.*)\\)$"));
    static const QRegularExpression add(QStringLiteral("^ALTER TABLE (\\w+) ADD COLUMN (\\w+)"));
    static const QStringList constraints{QStringLiteral("PRIMARY"), QStringLiteral("UNIQUE"),
                                         QStringLiteral("FOREIGN"), QStringLiteral("CHECK"),
                                         QStringLiteral("CONSTRAINT")};
    QMap<QString, QStringList> tables;
    for (const QString &statement : schemaStatements()) {
        QRegularExpressionMatch match = create.match(statement);
        if (match.hasMatch()) {
            QStringList &columns = tables[match.captured(1)];
            for (const QString &item : itemsOf(match.captured(2))) {
                const QString name = item.trimmed().section(QLatin1Char(' '), 0, 0);
                if (!constraints.contains(name))
                    columns << name;
            }
        } else if ((match = add.match(statement)).hasMatch()) {
            tables[match.captured(1)] << match.captured(2);
        }
    }
    return tables;
}

bool checkPages(const Sql &sql, QString *error)
{
    if (sql.postgres)
        return true;
    // Every page read, every index against its table: the damage a write
    // would otherwise meet half way.
    QSqlQuery query;
    QString failed;
    if (!sql.exec(QStringLiteral("PRAGMA quick_check"), {}, &failed, &query))
        return damaged(sql, sql.lastReason(), error);
    QStringList found;
    while (query.next() && found.size() < 3)
        found << query.value(0).toString();
    if (query.lastError().isValid())
        return damaged(sql, reasonOf(query.lastError()), error);
    if (found != QStringList{QStringLiteral("ok")})
        return damaged(sql,
                       found.isEmpty() ? Text::tr("its check found nothing to read")
                                       : found.join(QStringLiteral("; ")),
                       error);
    return true;
}

bool checkTables(const Sql &sql, QString *error)
{
    QSqlQuery query;
    const QString columns =
        sql.postgres ? QStringLiteral("SELECT table_name, column_name FROM "
                                      "information_schema.columns WHERE table_schema = "
                                      "current_schema()")
                     : QStringLiteral("SELECT m.name, p.name FROM sqlite_master m JOIN "
                                      "pragma_table_info(m.name) p WHERE m.type = 'table'");
    if (!sql.exec(columns, {}, error, &query))
        return false;
    QMap<QString, QStringList> held;
    while (query.next())
        held[query.value(0).toString()] << query.value(1).toString();
    const QMap<QString, QStringList> expected = expectedTables();
    for (auto table = expected.cbegin(); table != expected.cend(); ++table) {
        if (!held.contains(table.key()))
            return damaged(sql, Text::tr("it has no table %1").arg(table.key()), error);
        for (const QString &column : table.value()) {
            if (!held.value(table.key()).contains(column))
                return damaged(
                    sql, Text::tr("its table %1 has no column %2").arg(table.key(), column), error);
        }
    }
    return true;
}

} // namespace siteregister

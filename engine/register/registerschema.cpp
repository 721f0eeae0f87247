#include "engine/register/registerschema.h"

#include "engine/register/registerfacts.h"
#include "engine/register/registersql.h"
#include "engine/register/registertext.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include <climits>

namespace siteregister
{

namespace
{
// Each version's statements; "%ID%" is the table's own growing key.
// Times are kept twice: as the text the record shows (local time with its
// offset) and as milliseconds since 1970 to compare and order by.
const QStringList version1{
    QStringLiteral("CREATE TABLE runs (id %ID%, tool TEXT NOT NULL, station TEXT NOT NULL, "
                   "username TEXT NOT NULL, plan_path TEXT NOT NULL, plan_hash TEXT NOT NULL, "
                   "record TEXT NOT NULL, started TEXT NOT NULL, started_ms BIGINT NOT NULL, "
                   "ended TEXT, ended_ms BIGINT)"),
    QStringLiteral("CREATE TABLE rows (id %ID%, run_id BIGINT NOT NULL REFERENCES runs (id), "
                   "time TEXT NOT NULL, at_ms BIGINT NOT NULL, plan_row INTEGER NOT NULL, "
                   "port TEXT NOT NULL, mac TEXT NOT NULL, planned TEXT NOT NULL, "
                   "read_back TEXT NOT NULL, result TEXT NOT NULL, verified INTEGER NOT NULL, "
                   "UNIQUE (time, port, mac))"),
    QStringLiteral("CREATE INDEX rows_by_mac ON rows (mac, at_ms)"),
    QStringLiteral("CREATE INDEX rows_by_run ON rows (run_id)"),
    QStringLiteral("CREATE TABLE modules (mac TEXT PRIMARY KEY, first_seen TEXT NOT NULL, "
                   "first_ms BIGINT NOT NULL, last_seen TEXT NOT NULL, last_ms BIGINT NOT NULL, "
                   "verified TEXT, verified_ms BIGINT, ip TEXT, vals TEXT, "
                   "run_id BIGINT REFERENCES runs (id), plan_row INTEGER, port TEXT, "
                   "replaced_by TEXT)"),
    QStringLiteral("CREATE INDEX modules_by_ip ON modules (ip)"),
    QStringLiteral("CREATE INDEX modules_by_run ON modules (run_id)"),
    QStringLiteral("CREATE INDEX runs_by_plan ON runs (plan_hash)"),
    QStringLiteral("CREATE TABLE claims (plan_hash TEXT NOT NULL, plan_row INTEGER NOT NULL, "
                   "run_id BIGINT NOT NULL REFERENCES runs (id), station TEXT NOT NULL, "
                   "state TEXT NOT NULL, since_ms BIGINT NOT NULL, "
                   "lease_until_ms BIGINT NOT NULL, mac TEXT NOT NULL, "
                   "PRIMARY KEY (plan_hash, plan_row))"),
    QStringLiteral("CREATE TABLE rewrites (id %ID%, run_id BIGINT NOT NULL REFERENCES runs (id), "
                   "time TEXT NOT NULL, at_ms BIGINT NOT NULL, mac TEXT NOT NULL, "
                   "plan_row INTEGER NOT NULL, previous TEXT NOT NULL)"),
    QStringLiteral("CREATE INDEX rewrites_by_mac ON rewrites (mac)"),
};

// Version 2: a row claims its address (and a replacement its old module)
// beside its plan's row, under a unique key; a run names its process. The
// plans' legacy keys (their files' hashes) become their rows' identity as
// each plan is met again (RegisterRuns).
const QStringList version2{
    QStringLiteral("ALTER TABLE runs ADD COLUMN pid BIGINT NOT NULL DEFAULT 0"),
    QStringLiteral("CREATE TABLE key_claims (claim_key TEXT PRIMARY KEY, "
                   "run_id BIGINT NOT NULL REFERENCES runs (id), plan_row INTEGER NOT NULL, "
                   "port TEXT NOT NULL, since_ms BIGINT NOT NULL, "
                   "lease_until_ms BIGINT NOT NULL)"),
    QStringLiteral("CREATE INDEX key_claims_by_run ON key_claims (run_id)"),
};

// Version 3: a row's result and a rewrite's note held as facts (a code
// and values), not as sentences: the words are chosen when they are shown.
// Each row's and each note's words are read into facts once; a note that
// cannot be read is kept as its text.
const QStringList version3{
    QStringLiteral("ALTER TABLE rows ADD COLUMN facts TEXT NOT NULL DEFAULT ''"),
};

// A text column's value: never NULL.
QString notNull(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

bool factsFromWords(const Sql &sql, QString *error)
{
    for (const bool rows : {true, false}) {
        QSqlQuery query;
        if (!sql.exec(rows ? QStringLiteral("SELECT id, result FROM rows")
                           : QStringLiteral("SELECT id, previous FROM rewrites"),
                      {}, error, &query))
            return false;
        QList<QPair<qint64, QString>> stored;
        while (query.next())
            stored.append({query.value(0).toLongLong(), query.value(1).toString()});
        query.finish();
        for (const auto &[id, words] : qAsConst(stored)) {
            if (rows) {
                const ResultFacts facts = resultFacts(words);
                if (!sql.change(
                        QStringLiteral("UPDATE rows SET result = ?, facts = ? WHERE id = ?"),
                        {facts.code, notNull(factsText(facts.values)), id}, error))
                    return false;
            } else if (!sql.change(QStringLiteral("UPDATE rewrites SET previous = ? WHERE id = ?"),
                                   {notNull(noteText(noteFrom(words))), id}, error)) {
                return false;
            }
        }
    }
    return true;
}

// The migration to each version, the first to version 1: its statements,
// then what is done in code.
struct Migration {
    QStringList statements;
    bool (*then)(const Sql &sql, QString *error) = nullptr;
};
const QList<Migration> migrations{{version1}, {version2}, {version3, factsFromWords}};
static_assert(schemaVersion == 3, "a migration for each version");

const QString versionKey = QStringLiteral("schema_version");

// The version read by `query` (0 when none is stored; INT_MAX for one too
// large to count, however large: newer than this program); -1, with the
// reason, for one no program writes: the register is damaged.
int versionRead(const Sql &sql, QSqlQuery &query, QString *error, QString *text)
{
    if (!query.next())
        return 0;
    *text = query.value(0).toString();
    static const QRegularExpression number(QStringLiteral("^[1-9][0-9]*$"));
    if (number.match(*text).hasMatch())
        return text->size() > 9 ? INT_MAX : text->toInt();
    *error = Text::tr("the register %1 is damaged: \"%2\" is not a version of its tables")
                 .arg(sql.shown, *text);
    return -1;
}

// The version the register holds: 0 for a new one, -1 on failure.
int storedVersion(const Sql &sql, QString *error, QString *text)
{
    // One look: another station may make the tables meanwhile.
    const QStringList tables = sql.db.tables();
    if (!tables.contains(QStringLiteral("register_meta"))) {
        if (!tables.isEmpty()) {
            *error = Text::tr("the register %1: it holds other tables and no register; name an "
                              "empty database or a register")
                         .arg(sql.shown);
            return -1;
        }
        return 0;
    }
    QSqlQuery query;
    if (!sql.exec(QStringLiteral("SELECT value FROM register_meta WHERE key = ?"), {versionKey},
                  error, &query))
        return -1;
    return versionRead(sql, query, error, text);
}

bool newerRefused(const Sql &sql, int version, const QString &text, QString *error)
{
    if (version <= schemaVersion)
        return false;
    *error = Text::tr("the register %1 has the version %2 of its tables, newer than this "
                      "program knows (%3): use the program that made it, or a newer one")
                 .arg(sql.shown, text)
                 .arg(schemaVersion);
    return true;
}

} // namespace

QStringList schemaStatements()
{
    QStringList all;
    for (const Migration &migration : migrations)
        all += migration.statements;
    return all;
}

int storedVersion(QSqlDatabase &db, bool postgres, const QString &shown, QString *error)
{
    const Sql sql(db, postgres, shown);
    QString text;
    const int version = storedVersion(sql, error, &text);
    return version < 0 || newerRefused(sql, version, text, error) ? -1 : version;
}

bool migrate(QSqlDatabase &db, bool postgres, const QString &shown, QString *error)
{
    const Sql sql(db, postgres, shown);
    // Most opens find the register as it should be, with no write lock.
    QString text;
    int version = storedVersion(sql, error, &text);
    if (version < 0 || newerRefused(sql, version, text, error))
        return false;
    if (version == schemaVersion)
        return true;

    if (!sql.begin(error))
        return false;
    const auto fail = [&sql] {
        sql.rollback();
        return false;
    };
    // PostgreSQL: one station migrates, another waits here and finds it done.
    if (postgres &&
        !sql.exec(QStringLiteral("SELECT pg_advisory_xact_lock(1869767790)"), {}, error))
        return fail();
    if (!sql.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS register_meta (key TEXT PRIMARY KEY, "
                                 "value TEXT NOT NULL)"),
                  {}, error))
        return fail();
    QSqlQuery query;
    if (!sql.exec(QStringLiteral("SELECT value FROM register_meta WHERE key = ?"), {versionKey},
                  error, &query))
        return fail();
    version = versionRead(sql, query, error, &text);
    query.finish();
    if (version < 0 || newerRefused(sql, version, text, error))
        return fail();
    const QString id = postgres
                           ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
                           : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    for (int next = version + 1; next <= schemaVersion; ++next) {
        const Migration &migration = migrations.at(next - 1);
        for (QString statement : migration.statements) {
            if (!sql.exec(statement.replace(QLatin1String("%ID%"), id), {}, error))
                return fail();
        }
        if (migration.then && !migration.then(sql, error))
            return fail();
    }
    if (!sql.exec(QStringLiteral("DELETE FROM register_meta WHERE key = ?"), {versionKey}, error) ||
        !sql.exec(QStringLiteral("INSERT INTO register_meta (key, value) VALUES (?, ?)"),
                  {versionKey, QString::number(schemaVersion)}, error))
        return fail();
    return sql.commit(error);
}

} // namespace siteregister

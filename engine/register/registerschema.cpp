#include "engine/register/registerschema.h"

#include "engine/register/registersql.h"
#include "engine/register/registertext.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QStringList>

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

// The migration to each version, the first to version 1.
const QList<QStringList> migrations{version1, version2};
static_assert(schemaVersion == 2, "a migration for each version");

const QString versionKey = QStringLiteral("schema_version");

// The version read by `query` (0 when none is stored); -1, with the reason,
// for one no program writes: the register is damaged.
int versionRead(const Sql &sql, QSqlQuery &query, QString *error)
{
    if (!query.next())
        return 0;
    bool ok = false;
    const int version = query.value(0).toString().toInt(&ok);
    if (ok && version >= 1)
        return version;
    *error = Text::tr("the register %1 is damaged: \"%2\" is not a version of its tables")
                 .arg(sql.shown, query.value(0).toString());
    return -1;
}

// The version the register holds: 0 for a new one, -1 on failure.
int storedVersion(const Sql &sql, QString *error)
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
    return versionRead(sql, query, error);
}

bool newerRefused(const Sql &sql, int version, QString *error)
{
    if (version <= schemaVersion)
        return false;
    *error = Text::tr("the register %1 has the version %2 of its tables, newer than this "
                      "program knows (%3): use the program that made it, or a newer one")
                 .arg(sql.shown)
                 .arg(version)
                 .arg(schemaVersion);
    return true;
}

} // namespace

bool migrate(QSqlDatabase &db, bool postgres, const QString &shown, QString *error)
{
    const Sql sql(db, postgres, shown);
    // Most opens find the register as it should be, with no write lock.
    int version = storedVersion(sql, error);
    if (version < 0 || newerRefused(sql, version, error))
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
    version = versionRead(sql, query, error);
    query.finish();
    if (version < 0 || newerRefused(sql, version, error))
        return fail();
    const QString id = postgres
                           ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
                           : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    for (int next = version + 1; next <= schemaVersion; ++next) {
        for (QString statement : migrations.at(next - 1)) {
            if (!sql.exec(statement.replace(QLatin1String("%ID%"), id), {}, error))
                return fail();
        }
    }
    if (!sql.exec(QStringLiteral("DELETE FROM register_meta WHERE key = ?"), {versionKey}, error) ||
        !sql.exec(QStringLiteral("INSERT INTO register_meta (key, value) VALUES (?, ?)"),
                  {versionKey, QString::number(schemaVersion)}, error))
        return fail();
    return sql.commit(error);
}

} // namespace siteregister

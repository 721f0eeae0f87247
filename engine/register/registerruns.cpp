#include "engine/register/registerruns.h"

#include "engine/platform/tracelog.h"
#include "engine/register/claimbook.h"
#include "engine/register/registerfacts.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registersql.h"
#include "engine/register/registertext.h"
#include "engine/register/siteregister.h"

#include <QDateTime>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

using namespace siteregister;

namespace
{

// A row's time in milliseconds since 1970; false for a text that is not a
// time.
bool msOf(const QString &time, qint64 *ms)
{
    const QDateTime at = QDateTime::fromString(time, Qt::ISODateWithMs);
    if (!at.isValid())
        return false;
    *ms = at.toMSecsSinceEpoch();
    return true;
}

// A run's row in the runs table: its id, 0 with the reason.
qint64 insertRun(const Sql &sql, const RunInfo &run, QString *error)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QSqlQuery query;
    if (!sql.exec(QStringLiteral("INSERT INTO runs (tool, station, username, pid, plan_path, "
                                 "plan_hash, record, started, started_ms) VALUES (?, ?, ?, ?, ?, "
                                 "?, ?, ?, ?) RETURNING id"),
                  {textColumn(run.tool), textColumn(run.station), textColumn(run.user), run.pid,
                   textColumn(run.planPath), textColumn(run.planHash), textColumn(run.record),
                   timeText(now), now},
                  error, &query))
        return 0;
    if (query.next())
        return query.value(0).toLongLong();
    *error = sql.failure(query.lastError());
    return 0;
}

} // namespace

qint64 RegisterRuns::beginRun(const RunInfo &run, QString *error)
{
    const Sql *sql = reg.sql(error);
    if (!sql)
        return 0;
    if (run.legacyHash.isEmpty() || run.legacyHash == run.planHash)
        return insertRun(*sql, run, error);
    if (!sql->begin(error))
        return 0;
    const qint64 id = rekey(run.legacyHash, run.planHash, error) ? insertRun(*sql, run, error) : 0;
    if (id == 0) {
        sql->rollback();
        return 0;
    }
    return sql->commit(error) ? id : 0;
}

bool RegisterRuns::endRun(qint64 run, QString *error)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const Sql *sql = reg.sql(error);
    return sql &&
           sql->change(QStringLiteral("UPDATE runs SET ended = ?, ended_ms = ? WHERE id = ?"),
                       {timeText(now), now, run}, error);
}

bool RegisterRuns::insertRow(qint64 run, const RowEntry &row, bool *inserted, QString *error)
{
    const Sql *sql = reg.sql(error);
    if (!sql)
        return false;
    const QString time = row.time.isEmpty() ? TraceLog::timestamp() : row.time;
    qint64 ms = 0;
    if (!msOf(time, &ms)) {
        *error = Text::tr("the register %1: \"%2\" is not a time").arg(reg.shown(), time);
        return false;
    }
    const QString mac = row.mac();
    // The result kept as facts; the words are the reader's.
    const ResultFacts result = resultFacts(row.result);
    const bool proves = provesValues(result) && !mac.isEmpty();
    int added = 0;
    if (!sql->change(
            QStringLiteral("INSERT INTO rows (run_id, time, at_ms, plan_row, port, mac, "
                           "planned, read_back, result, facts, verified) VALUES (?, ?, ?, ?, "
                           "?, ?, ?, ?, ?, ?, ?) ON CONFLICT (time, port, mac) DO NOTHING"),
            {run, time, ms, row.planRow, textColumn(row.port), textColumn(mac),
             textColumn(valuesText(row.planned)), textColumn(valuesText(row.values)), result.code,
             textColumn(factsText(result.values)), proves ? 1 : 0},
            error, &added))
        return false;
    *inserted = added > 0;
    if (!*inserted || mac.isEmpty())
        return true;
    // Seen: the earliest and latest times win, whatever order rows come in.
    if (!sql->change(
            QStringLiteral(
                "INSERT INTO modules (mac, first_seen, first_ms, last_seen, last_ms) VALUES (?, "
                "?, ?, ?, ?) ON CONFLICT (mac) DO UPDATE SET "
                "first_seen = CASE WHEN excluded.first_ms < modules.first_ms THEN "
                "excluded.first_seen ELSE modules.first_seen END, "
                "first_ms = CASE WHEN excluded.first_ms < modules.first_ms THEN "
                "excluded.first_ms ELSE modules.first_ms END, "
                "last_seen = CASE WHEN excluded.last_ms > modules.last_ms THEN "
                "excluded.last_seen ELSE modules.last_seen END, "
                "last_ms = CASE WHEN excluded.last_ms > modules.last_ms THEN "
                "excluded.last_ms ELSE modules.last_ms END"),
            {mac, time, ms, time, ms}, error))
        return false;
    if (!proves)
        return true;
    // Verified: where and at what, unless a later verification is known
    // (an old record imported after newer runs).
    parameters::Values values = row.values;
    values.remove(ModuleField::Mac);
    const QString ip = values.value(ModuleField::Ip);
    return sql->change(QStringLiteral("UPDATE modules SET verified = ?, verified_ms = ?, ip = ?, "
                                      "vals = ?, run_id = ?, plan_row = ?, port = ?, "
                                      "replaced_by = NULL WHERE mac = ? AND (verified_ms IS "
                                      "NULL OR verified_ms <= ?)"),
                       {time, ms, ip.isEmpty() ? QVariant() : QVariant(ip),
                        textColumn(valuesText(values)), run, row.planRow, textColumn(row.port), mac,
                        ms},
                       error);
}

bool RegisterRuns::recordRow(qint64 run, const RowEntry &row, QString *error,
                             const ClaimRequest *claimed)
{
    const Sql *sql = reg.sql(error);
    if (!sql || !sql->begin(error))
        return false;
    bool inserted = false;
    const bool proves = provesValues(resultFacts(row.result)) && !row.mac().isEmpty();
    if (!insertRow(run, row, &inserted, error) ||
        (claimed && !ClaimBook(reg).end(*claimed, proves, row.mac(), error)) ||
        (proves && !row.replaces.isEmpty() && !markReplaced(row.replaces, row.mac(), error))) {
        sql->rollback();
        return false;
    }
    return sql->commit(error);
}

bool RegisterRuns::noteRewrite(qint64 run, int planRow, const QString &mac,
                               const RewriteNote &previous, QString *error)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const Sql *sql = reg.sql(error);
    return sql && sql->change(QStringLiteral("INSERT INTO rewrites (run_id, time, at_ms, mac, "
                                             "plan_row, previous) VALUES (?, ?, ?, ?, ?, ?)"),
                              {run, timeText(now), now, parameters::normalMac(mac), planRow,
                               textColumn(noteText(previous))},
                              error);
}

bool RegisterRuns::importRows(const RunInfo &run, const QList<RowEntry> &rows, int *added,
                              QString *error)
{
    *added = 0;
    const Sql *sql = reg.sql(error);
    if (!sql || !sql->begin(error))
        return false;
    const qint64 id = insertRun(*sql, run, error);
    bool ok = id != 0;
    for (int i = 0; ok && i < rows.size(); ++i) {
        bool inserted = false;
        ok = insertRow(id, rows.at(i), &inserted, error);
        *added += inserted ? 1 : 0;
    }
    if (ok && *added > 0)
        ok = endRun(id, error);
    if (!ok || *added == 0) {
        sql->rollback();
        if (!ok)
            *added = 0;
        return ok;
    }
    return sql->commit(error);
}

// A module replaced (ordan-cli replace): its successor named, and the
// rows it was done in handed over. A module has one successor: one
// replaced already is not replaced again.
bool RegisterRuns::markReplaced(const QString &oldMac, const QString &newMac, QString *error)
{
    const Sql *sql = reg.sql(error);
    if (!sql)
        return false;
    const QString old = parameters::normalMac(oldMac);
    int changed = 0;
    if (!sql->change(QStringLiteral("UPDATE modules SET replaced_by = ? WHERE mac = ? AND "
                                    "(replaced_by IS NULL OR replaced_by = ?)"),
                     {newMac, old, newMac}, error, &changed))
        return false;
    if (changed == 0) {
        ModuleEntry module;
        if (!RegisterLookup(reg).findModule(old, &module, error))
            return false;
        *error = module.known()
                     ? Text::tr("the register %1: %2 was replaced by %3 already")
                           .arg(reg.shown(), old, module.replacedBy)
                     : Text::tr("the register %1 knows no module %2").arg(reg.shown(), old);
        return false;
    }
    // The rows the old module was done in are the new one's now.
    return sql->change(QStringLiteral("UPDATE claims SET mac = ? WHERE mac = ? AND state = 'done'"),
                       {newMac, old}, error);
}

bool RegisterRuns::rekey(const QString &legacy, const QString &identity, QString *error)
{
    const Sql *sql = reg.sql(error);
    // A row claimed under both keys keeps the identity's claim.
    return sql &&
           sql->change(QStringLiteral("UPDATE runs SET plan_hash = ? WHERE plan_hash = ?"),
                       {identity, legacy}, error) &&
           sql->change(QStringLiteral("UPDATE claims SET plan_hash = ? WHERE plan_hash = ? AND "
                                      "plan_row NOT IN (SELECT plan_row FROM claims WHERE "
                                      "plan_hash = ?)"),
                       {identity, legacy, identity}, error) &&
           sql->change(QStringLiteral("DELETE FROM claims WHERE plan_hash = ?"), {legacy}, error);
}

bool RegisterRuns::adoptPlan(const QString &legacy, const QString &identity, QString *error)
{
    const Sql *sql = reg.sql(error);
    if (legacy.isEmpty() || identity.isEmpty() || legacy == identity)
        return sql != nullptr;
    if (!sql || !sql->begin(error))
        return false;
    if (!rekey(legacy, identity, error)) {
        sql->rollback();
        return false;
    }
    return sql->commit(error);
}

bool RegisterRuns::adoptPlans(const PlanKeys &keysOf, QString *error)
{
    const Sql *sql = reg.sql(error);
    QSqlQuery query;
    if (!sql || !sql->exec(QStringLiteral("SELECT DISTINCT plan_hash, plan_path FROM runs WHERE "
                                          "plan_hash <> '' AND plan_hash NOT LIKE 'rows:%'"),
                           {}, error, &query))
        return false;
    QHash<QString, QString> found; // legacy hash -> identity
    while (query.next()) {
        const QString legacy = query.value(0).toString();
        if (found.contains(legacy))
            continue;
        QString bytesHash;
        QString identity;
        if (keysOf(query.value(1).toString(), &bytesHash, &identity) && bytesHash == legacy &&
            !identity.isEmpty())
            found.insert(legacy, identity);
    }
    query.finish();
    if (found.isEmpty())
        return true;
    if (!sql->begin(error))
        return false;
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (!rekey(it.key(), it.value(), error)) {
            sql->rollback();
            return false;
        }
    }
    return sql->commit(error);
}

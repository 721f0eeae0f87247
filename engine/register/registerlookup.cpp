#include "engine/register/registerlookup.h"

#include "engine/register/registerfacts.h"
#include "engine/register/registersql.h"
#include "engine/register/siteregister.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

using namespace siteregister;

namespace
{
// The columns every module look-up reads, in the order moduleAt() takes
// them.
const QString moduleColumns = QStringLiteral(
    "SELECT m.mac, m.first_seen, m.last_seen, m.verified, m.verified_ms, m.vals, m.run_id, "
    "u.tool, u.station, u.username, u.plan_path, u.plan_hash, m.plan_row, m.port, "
    "m.replaced_by, u.record FROM modules m LEFT JOIN runs u ON u.id = m.run_id WHERE ");

ModuleEntry moduleAt(const QVariantList &q)
{
    ModuleEntry m;
    m.mac = q.at(0).toString();
    m.firstSeen = q.at(1).toString();
    m.lastSeen = q.at(2).toString();
    m.verifiedTime = q.at(3).toString();
    m.verifiedMs = q.at(4).toLongLong();
    m.values = valuesFrom(q.at(5).toString());
    m.run = q.at(6).toLongLong();
    m.tool = q.at(7).toString();
    m.station = q.at(8).toString();
    m.user = q.at(9).toString();
    m.planPath = q.at(10).toString();
    m.planHash = q.at(11).toString();
    m.planRow = q.at(12).toInt();
    m.port = q.at(13).toString();
    m.replacedBy = q.at(14).toString();
    m.record = q.at(15).toString();
    return m;
}

} // namespace

bool RegisterLookup::modules(const QString &where, const QVariantList &values,
                             QList<ModuleEntry> *modules, QString *error)
{
    modules->clear();
    const Sql *sql = reg.sql(error);
    Sql::Rows rows;
    if (!sql || !sql->select(moduleColumns + where, values, &rows, error))
        return false;
    for (const QVariantList &row : qAsConst(rows))
        modules->append(moduleAt(row));
    return true;
}

bool RegisterLookup::findModule(const QString &mac, ModuleEntry *module, QString *error)
{
    *module = ModuleEntry();
    QList<ModuleEntry> found;
    if (!modules(QStringLiteral("m.mac = ?"), {parameters::normalMac(mac)}, &found, error))
        return false;
    if (!found.isEmpty())
        *module = found.first();
    return true;
}

bool RegisterLookup::findAddress(const QString &ip, QList<ModuleEntry> *found, QString *error)
{
    return modules(QStringLiteral("m.ip = ? ORDER BY m.verified_ms DESC"), {ip}, found, error);
}

bool RegisterLookup::addressHolders(const QString &ip, const QString &exceptMac, int memoryDays,
                                    QList<ModuleEntry> *found, QString *error)
{
    const qint64 since = QDateTime::currentMSecsSinceEpoch() - qint64(memoryDays) * 86400000;
    return modules(QStringLiteral("m.ip = ? AND m.mac <> ? AND m.verified_ms >= ? AND "
                                  "m.replaced_by IS NULL ORDER BY m.verified_ms DESC"),
                   {ip, parameters::normalMac(exceptMac), since}, found, error);
}

bool RegisterLookup::allModules(QList<ModuleEntry> *found, QString *error)
{
    return modules(QStringLiteral("1 = 1 ORDER BY m.mac"), {}, found, error);
}

bool RegisterLookup::history(const QString &mac, QList<HistoryEntry> *entries, QString *error)
{
    entries->clear();
    const QString key = parameters::normalMac(mac);
    const Sql *sql = reg.sql(error);
    QSqlQuery rows;
    if (!sql ||
        !sql->exec(QStringLiteral("SELECT r.run_id, u.tool, u.station, u.username, "
                                  "u.plan_path, r.time, r.plan_row, r.port, r.planned, "
                                  "r.read_back, r.result, r.facts, r.verified, r.at_ms FROM rows "
                                  "r JOIN "
                                  "runs u ON u.id = r.run_id WHERE r.mac = ? ORDER BY "
                                  "r.at_ms, r.id"),
                   {key}, error, &rows))
        return false;
    QList<qint64> at;
    while (rows.next()) {
        HistoryEntry e;
        e.run = rows.value(0).toLongLong();
        e.tool = rows.value(1).toString();
        e.station = rows.value(2).toString();
        e.user = rows.value(3).toString();
        e.planPath = rows.value(4).toString();
        e.row.time = rows.value(5).toString();
        e.row.planRow = rows.value(6).toInt();
        e.row.port = rows.value(7).toString();
        e.row.planned = valuesFrom(rows.value(8).toString());
        e.row.values = valuesFrom(rows.value(9).toString());
        e.row.values.insert(ModuleField::Mac, key);
        e.result = ResultFacts{rows.value(10).toString(), factsFrom(rows.value(11).toString())};
        e.row.result = resultWords(e.result, false);
        e.verified = rows.value(12).toInt() != 0;
        entries->append(e);
        at << rows.value(13).toLongLong();
    }
    QSqlQuery rewrites;
    if (!sql->exec(QStringLiteral("SELECT w.run_id, u.tool, u.station, u.username, u.plan_path, "
                                  "w.time, w.plan_row, w.previous, w.at_ms FROM rewrites w "
                                  "JOIN runs u ON u.id = w.run_id WHERE w.mac = ? ORDER BY "
                                  "w.at_ms, w.id"),
                   {key}, error, &rewrites))
        return false;
    while (rewrites.next()) {
        HistoryEntry e;
        e.run = rewrites.value(0).toLongLong();
        e.tool = rewrites.value(1).toString();
        e.station = rewrites.value(2).toString();
        e.user = rewrites.value(3).toString();
        e.planPath = rewrites.value(4).toString();
        e.row.time = rewrites.value(5).toString();
        e.row.planRow = rewrites.value(6).toInt();
        e.row.values.insert(ModuleField::Mac, key);
        e.rewrite = true;
        e.previous = noteFrom(rewrites.value(7).toString());
        // After the rows up to its time, before those after it: a rewrite
        // is noted before the row that writes the module ends (and takes
        // its time); a row of the same millisecond came first.
        const qint64 ms = rewrites.value(8).toLongLong();
        int i = 0;
        while (i < at.size() && at.at(i) <= ms)
            ++i;
        entries->insert(i, e);
        at.insert(i, ms);
    }
    return true;
}

bool RegisterLookup::rowModule(const QString &planHash, int planRow, ModuleEntry *module,
                               QString *error)
{
    *module = ModuleEntry();
    QList<ModuleEntry> found;
    if (!modules(QStringLiteral("u.plan_hash = ? AND m.plan_row = ? AND m.replaced_by IS NULL "
                                "ORDER BY m.verified_ms DESC"),
                 {planHash, planRow}, &found, error))
        return false;
    if (!found.isEmpty())
        *module = found.first();
    return true;
}

bool RegisterLookup::rewrittenSince(const QString &mac, qint64 sinceMs, bool *rewritten,
                                    QString *error)
{
    *rewritten = false;
    const Sql *sql = reg.sql(error);
    Sql::Rows rows;
    if (!sql || !sql->select(QStringLiteral("SELECT COUNT(*) FROM rewrites WHERE mac = ? AND "
                                            "at_ms > ?"),
                             {parameters::normalMac(mac), sinceMs}, &rows, error))
        return false;
    *rewritten = !rows.isEmpty() && rows.first().value(0).toLongLong() > 0;
    return true;
}

bool RegisterLookup::planKnown(const QString &planHash, bool *known, QString *error)
{
    *known = false;
    const Sql *sql = reg.sql(error);
    Sql::Rows rows;
    if (!sql || !sql->select(QStringLiteral("SELECT 1 FROM runs WHERE plan_hash = ? LIMIT 1"),
                             {planHash}, &rows, error))
        return false;
    *known = !rows.isEmpty();
    return true;
}

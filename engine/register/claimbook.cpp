#include "engine/register/claimbook.h"

#include "engine/register/registerlookup.h"
#include "engine/register/registersql.h"
#include "engine/register/registertext.h"
#include "engine/register/registerverdict.h"
#include "engine/register/rowstanding.h"
#include "engine/register/siteregister.h"

using namespace siteregister;

namespace
{

// The register's clock in a statement: "%NOW%" becomes its expression.
QString atNow(const Sql &sql, QString statement)
{
    return statement.replace(QLatin1String("%NOW%"), sql.nowMs());
}

// A plan row's claims as rowClaimAt() reads them.
const QString rowClaimColumns = QStringLiteral(
    "SELECT c.plan_row, c.run_id, c.station, c.state, c.since_ms, c.lease_until_ms - %NOW%, "
    "c.mac, u.pid FROM claims c LEFT JOIN runs u ON u.id = c.run_id WHERE c.plan_hash = ? ");

ClaimEntry rowClaimAt(const QVariantList &q)
{
    ClaimEntry c;
    c.planRow = q.at(0).toInt();
    c.run = q.at(1).toLongLong();
    c.station = q.at(2).toString();
    c.state = q.at(3).toString() == QLatin1String("done") ? ClaimEntry::State::Done
                                                          : ClaimEntry::State::HeldByOther;
    c.since = timeText(q.at(4).toLongLong());
    c.leaseLeftMs = c.state == ClaimEntry::State::Done ? 0 : q.at(5).toLongLong();
    c.mac = q.at(6).toString();
    c.pid = q.at(7).toLongLong();
    return c;
}

// The claim of one plan row as it stands; state Free when there is none.
bool readRowClaim(const Sql &sql, const QString &planHash, int planRow, ClaimEntry *claim,
                  QString *error)
{
    Sql::Rows rows;
    if (!sql.select(atNow(sql, rowClaimColumns + QStringLiteral("AND c.plan_row = ?")),
                    {planHash, planRow}, &rows, error))
        return false;
    *claim = ClaimEntry();
    claim->planRow = planRow;
    if (!rows.isEmpty())
        *claim = rowClaimAt(rows.first());
    return true;
}

// Who holds a key claim, as it stands; state Free when nobody does, else
// Blocked with the holder.
bool readKeyClaim(const Sql &sql, const QString &key, ClaimEntry *claim, QString *error)
{
    Sql::Rows rows;
    if (!sql.select(atNow(sql, QStringLiteral("SELECT k.run_id, u.station, u.pid, u.plan_path, "
                                              "k.plan_row, k.port, k.since_ms, k.lease_until_ms "
                                              "- %NOW% FROM key_claims k JOIN runs u ON u.id = "
                                              "k.run_id WHERE k.claim_key = ?")),
                    {key}, &rows, error))
        return false;
    *claim = ClaimEntry();
    claim->what = key;
    if (rows.isEmpty())
        return true;
    const QVariantList &q = rows.first();
    claim->state = ClaimEntry::State::Blocked;
    claim->run = q.at(0).toLongLong();
    claim->station = q.at(1).toString();
    claim->pid = q.at(2).toLongLong();
    claim->planPath = q.at(3).toString();
    claim->heldRow = q.at(4).toInt();
    claim->port = q.at(5).toString();
    claim->since = timeText(q.at(6).toLongLong());
    claim->leaseLeftMs = q.at(7).toLongLong();
    return true;
}

bool planRowClaimed(const ClaimRequest &request)
{
    return !request.planHash.isEmpty() && request.planRow > 0;
}

} // namespace

ClaimEntry ClaimBook::claim(const ClaimRequest &request, QString *error)
{
    ClaimEntry answer;
    answer.planRow = request.planRow;
    answer.state = ClaimEntry::State::Failed;
    const Sql *sql = reg.sql(error);
    if (!sql || !sql->begin(error))
        return answer;
    const auto failed = [&] {
        sql->rollback();
        answer.state = ClaimEntry::State::Failed;
        return answer;
    };
    // A module replaced already has its one successor.
    if (!request.replaces.isEmpty()) {
        ModuleEntry old;
        if (!RegisterLookup(reg).findModule(request.replaces, &old, error))
            return failed();
        if (!old.replacedBy.isEmpty()) {
            sql->rollback();
            answer.state = ClaimEntry::State::Blocked;
            answer.what = request.keys().first();
            answer.mac = old.replacedBy;
            return answer;
        }
    }
    answer.state = ClaimEntry::State::Claimed;
    if (planRowClaimed(request)) {
        answer = claimRow(request, error);
        if (answer.state == ClaimEntry::State::Failed)
            return failed();
        if (answer.state != ClaimEntry::State::Claimed &&
            answer.state != ClaimEntry::State::TakenOver) {
            sql->rollback();
            return answer;
        }
    }
    // What the row plans beside its place in the plan, all or nothing.
    for (const QString &key : request.keys()) {
        ClaimEntry held = claimKey(request, key, error);
        if (held.state == ClaimEntry::State::Failed)
            return failed();
        if (held.state == ClaimEntry::State::Blocked) {
            sql->rollback();
            return held;
        }
    }
    if (!sql->commit(error))
        answer.state = ClaimEntry::State::Failed;
    return answer;
}

ClaimEntry ClaimBook::claimRow(const ClaimRequest &request, QString *error)
{
    const Sql &sql = *reg.sql(error);
    ClaimEntry failed;
    failed.planRow = request.planRow;
    failed.state = ClaimEntry::State::Failed;
    ClaimEntry held;
    if (!readRowClaim(sql, request.planHash, request.planRow, &held, error))
        return failed;
    const bool running = held.state == ClaimEntry::State::HeldByOther;
    if (running && held.run == request.run) {
        held.state = ClaimEntry::State::Claimed;
        return held;
    }
    if (running && held.leaseLeftMs > 0)
        return held;
    // A row done once is done already only as the register's latest word
    // on its module says now: then nothing is claimed. (A row no run has
    // claimed was looked at as the run began; its module is read before
    // it is written in any case.)
    if (!request.again && held.state == ClaimEntry::State::Done) {
        RowStanding standing;
        RegisterLookup lookup(reg);
        if (!standingOf(lookup, request.planHash,
                        PlannedRow{request.planRow, request.port, request.planned}, &standing,
                        error))
            return failed;
        if (standing.done()) {
            ClaimEntry done = held;
            done.station = doneBy(standing.module);
            done.since = standing.module.verifiedTime;
            done.mac = standing.module.mac;
            return done;
        }
    }
    int changed = 0;
    if (held.state == ClaimEntry::State::Free) {
        // The unique key decides: of two stations inserting at once, one
        // inserts and the other finds its claim.
        if (!sql.change(atNow(sql, QStringLiteral("INSERT INTO claims (plan_hash, plan_row, "
                                                  "run_id, station, state, since_ms, "
                                                  "lease_until_ms, mac) SELECT ?, ?, id, "
                                                  "station, 'running', %NOW%, %NOW% + ?, '' FROM "
                                                  "runs WHERE id = ? ON CONFLICT (plan_hash, "
                                                  "plan_row) DO NOTHING")),
                        {request.planHash, request.planRow, request.leaseMs, request.run}, error,
                        &changed))
            return failed;
    } else {
        // A row done once (not done now, or asked again) or a lease run
        // out: taken, on the condition that nobody took it meanwhile.
        if (!sql.change(atNow(sql, QStringLiteral("UPDATE claims SET run_id = ?, station = "
                                                  "(SELECT station FROM runs WHERE id = ?), "
                                                  "state = 'running', since_ms = %NOW%, "
                                                  "lease_until_ms = %NOW% + ?, mac = '' WHERE "
                                                  "plan_hash = ? AND plan_row = ? AND run_id = ? "
                                                  "AND state = ? AND (state = 'done' OR "
                                                  "lease_until_ms <= %NOW%)")),
                        {request.run, request.run, request.leaseMs, request.planHash,
                         request.planRow, held.run,
                         running ? QStringLiteral("running") : QStringLiteral("done")},
                        error, &changed))
            return failed;
    }
    if (changed == 0) {
        // Another station was quicker: its claim stands. Nobody's: this
        // run is not in the register.
        ClaimEntry current;
        if (!readRowClaim(sql, request.planHash, request.planRow, &current, error))
            return failed;
        if (current.state == ClaimEntry::State::Free) {
            *error = Text::tr("the register %1 has no run %2").arg(reg.shown()).arg(request.run);
            return failed;
        }
        current.state = ClaimEntry::State::HeldByOther;
        return current;
    }
    ClaimEntry taken;
    taken.planRow = request.planRow;
    taken.run = request.run;
    taken.state = running ? ClaimEntry::State::TakenOver : ClaimEntry::State::Claimed;
    if (running)
        taken.previousStation = held.station;
    return taken;
}

ClaimEntry ClaimBook::claimKey(const ClaimRequest &request, const QString &key, QString *error)
{
    const Sql &sql = *reg.sql(error);
    ClaimEntry answer;
    answer.what = key;
    answer.state = ClaimEntry::State::Failed;
    int changed = 0;
    if (!sql.change(atNow(sql, QStringLiteral("INSERT INTO key_claims (claim_key, run_id, "
                                              "plan_row, port, since_ms, lease_until_ms) VALUES "
                                              "(?, ?, ?, ?, %NOW%, %NOW% + ?) ON CONFLICT "
                                              "(claim_key) DO NOTHING")),
                    {key, request.run, request.planRow, textColumn(request.port), request.leaseMs},
                    error, &changed))
        return answer;
    if (changed > 0) {
        answer.state = ClaimEntry::State::Claimed;
        return answer;
    }
    ClaimEntry held;
    if (!readKeyClaim(sql, key, &held, error))
        return answer;
    // This run's own (asked again), or another's lease run out: taken,
    // on the condition that nobody took it meanwhile. A live claim of
    // another run is never gone past.
    if (held.run != request.run && held.leaseLeftMs > 0)
        return held;
    if (!sql.change(atNow(sql, QStringLiteral("UPDATE key_claims SET run_id = ?, plan_row = ?, "
                                              "port = ?, since_ms = %NOW%, lease_until_ms = "
                                              "%NOW% + ? WHERE claim_key = ? AND run_id = ? AND "
                                              "(run_id = ? OR lease_until_ms <= %NOW%)")),
                    {request.run, request.planRow, textColumn(request.port), request.leaseMs, key,
                     held.run, request.run},
                    error, &changed))
        return answer;
    if (changed == 0) {
        if (!readKeyClaim(sql, key, &held, error))
            return answer;
        return held;
    }
    answer.state =
        held.run == request.run ? ClaimEntry::State::Claimed : ClaimEntry::State::TakenOver;
    answer.previousStation = held.station;
    return answer;
}

bool ClaimBook::renew(const ClaimRequest &request, QString *error, bool *takenOver)
{
    *takenOver = false;
    const Sql *sql = reg.sql(error);
    if (!sql || !sql->begin(error))
        return false;
    const auto failed = [&] {
        sql->rollback();
        return false;
    };
    int changed = 0;
    if (planRowClaimed(request)) {
        if (!sql->change(atNow(*sql, QStringLiteral("UPDATE claims SET lease_until_ms = %NOW% + "
                                                    "? WHERE plan_hash = ? AND plan_row = ? AND "
                                                    "run_id = ? AND state = 'running'")),
                         {request.leaseMs, request.planHash, request.planRow, request.run}, error,
                         &changed))
            return failed();
        if (changed == 0) {
            ClaimEntry now;
            if (!readRowClaim(*sql, request.planHash, request.planRow, &now, error))
                return failed();
            *takenOver = true;
            *error = now.state == ClaimEntry::State::Free
                         ? Text::tr("row %1 is no longer claimed by this run").arg(request.planRow)
                         : Text::tr("row %1 was taken over by %2 (its lease had run out)")
                               .arg(request.planRow)
                               .arg(now.station);
            return failed();
        }
    }
    for (const QString &key : request.keys()) {
        if (!sql->change(atNow(*sql, QStringLiteral("UPDATE key_claims SET lease_until_ms = "
                                                    "%NOW% + ? WHERE claim_key = ? AND run_id = "
                                                    "?")),
                         {request.leaseMs, key, request.run}, error, &changed))
            return failed();
        if (changed == 0) {
            ClaimEntry now;
            if (!readKeyClaim(*sql, key, &now, error))
                return failed();
            *takenOver = true;
            *error = now.state == ClaimEntry::State::Free
                         ? Text::tr("%1 is no longer claimed by this run").arg(claimedThing(key))
                         : Text::tr("%1 was taken over by %2 (its lease had run out)")
                               .arg(claimedThing(key), now.station);
            return failed();
        }
    }
    return sql->commit(error);
}

bool ClaimBook::release(const ClaimRequest &request, QString *error)
{
    const Sql *sql = reg.sql(error);
    if (!sql || !sql->begin(error))
        return false;
    // What is still this run's is freed; what another took over is left.
    bool ok = !planRowClaimed(request) ||
              sql->change(QStringLiteral("DELETE FROM claims WHERE plan_hash = ? AND plan_row = "
                                         "? AND run_id = ? AND state = 'running'"),
                          {request.planHash, request.planRow, request.run}, error);
    for (const QString &key : request.keys()) {
        ok = ok && sql->change(QStringLiteral("DELETE FROM key_claims WHERE claim_key = ? AND "
                                              "run_id = ?"),
                               {key, request.run}, error);
    }
    if (!ok) {
        sql->rollback();
        return false;
    }
    return sql->commit(error);
}

bool ClaimBook::end(const ClaimRequest &request, bool done, const QString &mac, QString *error)
{
    const Sql *sql = reg.sql(error);
    if (!sql)
        return false;
    int changed = 0;
    if (planRowClaimed(request)) {
        const bool ok =
            done ? sql->change(
                       atNow(*sql, QStringLiteral("UPDATE claims SET state = 'done', mac "
                                                  "= ?, since_ms = %NOW%, lease_until_ms "
                                                  "= %NOW% WHERE plan_hash = ? AND "
                                                  "plan_row = ? AND run_id = ? AND state "
                                                  "= 'running'")),
                       {parameters::normalMac(mac), request.planHash, request.planRow, request.run},
                       error, &changed)
                 : sql->change(QStringLiteral("DELETE FROM claims WHERE plan_hash = ? AND "
                                              "plan_row = ? AND run_id = ? AND state = "
                                              "'running'"),
                               {request.planHash, request.planRow, request.run}, error, &changed);
        if (!ok)
            return false;
        if (changed == 0) {
            ClaimEntry held;
            if (!readRowClaim(*sql, request.planHash, request.planRow, &held, error))
                return false;
            *error = Text::tr("row %1 is not claimed by this run (%2)")
                         .arg(request.planRow)
                         .arg(held.state == ClaimEntry::State::Free
                                  ? Text::tr("nobody holds it")
                                  : Text::tr("%1 holds it").arg(held.station));
            return false;
        }
    }
    for (const QString &key : request.keys()) {
        if (!sql->change(QStringLiteral("DELETE FROM key_claims WHERE claim_key = ? AND run_id = "
                                        "?"),
                         {key, request.run}, error, &changed))
            return false;
        if (changed == 0) {
            ClaimEntry held;
            if (!readKeyClaim(*sql, key, &held, error))
                return false;
            *error = Text::tr("%1 is not claimed by this run (%2)")
                         .arg(claimedThing(key))
                         .arg(held.state == ClaimEntry::State::Free
                                  ? Text::tr("nobody holds it")
                                  : Text::tr("%1 holds it").arg(held.station));
            return false;
        }
    }
    return true;
}

bool ClaimBook::claims(const QString &planHash, QList<ClaimEntry> *entries, QString *error)
{
    entries->clear();
    const Sql *sql = reg.sql(error);
    Sql::Rows rows;
    if (!sql || !sql->select(atNow(*sql, rowClaimColumns + QStringLiteral("ORDER BY c.plan_row")),
                             {planHash}, &rows, error))
        return false;
    for (const QVariantList &row : qAsConst(rows))
        entries->append(rowClaimAt(row));
    return true;
}

// The register's side of a plan: the claims stations take on its rows, and
// what the register knows of each row.
#include "engine/register/registersql.h"
#include "engine/register/registertext.h"
#include "engine/register/registerverdict.h"
#include "engine/register/siteregister.h"

#include <QCoreApplication>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

using namespace siteregister;

namespace
{
// The claims' columns as claimAt() reads them; "%NOW%" is the register's
// clock.
const QString claimColumns =
    QStringLiteral("SELECT plan_row, run_id, station, state, since_ms, lease_until_ms - %NOW%, "
                   "mac FROM claims WHERE plan_hash = ? ");

ClaimEntry claimAt(const QSqlQuery &q)
{
    ClaimEntry c;
    c.planRow = q.value(0).toInt();
    c.run = q.value(1).toLongLong();
    c.station = q.value(2).toString();
    c.state = q.value(3).toString() == QLatin1String("done") ? ClaimEntry::State::Done
                                                             : ClaimEntry::State::HeldByOther;
    c.since = timeText(q.value(4).toLongLong());
    c.leaseLeftMs = c.state == ClaimEntry::State::Done ? 0 : q.value(5).toLongLong();
    c.mac = q.value(6).toString();
    return c;
}

// The claim of one row as it stands; state Free when there is none.
bool readClaim(const Sql &sql, const QString &planHash, int planRow, ClaimEntry *claim,
               QString *error)
{
    QSqlQuery query;
    if (!sql.exec(QString(claimColumns).replace(QLatin1String("%NOW%"), sql.nowMs()) +
                      QStringLiteral("AND plan_row = ?"),
                  {planHash, planRow}, error, &query))
        return false;
    *claim = ClaimEntry();
    claim->planRow = planRow;
    if (query.next())
        *claim = claimAt(query);
    return true;
}

} // namespace

ClaimEntry SiteRegister::claimRow(qint64 run, const QString &planHash, int planRow, int leaseMs,
                                  bool again, QString *error)
{
    ClaimEntry claim;
    claim.planRow = planRow;
    claim.state = ClaimEntry::State::Failed;
    if (!ready(error) || !d->sql->begin(error))
        return claim;
    const Sql &sql = *d->sql;
    const auto fail = [&] {
        sql.rollback();
        claim.state = ClaimEntry::State::Failed;
        return claim;
    };
    QSqlQuery query;
    if (!sql.exec(QStringLiteral("SELECT station FROM runs WHERE id = ?"), {run}, error, &query))
        return fail();
    if (!query.next()) {
        *error = Text::tr("the register %1 has no run %2").arg(shown()).arg(run);
        return fail();
    }
    const QString station = query.value(0).toString();
    query.finish();
    const QString now = sql.nowMs();
    int changed = 0;
    // The unique key decides: of two stations inserting at once, one
    // inserts and the other finds its claim.
    if (!sql.change(
            QStringLiteral("INSERT INTO claims (plan_hash, plan_row, run_id, station, state, "
                           "since_ms, lease_until_ms, mac) VALUES (?, ?, ?, ?, 'running', ") +
                now + QStringLiteral(", ") + now +
                QStringLiteral(" + ?, '') ON CONFLICT (plan_hash, plan_row) DO NOTHING"),
            {planHash, planRow, run, station, leaseMs}, error, &changed))
        return fail();
    const bool inserted = changed > 0;
    ClaimEntry held;
    if (!readClaim(sql, planHash, planRow, &held, error))
        return fail();
    claim = held;
    const bool done = held.state == ClaimEntry::State::Done;
    if (inserted || (held.run == run && !done)) {
        claim.state = ClaimEntry::State::Claimed;
    } else if (done && !again) {
        claim.state = ClaimEntry::State::Done;
    } else if (done || held.leaseLeftMs <= 0) {
        // A done row asked again, or a lease run out: taken, on the
        // condition that nobody took it meanwhile.
        if (!sql.change(QStringLiteral("UPDATE claims SET run_id = ?, station = ?, state = "
                                       "'running', since_ms = ") +
                            now + QStringLiteral(", lease_until_ms = ") + now +
                            QStringLiteral(" + ?, mac = '' WHERE plan_hash = ? AND plan_row = ? "
                                           "AND run_id = ? AND state = ?") +
                            (done ? QString() : QStringLiteral(" AND lease_until_ms <= ") + now),
                        {run, station, leaseMs, planHash, planRow, held.run,
                         done ? QStringLiteral("done") : QStringLiteral("running")},
                        error, &changed))
            return fail();
        if (changed > 0) {
            if (!readClaim(sql, planHash, planRow, &claim, error))
                return fail();
            claim.state = done ? ClaimEntry::State::Claimed : ClaimEntry::State::TakenOver;
            claim.previousStation = held.station;
        } else {
            if (!readClaim(sql, planHash, planRow, &claim, error))
                return fail();
            claim.state = ClaimEntry::State::HeldByOther;
        }
    } else {
        claim.state = ClaimEntry::State::HeldByOther;
    }
    if (!sql.commit(error))
        claim.state = ClaimEntry::State::Failed;
    return claim;
}

bool SiteRegister::renewClaim(qint64 run, const QString &planHash, int planRow, int leaseMs,
                              QString *error, bool *takenOver)
{
    if (takenOver)
        *takenOver = false;
    if (!ready(error))
        return false;
    const Sql &sql = *d->sql;
    int changed = 0;
    if (!sql.change(QStringLiteral("UPDATE claims SET lease_until_ms = ") + sql.nowMs() +
                        QStringLiteral(" + ? WHERE plan_hash = ? AND plan_row = ? AND run_id = ? "
                                       "AND state = 'running'"),
                    {leaseMs, planHash, planRow, run}, error, &changed))
        return false;
    if (changed > 0)
        return true;
    ClaimEntry now;
    if (!readClaim(sql, planHash, planRow, &now, error))
        return false;
    if (takenOver)
        *takenOver = true;
    *error = now.state == ClaimEntry::State::Free
                 ? Text::tr("row %1 is no longer claimed by this run").arg(planRow)
                 : Text::tr("row %1 was taken over by %2 (its lease had run out)")
                       .arg(planRow)
                       .arg(now.station);
    return false;
}

bool SiteRegister::releaseClaim(qint64 run, const QString &planHash, int planRow, bool done,
                                const QString &mac, QString *error)
{
    if (!ready(error))
        return false;
    const Sql &sql = *d->sql;
    const QString now = sql.nowMs();
    int changed = 0;
    const bool ok =
        done ? sql.change(QStringLiteral("UPDATE claims SET state = 'done', mac = ?, since_ms = ") +
                              now + QStringLiteral(", lease_until_ms = ") + now +
                              QStringLiteral(" WHERE plan_hash = ? AND plan_row = ? AND run_id = ? "
                                             "AND state = 'running'"),
                          {parameters::normalMac(mac), planHash, planRow, run}, error, &changed)
             : sql.change(QStringLiteral("DELETE FROM claims WHERE plan_hash = ? AND plan_row = ? "
                                         "AND run_id = ? AND state = 'running'"),
                          {planHash, planRow, run}, error, &changed);
    if (!ok)
        return false;
    if (changed > 0)
        return true;
    ClaimEntry held;
    if (!readClaim(sql, planHash, planRow, &held, error))
        return false;
    *error =
        Text::tr("row %1 is not claimed by this run (%2)")
            .arg(planRow)
            .arg(held.state == ClaimEntry::State::Free ? Text::tr("nobody holds it")
                                                       : Text::tr("%1 holds it").arg(held.station));
    return false;
}

bool SiteRegister::claims(const QString &planHash, QList<ClaimEntry> *entries, QString *error)
{
    entries->clear();
    QSqlQuery query;
    if (!ready(error) ||
        !d->sql->exec(QString(claimColumns).replace(QLatin1String("%NOW%"), d->sql->nowMs()) +
                          QStringLiteral("ORDER BY plan_row"),
                      {planHash}, error, &query))
        return false;
    while (query.next())
        entries->append(claimAt(query));
    return true;
}

bool SiteRegister::siteStanding(const QString &planHash, const QList<PlannedRow> &rows,
                                QList<RowStanding> *standing, QString *error)
{
    standing->clear();
    // The modules last verified as this plan's rows, the latest last.
    QList<ModuleEntry> ofPlan;
    if (!modules(QStringLiteral("u.plan_hash = ? AND m.replaced_by IS NULL ORDER BY "
                                "m.verified_ms"),
                 {planHash}, &ofPlan, error))
        return false;
    QHash<int, ModuleEntry> byRow;
    for (const ModuleEntry &m : qAsConst(ofPlan))
        byRow.insert(m.planRow, m);
    QList<ClaimEntry> held;
    if (!claims(planHash, &held, error))
        return false;
    QHash<int, ClaimEntry> claimOf;
    for (const ClaimEntry &c : qAsConst(held))
        claimOf.insert(c.planRow, c);

    for (const PlannedRow &row : rows) {
        RowStanding s;
        s.row = row.row;
        s.module = byRow.value(row.row);
        const QString ip = row.planned.value(ModuleField::Ip);
        if (!s.module.known() && !ip.isEmpty()) {
            QList<ModuleEntry> atAddress;
            if (!findAddress(ip, &atAddress, error))
                return false;
            for (const ModuleEntry &m : qAsConst(atAddress)) {
                if (m.replacedBy.isEmpty()) {
                    s.module = m;
                    break;
                }
            }
        }
        if (s.module.known()) {
            s.differing = differingFields(s.module.values, row.planned);
            s.kind =
                s.differing.isEmpty() ? RowStanding::Kind::Verified : RowStanding::Kind::Differs;
        }
        s.claim = claimOf.value(row.row);
        s.claim.planRow = row.row;
        standing->append(s);
    }
    return true;
}

// A module replaced (ordan-cli replace): its successor named, and the
// rows it was done in handed over.
bool SiteRegister::markReplaced(const QString &oldMac, const QString &newMac, QString *error)
{
    const QString old = parameters::normalMac(oldMac);
    int changed = 0;
    if (!d->sql->change(QStringLiteral("UPDATE modules SET replaced_by = ? WHERE mac = ?"),
                        {newMac, old}, error, &changed))
        return false;
    if (changed == 0) {
        *error = Text::tr("the register %1 knows no module %2").arg(shown(), old);
        return false;
    }
    // The rows the old module was done in are the new one's now.
    return d->sql->change(
        QStringLiteral("UPDATE claims SET mac = ? WHERE mac = ? AND state = 'done'"), {newMac, old},
        error);
}

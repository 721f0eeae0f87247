#ifndef REGISTERRUNS_H
#define REGISTERRUNS_H

#include "engine/register/registerentries.h"

#include <QList>
#include <QString>

#include <functional>

class SiteRegister;

// What the register is told as runs go: a run begun and ended, each row's
// outcome in the order of its CSV record (and what it tells of its module),
// a rewrite noted, rows backfilled from a record; and the plans a register
// of the first tables' version knew by their bytes, known by their rows.
class RegisterRuns
{
public:
    explicit RegisterRuns(SiteRegister &reg) : reg(reg) {}

    // A run begun: its id (0 on failure). Ended when it is done. A run
    // whose plan names a legacy hash (RunInfo::legacyHash) brings that
    // hash's runs and claims to the plan's identity first, in the same
    // transaction.
    qint64 beginRun(const siteregister::RunInfo &run, QString *error);
    bool endRun(qint64 run, QString *error);

    // Appends a row's outcome, and what it tells of its module: seen now;
    // verified at the values read back when the result proves them. False
    // when it could not be written: the row then has to fail.
    // With `claimed`, the row's claims end in the same transaction (its
    // plan's row done when the row proves its values): a row whose claim
    // another took over is not recorded. A row that replaces a module
    // (RowEntry::replaces) and proves its values marks it replaced, and
    // hands it its done claims.
    bool recordRow(qint64 run, const siteregister::RowEntry &row, QString *error,
                   const siteregister::ClaimRequest *claimed = nullptr);
    // Notes that a module the register knew as verified was written again
    // (asked with --rewrite, or named by a write); `previous` holds what it
    // was, and whose address it took.
    bool noteRewrite(qint64 run, int planRow, const QString &mac,
                     const siteregister::RewriteNote &previous, QString *error);
    // Backfills rows from a record: a run of `run` with the rows it did not
    // have yet (a row is the same by its time, port and MAC). *added counts
    // them; none added leaves no run behind, so that an import is
    // idempotent. One transaction: all or nothing.
    bool importRows(const siteregister::RunInfo &run, const QList<siteregister::RowEntry> &rows,
                    int *added, QString *error);

    // The plans this register knows by a legacy hash whose file is still
    // where its runs found it, with the same bytes: their runs and claims
    // become the plan's identity. `keysOf` reads a plan file: its bytes'
    // legacy hash and its identity (false when it cannot be read). Files
    // gone or changed are left until their plan is run again.
    using PlanKeys =
        std::function<bool(const QString &planPath, QString *legacyHash, QString *identity)>;
    bool adoptPlans(const PlanKeys &keysOf, QString *error);
    // One plan met: what the register knew of it by its bytes' `legacy`
    // hash becomes its `identity`'s.
    bool adoptPlan(const QString &legacy, const QString &identity, QString *error);

private:
    bool insertRow(qint64 run, const siteregister::RowEntry &row, bool *inserted, QString *error);
    bool markReplaced(const QString &oldMac, const QString &newMac, QString *error);
    // The runs and claims of `legacy` become `identity`'s, in the caller's
    // transaction.
    bool rekey(const QString &legacy, const QString &identity, QString *error);

    SiteRegister &reg;
};

#endif // REGISTERRUNS_H

#ifndef CLAIMBOOK_H
#define CLAIMBOOK_H

#include "engine/register/registerentries.h"

#include <QList>
#include <QString>

class SiteRegister;

namespace siteregister
{
// A claim's lease: the least a run may ask for. A shorter one would run
// out between two renewals on a loaded station or a slow server, and
// another run would take a row that is still being written.
inline constexpr int minimumLeaseMs = 2000;
inline constexpr int defaultLeaseMs = 60000;
// A claim held is renewed every third of its lease: two renewals may be
// late before it runs out.
inline constexpr int renewalMs(int leaseMs)
{
    return leaseMs / 3;
}
} // namespace siteregister

// The claims of the register, kept under the database's own unique keys:
// a plan's row (two stations split a plan; one claim per row), an address
// (never two rows writing one address at once) and a replaced module (one
// successor). A row claims all it needs in one transaction before anything
// is written to its module (SQLite: BEGIN IMMEDIATE, PostgreSQL: the keys'
// constraints), holds them for a lease on the register's clock while it
// runs, and ends them with its outcome: the plan's row done when verified;
// the address and the old module then the verified module's, as the
// register's modules say. A claim whose lease ran out is taken over by the
// next run that asks.
class ClaimBook
{
public:
    explicit ClaimBook(SiteRegister &reg) : reg(reg) {}

    // Claims what `request` asks, all or nothing. The answer's state says
    // how it went: Claimed or TakenOver (all of it this run's now), Done
    // (the plan's row is done already: nothing claimed), HeldByOther (the
    // plan's row is another's, its lease running), Blocked (another run
    // holds the address or the old module, its lease running: who, and
    // where), Failed with *error when the register could not be asked.
    siteregister::ClaimEntry claim(const siteregister::ClaimRequest &request, QString *error);
    // Renews what the request claimed. False when a claim was taken over
    // (*takenOver, and who holds it now in *error) or when the register
    // could not be asked.
    bool renew(const siteregister::ClaimRequest &request, QString *error, bool *takenOver);
    // Frees what the request claimed, for a row that did not run.
    bool release(const siteregister::ClaimRequest &request, QString *error);
    // Ends the claims in the caller's transaction, as its row's outcome is
    // kept: the plan's row done on `mac` (when `done`) or free again, the
    // other keys free (the modules hold what is verified). False when one
    // of them is no longer this run's.
    bool end(const siteregister::ClaimRequest &request, bool done, const QString &mac,
             QString *error);
    // The claims of a plan's rows, by row (none Free).
    bool claims(const QString &planHash, QList<siteregister::ClaimEntry> *entries, QString *error);

private:
    siteregister::ClaimEntry claimRow(const siteregister::ClaimRequest &request, QString *error);
    siteregister::ClaimEntry claimKey(const siteregister::ClaimRequest &request, const QString &key,
                                      QString *error);

    SiteRegister &reg;
};

#endif // CLAIMBOOK_H

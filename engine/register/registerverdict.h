#ifndef REGISTERVERDICT_H
#define REGISTERVERDICT_H

#include "engine/register/registerentries.h"

// What the register's knowledge of a module means for a row about to write
// it, decided here once for every front end, and the words that say so.
namespace siteregister
{

// The planned parameters that `held` does not hold (compared as the
// read-back is: the texts, exactly).
QList<ModuleField> differingFields(const parameters::Values &held,
                                   const parameters::Values &planned);

enum class ModuleVerdict {
    Unknown,           // never verified: the row writes it
    HoldsRow,          // verified at every value the row plans: no rewrite
    VerifiedElsewhere, // verified at other values: rewritten only when asked
};
ModuleVerdict judgeModule(const ModuleEntry &module, const parameters::Values &planned);

// Where a module was last verified: "verified as 10.70.0.82 (row 3 of
// site.csv, station, 2026-05-04T10:20:30.123+03:00)"; for a write without
// a plan, its port instead of the row.
QString verifiedAs(const ModuleEntry &module);

// How long an address stays a module's in the register after it was last
// verified there (--address-memory).
inline constexpr int defaultAddressMemoryDays = 365;

// "this module, MAC, is already verified as 10.70.0.82 (row 3 of site.csv,
// station, time): connect the next one"
QString alreadyVerifiedText(const ModuleEntry &module);
// "10.70.0.82 is held by MAC, verified as 10.70.0.82 (row 3 of site.csv,
// station, time)"
QString addressHeldText(const QString &ip, const ModuleEntry &holder);

// A plan row's standing in words: "verified by STATION (USER) at TIME on
// MAC", "differs: ip, mask (MAC, verified ...)", "never verified"; with a
// claim, "claimed by STATION" or the like after it.
QString standingText(const RowStanding &standing);

} // namespace siteregister

#endif // REGISTERVERDICT_H

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

// The values a replacement of `module` is written with: those it was last
// verified at (address, mask, gateway, TCP port, bus settings), none of
// its own identity.
parameters::Values replacementValues(const ModuleEntry &module);

// How long an address stays a module's in the register after it was last
// verified there (--address-memory).
inline constexpr int defaultAddressMemoryDays = 365;

// "this module, MAC, is already verified as 10.70.0.82 (row 3 of site.csv,
// station, time): connect the next one"
QString alreadyVerifiedText(const ModuleEntry &module);
// "10.70.0.82 is held by MAC, verified as 10.70.0.82 (row 3 of site.csv,
// station, time)"
QString addressHeldText(const QString &ip, const ModuleEntry &holder);

// Who verified a module, as a done row names it: its station, or the
// record it was imported from.
QString doneBy(const ModuleEntry &module);
// A plan's row done by a run, as its claim says: "verified by STATION at
// TIME on MAC"; one another run holds: "claimed by STATION since TIME".
QString claimDoneText(const ClaimEntry &claim);
// The same of a row done on `module`, as the register's standing has it.
QString doneText(const ModuleEntry &module);
QString claimHeldText(const ClaimEntry &claim);
// What a claim's key holds, in words: "10.0.0.1", "the replacement of MAC".
QString claimedThing(const QString &key);
// A claim another run holds live (ClaimEntry::State::Blocked): "10.0.0.1 is
// claimed by STATION (process 4711, row 3 of site.csv) since TIME",
// "MAC is being replaced by STATION (process 4711, on /dev/ttyUSB1) since
// TIME", "MAC was replaced by MAC2 already".
QString claimBlockedText(const ClaimEntry &claim);

// A plan row's standing in words: "verified by STATION (USER) at TIME on
// MAC", "differs: ip, mask (MAC, verified ...)", "rewritten since: MAC,
// verified ...", "verified in another plan: MAC, verified ...", "never
// verified"; with a claim, "claimed by STATION" or the like after it.
QString standingText(const RowStanding &standing);

} // namespace siteregister

#endif // REGISTERVERDICT_H

#ifndef ROWSTANDING_H
#define ROWSTANDING_H

#include "engine/register/registerentries.h"

#include <QString>

class RegisterLookup;

namespace siteregister
{

// Where a plan's row stands, the one answer for every command and window
// that asks whether a row is done already (commission and the site
// window skip it, register site says so): Verified (done) only when the
// register's latest word on the row's module is verified as this row of
// this plan (or, found at its address, verified with no plan at all: an
// imported record, a write), at every planned value, and no rewrite of it
// was noted since; replaced modules are their successors'. False with the
// reason when the register could not be asked.
bool standingOf(RegisterLookup &lookup, const QString &planHash, const PlannedRow &row,
                RowStanding *standing, QString *error);

} // namespace siteregister

#endif // ROWSTANDING_H

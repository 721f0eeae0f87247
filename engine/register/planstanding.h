#ifndef PLANSTANDING_H
#define PLANSTANDING_H

#include "engine/register/registerentries.h"

#include <QList>
#include <QString>

class SiteRegister;

namespace siteregister
{

// Each row of a plan with what the register knows of it (standingOf: the
// module known for the row, verified at every planned value and done,
// differing, verified in another plan, or never) and its claim. The
// answer of register site, of the site window, and of a commissioning run
// for the rows done already.
bool siteStanding(SiteRegister &reg, const QString &planHash, const QList<PlannedRow> &rows,
                  QList<RowStanding> *standing, QString *error);

} // namespace siteregister

#endif // PLANSTANDING_H

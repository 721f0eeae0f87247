#include "engine/register/planstanding.h"

#include "engine/register/claimbook.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registerverdict.h"
#include "engine/register/rowstanding.h"

#include <QHash>

namespace siteregister
{

bool siteStanding(SiteRegister &reg, const QString &planHash, const QList<PlannedRow> &rows,
                  QList<RowStanding> *standing, QString *error)
{
    standing->clear();
    QList<ClaimEntry> held;
    if (!ClaimBook(reg).claims(planHash, &held, error))
        return false;
    QHash<int, ClaimEntry> claimOf;
    for (const ClaimEntry &c : qAsConst(held))
        claimOf.insert(c.planRow, c);
    RegisterLookup lookup(reg);
    for (const PlannedRow &row : rows) {
        RowStanding s;
        if (!standingOf(lookup, planHash, row, &s, error))
            return false;
        s.claim = claimOf.value(row.row);
        s.claim.planRow = row.row;
        standing->append(s);
    }
    return true;
}

} // namespace siteregister

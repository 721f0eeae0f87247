#include "engine/register/rowstanding.h"

#include "engine/register/registerlookup.h"
#include "engine/register/registerverdict.h"

namespace siteregister
{

bool standingOf(RegisterLookup &lookup, const QString &planHash, const PlannedRow &row,
                RowStanding *standing, QString *error)
{
    *standing = RowStanding();
    standing->row = row.row;
    ModuleEntry &module = standing->module;
    if (!lookup.rowModule(planHash, row.row, &module, error))
        return false;
    const bool asRow = module.known();
    // Otherwise the module last verified at its planned address.
    const QString ip = row.planned.value(ModuleField::Ip);
    if (!asRow && !ip.isEmpty()) {
        QList<ModuleEntry> atAddress;
        if (!lookup.findAddress(ip, &atAddress, error))
            return false;
        for (const ModuleEntry &m : qAsConst(atAddress)) {
            if (m.replacedBy.isEmpty()) {
                module = m;
                break;
            }
        }
    }
    if (!module.known())
        return true;
    standing->differing = differingFields(module.values, row.planned);
    if (!lookup.rewrittenSince(module.mac, module.verifiedMs, &standing->rewritten, error))
        return false;
    if (!standing->differing.isEmpty() || standing->rewritten)
        standing->kind = RowStanding::Kind::Differs;
    else if (asRow || module.planHash.isEmpty())
        standing->kind = RowStanding::Kind::Verified;
    else
        standing->kind = RowStanding::Kind::Elsewhere;
    return true;
}

} // namespace siteregister

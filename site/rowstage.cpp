#include "rowstage.h"

#include "console/parameters.h"

namespace
{

// The name under which a write reports the parameter it sends.
bool isWrittenParameter(const QString &what)
{
    for (const ModuleField field : parameters::writeOrder()) {
        if (parameters::fieldKey(field) == what)
            return true;
    }
    return false;
}

} // namespace

RowProgress advanceRow(const RowProgress &before, int index, int total, const QString &what)
{
    RowProgress next;
    next.step = index;
    next.steps = total;
    next.item = what;
    // Reports without a count are the restart command and the wait for the
    // module's return.
    if (total <= 0) {
        next.stage = RowStage::Restarting;
        next.step = 0;
        next.steps = 0;
        return next;
    }
    switch (before.stage) {
    case RowStage::Restarting:
    case RowStage::ReadingBack:
        next.stage = RowStage::ReadingBack;
        break;
    case RowStage::Writing:
        next.stage = RowStage::Writing;
        break;
    default:
        next.stage = isWrittenParameter(what) ? RowStage::Writing : RowStage::Identifying;
        break;
    }
    return next;
}

bool isFinal(RowStage stage)
{
    switch (stage) {
    case RowStage::Verified:
    case RowStage::Matches:
    case RowStage::Differs:
    case RowStage::Failed:
    case RowStage::Interrupted:
    case RowStage::NotReached:
        return true;
    default:
        return false;
    }
}

bool isActive(RowStage stage)
{
    switch (stage) {
    case RowStage::Identifying:
    case RowStage::Writing:
    case RowStage::Restarting:
    case RowStage::ReadingBack:
        return true;
    default:
        return false;
    }
}

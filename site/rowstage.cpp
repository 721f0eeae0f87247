#include "rowstage.h"

RowProgress rowProgress(JobStage stage, int index, int total, const QString &what)
{
    RowProgress next;
    next.step = index;
    next.steps = total;
    next.item = what;
    switch (stage) {
    case JobStage::Identifying:
        next.stage = RowStage::Identifying;
        break;
    case JobStage::Writing:
        next.stage = RowStage::Writing;
        break;
    case JobStage::Restarting:
        next.stage = RowStage::Restarting;
        break;
    case JobStage::ReadingBack:
        next.stage = RowStage::ReadingBack;
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

#include "site/rowstage.h"

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

RowProgress finishedProgress(const RowOutcome &outcome)
{
    RowProgress last;
    switch (outcome.status) {
    case RowOutcome::Status::Verified:
    case RowOutcome::Status::Unverified:
        last.stage = RowStage::Verified;
        break;
    case RowOutcome::Status::Matches:
        last.stage = RowStage::Matches;
        break;
    case RowOutcome::Status::Differs: {
        last.stage = RowStage::Differs;
        QStringList fields;
        for (const RowOutcome::Difference &d : outcome.differences)
            fields << parameters::fieldKey(d.field);
        last.item = fields.join(QLatin1String(", "));
        break;
    }
    case RowOutcome::Status::Failed:
        last.stage = RowStage::Failed;
        last.item = outcome.failureWord();
        break;
    case RowOutcome::Status::Interrupted:
        last.stage = RowStage::Interrupted;
        break;
    case RowOutcome::Status::NotReached:
        last.stage = RowStage::NotReached;
        break;
    }
    return last;
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
    case RowStage::Reaching:
        return true;
    default:
        return false;
    }
}

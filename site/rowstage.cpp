#include "site/rowstage.h"

#include "engine/jobs/rowwording.h"
#include "protocol/parameters.h"

namespace
{

// The parameter a write step names by its key, in the window's language.
QString parameterName(const QString &key)
{
    for (const ModuleField field : parameters::writeOrder()) {
        if (parameters::fieldKey(field) == key)
            return RowWording::fieldName(field);
    }
    return key;
}

} // namespace

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
        next.item = parameterName(what);
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

namespace
{

// The row's last stage for what it came to. Every status has its case: the
// compiler names one that is new.
RowStage finalStage(RowOutcome::Status status)
{
    switch (status) {
    case RowOutcome::Status::Verified:
    case RowOutcome::Status::Unverified: // not asked by the window
        return RowStage::Verified;
    case RowOutcome::Status::Matches:
        return RowStage::Matches;
    case RowOutcome::Status::Differs:
        return RowStage::Differs;
    case RowOutcome::Status::Failed:
        return RowStage::Failed;
    case RowOutcome::Status::Interrupted:
        return RowStage::Interrupted;
    case RowOutcome::Status::NotReached:
        return RowStage::NotReached;
    case RowOutcome::Status::AlreadyDone:
        return RowStage::DoneElsewhere;
    }
    return RowStage::Failed;
}

} // namespace

RowProgress finishedProgress(const RowOutcome &outcome)
{
    RowProgress last;
    last.stage = finalStage(outcome.status);
    last.ended = RowWording::shortLine(outcome);
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
    case RowStage::DoneElsewhere:
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
    case RowStage::CheckingBus:
        return true;
    default:
        return false;
    }
}

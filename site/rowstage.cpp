#include "site/rowstage.h"

RowProgress rowProgress(JobStage stage, int index, int total, const QString &what)
{
    RowProgress next;
    next.step = index;
    next.steps = total;
    next.item = what;
    // The job's stages in their order.
    static const RowStage stageOf[] = {RowStage::Identifying, RowStage::Writing,
                                       RowStage::Restarting, RowStage::ReadingBack};
    next.stage = stageOf[int(stage)];
    return next;
}

RowProgress finishedProgress(const RowOutcome &outcome)
{
    // The row's last stage shows the outcome's status, in its order.
    static const RowStage stageOf[] = {
        RowStage::Verified,    // Verified
        RowStage::Verified,    // Unverified (not asked by the window)
        RowStage::Matches,     // Matches
        RowStage::Differs,     // Differs
        RowStage::Failed,      // Failed
        RowStage::Interrupted, // Interrupted
        RowStage::NotReached,  // NotReached
    };
    RowProgress last;
    last.stage = stageOf[int(outcome.status)];
    if (outcome.status == RowOutcome::Status::Differs) {
        QList<ModuleField> fields;
        for (const RowOutcome::Difference &d : outcome.differences)
            fields << d.field;
        last.item = parameters::fieldKeys(fields);
    } else if (outcome.status == RowOutcome::Status::Failed) {
        last.item = outcome.failureWord();
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

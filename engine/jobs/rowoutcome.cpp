#include "engine/jobs/rowoutcome.h"

namespace
{

using Ending = WriteResult::Ending;

// The fields of the differences, in their order.
QList<ModuleField> fieldsOf(const QList<RowOutcome::Difference> &differences)
{
    QList<ModuleField> fields;
    for (const RowOutcome::Difference &d : differences)
        fields << d.field;
    return fields;
}

// The module's values as the record shows them (RowOutcome::recordValues).
parameters::Values recordValuesOf(const WriteResult &r)
{
    parameters::Values row = r.identity;
    if (r.ending == Ending::Done && !r.verify) {
        for (auto it = r.planned.cbegin(); it != r.planned.cend(); ++it)
            row.insert(it.key(), it.value());
    } else if (!r.identifiedMac.isEmpty() && r.readBack.mac() == r.identifiedMac) {
        for (auto it = r.readBack.values.cbegin(); it != r.readBack.values.cend(); ++it) {
            if (!parameters::identityFields().contains(it.key()))
                row.insert(it.key(), it.value());
        }
    }
    return row;
}

} // namespace

RowOutcome RowOutcome::of(const WriteResult &r)
{
    RowOutcome o(r);
    o.recordCells = recordValuesOf(r);

    // The judgement, one ending at a time: status, failure, exit code and
    // the record's words. Why, in words, is RowWording::reason's.
    const auto fail = [&o](Failure failure, JobResult code, const QString &record) {
        o.status = Status::Failed;
        o.failure = failure;
        o.exitCode = int(code);
        o.recordText = record;
    };
    switch (r.ending) {
    case Ending::Done:
        o.status = !r.verify ? Status::Unverified : r.audit ? Status::Matches : Status::Verified;
        o.recordText = o.status == Status::Unverified ? QStringLiteral("unverified")
                       : r.audit                      ? QStringLiteral("matches")
                                                      : QStringLiteral("verified");
        if (o.unchanged())
            o.recordText = QStringLiteral("verified, not rewritten");
        if (o.inRegister() && !o.inRegister()->kept) {
            // The module is right, but the register lacks its row: a later
            // run would not know it. The record says so, as the screen does.
            o.status = Status::Failed;
            o.failure = Failure::NotRegistered;
            o.exitCode = int(JobResult::RegisterFailed);
            o.recordText += QStringLiteral(", not in the register");
        } else if (o.record() && !o.record()->kept) {
            // The module is right, but its row is not in the record: the
            // record and the screen must say the same.
            o.status = Status::Failed;
            o.failure = Failure::NotRecorded;
            o.exitCode = int(JobResult::FileNotWritten);
        }
        break;
    case Ending::PortInUse:
        fail(Failure::PortNotOpened, JobResult::PortUnavailable, QStringLiteral("port in use"));
        break;
    case Ending::PortNotOpened:
        fail(Failure::PortNotOpened, JobResult::PortUnavailable, QStringLiteral("port not opened"));
        break;
    case Ending::Interrupted:
        o.status = Status::Interrupted;
        o.exitCode = int(JobResult::Interrupted);
        o.recordText = QStringLiteral("interrupted");
        if (r.resetSent)
            o.recordText += QStringLiteral(" after the restart command");
        break;
    case Ending::Silent:
        fail(Failure::NoAnswer, JobResult::NoAnswer, QStringLiteral("no answer"));
        break;
    case Ending::NotIdentified:
        fail(Failure::NoAnswer, JobResult::NoAnswer, QStringLiteral("not identified"));
        break;
    case Ending::NotAdmitted:
        switch (r.admission.refusal) {
        case WriteResult::Admission::Refusal::ByRun:
            fail(Failure::NoAnswer, JobResult::NoAnswer, QStringLiteral("not a new module"));
            break;
        case WriteResult::Admission::Refusal::Elsewhere:
            fail(Failure::AlreadyVerified, JobResult::RegisterStop,
                 QStringLiteral("already verified"));
            break;
        case WriteResult::Admission::Refusal::Held:
            fail(Failure::AddressHeld, JobResult::RegisterStop, QStringLiteral("address held"));
            break;
        case WriteResult::Admission::Refusal::Unanswered:
        case WriteResult::Admission::Refusal::Closed:
            fail(Failure::NoRegister, JobResult::RegisterFailed,
                 QStringLiteral("register unavailable"));
            break;
        }
        break;
    case Ending::Abandoned:
        fail(Failure::ClaimLost, JobResult::RegisterFailed, QStringLiteral("claim lost"));
        break;
    case Ending::HeldValueMissing:
    case Ending::NoReply:
    case Ending::LinkLost:
        fail(Failure::NoAnswer, JobResult::NoAnswer, QStringLiteral("no answer"));
        break;
    case Ending::Unsound:
        fail(Failure::InvalidConfiguration, JobResult::Invalid,
             QStringLiteral("invalid configuration"));
        break;
    case Ending::Refused:
        fail(Failure::Refused, JobResult::Refused,
             QStringLiteral("refused: ") + parameters::fieldKey(r.field));
        break;
    case Ending::RestartRefused:
        fail(Failure::Refused, JobResult::Refused, QStringLiteral("refused: reset"));
        break;
    case Ending::DidNotRestart:
        fail(Failure::NoAnswer, JobResult::NoAnswer, QStringLiteral("did not restart"));
        break;
    case Ending::NotBack:
        fail(Failure::NoAnswer, JobResult::NoAnswer, QStringLiteral("no answer after restart"));
        break;
    case Ending::ReadBackSilent:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             r.audit ? QStringLiteral("no answer") : QStringLiteral("no answer after restart"));
        break;
    case Ending::ReadBackNotIdentified:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             r.audit ? QStringLiteral("not identified")
                     : QStringLiteral("not identified after restart"));
        break;
    case Ending::OtherModule:
        // Nothing of this row is proven.
        fail(Failure::AnotherModule, JobResult::Mismatch,
             QStringLiteral("different module: ") + r.readBack.mac());
        break;
    case Ending::Differs:
        o.status = Status::Differs;
        o.exitCode = int(JobResult::Mismatch);
        o.recordText = (r.audit ? QStringLiteral("differs: ") : QStringLiteral("mismatch: ")) +
                       parameters::fieldKeys(fieldsOf(r.differences));
        break;
    case Ending::AddressNotKnown:
        // Verified on its console, every value as written, but what it
        // runs with as its address is no place to look for it.
        fail(Failure::AddressNotKnown, JobResult::NoAnswer,
             QStringLiteral("verified on the console, address not known"));
        break;
    case Ending::NotReachable:
        // Verified on its console, every value as written, but not found on
        // the network where it now listens.
        o.status = Status::Failed;
        o.failure = Failure::NotReachable;
        o.exitCode = reachExitCode({r.reach.outcome});
        o.recordText =
            (r.audit ? QStringLiteral("matches on the console, not reachable at %1 (%2)")
                     : QStringLiteral("verified on the console, not reachable at %1 (%2)"))
                .arg(r.reachTarget, ReachCheck::word(r.reach.outcome));
        break;
    case Ending::BusIncomplete:
        // Right on its console and reachable, but the devices the plan
        // names do not all answer through it.
        o.status = Status::Failed;
        o.failure = Failure::BusIncomplete;
        o.exitCode = r.bus.exitCode();
        o.recordText = (r.audit ? QStringLiteral("matches on the console, reachable, ")
                                : QStringLiteral("verified on the console, reachable, ")) +
                       r.bus.summary();
        break;
    }

    // What the module came to beside the status.
    const bool compared = r.ending == Ending::Done || r.ending == Ending::AddressNotKnown ||
                          r.ending == Ending::NotReachable || r.ending == Ending::BusIncomplete;
    const bool readBackFailed = r.ending == Ending::DidNotRestart || r.ending == Ending::NotBack ||
                                r.ending == Ending::ReadBackSilent ||
                                r.ending == Ending::ReadBackNotIdentified;
    if (r.verify && (compared || r.ending == Ending::Differs || r.ending == Ending::OtherModule ||
                     (readBackFailed && r.resetSent))) {
        // Verified counts only where it is kept: a row the register did not
        // take is right on the module, not verified.
        o.onModule = compared;
        o.verified = compared && !(o.inRegister() && !o.inRegister()->kept);
    }
    if (compared || r.ending == Ending::Differs)
        o.matches = compared;
    o.wentThrough = compared || r.ending == Ending::Differs || r.ending == Ending::OtherModule;
    o.moduleRight = r.ending == Ending::Done;
    o.readBackShown =
        r.readBack.answered > 0 && (r.audit || o.unchanged() || (r.verify && r.resetSent));
    if (o.readBackShown && !r.audit) {
        for (const ModuleField field : r.accepted) {
            if (r.readBack.values.value(field) != r.planned.value(field))
                o.readBackDiffers << field;
        }
    }
    // Commands the module took, none in effect: the write stopped before
    // its restart. The record says which, as the screen does.
    o.stoppedBeforeRestart =
        !r.audit && !r.resetSent &&
        (o.status == Status::Interrupted || o.failure == Failure::Refused ||
         o.failure == Failure::ClaimLost || (o.failure == Failure::NoAnswer && !r.sent.isEmpty()));
    if (o.stoppedBeforeRestart && !o.sentBeforeStop().isEmpty())
        o.recordText += QStringLiteral(" after sending %1; no restart was sent")
                            .arg(parameters::fieldKeys(o.sentBeforeStop()));
    return o;
}

RowOutcome RowOutcome::notReached(const WriteResult &meant, const NotBegun &why, int exitCode)
{
    RowOutcome o(meant);
    o.status = Status::NotReached;
    o.notBegun = why;
    o.exitCode = exitCode;
    o.recordText = QStringLiteral("not reached");
    return o;
}

RowOutcome RowOutcome::alreadyDone(const WriteResult &meant, const QString &reason)
{
    RowOutcome o = notReached(meant, {NotBegun::Why::DoneAlready, 0, reason}, 0);
    o.status = Status::AlreadyDone;
    o.recordText = QStringLiteral("done already");
    return o;
}

RowOutcome RowOutcome::registerUnavailable(const WriteResult &meant, const QString &reason)
{
    WriteResult::Admission stop;
    stop.verdict = WriteResult::Admission::Verdict::Stop;
    stop.refusal = WriteResult::Admission::Refusal::Unanswered;
    stop.words = reason;
    return refused(meant, stop);
}

RowOutcome RowOutcome::refused(const WriteResult &meant, const WriteResult::Admission &stop)
{
    WriteResult r = meant;
    r.ending = Ending::NotAdmitted;
    r.admission = stop;
    r.detail = stop.words;
    return of(r);
}

QString RowOutcome::busRecord() const
{
    return facts.busChecked ? facts.bus.outcomeWords() : QString();
}

int RowOutcome::reachExitCode(const QList<ReachCheck::Outcome> &outcomes, bool interrupted,
                              bool recordFailed)
{
    if (interrupted)
        return int(JobResult::Interrupted);
    if (outcomes.contains(ReachCheck::Outcome::NoAnswer) ||
        outcomes.contains(ReachCheck::Outcome::Unreachable) ||
        outcomes.contains(ReachCheck::Outcome::Pending))
        return int(JobResult::NoAnswer);
    if (outcomes.contains(ReachCheck::Outcome::Refused))
        return int(JobResult::Mismatch);
    return recordFailed ? int(JobResult::FileNotWritten) : 0;
}

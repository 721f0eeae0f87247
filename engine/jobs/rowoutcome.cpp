#include "engine/jobs/rowoutcome.h"

#include <QStringList>

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

    // The judgement, one ending at a time: status, failure, exit code, the
    // reason in words and the record's words.
    const auto fail = [&o](Failure failure, JobResult code, const QString &reason,
                           const QString &record) {
        o.status = Status::Failed;
        o.failure = failure;
        o.exitCode = int(code);
        o.reason = reason;
        o.recordText = record;
    };
    const QString seconds = secondsText(r.restartTimeoutMs);
    const QString nothingWritten = tr("%1; nothing was written");
    const QString differing = fieldNames(fieldsOf(r.differences));
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
            o.reason = tr("%1 on the module, but the register lacks its row: %2")
                           .arg(r.audit ? tr("matches") : tr("verified"), o.registerError());
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
        fail(Failure::PortNotOpened, JobResult::PortUnavailable, r.detail,
             QStringLiteral("port in use"));
        break;
    case Ending::PortNotOpened:
        fail(Failure::PortNotOpened, JobResult::PortUnavailable, r.detail,
             QStringLiteral("port not opened"));
        break;
    case Ending::Interrupted:
        o.status = Status::Interrupted;
        o.exitCode = int(JobResult::Interrupted);
        o.reason = tr("interrupted");
        o.recordText = QStringLiteral("interrupted");
        if (r.resetSent)
            o.recordText += QStringLiteral(" after the restart command");
        break;
    case Ending::Silent:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             tr("the module did not answer; nothing was written"), QStringLiteral("no answer"));
        break;
    case Ending::NotIdentified:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             tr("not identified: %1; nothing was written").arg(r.detail),
             QStringLiteral("not identified"));
        break;
    case Ending::NotAdmitted:
        switch (r.admission.refusal) {
        case WriteResult::Admission::Refusal::ByRun:
            fail(Failure::NoAnswer, JobResult::NoAnswer, nothingWritten.arg(r.detail),
                 QStringLiteral("not a new module"));
            break;
        case WriteResult::Admission::Refusal::Elsewhere:
            fail(Failure::AlreadyVerified, JobResult::RegisterStop, r.detail,
                 QStringLiteral("already verified"));
            break;
        case WriteResult::Admission::Refusal::Held:
            fail(Failure::AddressHeld, JobResult::RegisterStop, nothingWritten.arg(r.detail),
                 QStringLiteral("address held"));
            break;
        case WriteResult::Admission::Refusal::Unanswered:
            fail(Failure::NoRegister, JobResult::RegisterFailed, nothingWritten.arg(r.detail),
                 QStringLiteral("register unavailable"));
            break;
        }
        break;
    case Ending::Abandoned:
        fail(Failure::ClaimLost, JobResult::RegisterFailed, r.detail, QStringLiteral("claim lost"));
        break;
    case Ending::HeldValueMissing:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             tr("the module did not give its %1, so the configuration it would run cannot be "
                "checked; nothing was written")
                 .arg(fieldName(r.field)),
             QStringLiteral("no answer"));
        break;
    case Ending::Unsound: {
        QStringList problems;
        for (const WriteResult::HeldValue &held : r.heldInvalid)
            problems << tr("the module holds %1 \"%2\", which is not %3: give the %1 to write")
                            .arg(fieldName(held.field), held.value, held.rule);
        problems += r.configProblems;
        fail(Failure::InvalidConfiguration, JobResult::Invalid,
             nothingWritten.arg(problems.join(QLatin1String("; "))),
             QStringLiteral("invalid configuration"));
        break;
    }
    case Ending::NoReply:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             tr("no reply to the %1 command").arg(fieldName(r.field)), QStringLiteral("no answer"));
        break;
    case Ending::Refused:
        fail(Failure::Refused, JobResult::Refused,
             tr("the module refused %1 %2 (it replied \"%3\" instead of \"ok\")")
                 .arg(fieldName(r.field), r.planned.value(r.field), r.reply),
             QStringLiteral("refused: ") + parameters::fieldKey(r.field));
        break;
    case Ending::LinkLost:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             tr("the link was lost before the restart command could be sent"),
             QStringLiteral("no answer"));
        break;
    case Ending::RestartRefused:
        fail(Failure::Refused, JobResult::Refused,
             tr("the module refused the restart (it replied \"%1\"); the values written are not "
                "in effect")
                 .arg(r.reply),
             QStringLiteral("refused: reset"));
        break;
    case Ending::DidNotRestart:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             tr("the module did not restart: it kept answering for %1 s after the restart "
                "command")
                 .arg(seconds),
             QStringLiteral("did not restart"));
        break;
    case Ending::NotBack:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             tr("the module did not come back within %1 s").arg(seconds),
             QStringLiteral("no answer after restart"));
        break;
    case Ending::ReadBackSilent:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             r.audit ? tr("the module answered no query")
                     : tr("the module answered no query after its restart"),
             r.audit ? QStringLiteral("no answer") : QStringLiteral("no answer after restart"));
        break;
    case Ending::ReadBackNotIdentified:
        fail(Failure::NoAnswer, JobResult::NoAnswer,
             (r.audit ? tr("not identified: %1, so it may be another module")
                      : tr("not identified after its restart: %1, so it may be another module"))
                 .arg(notIdentified(r.readBack)),
             r.audit ? QStringLiteral("not identified")
                     : QStringLiteral("not identified after restart"));
        break;
    case Ending::OtherModule:
        // Nothing of this row is proven.
        fail(Failure::AnotherModule, JobResult::Mismatch,
             (r.audit ? tr("a different module answered: MAC %1, not %2")
                      : tr("a different module answered after its restart: MAC %1, not %2"))
                 .arg(r.readBack.mac(), r.identifiedMac),
             QStringLiteral("different module: ") + r.readBack.mac());
        break;
    case Ending::Differs:
        o.status = Status::Differs;
        o.exitCode = int(JobResult::Mismatch);
        o.reason = (r.audit ? tr("the module differs from the plan: %1")
                            : tr("the module holds other values than written: %1"))
                       .arg(differing);
        o.recordText = (r.audit ? QStringLiteral("differs: ") : QStringLiteral("mismatch: ")) +
                       parameters::fieldKeys(fieldsOf(r.differences));
        break;
    case Ending::AddressNotKnown:
        // Verified on its console, every value as written, but what it
        // runs with as its address is no place to look for it.
        fail(Failure::AddressNotKnown, JobResult::NoAnswer,
             tr("verified on the console, but its address and TCP port are not known (%1), so "
                "it cannot be reached")
                 .arg(r.detail),
             QStringLiteral("verified on the console, address not known"));
        break;
    case Ending::NotReachable:
        // Verified on its console, every value as written, but not found on
        // the network where it now listens.
        o.status = Status::Failed;
        o.failure = Failure::NotReachable;
        o.exitCode = reachExitCode({r.reach.outcome});
        o.reason = (r.audit ? tr("matches on the console, not reachable at %1 (%2)")
                            : tr("verified on the console, not reachable at %1 (%2)"))
                       .arg(r.reachTarget, ReachCheck::describe(r.reach));
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
        o.reason = (r.audit ? tr("matches on the console, reachable, bus: %1")
                            : tr("verified on the console, reachable, bus: %1"))
                       .arg(r.bus.outcomeWords(true));
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

RowOutcome RowOutcome::notReached(const WriteResult &meant, const QString &reason, int exitCode)
{
    RowOutcome o(meant);
    o.status = Status::NotReached;
    o.reason = reason;
    o.exitCode = exitCode;
    o.recordText = QStringLiteral("not reached");
    return o;
}

RowOutcome RowOutcome::alreadyDone(const WriteResult &meant, const QString &reason)
{
    RowOutcome o = notReached(meant, reason, 0);
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

QString RowOutcome::recordError() const
{
    return record() && !record()->kept ? record()->error : QString();
}

QString RowOutcome::registerError() const
{
    return inRegister() && !inRegister()->kept ? inRegister()->error : QString();
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

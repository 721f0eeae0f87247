#include "engine/jobs/rowoutcome.h"

#include "engine/jobs/writejob.h"

#include <QStringList>

RowOutcome RowOutcome::of(const WriteJob &job)
{
    RowOutcome o;
    const JobResult result = job.result();
    o.audit = job.isAudit();
    o.reason = job.error();
    o.keepsRecord = job.keepsRecord();
    o.recorded = job.recorded();
    o.recordError = job.recordError();
    o.permissionDenied = job.permissionDenied();
    o.resetSent = job.resetSent();
    o.acceptedCount = job.accepted().size();
    o.exitCode = job.exitCode();
    for (const WriteJob::Mismatch &m : job.mismatches())
        o.differences.append({m.field, m.written, m.read});

    const parameters::Values written = job.written();
    const ModuleReading back = job.readBack();
    if (job.verifies() && job.resetSent() && back.answered > 0) {
        for (const ModuleField field : job.accepted()) {
            if (back.values.value(field) != written.value(field))
                o.readBackDiffers << field;
        }
    }
    if (job.verifies() && (result == JobResult::Done || result == JobResult::Mismatch ||
                           (result == JobResult::NoAnswer && job.resetSent())))
        o.verified = job.verified();
    if (result == JobResult::Done || (result == JobResult::Mismatch && !o.differences.isEmpty()))
        o.matches = job.verified();
    // Commands the module took, none in effect: the write stopped before its
    // restart.
    o.stoppedBeforeRestart = !o.audit && !job.resetSent() &&
                             (result == JobResult::Interrupted || result == JobResult::Refused ||
                              (result == JobResult::NoAnswer && !job.sent().isEmpty()));
    if (!job.resetSent())
        o.sentBeforeStop = job.sent();
    o.wentThrough = result == JobResult::Done || result == JobResult::Mismatch;
    o.moduleRight = result == JobResult::Done;
    if (result != JobResult::Done && job.reachChecked() &&
        job.reachResult().outcome != ReachCheck::Outcome::Pending &&
        job.reachResult().outcome != ReachCheck::Outcome::Reachable) {
        // Verified on its console, every value as written, but not found
        // on the network where it now listens.
        o.status = Status::Failed;
        o.failure = Failure::NotReachable;
        o.wentThrough = true;
        return o;
    }

    switch (result) {
    case JobResult::Done:
        o.status = !job.verifies() ? Status::Unverified
                   : o.audit       ? Status::Matches
                                   : Status::Verified;
        if (o.exitCode != 0) {
            // The module is right, but its row is not in the record: the
            // record and the screen must say the same.
            o.status = Status::Failed;
            o.failure = Failure::NotRecorded;
        }
        break;
    case JobResult::Mismatch:
        if (o.differences.isEmpty()) {
            // Another module answered: nothing of this row is proven.
            o.status = Status::Failed;
            o.failure = Failure::AnotherModule;
        } else {
            o.status = Status::Differs;
        }
        break;
    case JobResult::Interrupted:
        o.status = Status::Interrupted;
        break;
    case JobResult::PortUnavailable:
        o.status = Status::Failed;
        o.failure = Failure::PortNotOpened;
        break;
    case JobResult::NoAnswer:
        o.status = Status::Failed;
        o.failure = Failure::NoAnswer;
        break;
    case JobResult::Refused:
        o.status = Status::Failed;
        o.failure = Failure::Refused;
        break;
    case JobResult::Invalid:
        o.status = Status::Failed;
        o.failure = Failure::InvalidConfiguration;
        break;
    case JobResult::FileNotWritten:
        o.status = Status::Failed;
        o.failure = Failure::NotRecorded;
        break;
    }
    return o;
}

RowOutcome RowOutcome::notReached(bool audit, const QString &reason, int exitCode)
{
    RowOutcome o;
    o.audit = audit;
    o.status = Status::NotReached;
    o.reason = reason;
    o.exitCode = exitCode;
    return o;
}

QString RowOutcome::statusWord() const
{
    switch (status) {
    case Status::Verified:
        return QStringLiteral("verified");
    case Status::Unverified:
        return QStringLiteral("unverified");
    case Status::Matches:
        return QStringLiteral("matches");
    case Status::Differs:
        return audit ? QStringLiteral("differs") : QStringLiteral("failed");
    case Status::Failed:
    case Status::Interrupted:
        return QStringLiteral("failed");
    case Status::NotReached:
        return QStringLiteral("not reached");
    }
    return QString();
}

QStringList RowOutcome::statusWords(bool audit)
{
    return audit ? QStringList{QStringLiteral("matches"), QStringLiteral("differs"),
                               QStringLiteral("failed"), QStringLiteral("not reached")}
                 : QStringList{QStringLiteral("verified"), QStringLiteral("failed"),
                               QStringLiteral("not reached")};
}

QString RowOutcome::moduleWord() const
{
    if (!moduleRight)
        return QString();
    return !verified && !audit ? QStringLiteral("unverified")
           : audit             ? QStringLiteral("matches")
                               : QStringLiteral("verified");
}

QString RowOutcome::failureWord() const
{
    switch (failure) {
    case Failure::None:
        return QString();
    case Failure::PortNotOpened:
        return tr("port not opened");
    case Failure::NoAnswer:
        return tr("no answer");
    case Failure::Refused:
        return tr("refused");
    case Failure::InvalidConfiguration:
        return tr("invalid configuration");
    case Failure::AnotherModule:
        return tr("another module");
    case Failure::NotRecorded:
        return tr("not recorded");
    case Failure::NotReachable:
        return tr("not reachable");
    }
    return QString();
}

QString RowOutcome::line() const
{
    // ordan-cli's words: English, as the rest of its output.
    const QString word = statusWord();
    if (status == Status::NotReached)
        return word + QStringLiteral(": ") + reason;
    if (status == Status::Differs && audit) {
        QStringList parts;
        for (const Difference &d : differences)
            parts << QStringLiteral("%1 planned %2, module has %3")
                         .arg(parameters::fieldKey(d.field), d.expected,
                              d.read.isEmpty() ? QStringLiteral("(missing)") : d.read);
        return word + QStringLiteral(": ") + parts.join(QLatin1String("; "));
    }
    if (isSuccess() || status == Status::Unverified)
        return word;
    if (failure == Failure::NotRecorded && reason.isEmpty())
        return word + QStringLiteral(": %1 on the module, but the record lacks its row (%2)")
                          .arg(audit ? QStringLiteral("matches") : QStringLiteral("verified"),
                               recordError);
    return word + QStringLiteral(": ") + reason;
}

QString RowOutcome::detail() const
{
    QStringList differing;
    QString text;
    switch (status) {
    case Status::Verified:
        text = tr("%n parameter(s) as planned", "", acceptedCount);
        break;
    case Status::Unverified:
        text = tr("%n parameter(s) written, not read back", "", acceptedCount);
        break;
    case Status::Matches:
        text = tr("the module holds the planned values");
        break;
    case Status::Differs:
        for (const Difference &d : differences) {
            const QString read = d.read.isEmpty() ? tr("(missing)") : d.read;
            differing << (audit ? tr("%1: planned %2, the module has %3")
                                : tr("%1: written %2, read %3"))
                             .arg(parameters::fieldKey(d.field), d.expected, read);
        }
        text = differing.join(QLatin1String("; "));
        break;
    case Status::Interrupted:
        if (resetSent)
            text = tr("stopped after the restart command");
        else if (!sentBeforeStop.isEmpty())
            text = tr("stopped after sending %1; no restart was sent")
                       .arg(parameters::fieldKeys(sentBeforeStop));
        else
            text = tr("stopped before anything was written");
        break;
    case Status::NotReached:
        text = reason;
        break;
    case Status::Failed:
        if (failure == Failure::NotRecorded && reason.isEmpty())
            text = tr("the module is right, but the record lacks its row");
        else
            text = reason;
        if (failure == Failure::PortNotOpened && permissionDenied)
            text += tr(" (not allowed to use the port: add yourself to the group that owns "
                       "it, usually dialout, then log in again; or another program holds it)");
        break;
    }
    if (!recordError.isEmpty())
        text += QStringLiteral(" (") + recordError + QLatin1Char(')');
    return text;
}

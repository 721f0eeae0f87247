// Every word of a row: why it failed, its status word, its line in
// ordan-cli's summary, its short line and its detail in the site window,
// what the register said of its module, and the parameters' names in those
// sentences. What it came to is judged in rowoutcome.cpp.
#include "engine/jobs/rowwording.h"

#include "engine/jobs/modulejob.h"

namespace
{

using Ending = WriteResult::Ending;
using Failure = RowOutcome::Failure;
using Status = RowOutcome::Status;

// The parameters that differ, in their order.
QList<ModuleField> differingFields(const WriteResult &r)
{
    QList<ModuleField> fields;
    for (const WriteResult::Difference &d : r.differences)
        fields << d.field;
    return fields;
}

} // namespace

QString RowWording::reason(const RowOutcome &o)
{
    if (o.status == Status::NotReached || o.status == Status::AlreadyDone)
        return notBegun(o.notBegun);
    const WriteResult &r = o.result();
    const QString nothingWritten = tr("%1; nothing was written");
    const QString seconds = secondsText(r.restartTimeoutMs);
    switch (r.ending) {
    case Ending::Done:
        return o.failure == Failure::NotRegistered
                   ? tr("%1 on the module, but the register lacks its row: %2")
                         .arg(r.audit ? tr("matches") : tr("verified"), registerError(o))
                   : QString();
    case Ending::PortInUse:
    case Ending::PortNotOpened:
    case Ending::Abandoned:
        return r.detail;
    case Ending::Interrupted:
        return tr("interrupted");
    case Ending::Silent:
        return tr("the module did not answer; nothing was written");
    case Ending::NotIdentified:
        return tr("not identified: %1; nothing was written").arg(r.detail);
    case Ending::NotAdmitted:
        if (r.admission.refusal == WriteResult::Admission::Refusal::Elsewhere)
            return r.detail;
        if (r.admission.refusal == WriteResult::Admission::Refusal::Closed)
            return nothingWritten.arg(tr("the register was closed"));
        if (r.admission.refusal == WriteResult::Admission::Refusal::ByRun &&
            r.admission.metAtRow > 0)
            return nothingWritten.arg(tr("the module %1 was already met in this run (row %2)")
                                          .arg(r.identifiedMac)
                                          .arg(r.admission.metAtRow));
        return nothingWritten.arg(r.detail);
    case Ending::HeldValueMissing:
        return tr("the module did not give its %1, so the configuration it would run cannot be "
                  "checked; nothing was written")
            .arg(fieldName(r.field));
    case Ending::Unsound: {
        QStringList problems;
        for (const WriteResult::HeldValue &held : r.heldInvalid)
            problems << tr("the module holds %1 \"%2\", which is not %3: give the %1 to write")
                            .arg(fieldName(held.field), held.value, held.rule);
        problems += r.configProblems;
        return nothingWritten.arg(problems.join(QLatin1String("; ")));
    }
    case Ending::NoReply:
        return tr("no reply to the %1 command").arg(fieldName(r.field));
    case Ending::Refused:
        return tr("the module refused %1 %2 (it replied \"%3\" instead of \"ok\")")
            .arg(fieldName(r.field), r.planned.value(r.field), r.reply);
    case Ending::LinkLost:
        return tr("the link was lost before the restart command could be sent");
    case Ending::RestartRefused:
        return tr("the module refused the restart (it replied \"%1\"); the values written are "
                  "not in effect")
            .arg(r.reply);
    case Ending::DidNotRestart:
        return tr("the module did not restart: it kept answering for %1 s after the restart "
                  "command")
            .arg(seconds);
    case Ending::NotBack:
        return tr("the module did not come back within %1 s").arg(seconds);
    case Ending::ReadBackSilent:
        return r.audit ? tr("the module answered no query")
                       : tr("the module answered no query after its restart");
    case Ending::ReadBackNotIdentified:
        return (r.audit ? tr("not identified: %1, so it may be another module")
                        : tr("not identified after its restart: %1, so it may be another module"))
            .arg(notIdentified(r.readBack));
    case Ending::OtherModule:
        return (r.audit ? tr("a different module answered: MAC %1, not %2")
                        : tr("a different module answered after its restart: MAC %1, not %2"))
            .arg(r.readBack.mac(), r.identifiedMac);
    case Ending::Differs:
        return (r.audit ? tr("the module differs from the plan: %1")
                        : tr("the module holds other values than written: %1"))
            .arg(fieldNames(differingFields(r)));
    case Ending::AddressNotKnown:
        return tr("verified on the console, but its address and TCP port are not known (%1), so "
                  "it cannot be reached")
            .arg(r.detail);
    case Ending::NotReachable:
        return (r.audit ? tr("matches on the console, not reachable at %1 (%2)")
                        : tr("verified on the console, not reachable at %1 (%2)"))
            .arg(r.reachTarget, ReachCheck::describe(r.reach));
    case Ending::BusIncomplete:
        return (r.audit ? tr("matches on the console, reachable, bus: %1")
                        : tr("verified on the console, reachable, bus: %1"))
            .arg(r.bus.outcomeWords(true));
    }
    return QString();
}

QString RowWording::notBegun(const RowOutcome::NotBegun &why)
{
    using Why = RowOutcome::NotBegun::Why;
    switch (why.why) {
    case Why::Unsaid:
        return QString();
    case Why::Interrupted:
        return tr("interrupted");
    case Why::NoNewModule:
        return tr("no new module on the port within %1 s").arg(why.waitedMs / 1000.0);
    case Why::PortHeld:
    case Why::DoneAlready:
        return why.words;
    }
    return QString();
}

QString RowWording::keeperError(const WriteResult::Kept *kept)
{
    if (!kept || kept->kept)
        return QString();
    if (!kept->closed)
        return kept->error;
    return kept->keeper == WriteResult::Keeper::Register ? tr("the register was closed")
                                                         : tr("the record was closed");
}

QString RowWording::statusWord(const RowOutcome &o)
{
    switch (o.status) {
    case Status::Verified:
        return QStringLiteral("verified");
    case Status::Unverified:
        return QStringLiteral("unverified");
    case Status::Matches:
        return QStringLiteral("matches");
    case Status::Differs:
        return o.result().audit ? QStringLiteral("differs") : QStringLiteral("failed");
    case Status::Failed:
    case Status::Interrupted:
        return QStringLiteral("failed");
    case Status::NotReached:
        return QStringLiteral("not reached");
    case Status::AlreadyDone:
        return QStringLiteral("done already");
    }
    return QString();
}

QStringList RowWording::statusWords(bool audit)
{
    return audit ? QStringList{QStringLiteral("matches"), QStringLiteral("differs"),
                               QStringLiteral("failed"), QStringLiteral("not reached")}
                 : QStringList{QStringLiteral("verified"), QStringLiteral("failed"),
                               QStringLiteral("not reached")};
}

QString RowWording::moduleWord(const RowOutcome &o)
{
    if (!o.moduleRight)
        return QString();
    return !o.verified && !o.result().audit ? QStringLiteral("unverified")
           : o.result().audit               ? QStringLiteral("matches")
                                            : QStringLiteral("verified");
}

QString RowWording::failureWord(const RowOutcome &o)
{
    switch (o.failure) {
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
    case Failure::AddressNotKnown:
        return tr("address not known");
    case Failure::AlreadyVerified:
        return tr("verified elsewhere");
    case Failure::AddressHeld:
        return tr("address held");
    case Failure::NoRegister:
    case Failure::NotRegistered:
        return tr("register");
    case Failure::ClaimLost:
        return tr("taken over");
    case Failure::BusIncomplete:
        return tr("devices missing on the bus");
    }
    return QString();
}

QString RowWording::statusText(const QString &word)
{
    if (word == QLatin1String("verified"))
        return tr("verified");
    if (word == QLatin1String("unverified"))
        return tr("unverified");
    if (word == QLatin1String("matches"))
        return tr("matches");
    if (word == QLatin1String("differs"))
        return tr("differs");
    if (word == QLatin1String("failed"))
        return tr("failed");
    if (word == QLatin1String("not reached"))
        return tr("not reached");
    if (word == QLatin1String("done already"))
        return tr("done already");
    return word;
}

QString RowWording::line(const RowOutcome &o)
{
    // ordan-cli's words: English, as the rest of its output (it loads no
    // translation); in a window's language where one is loaded, all of it.
    QString word = statusText(statusWord(o));
    const QString why = reason(o);
    if (o.status == Status::NotReached || o.status == Status::AlreadyDone)
        return word + QStringLiteral(": ") + why;
    if (o.status == Status::Differs && o.result().audit) {
        QStringList parts;
        for (const RowOutcome::Difference &d : o.result().differences)
            parts << tr("%1 planned %2, module has %3")
                         .arg(fieldName(d.field), d.expected,
                              d.read.isEmpty() ? tr("(missing)") : d.read);
        return word + QStringLiteral(": ") + parts.join(QLatin1String("; "));
    }
    if (o.isSuccess() || o.status == Status::Unverified)
        return registerNote(o).isEmpty()
                   ? word
                   : word + QStringLiteral(" (") + registerNote(o) + QLatin1Char(')');
    if (o.failure == Failure::NotRecorded && why.isEmpty())
        return word + QStringLiteral(": ") +
               tr("%1 on the module, but the record lacks its row (%2)")
                   .arg(o.result().audit ? tr("matches") : tr("verified"), recordError(o));
    // A failed row the register did not take either: both said.
    if (!registerError(o).isEmpty() && o.failure != Failure::NotRegistered)
        return word + QStringLiteral(": ") + why + QStringLiteral(" (") + registerError(o) +
               QLatin1Char(')');
    return word + QStringLiteral(": ") + why;
}

QString RowWording::shortLine(const RowOutcome &o)
{
    const auto with = [](const QString &word, const QString &what) {
        return what.isEmpty() ? word : word + QStringLiteral(": ") + what;
    };
    switch (o.status) {
    case Status::Verified:
    case Status::Unverified:
    case Status::Matches:
    case Status::NotReached:
        return statusText(statusWord(o));
    case Status::Differs:
        return with(statusText(QStringLiteral("differs")), fieldNames(differingFields(o.result())));
    case Status::Failed:
        return with(statusText(statusWord(o)), failureWord(o));
    case Status::Interrupted:
        return tr("interrupted");
    case Status::AlreadyDone:
        return with(statusText(statusWord(o)), reason(o));
    }
    return QString();
}

QString RowWording::detail(const RowOutcome &o)
{
    QStringList differing;
    QString text;
    const QString why = reason(o);
    switch (o.status) {
    case Status::Verified:
        text = o.unchanged()
                   ? tr("the planned values, read back")
                   : tr("%n parameter(s) as planned", "", int(o.result().accepted.size()));
        if (!registerNote(o).isEmpty())
            text += QStringLiteral("; ") + registerNote(o);
        break;
    case Status::Unverified:
        text = tr("%n parameter(s) written, not read back", "", int(o.result().accepted.size()));
        break;
    case Status::Matches:
        text = tr("the module holds the planned values");
        break;
    case Status::Differs:
        for (const RowOutcome::Difference &d : o.result().differences) {
            const QString read = d.read.isEmpty() ? tr("(missing)") : d.read;
            differing << (o.result().audit ? tr("%1: planned %2, the module has %3")
                                           : tr("%1: written %2, read %3"))
                             .arg(fieldName(d.field), d.expected, read);
        }
        text = differing.join(QLatin1String("; "));
        break;
    case Status::Interrupted:
        if (o.result().resetSent)
            text = tr("stopped after the restart command");
        else if (!o.sentBeforeStop().isEmpty())
            text = tr("stopped after sending %1; no restart was sent")
                       .arg(fieldNames(o.sentBeforeStop()));
        else
            text = tr("stopped before anything was written");
        break;
    case Status::NotReached:
    case Status::AlreadyDone:
        text = why;
        break;
    case Status::Failed:
        if (o.failure == Failure::NotRecorded && why.isEmpty())
            text = tr("the module is right, but the record lacks its row");
        else
            text = why;
        if (o.failure == Failure::PortNotOpened && o.result().permissionDenied)
            text += tr(" (not allowed to use the port: add yourself to the group that owns "
                       "it, usually dialout, then log in again; or another program holds it)");
        // A write stopped on its way (the module unplugged, a command
        // refused): what the module had been sent, as a stop says it.
        if (o.stoppedBeforeRestart && !o.sentBeforeStop().isEmpty())
            text = tr("%1; already sent %2, no restart was sent")
                       .arg(text, fieldNames(o.sentBeforeStop()));
        break;
    }
    if (!registerError(o).isEmpty() && o.failure != Failure::NotRegistered)
        text += QStringLiteral(" (") + registerError(o) + QLatin1Char(')');
    if (!recordError(o).isEmpty())
        text += QStringLiteral(" (") + recordError(o) + QLatin1Char(')');
    return text;
}

QString RowWording::registerNote(const RowOutcome &o)
{
    if (o.unchanged())
        return tr("not rewritten: it already held the planned values, %1")
            .arg(o.result().admission.words);
    if (o.result().admission.verdict == WriteResult::Admission::Verdict::Write &&
        !o.result().admission.words.isEmpty())
        return tr("rewritten: %1").arg(o.result().admission.words);
    return QString();
}

QString RowWording::busDetail(const RowOutcome &o)
{
    return o.result().busChecked ? o.result().bus.outcomeWords(true) : QString();
}

QString RowWording::fieldName(ModuleField field)
{
    switch (field) {
    case ModuleField::Name:
        return tr("name", "a module's parameter");
    case ModuleField::Version:
        return tr("version", "a module's parameter");
    case ModuleField::Mac:
        return tr("mac", "a module's parameter");
    case ModuleField::Ip:
        return tr("ip", "a module's parameter");
    case ModuleField::Mask:
        return tr("mask", "a module's parameter");
    case ModuleField::Gateway:
        return tr("gateway", "a module's parameter");
    case ModuleField::PortTcp:
        return tr("tcp_port", "a module's parameter");
    case ModuleField::Parity:
        return tr("parity", "a module's parameter");
    case ModuleField::Speed:
        return tr("speed", "a module's parameter");
    case ModuleField::StopBit:
        return tr("stop_bits", "a module's parameter");
    case ModuleField::Timewait:
        return tr("packet_timeout", "a module's parameter");
    }
    return parameters::fieldKey(field);
}

QString RowWording::fieldNames(const QList<ModuleField> &fields)
{
    QStringList names;
    for (const ModuleField field : fields)
        names << fieldName(field);
    return names.join(QLatin1String(", "));
}

// How a row's outcome is said: its status word, its line in ordan-cli's
// summary, its short line and its detail in the site window, and the
// parameters' names in those sentences. What it came to is judged in
// rowoutcome.cpp.
#include "engine/jobs/rowoutcome.h"

#include <QStringList>

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
        return facts.audit ? QStringLiteral("differs") : QStringLiteral("failed");
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
    return !verified && !facts.audit ? QStringLiteral("unverified")
           : facts.audit             ? QStringLiteral("matches")
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

QString RowOutcome::statusText(const QString &word)
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

QString RowOutcome::line() const
{
    // ordan-cli's words: English, as the rest of its output (it loads no
    // translation); in a window's language where one is loaded, all of it.
    QString word = statusText(statusWord());
    if (status == Status::NotReached || status == Status::AlreadyDone)
        return word + QStringLiteral(": ") + reason;
    if (status == Status::Differs && facts.audit) {
        QStringList parts;
        for (const Difference &d : facts.differences)
            parts << tr("%1 planned %2, module has %3")
                         .arg(fieldName(d.field), d.expected,
                              d.read.isEmpty() ? tr("(missing)") : d.read);
        return word + QStringLiteral(": ") + parts.join(QLatin1String("; "));
    }
    if (isSuccess() || status == Status::Unverified)
        return registerNote().isEmpty()
                   ? word
                   : word + QStringLiteral(" (") + registerNote() + QLatin1Char(')');
    if (failure == Failure::NotRecorded && reason.isEmpty())
        return word + QStringLiteral(": ") +
               tr("%1 on the module, but the record lacks its row (%2)")
                   .arg(facts.audit ? tr("matches") : tr("verified"), recordError());
    // A failed row the register did not take either: both said.
    if (!registerError().isEmpty() && failure != Failure::NotRegistered)
        return word + QStringLiteral(": ") + reason + QStringLiteral(" (") + registerError() +
               QLatin1Char(')');
    return word + QStringLiteral(": ") + reason;
}

QString RowOutcome::shortLine() const
{
    const auto with = [](const QString &word, const QString &what) {
        return what.isEmpty() ? word : word + QStringLiteral(": ") + what;
    };
    switch (status) {
    case Status::Verified:
    case Status::Unverified:
    case Status::Matches:
    case Status::NotReached:
        return statusText(statusWord());
    case Status::Differs: {
        QList<ModuleField> fields;
        for (const Difference &d : facts.differences)
            fields << d.field;
        return with(statusText(QStringLiteral("differs")), fieldNames(fields));
    }
    case Status::Failed:
        return with(statusText(statusWord()), failureWord());
    case Status::Interrupted:
        return tr("interrupted");
    case Status::AlreadyDone:
        return with(statusText(statusWord()), reason);
    }
    return QString();
}

QString RowOutcome::detail() const
{
    QStringList differing;
    QString text;
    switch (status) {
    case Status::Verified:
        text = unchanged() ? tr("the planned values, read back")
                           : tr("%n parameter(s) as planned", "", int(facts.accepted.size()));
        if (!registerNote().isEmpty())
            text += QStringLiteral("; ") + registerNote();
        break;
    case Status::Unverified:
        text = tr("%n parameter(s) written, not read back", "", int(facts.accepted.size()));
        break;
    case Status::Matches:
        text = tr("the module holds the planned values");
        break;
    case Status::Differs:
        for (const Difference &d : facts.differences) {
            const QString read = d.read.isEmpty() ? tr("(missing)") : d.read;
            differing << (facts.audit ? tr("%1: planned %2, the module has %3")
                                      : tr("%1: written %2, read %3"))
                             .arg(fieldName(d.field), d.expected, read);
        }
        text = differing.join(QLatin1String("; "));
        break;
    case Status::Interrupted:
        if (facts.resetSent)
            text = tr("stopped after the restart command");
        else if (!sentBeforeStop().isEmpty())
            text = tr("stopped after sending %1; no restart was sent")
                       .arg(fieldNames(sentBeforeStop()));
        else
            text = tr("stopped before anything was written");
        break;
    case Status::NotReached:
    case Status::AlreadyDone:
        text = reason;
        break;
    case Status::Failed:
        if (failure == Failure::NotRecorded && reason.isEmpty())
            text = tr("the module is right, but the record lacks its row");
        else
            text = reason;
        if (failure == Failure::PortNotOpened && facts.permissionDenied)
            text += tr(" (not allowed to use the port: add yourself to the group that owns "
                       "it, usually dialout, then log in again; or another program holds it)");
        // A write stopped on its way (the module unplugged, a command
        // refused): what the module had been sent, as a stop says it.
        if (stoppedBeforeRestart && !sentBeforeStop().isEmpty())
            text = tr("%1; already sent %2, no restart was sent")
                       .arg(text, fieldNames(sentBeforeStop()));
        break;
    }
    if (!registerError().isEmpty() && failure != Failure::NotRegistered)
        text += QStringLiteral(" (") + registerError() + QLatin1Char(')');
    if (!recordError().isEmpty())
        text += QStringLiteral(" (") + recordError() + QLatin1Char(')');
    return text;
}

QString RowOutcome::registerNote() const
{
    if (unchanged())
        return tr("not rewritten: it already held the planned values, %1")
            .arg(facts.admission.words);
    if (facts.admission.verdict == WriteResult::Admission::Verdict::Write &&
        !facts.admission.words.isEmpty())
        return tr("rewritten: %1").arg(facts.admission.words);
    return QString();
}

QString RowOutcome::busDetail() const
{
    return facts.busChecked ? facts.bus.outcomeWords(true) : QString();
}

QString RowOutcome::busRecord() const
{
    return facts.busChecked ? facts.bus.outcomeWords() : QString();
}

QString RowOutcome::fieldName(ModuleField field)
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

QString RowOutcome::fieldNames(const QList<ModuleField> &fields)
{
    QStringList names;
    for (const ModuleField field : fields)
        names << fieldName(field);
    return names.join(QLatin1String(", "));
}

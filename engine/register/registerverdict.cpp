#include "engine/register/registerverdict.h"

#include "engine/register/registertext.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace siteregister
{

namespace
{
// "STATION (USER)", or what of it is known.
QString who(const ModuleEntry &module)
{
    if (module.station.isEmpty() && !module.record.isEmpty())
        return Text::tr("the record %1").arg(QFileInfo(module.record).fileName());
    if (module.station.isEmpty())
        return module.user.isEmpty() ? Text::tr("an unknown station") : module.user;
    return module.user.isEmpty() ? module.station
                                 : QStringLiteral("%1 (%2)").arg(module.station, module.user);
}

} // namespace

QList<ModuleField> differingFields(const parameters::Values &held,
                                   const parameters::Values &planned)
{
    QList<ModuleField> differing;
    for (auto it = planned.cbegin(); it != planned.cend(); ++it) {
        if (!isInformationField(it.key()) && held.value(it.key()) != it.value())
            differing << it.key();
    }
    return differing;
}

ModuleVerdict judgeModule(const ModuleEntry &module, const parameters::Values &planned)
{
    if (!module.verified())
        return ModuleVerdict::Unknown;
    return differingFields(module.values, planned).isEmpty() ? ModuleVerdict::HoldsRow
                                                             : ModuleVerdict::VerifiedElsewhere;
}

QString verifiedAs(const ModuleEntry &module)
{
    const QString ip = module.values.value(ModuleField::Ip);
    QString where;
    if (module.planRow > 0 && !module.planPath.isEmpty())
        where =
            Text::tr("row %1 of %2").arg(module.planRow).arg(QFileInfo(module.planPath).fileName());
    else if (!module.port.isEmpty())
        where = Text::tr("on %1").arg(module.port);
    QStringList place;
    for (const QString &part : {where, module.station, module.verifiedTime}) {
        if (!part.isEmpty())
            place << part;
    }
    QString text = ip.isEmpty() ? Text::tr("verified") : Text::tr("verified as %1").arg(ip);
    if (!place.isEmpty())
        text += QStringLiteral(" (%1)").arg(place.join(QStringLiteral(", ")));
    return text;
}

parameters::Values replacementValues(const ModuleEntry &module)
{
    parameters::Values values;
    for (auto it = module.values.cbegin(); it != module.values.cend(); ++it) {
        if (!isInformationField(it.key()))
            values.insert(it.key(), it.value());
    }
    return values;
}

QString alreadyVerifiedText(const ModuleEntry &module)
{
    return Text::tr("this module, %1, is already %2: connect the next one")
        .arg(module.mac, verifiedAs(module));
}

QString addressHeldText(const QString &ip, const ModuleEntry &holder)
{
    return Text::tr("%1 is held by %2, %3").arg(ip, holder.mac, verifiedAs(holder));
}

QString doneBy(const ModuleEntry &module)
{
    return module.station.isEmpty() ? who(module) : module.station;
}

QString claimDoneText(const ClaimEntry &claim)
{
    return Text::tr("verified by %1 at %2 on %3").arg(claim.station, claim.since, claim.mac);
}

QString doneText(const ModuleEntry &module)
{
    return Text::tr("verified by %1 at %2 on %3")
        .arg(doneBy(module), module.verifiedTime, module.mac);
}

QString claimHeldText(const ClaimEntry &claim)
{
    return Text::tr("claimed by %1 since %2").arg(claim.station, claim.since);
}

QString claimedThing(const QString &key)
{
    const int colon = key.indexOf(QLatin1Char(':'));
    const QString what = key.mid(colon + 1);
    return key.startsWith(QLatin1String("replaces:")) ? Text::tr("the replacement of %1").arg(what)
                                                      : what;
}

QString claimBlockedText(const ClaimEntry &claim)
{
    const QString what = claim.what.mid(claim.what.indexOf(QLatin1Char(':')) + 1);
    const bool replacement = claim.what.startsWith(QLatin1String("replaces:"));
    if (replacement && claim.run == 0)
        return Text::tr("%1 was replaced by %2 already").arg(what, claim.mac);
    const QString where =
        claim.heldRow > 0 && !claim.planPath.isEmpty()
            ? Text::tr("row %1 of %2").arg(claim.heldRow).arg(QFileInfo(claim.planPath).fileName())
            : Text::tr("on %1").arg(claim.port);
    const QString holder =
        Text::tr("%1 (process %2, %3)").arg(claim.station).arg(claim.pid).arg(where);
    return (replacement ? Text::tr("%1 is being replaced by %2 since %3")
                        : Text::tr("%1 is claimed by %2 since %3"))
        .arg(what, holder, claim.since);
}

QString standingText(const RowStanding &standing)
{
    QString text;
    switch (standing.kind) {
    case RowStanding::Kind::Never:
        text = Text::tr("never verified");
        break;
    case RowStanding::Kind::Verified:
        text = Text::tr("verified by %1 at %2 on %3")
                   .arg(who(standing.module), standing.module.verifiedTime, standing.module.mac);
        break;
    case RowStanding::Kind::Differs:
        text = standing.differing.isEmpty()
                   ? Text::tr("rewritten since: %1, %2")
                         .arg(standing.module.mac, verifiedAs(standing.module))
                   : Text::tr("differs: %1 (%2 %3)")
                         .arg(parameters::fieldKeys(standing.differing), standing.module.mac,
                              verifiedAs(standing.module));
        break;
    case RowStanding::Kind::Elsewhere:
        text = Text::tr("verified in another plan: %1, %2")
                   .arg(standing.module.mac, verifiedAs(standing.module));
        break;
    }
    if (standing.claim.state == ClaimEntry::State::HeldByOther)
        text += standing.claim.leaseLeftMs > 0
                    ? Text::tr("; claimed by %1 since %2")
                          .arg(standing.claim.station, standing.claim.since)
                    : Text::tr("; claimed by %1 since %2, its lease run out")
                          .arg(standing.claim.station, standing.claim.since);
    return text;
}

} // namespace siteregister

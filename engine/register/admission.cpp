#include "engine/register/admission.h"

#include "engine/register/registerfacts.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registerruns.h"
#include "engine/register/registertext.h"
#include "engine/register/siteregister.h"

namespace siteregister
{

namespace
{

Admission stopped(Admission::Stop why, const QString &words)
{
    Admission a;
    a.verdict = Admission::Verdict::Stop;
    a.stop = why;
    a.words = words;
    return a;
}

Admission verdict(Admission::Verdict verdict, const QString &words)
{
    Admission a;
    a.verdict = verdict;
    a.words = words;
    return a;
}

Admission rewrite(const RewriteNote &note)
{
    Admission a = verdict(Admission::Verdict::Rewrite, noteWords(note));
    a.note = note;
    return a;
}

// The decision, before anything is noted.
Admission judged(SiteRegister &reg, const AdmissionRequest &request)
{
    QString error;
    RegisterLookup lookup(reg);
    ModuleEntry module;
    if (!lookup.findModule(request.mac, &module, &error))
        return stopped(Admission::Stop::Unavailable, error);
    const QString replaced = parameters::normalMac(request.replaces);
    if (!replaced.isEmpty() && replaced == request.mac)
        return stopped(Admission::Stop::VerifiedElsewhere,
                       Text::tr("this module, %1, is the one to replace: connect its replacement")
                           .arg(request.mac));
    RewriteNote note;
    Admission go;
    switch (judgeModule(module, request.planned)) {
    case ModuleVerdict::HoldsRow:
        if (!request.rewrite)
            return verdict(Admission::Verdict::Unchanged, verifiedAs(module));
        note.was = module;
        return rewrite(note);
    case ModuleVerdict::VerifiedElsewhere:
        if (!request.rewrite && !request.namedModule)
            return stopped(Admission::Stop::VerifiedElsewhere, alreadyVerifiedText(module));
        note.was = module;
        go = rewrite(note);
        break;
    case ModuleVerdict::Unknown:
        break;
    }
    // The planned address: another module's, verified there within the
    // register's memory and not replaced since (the module replaced here
    // is not another holder).
    const QString ip = request.planned.value(ModuleField::Ip);
    if (ip.isEmpty())
        return go;
    QList<ModuleEntry> holders;
    if (!lookup.addressHolders(ip, request.mac, request.addressMemoryDays, &holders, &error))
        return stopped(Admission::Stop::Unavailable, error);
    for (const ModuleEntry &holder : qAsConst(holders)) {
        if (holder.mac == replaced)
            continue;
        if (!request.rewrite)
            return stopped(Admission::Stop::AddressHeld, addressHeldText(ip, holder));
        note.heldIp = ip;
        note.holder = holder;
        return rewrite(note);
    }
    return go;
}

} // namespace

Admission admit(SiteRegister &reg, const AdmissionRequest &request)
{
    Admission a = judged(reg, request);
    // A rewrite is noted before the module is written.
    QString error;
    if (a.verdict == Admission::Verdict::Rewrite &&
        !RegisterRuns(reg).noteRewrite(request.run, request.planRow, request.mac, a.note, &error))
        a = stopped(Admission::Stop::Unavailable, error);
    return a;
}

} // namespace siteregister

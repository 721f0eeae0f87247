#ifndef REGISTERLOOKUP_H
#define REGISTERLOOKUP_H

#include "engine/register/registerentries.h"

#include <QList>
#include <QString>
#include <QVariant>

class SiteRegister;

// What the register knows of modules, looked up: a module by its MAC, the
// modules at an address, a module's history, every module, the module of
// a plan's row. Reads only; false with the reason when the register could
// not be asked.
class RegisterLookup
{
public:
    explicit RegisterLookup(SiteRegister &reg) : reg(reg) {}

    // The module of a MAC (any spelling); module->known() false when the
    // register has never seen it.
    bool findModule(const QString &mac, siteregister::ModuleEntry *module, QString *error);
    // The modules last verified at an address, the latest first.
    bool findAddress(const QString &ip, QList<siteregister::ModuleEntry> *modules, QString *error);
    // The modules other than `exceptMac` that hold `ip`: last verified at it
    // within `memoryDays`, and not replaced since.
    bool addressHolders(const QString &ip, const QString &exceptMac, int memoryDays,
                        QList<siteregister::ModuleEntry> *modules, QString *error);
    // A module's rows and rewrites, oldest first.
    bool history(const QString &mac, QList<siteregister::HistoryEntry> *entries, QString *error);
    // Every module, by MAC.
    bool allModules(QList<siteregister::ModuleEntry> *modules, QString *error);
    // The module whose latest verification was as row `planRow` of the plan
    // `planHash`, not replaced since (the latest such); none known when
    // there is none.
    bool rowModule(const QString &planHash, int planRow, siteregister::ModuleEntry *module,
                   QString *error);
    // Whether a run of the plan `planHash` was ever begun here.
    bool planKnown(const QString &planHash, bool *known, QString *error);
    // Whether a rewrite of the module was noted after `sinceMs`.
    bool rewrittenSince(const QString &mac, qint64 sinceMs, bool *rewritten, QString *error);

private:
    bool modules(const QString &where, const QVariantList &values,
                 QList<siteregister::ModuleEntry> *modules, QString *error);

    SiteRegister &reg;
};

#endif // REGISTERLOOKUP_H

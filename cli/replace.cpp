// ordan-cli's side of the site register for the commands that write: the
// register opened before anything is written, and replace OLD_MAC.
#include "cli/output.h"
#include "cli/register.h"
#include "cli/run.h"
#include "engine/commission/commissionrecord.h"
#include "engine/commission/recordpath.h"
#include "engine/commission/registerdesk.h"
#include "engine/register/registerverdict.h"
#include "engine/register/siteregister.h"

#include <QJsonObject>

using namespace siteregister;

bool openRegister(Run &run, const RunInfo &info, std::unique_ptr<RegisterDesk> *desk, int *exitCode)
{
    Location location;
    QString problem;
    RegisterDesk::Policy policy;
    policy.rewrite = run.parser.isSet(QStringLiteral("rewrite"));
    if (!registerLocation(run, &location, &problem) ||
        !intOption(run, "address-memory", 1, &policy.addressMemoryDays, &problem) ||
        !secondsOption(run, "claim-lease", &policy.leaseMs, &problem)) {
        *exitCode = usage(problem);
        return false;
    }
    desk->reset();
    if (location.kind == Location::Kind::None) {
        for (const char *name : {"rewrite", "address-memory", "claim-lease"}) {
            if (run.parser.isSet(QLatin1String(name))) {
                *exitCode = usage(QStringLiteral("--%1 needs the register, not --no-register")
                                      .arg(QLatin1String(name)));
                return false;
            }
        }
        return true;
    }
    auto opened = std::make_unique<RegisterDesk>();
    QString error;
    if (!opened->open(location, info, &error)) {
        cliout::error(QString(), error);
        cliout::err({QStringLiteral("nothing was written")});
        *exitCode = registerUnavailableExit;
        return false;
    }
    opened->setPolicy(policy);
    *desk = std::move(opened);
    return true;
}

int commandReplace(Run &run)
{
    if (run.ports.size() != 1 || !parameters::isWellFormedMac(run.ports.first()))
        return usage(run.ports.size() == 1
                         ? QStringLiteral("\"%1\" is not a MAC address").arg(run.ports.first())
                         : QStringLiteral("replace needs exactly one OLD_MAC"));
    const QString port = run.parser.value(QStringLiteral("port"));
    if (port.isEmpty())
        return usage(QStringLiteral("replace needs --port PORT: where the new module is"));
    const QString record = run.parser.value(QStringLiteral("record"));
    QString problem;
    if (!record.isEmpty() && !recordpath::checkWritable(record, commissionrecord::kind(), &problem))
        return usage(QStringLiteral("cannot append to the record %1: %2").arg(record, problem));

    // The old module's last verified values, from the register.
    Location location;
    if (!registerLocation(run, &location, &problem))
        return usage(problem);
    ModuleEntry old;
    {
        SiteRegister reg;
        QString error;
        if (!reg.open(location, &error, SiteRegister::Access::Read) ||
            !reg.findModule(run.ports.first(), &old, &error)) {
            cliout::error(QString(), error);
            cliout::err({QStringLiteral("nothing was written")});
            return registerUnavailableExit;
        }
    }
    const QString mac = parameters::normalMac(run.ports.first());
    if (!old.verified()) {
        cliout::error(
            QString(),
            old.known()
                ? QStringLiteral("%1 was never verified: the register "
                                 "has no values to put on a "
                                 "replacement")
                      .arg(mac)
                : QStringLiteral("the register %1 knows no module %2").arg(location.shown(), mac));
        cliout::err({QStringLiteral("nothing was written")});
        return int(JobResult::NoAnswer);
    }
    if (!old.replacedBy.isEmpty())
        return usage(
            QStringLiteral("%1 was replaced by %2 already: replace %2").arg(mac, old.replacedBy));

    // The replacement's run takes the old module's place in its plan.
    RunInfo info =
        RunInfo::here(QStringLiteral("ordan-cli replace"), old.planPath, QByteArray(), record);
    info.planHash = old.planHash;
    std::unique_ptr<RegisterDesk> desk;
    int exitCode = 0;
    if (!openRegister(run, info, &desk, &exitCode))
        return exitCode;

    WriteJob job(port, replacementValues(old), run.settings);
    job.setPlanRow(old.planRow);
    std::unique_ptr<commissionrecord::Appender> appender;
    if (!record.isEmpty()) {
        appender = std::make_unique<commissionrecord::Appender>(record);
        job.setRecorder(appender->recorder());
    }
    desk->attach(&job, old.planRow, false, old.mac);
    job.setProgress(
        [](const QString &p, int i, int n, const QString &w) { showProgress(false, p, i, n, w); });
    cliout::err({QStringLiteral("replacing %1, %2").arg(mac, verifiedAs(old))});
    runJobs({&job});

    const RowOutcome outcome = job.outcome();
    reportWriteFailure(job, outcome, QStringLiteral("the record lacks this row"));
    const bool replaced = outcome.isSuccess();
    if (run.json) {
        QJsonObject object = cliout::writeJson(outcome);
        object.insert(QStringLiteral("replaces"), mac);
        object.insert(QStringLiteral("replaced"), replaced);
        cliout::json(object);
    } else {
        if (outcome.wentThrough)
            cliout::out(cliout::writeTable(outcome));
        if (replaced)
            cliout::out({QStringLiteral("%1 replaces %2").arg(outcome.identifiedMac, mac)});
    }
    return outcome.exitCode;
}

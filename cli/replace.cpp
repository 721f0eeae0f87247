// ordan-cli's side of the site register for the commands that write: the
// register opened before anything is written, and replace OLD_MAC.
#include "cli/output.h"
#include "cli/register.h"
#include "cli/run.h"
#include "engine/commission/commissionrecord.h"
#include "engine/commission/heldclaim.h"
#include "engine/commission/recordpath.h"
#include "engine/commission/registeradapter.h"
#include "engine/commission/registerdesk.h"
#include "engine/platform/interruptwatch.h"
#include "engine/register/claimbook.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registerverdict.h"
#include "engine/register/siteregister.h"

#include <QEventLoop>
#include <QJsonObject>

using namespace siteregister;

namespace
{

// The desk's policy from --rewrite, --address-memory, --claim-lease and
// --register-wait; false with the problem.
bool registerPolicy(Run &run, RegisterDesk::Policy *policy, QString *problem)
{
    policy->rewrite = run.parser.isSet(QStringLiteral("rewrite"));
    if (!intOption(run, "address-memory", 1, &policy->addressMemoryDays, problem) ||
        !secondsOption(run, "claim-lease", &policy->leaseMs, problem) ||
        !secondsOption(run, "register-wait", &policy->reconnectMs, problem))
        return false;
    // A lease shorter than this runs out between two renewals.
    if (policy->leaseMs < minimumLeaseMs) {
        *problem = QStringLiteral("--claim-lease \"%1\": must be at least %2 seconds (a claim "
                                  "is renewed every third of its lease)")
                       .arg(run.parser.value(QStringLiteral("claim-lease")))
                       .arg(minimumLeaseMs / 1000);
        return false;
    }
    return true;
}

} // namespace

bool openRegister(Run &run, const RunInfo &info, std::unique_ptr<RegisterDesk> *desk, int *exitCode)
{
    Location location;
    QString problem;
    RegisterDesk::Policy policy;
    if (!registerLocation(run, &location, &problem) || !registerPolicy(run, &policy, &problem)) {
        *exitCode = usage(problem);
        return false;
    }
    desk->reset();
    if (location.kind == Location::Kind::None) {
        for (const char *name : {"rewrite", "address-memory", "claim-lease", "register-wait"}) {
            if (run.parser.isSet(QLatin1String(name))) {
                *exitCode = usage(QStringLiteral("--%1 needs the register, not --no-register")
                                      .arg(QLatin1String(name)));
                return false;
            }
        }
        return true;
    }
    auto opened = std::make_unique<RegisterDesk>();
    opened->setPolicy(policy);
    QString error;
    if (!opened->open(location, info, &error)) {
        cliout::error(QString(), error);
        cliout::err({QStringLiteral("nothing was written")});
        *exitCode = registerUnavailableExit;
        return false;
    }
    *desk = std::move(opened);
    return true;
}

namespace
{

bool takeClaim(HeldClaim &claim, int *exitCode)
{
    ClaimEntry answer;
    QString error;
    bool answered = false;
    QEventLoop loop;
    InterruptWatch watch([&loop] { loop.quit(); });
    claim.take([&](const ClaimEntry &entry, const QString &why) {
        answer = entry;
        error = why;
        answered = true;
        loop.quit();
    });
    if (!answered)
        loop.exec();
    if (!answered) {
        *exitCode = int(JobResult::Interrupted);
        return false;
    }
    switch (answer.state) {
    case ClaimEntry::State::Claimed:
    case ClaimEntry::State::TakenOver:
        return true;
    case ClaimEntry::State::Blocked:
        cliout::error(QString(), claimBlockedText(answer));
        *exitCode = int(JobResult::RegisterStop);
        break;
    case ClaimEntry::State::Done:
    case ClaimEntry::State::HeldByOther:
    case ClaimEntry::State::Free:
    case ClaimEntry::State::Failed:
        cliout::error(QString(), error);
        *exitCode = registerUnavailableExit;
        break;
    }
    cliout::err({QStringLiteral("nothing was written")});
    return false;
}

} // namespace

bool registerWrite(RegisterDesk *desk, WriteJob *job, int planRow,
                   const parameters::Values &planned, const QString &replaces,
                   std::unique_ptr<HeldClaim> *claim, int *exitCode)
{
    ClaimRequest request;
    request.port = job->port();
    request.planned = planned;
    request.replaces = replaces;
    *claim = std::make_unique<HeldClaim>(desk, request);
    registeradapter::Row row;
    row.planRow = planRow;
    row.planned = request.planned;
    row.replaces = replaces;
    if ((*claim)->needed()) {
        if (!takeClaim(**claim, exitCode))
            return false;
        row.claimed = (*claim)->request();
        QObject::connect(claim->get(), &HeldClaim::lost, job,
                         [job](const QString &reason) { job->abandon(reason); });
    }
    registeradapter::attach(desk, job, row);
    return true;
}

void endClaim(const WriteJob &job, HeldClaim *claim)
{
    const WriteResult::Kept *kept = job.outcome().inRegister();
    claim->ended(kept && kept->kept);
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
    RegisterDesk::Policy policy;
    if (!registerLocation(run, &location, &problem) || !registerPolicy(run, &policy, &problem))
        return usage(problem);
    ModuleEntry old;
    {
        SiteRegister reg;
        QString error;
        if (!reg.open(location, &error, SiteRegister::Access::Read) ||
            !RegisterLookup(reg).findModule(run.ports.first(), &old, &error)) {
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
        RunInfo::here(QStringLiteral("ordan-cli replace"), old.planPath, old.planHash, record);
    std::unique_ptr<RegisterDesk> desk;
    int exitCode = 0;
    if (!openRegister(run, info, &desk, &exitCode))
        return exitCode;

    // The old module's one successor and its address, claimed before
    // anything is sent: a second replacement of it stops here.
    const parameters::Values values = replacementValues(old);
    WriteJob job(port, values, run.settings);
    job.setPlanRow(old.planRow);
    std::unique_ptr<HeldClaim> claim;
    if (!registerWrite(desk.get(), &job, old.planRow, values, old.mac, &claim, &exitCode))
        return exitCode;
    std::unique_ptr<commissionrecord::Appender> appender;
    if (!record.isEmpty()) {
        appender = std::make_unique<commissionrecord::Appender>(record);
        job.addKeeper(WriteJob::Keeper::Record, appender->recorder());
    }
    job.setProgress(
        [](const QString &p, int i, int n, const QString &w) { showProgress(false, p, i, n, w); });
    cliout::err({QStringLiteral("replacing %1, %2").arg(mac, verifiedAs(old))});
    runJobs({&job});
    endClaim(job, claim.get());

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
            cliout::out(
                {QStringLiteral("%1 replaces %2").arg(outcome.result().identifiedMac, mac)});
    }
    return outcome.exitCode;
}

// The commands of ordan-cli: each checks its operands and options, runs
// its jobs on the engine and prints the outcome.
#include "cli/buscheck.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/reach.h"
#include "cli/register.h"
#include "cli/run.h"
#include "engine/commission/commissionplan.h"
#include "engine/commission/commissionrecord.h"
#include "engine/commission/commissionrun.h"
#include "engine/commission/heldclaim.h"
#include "engine/commission/recordpath.h"
#include "engine/commission/registerdesk.h"
#include "engine/console/portlistmodel.h"
#include "engine/jobs/readjob.h"
#include "engine/jobs/restartjob.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/rowwording.h"
#include "engine/platform/interruptwatch.h"
#include "settings/setting_module.h"
#include "settings/settingsmapping.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

using clioptions::optionFor;

int commandPorts(Run &run)
{
    if (!run.ports.isEmpty())
        return usage(QStringLiteral("ports takes no PORT"));
    QJsonArray array;
    QList<QStringList> rows{{QStringLiteral("port"), QStringLiteral("description"),
                             QStringLiteral("manufacturer"), QStringLiteral("serial"),
                             QStringLiteral("VID:PID"), QStringLiteral("by-id (the adapter)"),
                             QStringLiteral("by-path (the socket)")}};
    const PortListModel ports;
    for (int row = 0; row < ports.rowCount(); ++row) {
        const QModelIndex port = ports.index(row);
        const auto text = [&port](int role) { return port.data(role).toString(); };
        const auto orNull = [&port](int role) {
            const QVariant value = port.data(role);
            return value.isValid() ? QJsonValue(value.toString()) : QJsonValue();
        };
        using R = PortListModel::Role;
        array.append(QJsonObject{{QStringLiteral("port"), text(R::DeviceRole)},
                                 {QStringLiteral("description"), orNull(R::DescriptionRole)},
                                 {QStringLiteral("manufacturer"), orNull(R::ManufacturerRole)},
                                 {QStringLiteral("serial_number"), orNull(R::SerialNumberRole)},
                                 {QStringLiteral("vid_pid"), orNull(R::VidPidRole)},
                                 {QStringLiteral("by_id"), orNull(R::AliasRole)},
                                 {QStringLiteral("by_path"), orNull(R::PathAliasRole)}});
        rows << QStringList{text(R::DeviceRole),       text(R::DescriptionRole),
                            text(R::ManufacturerRole), text(R::SerialNumberRole),
                            text(R::VidPidRole),       text(R::AliasRole),
                            text(R::PathAliasRole)};
    }
    if (run.json)
        cliout::json(array);
    else if (array.isEmpty())
        cliout::out({QStringLiteral("no serial ports")});
    else
        cliout::out(cliout::table(rows, 0));
    return 0;
}

int commandRead(Run &run)
{
    if (run.ports.isEmpty())
        return usage(QStringLiteral("read needs at least one PORT"));
    const QString save = run.parser.value(QStringLiteral("save"));
    if (!save.isEmpty() && run.ports.size() != 1)
        return usage(QStringLiteral("--save takes one port only"));
    std::vector<std::unique_ptr<ReadJob>> jobs;
    QList<ModuleJob *> running;
    const bool several = run.ports.size() > 1;
    for (const QString &port : qAsConst(run.ports)) {
        jobs.push_back(std::make_unique<ReadJob>(port, run.settings));
        jobs.back()->setProgress([several](const QString &p, int i, int n, const QString &w) {
            showProgress(several, p, i, n, w);
        });
        running << jobs.back().get();
    }
    runJobs(running);

    int exitCode = 0;
    QJsonArray array;
    QStringList lines;
    for (const auto &job : jobs) {
        reportFailure(*job);
        if (exitCode == 0)
            exitCode = job->exitCode();
        array.append(cliout::readJson(job->port(), job->reading(), job->error()));
        if (job->succeeded()) {
            if (!lines.isEmpty())
                lines << QString();
            lines << cliout::readTable(job->port(), job->reading());
        }
    }
    if (run.json)
        cliout::json(several ? QJsonValue(array) : QJsonValue(array.first()));
    else if (!lines.isEmpty())
        cliout::out(lines);

    if (!save.isEmpty() && exitCode == 0) {
        setting_module file;
        settingsmapping::toSettings(jobs.front()->reading().values, &file);
        file.SaveNTSetting(save);
        if (file.outcome() != setting_module::Outcome::Done) {
            cliout::error(QString(), QStringLiteral("cannot write the settings file ") + save);
            return 1;
        }
    }
    return exitCode;
}

// What went wrong with a write, on stderr: the module as it named itself and
// the failure; for a write stopped before its restart, what was already sent;
// a row the record did not take.
void reportWriteFailure(const WriteJob &job, const RowOutcome &outcome, const QString &lacks)
{
    const QString port = outcome.result().port;
    if (outcome.failure == RowOutcome::Failure::PortNotOpened) {
        portFailure(job);
    } else if (const QString reason = RowWording::reason(outcome); !reason.isEmpty()) {
        // The module as it named itself, so that a technician with several
        // modules on the bench knows which one failed.
        QString who = outcome.result().identity.value(ModuleField::Name);
        if (!outcome.result().identifiedMac.isEmpty())
            who += QStringLiteral(" (%1)").arg(outcome.result().identifiedMac);
        if (!who.isEmpty())
            who += QStringLiteral(": ");
        cliout::error(port, who + reason);
    }
    // A bus where nothing answers: what the line showed, and what to try.
    if (outcome.failure == RowOutcome::Failure::BusIncomplete && outcome.result().bus.reached &&
        outcome.result().bus.answered().isEmpty())
        cliout::error(port,
                      QStringLiteral("bus at %1: %2")
                          .arg(outcome.result().bus.target, outcome.result().bus.diagnosis()));
    // A write that stopped before the restart leaves the module with some
    // commands taken and none applied by a restart: say which.
    if (outcome.stoppedBeforeRestart) {
        QStringList sent;
        for (const ModuleField field : outcome.sentBeforeStop())
            sent << optionFor(field) + QLatin1Char(' ') + outcome.result().planned.value(field);
        cliout::error(port, sent.isEmpty()
                                ? QStringLiteral("nothing was written; no reset was sent")
                                : QStringLiteral("already sent to the module: ") +
                                      sent.join(QLatin1String(", ")) +
                                      QStringLiteral("; no reset was sent"));
    }
    if (!RowWording::recordError(outcome).isEmpty())
        cliout::error(QString(), RowWording::recordError(outcome) + QStringLiteral(" (") + lacks +
                                     QLatin1Char(')'));
    if (!RowWording::registerError(outcome).isEmpty() &&
        outcome.failure != RowOutcome::Failure::NotRegistered)
        cliout::error(QString(),
                      RowWording::registerError(outcome) + QStringLiteral(" (the register lacks "
                                                                          "this row)"));
}

int commandWrite(Run &run)
{
    if (run.ports.size() != 1)
        return usage(QStringLiteral("write needs exactly one PORT"));
    const QString port = run.ports.first();
    parameters::Values values;
    QStringList problems;
    QMap<ModuleField, QString> origin;
    const QString from = run.parser.value(QStringLiteral("from"));
    int exitCode = 0;
    if (!baseValues(run, &values, &exitCode))
        return exitCode;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        origin.insert(it.key(),
                      from + QStringLiteral(" (for ") + optionFor(it.key()) + QLatin1Char(')'));
    for (const clioptions::OptionInfo &option : clioptions::options()) {
        const QString name = QLatin1String(option.name);
        if (option.setsField && run.parser.isSet(name)) {
            values.insert(option.field, run.parser.value(name));
            origin.insert(option.field, QStringLiteral("--") + name);
        }
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString rule = parameters::checkValue(it.key(), it.value());
        if (!rule.isEmpty())
            problems << QStringLiteral("%1 \"%2\": must be %3")
                            .arg(origin.value(it.key()), it.value(), rule);
    }
    for (const parameters::ConfigProblem &p : parameters::checkConfiguration(values)) {
        if (!(p.foreignGateway && run.settings.allowForeignGateway))
            problems << origin.value(p.field) + QStringLiteral(": ") + p.message +
                            (p.foreignGateway
                                 ? QStringLiteral(" (--allow-foreign-gateway accepts it)")
                                 : QString());
    }
    if (!problems.isEmpty()) {
        for (const QString &p : qAsConst(problems))
            cliout::error(QString(), p);
        cliout::err({QStringLiteral("nothing was sent")});
        return usageExit;
    }
    if (values.isEmpty())
        return usage(QStringLiteral("write needs at least one value (--from or a value option)"));

    const QString record = run.parser.value(QStringLiteral("record"));
    QString problem;
    if (!record.isEmpty() && !recordpath::checkWritable(record, commissionrecord::kind(), &problem))
        return usage(QStringLiteral("cannot append to the record %1: %2").arg(record, problem));

    // The register before anything is written; it says what a module it
    // knows was, and notes the rewrite.
    std::unique_ptr<RegisterDesk> desk;
    if (!openRegister(run,
                      siteregister::RunInfo::here(QStringLiteral("ordan-cli write"), QString(),
                                                  QByteArray(), absolutePath(record)),
                      &desk, &exitCode))
        return exitCode;

    const bool verify = !run.parser.isSet(QStringLiteral("no-verify"));
    WriteJob job(port, values, run.settings);
    job.setVerify(verify);
    // The address to write, claimed before anything is sent: a second
    // write of it at the same time stops here.
    std::unique_ptr<HeldClaim> claim;
    if (desk) {
        RegisterDesk::Policy policy = desk->policy();
        policy.namedModule = true;
        desk->setPolicy(policy);
        if (!registerWrite(desk.get(), &job, 0, values, QString(), &claim, &exitCode))
            return exitCode;
    }
    job.setBusUnits(busIdsOption(run));
    std::unique_ptr<commissionrecord::Appender> appender;
    if (!record.isEmpty()) {
        appender = std::make_unique<commissionrecord::Appender>(record);
        job.addKeeper(WriteJob::Keeper::Record, appender->recorder());
    }
    job.setProgress(
        [](const QString &p, int i, int n, const QString &w) { showProgress(false, p, i, n, w); });
    runJobs({&job});
    if (claim)
        endClaim(job, claim.get());

    const RowOutcome outcome = job.outcome();
    reportWriteFailure(job, outcome, QStringLiteral("the record lacks this row"));
    if (run.json) {
        QJsonObject object = cliout::writeJson(outcome);
        if (outcome.result().reachChecked)
            object = withReach(object, outcome);
        if (run.settings.checkBus)
            object = withBus(object, outcome);
        cliout::json(object);
    } else if (outcome.wentThrough) {
        cliout::out(cliout::writeTable(outcome));
    }
    const WriteResult &facts = outcome.result();
    if (!run.json && outcome.moduleRight && facts.reachChecked)
        cliout::out(
            {QStringLiteral("reachable at %1 (%2 ms)").arg(facts.reachTarget).arg(facts.reach.ms)});
    if (!run.json && outcome.moduleRight && facts.busChecked)
        cliout::out({facts.bus.summary()});
    return outcome.exitCode;
}

int commandRestart(Run &run, bool factory)
{
    if (run.ports.size() != 1)
        return usage(
            QStringLiteral("%1 needs exactly one PORT")
                .arg(factory ? QStringLiteral("factory-reset") : QStringLiteral("restart")));
    if (factory && !run.parser.isSet(QStringLiteral("yes")))
        return usage(QStringLiteral(
            "factory-reset returns the module to its factory settings: confirm with --yes"));
    const bool wait = run.parser.isSet(QStringLiteral("wait"));
    RestartJob job(run.ports.first(), factory ? Command::factoryReset : Command::restart, wait,
                   run.settings);
    runJobs({&job});
    reportFailure(job);
    const parameters::Values id = job.identity();
    if (run.json) {
        QJsonObject object{{QStringLiteral("port"), job.port()},
                           {QStringLiteral("error"),
                            job.error().isEmpty() ? QJsonValue() : QJsonValue(job.error())}};
        if (wait) {
            for (const ModuleField f : {ModuleField::Name, ModuleField::Mac})
                object.insert(parameters::fieldKey(f),
                              id.contains(f) ? QJsonValue(id.value(f)) : QJsonValue());
        }
        cliout::json(object);
    } else if (job.succeeded()) {
        cliout::out(
            {wait ? QStringLiteral("%1: back: %2 (%3)")
                        .arg(job.port(), id.value(ModuleField::Name), id.value(ModuleField::Mac))
                  : QStringLiteral("%1: %2 sent")
                        .arg(job.port(), factory ? QLatin1String(Command::factoryReset)
                                                 : QLatin1String(Command::restart))});
    }
    return job.exitCode();
}

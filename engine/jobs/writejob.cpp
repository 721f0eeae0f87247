#include "engine/jobs/writejob.h"

#include "engine/jobs/rowwording.h"
#include "engine/link/hostport.h"
#include "engine/platform/tracelog.h"

#include <QPointer>

namespace
{

const QList<ModuleField> networkFields{ModuleField::Ip, ModuleField::Mask, ModuleField::Gateway};

} // namespace

WriteJob::WriteJob(const QString &port, const parameters::Values &values,
                   const JobSettings &settings, QObject *parent)
    : ModuleJob(port, settings, parent), steps(parameters::writeSteps(values)),
      proof(&console, settings.replyTimeoutMs, settings.restartTimeoutMs)
{
    facts.port = port;
    facts.planned = values;
    facts.restartTimeoutMs = settings.restartTimeoutMs;
    judged.emplace(RowOutcome::notReached(facts, {}, int(JobResult::Interrupted)));
}

void WriteJob::start()
{
    QString busy;
    if (!claimPort(&busy)) {
        endWith(Ending::PortInUse, busy);
        return;
    }
    if (!console.open()) {
        facts.permissionDenied = console.permissionDenied();
        endWith(Ending::PortNotOpened, console.errorString());
        return;
    }
    identify();
}

void WriteJob::interrupt()
{
    end(Ending::Interrupted);
}

void WriteJob::abandon(const QString &reason)
{
    // Past the restart command the write is made: it is proven or not as
    // usual, and the register then refuses the row if it is another's.
    if (!facts.resetSent)
        endWith(Ending::Abandoned, reason);
}

void WriteJob::identify()
{
    report(JobStage::Identifying, 0, 0, QStringLiteral("identifying the module"));
    identifyModule(&console, parameters::identityFields(), progressHandler,
                   [this](const ModuleReading &r, const QString &problem) {
                       facts.identity = r.values;
                       if (r.answered == 0) {
                           end(Ending::Silent);
                           return;
                       }
                       if (!problem.isEmpty()) {
                           endWith(Ending::NotIdentified, problem);
                           return;
                       }
                       facts.identifiedMac = r.mac();
                       if (admit) {
                           askAdmission();
                           return;
                       }
                       proceed();
                   });
}

void WriteJob::askAdmission()
{
    const QPointer<WriteJob> self(this);
    admit(facts.identifiedMac, [self](const Admission &answer) {
        // The job may have been stopped while the gate was asked.
        if (!self || self->ending || self->isFinished())
            return;
        self->facts.admission = answer;
        if (answer.verdict == Admission::Verdict::Stop) {
            self->endWith(Ending::NotAdmitted, answer.words);
            return;
        }
        self->proceed();
    });
}

void WriteJob::proceed()
{
    emit identified(facts.identifiedMac);
    // An audit reads; so does a write of a module the register knows at
    // the planned values: found so, it is not written.
    if (facts.audit || facts.admission.verdict == Admission::Verdict::Unchanged) {
        readBackValues();
        return;
    }
    prepareWrite();
}

void WriteJob::prepareWrite()
{
    // The module's own network values, when the write changes only part
    // of its network configuration: the check needs the rest.
    QList<ModuleField> held;
    bool touched = false;
    for (const ModuleField field : networkFields) {
        touched = touched || facts.planned.contains(field);
        if (!facts.planned.contains(field))
            held << field;
    }
    if (!touched || held.isEmpty()) {
        checkConfiguration(ModuleReading());
        return;
    }
    runQueries(&console, held, progressHandler,
               [this](const ModuleReading &r) { checkConfiguration(r); });
}

void WriteJob::checkConfiguration(const ModuleReading &r)
{
    // The configuration the module will run: the values written over the
    // values it holds.
    parameters::Values running = facts.planned;
    bool touched = false;
    for (const ModuleField field : networkFields)
        touched = touched || facts.planned.contains(field);
    if (touched) {
        for (const ModuleField field : networkFields) {
            if (facts.planned.contains(field))
                continue;
            const QString held = r.values.value(field);
            if (held.isEmpty()) {
                endOn(field, Ending::HeldValueMissing);
                return;
            }
            const QString rule = parameters::checkValue(field, held);
            if (!rule.isEmpty())
                facts.heldInvalid.append({field, held, rule});
            running.insert(field, held);
        }
    }
    for (const parameters::ConfigProblem &p : parameters::checkConfiguration(running)) {
        if (!(p.foreignGateway && settings.allowForeignGateway))
            facts.configProblems << p.message;
    }
    if (!facts.heldInvalid.isEmpty() || !facts.configProblems.isEmpty()) {
        end(Ending::Unsound);
        return;
    }
    sendNext(0);
}

void WriteJob::sendNext(int index)
{
    if (index == steps.size()) {
        restart();
        return;
    }
    const parameters::WriteStep &step = steps.at(index);
    report(JobStage::Writing, index + 1, steps.size(), parameters::fieldKey(step.field));
    facts.sent << step.field;
    console.ask(step.command, [this, index](ModuleConsole::Reply outcome, const QByteArray &bytes) {
        const ModuleField field = steps.at(index).field;
        if (outcome != ModuleConsole::Reply::Answered) {
            endOn(field, Ending::NoReply);
            return;
        }
        const QString reply = cleanReply(bytes);
        if (!isAcknowledgement(reply)) {
            endOn(field, Ending::Refused, reply);
            return;
        }
        facts.accepted << field;
        sendNext(index + 1);
    });
}

void WriteJob::restart()
{
    report(JobStage::Restarting, 0, 0, QStringLiteral("reset"));
    console.tell(Command::writeFinish, [this](bool sent) {
        if (!sent) {
            end(Ending::LinkLost);
            return;
        }
        facts.resetSent = true;
        if (facts.verify && progressHandler)
            progressHandler(port(), 0, 0, QStringLiteral("waiting for the module to restart"));
        proof.start(!facts.verify, [this](RestartProof::Outcome outcome, const QString &reply) {
            switch (outcome) {
            case RestartProof::Outcome::Refused:
                facts.reply = reply;
                end(Ending::RestartRefused);
                return;
            case RestartProof::Outcome::NotRefused:
                end(Ending::Done);
                return;
            case RestartProof::Outcome::DidNotRestart:
                end(Ending::DidNotRestart);
                return;
            case RestartProof::Outcome::NotBack:
                end(Ending::NotBack);
                return;
            case RestartProof::Outcome::Back:
                readBackValues();
                return;
            }
        });
    });
}

void WriteJob::readBackValues()
{
    const JobProgress step = [this](const QString &, int index, int total, const QString &what) {
        report(JobStage::ReadingBack, index, total, what);
    };
    runQueries(&console, allFields(), step, [this](const ModuleReading &r) {
        facts.readBack = r;
        switch (sameModule(r, facts.identifiedMac)) {
        case ModuleReturn::Silent:
            end(Ending::ReadBackSilent);
            return;
        case ModuleReturn::NotIdentified:
            end(Ending::ReadBackNotIdentified);
            return;
        case ModuleReturn::Other:
            end(Ending::OtherModule);
            return;
        case ModuleReturn::Same:
            compare();
            return;
        }
    });
}

void WriteJob::compare()
{
    for (const parameters::WriteStep &step : qAsConst(steps)) {
        const QString written = facts.planned.value(step.field);
        const QString read = facts.readBack.values.value(step.field);
        if (read != written)
            facts.differences.append({step.field, written, read});
    }
    if (!facts.differences.isEmpty() && facts.admission.verdict == Admission::Verdict::Unchanged) {
        // The register knew it at the planned values, but it holds others
        // now: it is written as any module of the row.
        facts.admission = Admission();
        facts.differences.clear();
        facts.readBack = ModuleReading();
        prepareWrite();
        return;
    }
    if (!facts.differences.isEmpty())
        end(Ending::Differs);
    else if ((!facts.audit || settings.checkBus) && settings.reachTimeoutMs > 0)
        checkReach();
    else
        end(Ending::Done);
}

void WriteJob::checkReach()
{
    // Where the module listens now: the values it read back (the ones
    // written, where written).
    HostPort target;
    QString problem;
    if (!HostPort::parse(facts.readBack.values.value(ModuleField::Ip),
                         facts.readBack.values.value(ModuleField::PortTcp),
                         HostPort::Hosts::Ipv4Only, &target, &problem)) {
        endWith(Ending::AddressNotKnown, problem);
        return;
    }
    // The console has nothing more to say; the port stays the job's.
    console.cancel();
    console.close();
    reach = std::make_unique<ReachCheck>();
    reach->setRetryFor(settings.reachTimeoutMs);
    reach->addTarget(target.address, target.port);
    facts.reachChecked = true;
    facts.reachTarget = reach->target(0);
    connect(reach.get(), &ReachCheck::finished, this, &WriteJob::onReached);
    if (progressHandler)
        progressHandler(port(), 0, 0, QStringLiteral("connecting to ") + reach->target(0));
    emit reaching(reach->target(0));
    reach->start();
}

void WriteJob::onReached()
{
    facts.reach = reach->result(0);
    if (facts.reach.outcome == ReachCheck::Outcome::Pending)
        return; // stopped: the job ended already
    if (facts.reach.outcome != ReachCheck::Outcome::Reachable)
        end(Ending::NotReachable);
    else if (busWanted())
        checkBus();
    else
        end(Ending::Done);
}

void WriteJob::checkBus()
{
    BusScanSettings scan =
        BusScanSettings::forUnits(reach->address(0), reach->port(0), facts.busUnits);
    // The module sends what the bus said once the line has been quiet for
    // its packet time-out: the answer is awaited beyond it. Its one
    // connection, just closed by the reach check, may take a moment.
    scan.answerTimeoutMs =
        facts.readBack.values.value(ModuleField::Timewait).toInt() + busAnswerMarginMs;
    scan.connectRetryMs = settings.reachTimeoutMs;
    busScan = std::make_unique<BusScan>(scan);
    facts.busChecked = true;
    connect(busScan.get(), &BusScan::finished, this, &WriteJob::onBusChecked);
    if (progressHandler) {
        connect(
            busScan.get(), &BusScan::progress, this, [this](int done, int total, int unit, int) {
                progressHandler(port(), done + 1, total, QStringLiteral("bus: unit %1").arg(unit));
            });
    }
    emit checkingBus(facts.reachTarget);
    busScan->start();
}

void WriteJob::onBusChecked()
{
    facts.bus = busScan->report();
    if (facts.bus.interrupted)
        return; // stopped: the job ended already
    end(facts.bus.exitCode() == 0 ? Ending::Done : Ending::BusIncomplete);
}

void WriteJob::endOn(ModuleField field, Ending ending, const QString &reply)
{
    facts.field = field;
    facts.reply = reply;
    end(ending);
}

void WriteJob::endWith(Ending ending, const QString &detail)
{
    facts.detail = detail;
    end(ending);
}

void WriteJob::end(Ending how)
{
    if (ending || isFinished())
        return;
    ending = true;
    proof.stop();
    if (reach) {
        reach->stop();
        facts.reach = reach->result(0);
    }
    if (busScan) {
        busScan->stop();
        facts.bus = busScan->report();
    }
    console.cancel();
    console.close();
    facts.ending = how;
    facts.endedAt = TraceLog::timestamp();
    settle();
    // A job refused its port by another run was refused before it began:
    // like a run refused so, it leaves its keepers as they were.
    keep(how == Ending::PortInUse ? int(keepers.size()) : 0);
}

void WriteJob::settle()
{
    judged.emplace(RowOutcome::of(facts));
}

void WriteJob::keep(int next)
{
    if (next == keepers.size()) {
        // Finished: the words of its end are the outcome's.
        finish(JobResult(judged->exitCode), RowWording::reason(*judged));
        return;
    }
    // The row counts as finished once each keeper has it (or said why
    // not), in order: a keeper is told what the ones before it did.
    const KeeperEntry &keeper = keepers.at(next);
    const QPointer<WriteJob> self(this);
    // The keeper's own copy: its answer judges the row anew.
    const RowOutcome now = *judged;
    keeper.keep(now, [self, next, who = keeper.who](bool kept, const QString &error, bool closed) {
        if (!self)
            return;
        self->facts.kept.append({who, kept, kept ? QString() : error, !kept && closed});
        self->settle();
        self->keep(next + 1);
    });
}

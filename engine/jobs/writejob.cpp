#include "engine/jobs/writejob.h"

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
        endWith(Ending::ClaimLost, reason);
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
                       if (identityGate) {
                           const QString refusal = identityGate(facts.identifiedMac);
                           if (!refusal.isEmpty()) {
                               endWith(Ending::NotAdmitted, refusal);
                               return;
                           }
                       }
                       if (registerGate) {
                           askRegister();
                           return;
                       }
                       proceed();
                   });
}

void WriteJob::askRegister()
{
    const QPointer<WriteJob> self(this);
    registerGate(facts.identifiedMac, [self](const RegisterAnswer &answer) {
        // The job may have been stopped while the register was asked.
        if (!self || self->ending || self->isFinished())
            return;
        switch (answer.verdict) {
        case RegisterAnswer::Verdict::Write:
            break;
        case RegisterAnswer::Verdict::Rewrite:
            self->facts.rewriteOf = answer.text;
            break;
        case RegisterAnswer::Verdict::Unchanged:
            self->facts.unchanged = true;
            self->facts.unchangedOf = answer.text;
            break;
        case RegisterAnswer::Verdict::Stop:
            self->endWith(answer.stop, answer.text);
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
    if (facts.audit || facts.unchanged) {
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
    if (!facts.differences.isEmpty() && facts.unchanged) {
        // The register knew it at the planned values, but it holds others
        // now: it is written as any module of the row.
        facts.unchanged = false;
        facts.unchangedOf.clear();
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
    // A job refused its port by another run was refused before it began:
    // like a run refused so, it leaves the record as it was.
    facts.keepsRecord = recorder && how != Ending::PortInUse;
    facts.keepsRegister = registrar && how != Ending::PortInUse;
    const auto done = [this] {
        // Finished: the words of its end are the outcome's.
        const RowOutcome o = outcome();
        finish(JobResult(o.exitCode), o.reason);
    };
    const QPointer<WriteJob> self(this);
    const auto toRecord = [self, done] {
        if (!self)
            return;
        if (!self->facts.keepsRecord) {
            done();
            return;
        }
        // The row counts as finished once the record has it (or said why
        // not). The record keeps the outcome as it stands before the
        // record: the register's part included.
        WriteResult before = self->facts;
        before.keepsRecord = false;
        self->recorder(RowOutcome::of(before), [self, done](bool kept, const QString &error) {
            if (!self)
                return;
            self->facts.recorded = kept;
            self->facts.recordError = kept ? QString() : error;
            done();
        });
    };
    if (!facts.keepsRegister) {
        toRecord();
        return;
    }
    // The register first: a row it did not take is failed in the record
    // too, so that the record, the register and the screen say the same.
    WriteResult first = facts;
    first.keepsRegister = false;
    first.keepsRecord = false;
    registrar(RowOutcome::of(first), [self, toRecord](bool kept, const QString &error) {
        if (!self)
            return;
        self->facts.registered = kept;
        self->facts.registerError = kept ? QString() : error;
        toRecord();
    });
}

#include "engine/jobs/writejob.h"

namespace
{

const QList<ModuleField> identityFields{ModuleField::Name, ModuleField::Version, ModuleField::Mac};
const QList<ModuleField> networkFields{ModuleField::Ip, ModuleField::Mask, ModuleField::Gateway};

} // namespace

WriteJob::WriteJob(const QString &port, const parameters::Values &values,
                   const JobSettings &settings, QObject *parent)
    : ModuleJob(port, settings, parent), values(values), steps(parameters::writeSteps(values)),
      proof(&console, settings.replyTimeoutMs, settings.restartTimeoutMs)
{
}

void WriteJob::start()
{
    QString busy;
    if (!claimPort(&busy)) {
        end(JobResult::PortUnavailable, busy, QStringLiteral("port in use"));
        return;
    }
    if (!console.open()) {
        end(JobResult::PortUnavailable, console.errorString(), QStringLiteral("port not opened"));
        return;
    }
    identify();
}

void WriteJob::interrupt()
{
    end(JobResult::Interrupted, tr("interrupted"), QStringLiteral("interrupted"));
}

void WriteJob::identify()
{
    report(JobStage::Identifying, 0, 0, QStringLiteral("identifying the module"));
    identifyModule(
        &console, identityFields, progressHandler,
        [this](const ModuleReading &r, const QString &problem) {
            ident = r.values;
            if (r.answered == 0) {
                end(JobResult::NoAnswer, tr("the module did not answer; nothing was written"),
                    QStringLiteral("no answer"));
                return;
            }
            if (!problem.isEmpty()) {
                end(JobResult::NoAnswer, tr("not identified: %1; nothing was written").arg(problem),
                    QStringLiteral("not identified"));
                return;
            }
            identMac = r.mac();
            if (identityGate) {
                const QString refusal = identityGate(identMac);
                if (!refusal.isEmpty()) {
                    end(JobResult::NoAnswer, tr("%1; nothing was written").arg(refusal),
                        QStringLiteral("not a new module"));
                    return;
                }
            }
            emit identified(identMac);
            if (audit) {
                readBackValues();
                return;
            }
            // The module's own network values, when the write changes only part
            // of its network configuration: the check needs the rest.
            QList<ModuleField> held;
            bool touched = false;
            for (const ModuleField field : networkFields) {
                touched = touched || values.contains(field);
                if (!values.contains(field))
                    held << field;
            }
            if (!touched || held.isEmpty()) {
                checkConfiguration(ModuleReading());
                return;
            }
            runQueries(&console, held, progressHandler,
                       [this](const ModuleReading &r) { checkConfiguration(r); });
        });
}

void WriteJob::checkConfiguration(const ModuleReading &r)
{
    // The configuration the module will run: the values written over the
    // values it holds.
    parameters::Values running = values;
    QStringList problems;
    bool touched = false;
    for (const ModuleField field : networkFields)
        touched = touched || values.contains(field);
    if (touched) {
        for (const ModuleField field : networkFields) {
            if (values.contains(field))
                continue;
            const QString held = r.values.value(field);
            if (held.isEmpty()) {
                end(JobResult::NoAnswer,
                    tr("the module did not give its %1, so the configuration it "
                       "would run cannot be checked; nothing was written")
                        .arg(parameters::fieldKey(field)),
                    QStringLiteral("no answer"));
                return;
            }
            const QString rule = parameters::checkValue(field, held);
            if (!rule.isEmpty())
                problems << tr("the module holds %1 \"%2\", which is not %3: give "
                               "the %1 to write")
                                .arg(parameters::fieldKey(field), held, rule);
            running.insert(field, held);
        }
    }
    for (const parameters::ConfigProblem &p : parameters::checkConfiguration(running)) {
        if (!(p.foreignGateway && settings.allowForeignGateway))
            problems << p.message;
    }
    if (!problems.isEmpty()) {
        end(JobResult::Invalid,
            tr("%1; nothing was written").arg(problems.join(QLatin1String("; "))),
            QStringLiteral("invalid configuration"));
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
    sentFields << step.field;
    console.ask(step.command, [this, index](ModuleConsole::Reply outcome, const QByteArray &bytes) {
        const parameters::WriteStep &step = steps.at(index);
        const QString name = parameters::fieldKey(step.field);
        if (outcome != ModuleConsole::Reply::Answered) {
            end(JobResult::NoAnswer, tr("no reply to the %1 command").arg(name),
                QStringLiteral("no answer"));
            return;
        }
        const QString reply = cleanReply(bytes);
        if (!isAcknowledgement(reply)) {
            end(JobResult::Refused,
                tr("the module refused %1 %2 (it replied \"%3\" instead of \"ok\")")
                    .arg(name, values.value(step.field), reply),
                QStringLiteral("refused: ") + name);
            return;
        }
        acceptedFields << step.field;
        sendNext(index + 1);
    });
}

void WriteJob::restart()
{
    report(JobStage::Restarting, 0, 0, QStringLiteral("reset"));
    console.tell(Command::writeFinish, [this](bool sent) {
        if (!sent) {
            end(JobResult::NoAnswer,
                tr("the link was lost before the restart command could be sent"),
                QStringLiteral("no answer"));
            return;
        }
        resetWasSent = true;
        if (verify && progressHandler)
            progressHandler(port(), 0, 0, QStringLiteral("waiting for the module to restart"));
        proof.start(!verify, [this](RestartProof::Outcome outcome, const QString &reply) {
            switch (outcome) {
            case RestartProof::Outcome::Refused:
                end(JobResult::Refused,
                    tr("the module refused the restart (it replied \"%1\"); the "
                       "values written are not in effect")
                        .arg(reply),
                    QStringLiteral("refused: reset"));
                return;
            case RestartProof::Outcome::NotRefused:
                end(JobResult::Done, QString(), QStringLiteral("unverified"));
                return;
            case RestartProof::Outcome::DidNotRestart:
                end(JobResult::NoAnswer,
                    tr("the module did not restart: it kept answering for %1 s "
                       "after the restart command")
                        .arg(secondsText(settings.restartTimeoutMs)),
                    QStringLiteral("did not restart"));
                return;
            case RestartProof::Outcome::NotBack:
                end(JobResult::NoAnswer,
                    tr("the module did not come back within %1 s")
                        .arg(secondsText(settings.restartTimeoutMs)),
                    QStringLiteral("no answer after restart"));
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
        back = r;
        switch (sameModule(r, identMac)) {
        case ModuleReturn::Silent:
            end(JobResult::NoAnswer,
                audit ? tr("the module answered no query")
                      : tr("the module answered no query after its restart"),
                audit ? QStringLiteral("no answer") : QStringLiteral("no answer after restart"));
            return;
        case ModuleReturn::NotIdentified:
            end(JobResult::NoAnswer,
                (audit ? tr("not identified: %1, so it may be another module")
                       : tr("not identified after its restart: %1, so it may be another module"))
                    .arg(notIdentified(r)),
                QStringLiteral("not identified") +
                    (audit ? QString() : QStringLiteral(" after restart")));
            return;
        case ModuleReturn::Other:
            end(JobResult::Mismatch,
                (audit ? tr("a different module answered: MAC %1, not %2")
                       : tr("a different module answered after its restart: MAC %1, not %2"))
                    .arg(r.mac(), identMac),
                QStringLiteral("different module: ") + r.mac());
            return;
        case ModuleReturn::Same:
            compare();
            return;
        }
    });
}

void WriteJob::compare()
{
    QList<ModuleField> differing;
    for (const parameters::WriteStep &step : qAsConst(steps)) {
        const QString written = values.value(step.field);
        const QString read = back.values.value(step.field);
        if (read != written) {
            differences.append({step.field, written, read});
            differing << step.field;
        }
    }
    verifiedFlag = differences.isEmpty();
    if (verifiedFlag && !audit && settings.reachTimeoutMs > 0)
        checkReach();
    else if (verifiedFlag)
        end(JobResult::Done, QString(),
            audit ? QStringLiteral("matches") : QStringLiteral("verified"));
    else if (audit)
        end(JobResult::Mismatch,
            tr("the module differs from the plan: %1").arg(parameters::fieldKeys(differing)),
            QStringLiteral("differs: ") + parameters::fieldKeys(differing));
    else
        end(JobResult::Mismatch,
            tr("the module holds other values than written: %1")
                .arg(parameters::fieldKeys(differing)),
            QStringLiteral("mismatch: ") + parameters::fieldKeys(differing));
}

void WriteJob::checkReach()
{
    // Where the module listens now: the values it read back (the ones
    // written, where written).
    QHostAddress address;
    quint16 tcpPort = 0;
    QString problem;
    if (!ReachCheck::parseTarget(back.values.value(ModuleField::Ip),
                                 back.values.value(ModuleField::PortTcp), &address, &tcpPort,
                                 &problem)) {
        end(JobResult::NoAnswer,
            tr("verified on the console, but its address and TCP port are not known (%1), so "
               "it cannot be reached")
                .arg(problem),
            QStringLiteral("verified on the console, address not known"));
        return;
    }
    // The console has nothing more to say; the port stays the job's.
    console.cancel();
    console.close();
    reach = std::make_unique<ReachCheck>();
    reach->setRetryFor(settings.reachTimeoutMs);
    reach->addTarget(address, tcpPort);
    connect(reach.get(), &ReachCheck::finished, this, &WriteJob::onReached);
    if (progressHandler)
        progressHandler(port(), 0, 0, QStringLiteral("connecting to ") + reach->target(0));
    emit reaching(reach->target(0));
    reach->start();
}

void WriteJob::onReached()
{
    const ReachCheck::Result r = reach->result(0);
    if (r.outcome == ReachCheck::Outcome::Reachable) {
        end(JobResult::Done, QString(), QStringLiteral("verified"));
        return;
    }
    if (r.outcome == ReachCheck::Outcome::Pending)
        return; // stopped: the job ended already
    end(r.outcome == ReachCheck::Outcome::Refused ? JobResult::Mismatch : JobResult::NoAnswer,
        tr("verified on the console, not reachable at %1 (%2)")
            .arg(reach->target(0), ReachCheck::describe(r)),
        QStringLiteral("verified on the console, not reachable at %1 (%2)")
            .arg(reach->target(0), ReachCheck::word(r.outcome)));
}

void WriteJob::end(JobResult result, const QString &error, const QString &recordText)
{
    if (isFinished())
        return;
    proof.stop();
    if (reach)
        reach->stop();
    console.cancel();
    console.close();
    resultText = recordText;
    ending = result;
    if (recorder)
        recordedFlag = recorder(*this, &recordFailure);
    finish(result, error);
}

QString WriteJob::recordResult() const
{
    return resultText;
}

parameters::Values WriteJob::recordValues() const
{
    parameters::Values row = ident;
    if (ending == JobResult::Done && !verify) {
        for (const parameters::WriteStep &step : steps)
            row.insert(step.field, values.value(step.field));
    } else if (!identMac.isEmpty() && back.mac() == identMac) {
        for (auto it = back.values.cbegin(); it != back.values.cend(); ++it) {
            if (!identityFields.contains(it.key()))
                row.insert(it.key(), it.value());
        }
    }
    return row;
}

int WriteJob::exitCode() const
{
    if (result() != JobResult::Done)
        return int(result());
    return !recorder || recordedFlag ? 0 : int(JobResult::FileNotWritten);
}

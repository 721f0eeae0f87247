#include "engine/modulejobs.h"

#include "engine/commissionrecord.h"

#include <QStringList>

#include <memory>

namespace
{

QList<ModuleField> allFields()
{
    return QList<ModuleField>(std::begin(allModuleFields), std::end(allModuleFields));
}

const QList<ModuleField> identityFields{ModuleField::Name, ModuleField::Version, ModuleField::Mac};
const QList<ModuleField> networkFields{ModuleField::Ip, ModuleField::Mask, ModuleField::Gateway};

QString fieldList(const QList<ModuleField> &fields)
{
    QStringList names;
    for (const ModuleField field : fields)
        names << parameters::fieldKey(field);
    return names.join(QLatin1String(", "));
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0);
}

// Why a module is not identified by what it answered to the MAC query.
QString notIdentified(const ModuleReading &r)
{
    const QString answer = r.values.value(ModuleField::Mac);
    return answer.isEmpty()
               ? ModuleJob::tr("the module gave no MAC address")
               : ModuleJob::tr("the module's MAC answer \"%1\" is not a MAC address").arg(answer);
}

} // namespace

void runQueries(ModuleConsole *console, const QList<ModuleField> &fields,
                const JobProgress &progress, std::function<void(const ModuleReading &)> done)
{
    auto reading = std::make_shared<ModuleReading>();
    auto next = std::make_shared<std::function<void(int)>>();
    const std::weak_ptr<std::function<void(int)>> weakNext = next;
    *next = [=](int i) {
        if (i == fields.size()) {
            done(*reading);
            return;
        }
        const QueryRow &row = queryFor(fields.at(i));
        if (progress)
            progress(console->path(), i + 1, fields.size(), QString::fromLatin1(row.command));
        const auto self = weakNext.lock();
        console->ask(row.command, [=](bool answered, const QByteArray &reply) {
            if (answered)
                ++reading->answered;
            const ReadoutAnswer answer = interpretAnswer(row.field, cleanReply(reply));
            if (answered && answer.valid) {
                reading->values.insert(answer.field, isChoiceField(answer.field)
                                                         ? QString::fromLatin1(choiceWord(
                                                               answer.field, answer.position))
                                                         : answer.text);
            } else {
                reading->invalid << answer.field;
            }
            (*self)(i + 1);
        });
    };
    (*next)(0);
}

void identifyModule(ModuleConsole *console, const QList<ModuleField> &fields,
                    const JobProgress &progress,
                    std::function<void(const ModuleReading &, const QString &)> done)
{
    runQueries(console, fields, progress, [=](const ModuleReading &first) {
        const QString mac = first.mac();
        if (first.answered == 0 || mac.isEmpty()) {
            done(first, first.answered == 0 ? QString() : notIdentified(first));
            return;
        }
        runQueries(console, {ModuleField::Mac}, progress, [=](const ModuleReading &again) {
            const QString second = again.values.value(ModuleField::Mac);
            done(first, again.mac() == mac
                            ? QString()
                            : ModuleJob::tr("the module's MAC read differently twice (%1, "
                                            "then \"%2\")")
                                  .arg(mac, second));
        });
    });
}

RestartProof::RestartProof(ModuleConsole *console, int replyTimeoutMs, int restartTimeoutMs)
    : console(console), replyTimeoutMs(replyTimeoutMs), restartTimeoutMs(restartTimeoutMs)
{
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, [this] {
        if (retry)
            retry();
    });
}

void RestartProof::start(bool refusalOnly, std::function<void(Outcome, const QString &)> done)
{
    handler = std::move(done);
    clock.start();
    epoch = console->epoch();
    silences = 0;
    // The module does not answer a restart command: any reply refuses it.
    console->watchLine(replyTimeoutMs, [this, refusalOnly](ModuleConsole::LineEvent event,
                                                           const QByteArray &reply) {
        if (event == ModuleConsole::LineEvent::Replied)
            end(Outcome::Refused, cleanReply(reply));
        else if (refusalOnly)
            end(Outcome::NotRefused);
        else if (event == ModuleConsole::LineEvent::Lost)
            gone();
        else
            probe();
    });
}

void RestartProof::stop()
{
    retryTimer.stop();
    retry = nullptr;
    handler = nullptr;
}

void RestartProof::probe()
{
    // The link stays (an adapter that is not the module's own): the module
    // is gone when it leaves two queries in a row unanswered and says
    // nothing after either, so that neither a late answer nor one reply
    // lost on the line is taken for its absence.
    if (late()) {
        end(Outcome::DidNotRestart);
        return;
    }
    console->ask(queryFor(ModuleField::Name).command, [this](bool answered, const QByteArray &) {
        if (!console->isOpen()) {
            gone(); // the link dropped meanwhile
            return;
        }
        if (answered) {
            silences = 0;
            retry = [this] { probe(); };
            retryTimer.start(retryMs);
            return;
        }
        console->watchLine(qMax(replyTimeoutMs, retryMs),
                           [this](ModuleConsole::LineEvent event, const QByteArray &) {
                               if (event == ModuleConsole::LineEvent::Lost) {
                                   gone();
                               } else if (event == ModuleConsole::LineEvent::Replied) {
                                   silences = 0; // a late answer: still there
                                   probe();
                               } else if (++silences >= silencesForGone) {
                                   gone();
                               } else {
                                   probe();
                               }
                           });
    });
}

void RestartProof::gone()
{
    console->close();
    tryReturn();
}

void RestartProof::tryReturn()
{
    retry = [this] {
        if (late()) {
            end(Outcome::NotBack);
            return;
        }
        tryReturn();
    };
    if (!console->isOpen() && !console->open()) {
        retryTimer.start(retryMs); // no device there yet
        return;
    }
    console->ask(queryFor(ModuleField::Name).command, [this](bool answered, const QByteArray &) {
        if (answered) {
            end(Outcome::Back);
            return;
        }
        console->close(); // opened afresh: the device may be a new one
        retryTimer.start(retryMs);
    });
}

void RestartProof::end(Outcome outcome, const QString &reply)
{
    retryTimer.stop();
    retry = nullptr;
    if (console->epoch() != epoch)
        return; // the job was stopped meanwhile
    if (auto done = std::exchange(handler, nullptr))
        done(outcome, reply);
}

ModuleJob::ModuleJob(const QString &port, const JobSettings &settings, QObject *parent)
    : QObject(parent), settings(settings), console(port)
{
    console.setReplyTimeout(settings.replyTimeoutMs);
    console.setPace(settings.paceMs);
    console.setTraceLog(settings.trace);
}

void ModuleJob::interrupt()
{
    if (!finishedFlag)
        finish(JobResult::Interrupted, tr("interrupted"));
}

bool ModuleJob::claimPort(QString *error)
{
    if (portLock.isHeld() || portLock.acquire(port(), error))
        return true;
    lockRefused = true;
    return false;
}

bool ModuleJob::openPort()
{
    QString error;
    if (!claimPort(&error)) {
        finish(JobResult::PortUnavailable, error);
        return false;
    }
    if (console.open())
        return true;
    finish(JobResult::PortUnavailable, console.errorString());
    return false;
}

void ModuleJob::finish(JobResult result, const QString &error)
{
    if (finishedFlag)
        return;
    console.cancel();
    console.close();
    portLock.release();
    outcome = result;
    failure = error;
    finishedFlag = true;
    emit finished();
}

void ModuleJob::report(JobStage stage, int index, int total, const QString &what)
{
    if (progressHandler)
        progressHandler(port(), index, total, what);
    emit stageChanged(stage, index, total, what);
}

void ReadJob::start()
{
    if (!openPort())
        return;
    runQueries(&console, allFields(), progressHandler, [this](const ModuleReading &r) {
        readout = r;
        if (r.answered == 0)
            finish(JobResult::NoAnswer, tr("the module did not answer"));
        else
            finish(JobResult::Done);
    });
}

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
    console.ask(step.command, [this, index](bool answered, const QByteArray &bytes) {
        const parameters::WriteStep &step = steps.at(index);
        const QString name = parameters::fieldKey(step.field);
        if (!answered) {
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
                        .arg(seconds(settings.restartTimeoutMs)),
                    QStringLiteral("did not restart"));
                return;
            case RestartProof::Outcome::NotBack:
                end(JobResult::NoAnswer,
                    tr("the module did not come back within %1 s")
                        .arg(seconds(settings.restartTimeoutMs)),
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
        if (r.answered == 0) {
            end(JobResult::NoAnswer,
                audit ? tr("the module answered no query")
                      : tr("the module answered no query after its restart"),
                audit ? QStringLiteral("no answer") : QStringLiteral("no answer after restart"));
            return;
        }
        const QString mac = r.mac();
        if (mac.isEmpty()) {
            end(JobResult::NoAnswer,
                (audit ? tr("not identified: %1, so it may be another module")
                       : tr("not identified after its restart: %1, so it may be another module"))
                    .arg(notIdentified(r)),
                QStringLiteral("not identified") +
                    (audit ? QString() : QStringLiteral(" after restart")));
            return;
        }
        if (mac != identMac) {
            end(JobResult::Mismatch,
                (audit ? tr("a different module answered: MAC %1, not %2")
                       : tr("a different module answered after its restart: MAC %1, not %2"))
                    .arg(mac, identMac),
                QStringLiteral("different module: ") + mac);
            return;
        }
        compare();
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
    if (verifiedFlag)
        end(JobResult::Done, QString(),
            audit ? QStringLiteral("matches") : QStringLiteral("verified"));
    else if (audit)
        end(JobResult::Mismatch,
            tr("the module differs from the plan: %1").arg(fieldList(differing)),
            QStringLiteral("differs: ") + fieldList(differing));
    else
        end(JobResult::Mismatch,
            tr("the module holds other values than written: %1").arg(fieldList(differing)),
            QStringLiteral("mismatch: ") + fieldList(differing));
}

void WriteJob::end(JobResult result, const QString &error, const QString &recordText)
{
    if (isFinished())
        return;
    proof.stop();
    console.cancel();
    console.close();
    resultText = recordText;
    if (!recordPath.isEmpty()) {
        commissionrecord::Row row;
        row.port = port();
        // The module is the one identified before the write; the values are
        // what it read back, when it was that module that answered.
        row.values = ident;
        if (result == JobResult::Done && !verify) {
            for (const parameters::WriteStep &step : qAsConst(steps))
                row.values.insert(step.field, values.value(step.field));
        } else if (!identMac.isEmpty() && back.mac() == identMac) {
            for (auto it = back.values.cbegin(); it != back.values.cend(); ++it) {
                if (!identityFields.contains(it.key()))
                    row.values.insert(it.key(), it.value());
            }
        }
        row.result = recordResult();
        recordedFlag = commissionrecord::append(recordPath, row, &recordFailure);
        if (!recordedFlag)
            recordFailure = tr("record %1: %2").arg(recordPath, recordFailure);
    }
    finish(result, error);
}

QString WriteJob::recordResult() const
{
    return resultText;
}

int WriteJob::exitCode() const
{
    if (result() != JobResult::Done)
        return int(result());
    return recordPath.isEmpty() || recordedFlag ? 0 : int(JobResult::FileNotWritten);
}

RestartJob::RestartJob(const QString &port, const QByteArray &command, bool wait,
                       const JobSettings &settings, QObject *parent)
    : ModuleJob(port, settings, parent), command(command), wait(wait),
      proof(&console, settings.replyTimeoutMs, settings.restartTimeoutMs)
{
}

void RestartJob::start()
{
    if (!openPort())
        return;
    if (!wait) {
        send();
        return;
    }
    // The module that comes back must be the one that was restarted.
    report(JobStage::Identifying, 0, 0, QStringLiteral("identifying the module"));
    identifyModule(&console, {ModuleField::Name, ModuleField::Mac}, progressHandler,
                   [this](const ModuleReading &r, const QString &problem) {
                       identMac = r.mac();
                       if (r.answered == 0)
                           finish(JobResult::NoAnswer,
                                  tr("the module did not answer; nothing was sent"));
                       else if (!problem.isEmpty())
                           finish(JobResult::NoAnswer,
                                  tr("not identified: %1; nothing was sent").arg(problem));
                       else
                           send();
                   });
}

void RestartJob::interrupt()
{
    proof.stop();
    ModuleJob::interrupt();
}

void RestartJob::send()
{
    report(JobStage::Restarting, 0, 0, QString::fromLatin1(command));
    console.tell(command, [this](bool sent) {
        if (!sent) {
            finish(JobResult::NoAnswer, tr("the link was lost before the command could be sent"));
            return;
        }
        proof.start(!wait, [this](RestartProof::Outcome outcome, const QString &reply) {
            switch (outcome) {
            case RestartProof::Outcome::Refused:
                finish(JobResult::Refused, tr("the module refused %1 (it replied \"%2\")")
                                               .arg(QString::fromLatin1(command), reply));
                return;
            case RestartProof::Outcome::NotRefused:
                finish(JobResult::Done);
                return;
            case RestartProof::Outcome::DidNotRestart:
                finish(JobResult::NoAnswer,
                       tr("the module did not restart: it kept answering for %1 s")
                           .arg(seconds(settings.restartTimeoutMs)));
                return;
            case RestartProof::Outcome::NotBack:
                finish(JobResult::NoAnswer, tr("the module did not come back within %1 s")
                                                .arg(seconds(settings.restartTimeoutMs)));
                return;
            case RestartProof::Outcome::Back:
                break;
            }
            report(JobStage::ReadingBack, 0, 0, QStringLiteral("reading back"));
            runQueries(
                &console, {ModuleField::Name, ModuleField::Mac}, progressHandler,
                [this](const ModuleReading &r) {
                    ident = r.values;
                    const QString mac = r.mac();
                    if (mac.isEmpty())
                        finish(JobResult::NoAnswer,
                               tr("not identified after the restart: %1").arg(notIdentified(r)));
                    else if (mac != identMac)
                        finish(JobResult::Mismatch, tr("a different module answered after the "
                                                       "restart: MAC %1, not %2")
                                                        .arg(mac, identMac));
                    else
                        finish(JobResult::Done);
                });
        });
    });
}

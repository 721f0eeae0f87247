#include "engine/modulejobs.h"

#include "engine/commissionrecord.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace
{

// How long a module may take to drop the link after a restart command
// before the port is tried again anyway (an adapter that stays).
constexpr int linkLossGraceMs = 2000;
constexpr int reopenIntervalMs = 250;

QList<int> allQuerySteps()
{
    QList<int> steps;
    for (int step = 1; queryForStep(step); ++step)
        steps << step;
    return steps;
}

QString fieldList(const QList<ModuleField> &fields)
{
    QStringList names;
    for (const ModuleField field : fields)
        names << parameters::fieldKey(field);
    return names.join(QLatin1String(", "));
}

} // namespace

void runQueries(ModuleConsole *console, const QList<int> &steps, const JobProgress &progress,
                std::function<void(const ModuleReading &)> done)
{
    auto reading = std::make_shared<ModuleReading>();
    auto next = std::make_shared<std::function<void(int)>>();
    const std::weak_ptr<std::function<void(int)>> weakNext = next;
    *next = [=](int i) {
        if (i == steps.size()) {
            done(*reading);
            return;
        }
        const QueryRow *row = queryForStep(steps.at(i));
        if (progress)
            progress(console->path(), i + 1, steps.size(), QString::fromLatin1(row->command));
        const auto self = weakNext.lock();
        console->ask(row->command, [=](bool answered, const QByteArray &reply) {
            if (answered)
                ++reading->answered;
            const ReadoutAnswer answer = interpretReadoutAnswer(row->step, cleanReply(reply));
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

void awaitReturn(ModuleConsole *console, int timeoutMs, std::function<void(bool)> done)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    const quint64 epoch = console->epoch();
    console->awaitLinkLoss(qMin(timeoutMs, linkLossGraceMs), [=](bool) {
        console->close();
        auto attempt = std::make_shared<std::function<void()>>();
        const std::weak_ptr<std::function<void()>> weakAttempt = attempt;
        *attempt = [=] {
            const auto self = weakAttempt.lock();
            if (console->epoch() != epoch)
                return; // cancelled
            const auto retry = [=] {
                if (clock->elapsed() >= timeoutMs) {
                    done(false);
                    return;
                }
                QTimer::singleShot(reopenIntervalMs, console, [self] { (*self)(); });
            };
            if (!console->open()) {
                retry();
                return;
            }
            console->ask(queryForStep(1)->command, [=](bool answered, const QByteArray &) {
                if (answered) {
                    done(true);
                    return;
                }
                console->close();
                retry();
            });
        };
        QTimer::singleShot(0, console, [attempt] { (*attempt)(); });
    });
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
        finish(JobResult::Interrupted, QStringLiteral("interrupted"));
}

bool ModuleJob::openPort()
{
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
    outcome = result;
    failure = error;
    finishedFlag = true;
    emit finished();
}

void ReadJob::start()
{
    if (!openPort())
        return;
    runQueries(&console, allQuerySteps(), progressHandler, [this](const ModuleReading &r) {
        readout = r;
        if (r.answered == 0)
            finish(JobResult::NoAnswer, QStringLiteral("the module did not answer"));
        else
            finish(JobResult::Done);
    });
}

WriteJob::WriteJob(const QString &port, const parameters::Values &values,
                   const JobSettings &settings, QObject *parent)
    : ModuleJob(port, settings, parent), values(values), steps(parameters::writeSteps(values))
{
}

void WriteJob::start()
{
    if (!console.open()) {
        end(JobResult::PortUnavailable, console.errorString());
        return;
    }
    identify();
}

void WriteJob::interrupt()
{
    end(JobResult::Interrupted, QStringLiteral("interrupted"));
}

void WriteJob::identify()
{
    runQueries(&console, {1, 2, 3}, progressHandler, [this](const ModuleReading &r) {
        ident = r.values;
        if (r.answered == 0) {
            end(JobResult::NoAnswer, QStringLiteral("the module did not answer its name and MAC "
                                                    "queries; nothing was written"));
            return;
        }
        sendNext(0);
    });
}

void WriteJob::sendNext(int index)
{
    if (index == steps.size()) {
        restart();
        return;
    }
    const parameters::WriteStep &step = steps.at(index);
    if (progressHandler)
        progressHandler(port(), index + 1, steps.size(), parameters::fieldKey(step.field));
    sentFields << step.field;
    console.ask(step.command, [this, index](bool answered, const QByteArray &bytes) {
        const parameters::WriteStep &step = steps.at(index);
        const QString name = parameters::fieldKey(step.field);
        if (!answered) {
            end(JobResult::NoAnswer, QStringLiteral("no reply to the %1 command").arg(name));
            return;
        }
        const QString reply = cleanReply(bytes);
        // "ok" accepts; for the packet time-out only "?" refuses and any other
        // reply is left to the verification.
        if (judgeAcknowledgement(step.tick, reply).verdict == AckVerdict::Failed) {
            end(JobResult::Refused, QStringLiteral("the module refused %1 %2 (it replied \"%3\")")
                                        .arg(name, values.value(step.field), reply));
            return;
        }
        acceptedFields << step.field;
        sendNext(index + 1);
    });
}

void WriteJob::restart()
{
    if (progressHandler)
        progressHandler(port(), 0, 0, QStringLiteral("reset"));
    console.tell(Command::writeFinish, [this](bool sent) {
        if (!sent) {
            end(JobResult::NoAnswer, QStringLiteral("the link was lost before the restart "
                                                    "command could be sent"));
            return;
        }
        resetWasSent = true;
        if (!verify) {
            end(JobResult::Done);
            return;
        }
        if (progressHandler)
            progressHandler(port(), 0, 0, QStringLiteral("waiting for the module to restart"));
        awaitReturn(&console, settings.restartTimeoutMs, [this](bool isBack) {
            if (!isBack) {
                end(JobResult::NoAnswer, QStringLiteral("the module did not come back within %1 s")
                                             .arg(settings.restartTimeoutMs / 1000.0));
                return;
            }
            runQueries(&console, allQuerySteps(), progressHandler, [this](const ModuleReading &r) {
                back = r;
                if (r.answered == 0) {
                    end(JobResult::NoAnswer,
                        QStringLiteral("the module answered no query after its restart"));
                    return;
                }
                compare();
            });
        });
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
        end(JobResult::Done);
    else
        end(JobResult::Mismatch,
            QStringLiteral("the module holds other values than written: ") + fieldList(differing));
}

void WriteJob::end(JobResult result, const QString &error)
{
    if (isFinished())
        return;
    console.cancel();
    console.close();
    if (!recordPath.isEmpty()) {
        commissionrecord::Row row;
        row.port = port();
        row.values = ident;
        if (result == JobResult::Done && !verify) {
            for (const parameters::WriteStep &step : qAsConst(steps))
                row.values.insert(step.field, values.value(step.field));
        } else {
            for (auto it = back.values.cbegin(); it != back.values.cend(); ++it)
                row.values.insert(it.key(), it.value());
        }
        switch (result) {
        case JobResult::Done:
            row.result = verify ? QStringLiteral("verified") : QStringLiteral("unverified");
            break;
        case JobResult::Mismatch: {
            QList<ModuleField> fields;
            for (const Mismatch &m : qAsConst(differences))
                fields << m.field;
            row.result = QStringLiteral("mismatch: ") + fieldList(fields);
            break;
        }
        case JobResult::Refused:
            row.result = QStringLiteral("refused: ") + parameters::fieldKey(sentFields.last());
            break;
        case JobResult::NoAnswer:
            row.result = resetWasSent ? QStringLiteral("no answer after restart")
                                      : QStringLiteral("no answer");
            break;
        case JobResult::PortUnavailable:
            row.result = QStringLiteral("port not opened");
            break;
        case JobResult::Interrupted:
            row.result = QStringLiteral("interrupted");
            break;
        case JobResult::Invalid:
            row.result = QStringLiteral("invalid");
            break;
        }
        if (!commissionrecord::append(recordPath, row, &recordFailure))
            recordFailure = QStringLiteral("record %1: %2").arg(recordPath, recordFailure);
    }
    finish(result, error);
}

RestartJob::RestartJob(const QString &port, const QByteArray &command, bool wait,
                       const JobSettings &settings, QObject *parent)
    : ModuleJob(port, settings, parent), command(command), wait(wait)
{
}

void RestartJob::start()
{
    if (!openPort())
        return;
    console.tell(command, [this](bool sent) {
        if (!sent) {
            finish(JobResult::NoAnswer, QStringLiteral("the link was lost; nothing was sent"));
            return;
        }
        if (!wait) {
            finish(JobResult::Done);
            return;
        }
        awaitReturn(&console, settings.restartTimeoutMs, [this](bool isBack) {
            if (!isBack) {
                finish(JobResult::NoAnswer,
                       QStringLiteral("the module did not come back within %1 s")
                           .arg(settings.restartTimeoutMs / 1000.0));
                return;
            }
            runQueries(&console, {1, 3}, progressHandler, [this](const ModuleReading &r) {
                ident = r.values;
                finish(r.answered ? JobResult::Done : JobResult::NoAnswer,
                       r.answered ? QString() : QStringLiteral("the module did not answer"));
            });
        });
    });
}

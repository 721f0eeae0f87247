#include "engine/jobs/modulejob.h"

#include <memory>

QList<ModuleField> allFields()
{
    return QList<ModuleField>(std::begin(allModuleFields), std::end(allModuleFields));
}

QString secondsText(int ms)
{
    return QString::number(ms / 1000.0);
}

QString notIdentified(const ModuleReading &r)
{
    const QString answer = r.values.value(ModuleField::Mac);
    return answer.isEmpty()
               ? ModuleJob::tr("the module gave no MAC address")
               : ModuleJob::tr("the module's MAC answer \"%1\" is not a MAC address").arg(answer);
}

ModuleReturn sameModule(const ModuleReading &back, const QString &identifiedMac)
{
    if (back.answered == 0)
        return ModuleReturn::Silent;
    const QString mac = back.mac();
    if (mac.isEmpty())
        return ModuleReturn::NotIdentified;
    return mac == identifiedMac ? ModuleReturn::Same : ModuleReturn::Other;
}

void runQueries(ModuleConsole *console, const QList<ModuleField> &fields,
                const JobProgress &progress, const std::function<void(const ModuleReading &)> &done)
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
        console->ask(row.command, [=](ModuleConsole::Reply outcome, const QByteArray &reply) {
            const bool answered = outcome == ModuleConsole::Reply::Answered;
            if (answered)
                ++reading->answered;
            const ReadoutAnswer answer = interpretAnswer(row.field, cleanReply(reply));
            if (answered && answer.valid) {
                // A MAC in one form wherever it is shown or kept (upper
                // case, colons); one that is none stays as it came.
                const QString mac = answer.field == ModuleField::Mac
                                        ? parameters::normalMac(answer.text)
                                        : QString();
                reading->values.insert(answer.field, isChoiceField(answer.field)
                                                         ? QString::fromLatin1(choiceWord(
                                                               answer.field, answer.position))
                                                     : !mac.isEmpty() ? mac
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
                    const std::function<void(const ModuleReading &, const QString &)> &done)
{
    runQueries(console, fields, progress, [=](const ModuleReading &first) {
        const QString mac = first.mac();
        if (first.answered == 0 || mac.isEmpty()) {
            done(first, first.answered == 0 ? QString() : notIdentified(first));
            return;
        }
        runQueries(console, {ModuleField::Mac}, progress, [=](const ModuleReading &again) {
            // Silent at the second read: the module stopped answering, which
            // is what it is told as, not a MAC that changed.
            if (again.answered == 0) {
                done(again, QString());
                return;
            }
            const QString second = again.values.value(ModuleField::Mac);
            done(first, again.mac() == mac
                            ? QString()
                            : ModuleJob::tr("the module's MAC read differently twice (%1, "
                                            "then \"%2\")")
                                  .arg(mac, second));
        });
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

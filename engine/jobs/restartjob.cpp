#include "engine/jobs/restartjob.h"

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
                           .arg(secondsText(settings.restartTimeoutMs)));
                return;
            case RestartProof::Outcome::NotBack:
                finish(JobResult::NoAnswer, tr("the module did not come back within %1 s")
                                                .arg(secondsText(settings.restartTimeoutMs)));
                return;
            case RestartProof::Outcome::Back:
                break;
            }
            report(JobStage::ReadingBack, 0, 0, QStringLiteral("reading back"));
            runQueries(
                &console, {ModuleField::Name, ModuleField::Mac}, progressHandler,
                [this](const ModuleReading &r) {
                    ident = r.values;
                    switch (sameModule(r, identMac)) {
                    case ModuleReturn::Silent:
                    case ModuleReturn::NotIdentified:
                        finish(JobResult::NoAnswer,
                               tr("not identified after the restart: %1").arg(notIdentified(r)));
                        return;
                    case ModuleReturn::Other:
                        finish(JobResult::Mismatch,
                               tr("a different module answered after the restart: MAC %1, not %2")
                                   .arg(r.mac(), identMac));
                        return;
                    case ModuleReturn::Same:
                        finish(JobResult::Done);
                        return;
                    }
                });
        });
    });
}

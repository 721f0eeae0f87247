#include "engine/jobs/restartproof.h"

#include "protocol/protocol.h"

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
    console->ask(queryFor(ModuleField::Name).command, [this](ModuleConsole::Reply reply,
                                                             const QByteArray &) {
        if (reply == ModuleConsole::Reply::LinkLost) {
            gone(); // the link dropped meanwhile
            return;
        }
        if (reply == ModuleConsole::Reply::Answered) {
            silences = 0;
            retry = [this] { probe(); };
            retryTimer.start(retryMs);
            return;
        }
        console->watchLine(qMax(replyTimeoutMs, retryMs), [this](ModuleConsole::LineEvent event,
                                                                 const QByteArray &) {
            if (event == ModuleConsole::LineEvent::Replied) {
                silences = 0; // a late answer: still there
                probe();
            } else if (event == ModuleConsole::LineEvent::Lost || ++silences >= silencesForGone) {
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
    console->ask(queryFor(ModuleField::Name).command,
                 [this](ModuleConsole::Reply reply, const QByteArray &) {
                     if (reply == ModuleConsole::Reply::Answered) {
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

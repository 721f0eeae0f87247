#ifndef RESTARTPROOF_H
#define RESTARTPROOF_H

#include "engine/console/moduleconsole.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Proves a restart. Once the restart command has left, any reply means the
// module refused it. Otherwise the module must be seen going away (the link
// lost, or two probes in a row left unanswered, each with the line quiet
// after it) before an answer counts as its return; both within the restart
// time-out, counted from start().
class RestartProof : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Back,          // went away and answered again (the port is open)
        NotRefused,    // refusalOnly: no reply within the reply time-out
        Refused,       // the module replied to the restart command
        DidNotRestart, // never seen going away
        NotBack,       // went away and did not answer again in time
    };
    static constexpr int retryMs = 250;
    // Unanswered probes in a row that make a module gone over a kept link.
    static constexpr int silencesForGone = 2;

    RestartProof(ModuleConsole *console, int replyTimeoutMs, int restartTimeoutMs);
    // `refusalOnly`: only wait the reply time-out for a refusal.
    void start(bool refusalOnly, std::function<void(Outcome outcome, const QString &reply)> done);
    void stop();

private:
    void probe();
    void gone();
    void tryReturn();
    void end(Outcome outcome, const QString &reply = QString());
    bool late() const { return clock.elapsed() >= restartTimeoutMs; }

    ModuleConsole *console;
    int replyTimeoutMs;
    int restartTimeoutMs;
    QElapsedTimer clock;
    QTimer retryTimer;
    std::function<void()> retry;
    std::function<void(Outcome, const QString &)> handler;
    quint64 epoch = 0;
    int silences = 0; // probes in a row left unanswered
};

#endif // RESTARTPROOF_H

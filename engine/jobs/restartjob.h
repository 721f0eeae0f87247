#ifndef RESTARTJOB_H
#define RESTARTJOB_H

#include "engine/jobs/modulejob.h"
#include "engine/jobs/restartproof.h"

// Sends a restart command ("RESET" or "LOAD SETTING:DEFAULT"). Without
// `wait`, done when the module did not refuse it within the reply time-out.
// With `wait`, the module is identified first and must be seen going away
// and coming back with the same MAC.
class RestartJob : public ModuleJob
{
    Q_OBJECT

public:
    RestartJob(const QString &port, const QByteArray &command, bool wait,
               const JobSettings &settings, QObject *parent = nullptr);
    void start() override;
    void interrupt() override;
    parameters::Values identity() const { return ident; }

private:
    void send();

    QByteArray command;
    bool wait;
    RestartProof proof;
    QString identMac;
    parameters::Values ident;
};

#endif // RESTARTJOB_H

#ifndef MODULEJOBS_H
#define MODULEJOBS_H

#include "engine/moduleconsole.h"
#include "protocol/parameters.h"

#include <QObject>
#include <QStringList>

#include <functional>

// What a job with a module came to. The numbers are the exit codes of
// ordan-cli.
enum class JobResult {
    Done = 0,
    Invalid = 2,         // a value broke its rule or the call was wrong: nothing sent
    PortUnavailable = 3, // the port could not be opened
    NoAnswer = 4,        // the module did not answer in time (or did not come back)
    Refused = 5,         // the module refused a command
    Mismatch = 6,        // the read-back differs from what was written
    Interrupted = 130,   // stopped by the user
};

// Settings shared by the jobs of one run.
struct JobSettings {
    int replyTimeoutMs = ModuleConsole::defaultReplyTimeoutMs;
    int paceMs = 0;
    int restartTimeoutMs = 20000;
    TraceLog *trace = nullptr;
};

// A read-out of the module: values that were answered and valid, and the
// queries whose answer was missing or not valid by the read-out's rules.
struct ModuleReading {
    parameters::Values values;
    QList<ModuleField> invalid;
    int answered = 0; // queries that got a reply at all
};

// Progress of a job: the query or command in hand, `index` of `total`.
using JobProgress =
    std::function<void(const QString &port, int index, int total, const QString &what)>;

// Runs the read-out's queries of `steps` (1 to 11) one after another.
void runQueries(ModuleConsole *console, const QList<int> &steps, const JobProgress &progress,
                std::function<void(const ModuleReading &)> done);

// After a restart command: waits for the link to drop, then opens the port
// again about every 250 ms until the module answers its name, at most
// `timeoutMs` from now. True when it is back (the port is then open).
void awaitReturn(ModuleConsole *console, int timeoutMs, std::function<void(bool back)> done);

// Base of the jobs: one console on one port, a result and an error text.
class ModuleJob : public QObject
{
    Q_OBJECT

public:
    ModuleJob(const QString &port, const JobSettings &settings, QObject *parent = nullptr);

    QString port() const { return console.path(); }
    JobResult result() const { return outcome; }
    QString error() const { return failure; }
    bool isFinished() const { return finishedFlag; }
    // The port exists but this user may not open it.
    bool permissionDenied() const { return console.permissionDenied(); }
    void setProgress(JobProgress progress) { progressHandler = std::move(progress); }

    virtual void start() = 0;
    // Stops at once: nothing more is sent and the port is closed.
    virtual void interrupt();

signals:
    void finished();

protected:
    bool openPort();
    void finish(JobResult result, const QString &error = QString());

    JobSettings settings;
    ModuleConsole console;
    JobProgress progressHandler;

private:
    JobResult outcome = JobResult::Done;
    QString failure;
    bool finishedFlag = false;
};

// Identifies and reads a module: the eleven queries of the read-out.
class ReadJob : public ModuleJob
{
    Q_OBJECT

public:
    using ModuleJob::ModuleJob;
    void start() override;
    ModuleReading reading() const { return readout; }

private:
    ModuleReading readout;
};

// Writes parameters to a module, restarts it, reads it back and compares;
// optionally appends the outcome to a commissioning record. One module, one
// port: a commissioning run makes one of these per module.
class WriteJob : public ModuleJob
{
    Q_OBJECT

public:
    struct Mismatch {
        ModuleField field;
        QString written;
        QString read; // empty when missing or not valid
    };

    WriteJob(const QString &port, const parameters::Values &values, const JobSettings &settings,
             QObject *parent = nullptr);
    void setVerify(bool on) { verify = on; }
    void setRecord(const QString &path) { recordPath = path; }

    void start() override;
    void interrupt() override;

    parameters::Values identity() const { return ident; } // name, version, MAC
    // Commands put on the line, and those the module took (acknowledged, or
    // passed on to the verification).
    QList<ModuleField> sent() const { return sentFields; }
    QList<ModuleField> accepted() const { return acceptedFields; }
    bool resetSent() const { return resetWasSent; }
    bool verified() const { return verifiedFlag; }
    ModuleReading readBack() const { return back; }
    QList<Mismatch> mismatches() const { return differences; }
    QString recordError() const { return recordFailure; }

private:
    void identify();
    void sendNext(int index);
    void restart();
    void compare();
    void end(JobResult result, const QString &error = QString());

    parameters::Values values;
    QList<parameters::WriteStep> steps;
    bool verify = true;
    QString recordPath;
    parameters::Values ident;
    QList<ModuleField> sentFields;
    QList<ModuleField> acceptedFields;
    bool resetWasSent = false;
    bool verifiedFlag = false;
    ModuleReading back;
    QList<Mismatch> differences;
    QString recordFailure;
};

// Sends a restart command ("RESET" or "LOAD SETTING:DEFAULT"); with `wait`,
// waits for the module to come back and reads its name and MAC address.
class RestartJob : public ModuleJob
{
    Q_OBJECT

public:
    RestartJob(const QString &port, const QByteArray &command, bool wait,
               const JobSettings &settings, QObject *parent = nullptr);
    void start() override;
    parameters::Values identity() const { return ident; }

private:
    QByteArray command;
    bool wait;
    parameters::Values ident;
};

#endif // MODULEJOBS_H

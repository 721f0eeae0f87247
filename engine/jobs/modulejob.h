#ifndef MODULEJOB_H
#define MODULEJOB_H

#include "engine/console/moduleconsole.h"
#include "engine/console/portlock.h"
#include "protocol/parameters.h"

#include <QObject>
#include <QStringList>

#include <functional>

// What a job with a module came to. The numbers are the exit codes of
// ordan-cli.
enum class JobResult {
    Done = 0,
    FileNotWritten = 1,  // the module is done, but a file (record, settings) was not written
    Invalid = 2,         // a value or the configuration broke its rule: nothing written
    PortUnavailable = 3, // the port could not be opened
    NoAnswer = 4,        // no answer, not identified, did not restart or did not come back
    Refused = 5,         // the module refused a command (a write or the restart)
    Mismatch = 6,        // the read-back differs, or another module answered
    RegisterStop = 7,    // the site register stopped the row: verified elsewhere, address held
    RegisterFailed = 3,  // the site register could not be asked, or did not take the row
    Interrupted = 130,   // stopped by the user (or by SIGTERM, SIGHUP)
};

// Where a job with a module stands, for a display that follows it.
enum class JobStage {
    Identifying, // reading name, version, MAC (and what the check needs)
    Writing,     // the write commands, one by one
    Restarting,  // the restart command sent: waiting for the module to go and come back
    ReadingBack, // reading every value again
};

// Settings shared by the jobs of one run.
struct JobSettings {
    int replyTimeoutMs = ModuleConsole::defaultReplyTimeoutMs;
    int paceMs = 0;
    int restartTimeoutMs = 20000;
    // A gateway outside the module's subnet is accepted.
    bool allowForeignGateway = false;
    // After a verified read-back, the module must be reachable on the
    // network at the address and TCP port it runs with (ReachCheck), tried
    // for this long while its network comes up; 0: not checked.
    int reachTimeoutMs = 0;
    // Then, once reachable, the devices of the row's bus_ids must answer
    // through it (BusScan); rows without bus_ids are not checked.
    bool checkBus = false;
    TraceLog *trace = nullptr;
};

// A read-out of the module: values that were answered and valid, and the
// queries whose answer was missing or not valid by the read-out's rules.
struct ModuleReading {
    parameters::Values values;
    QList<ModuleField> invalid;
    int answered = 0; // queries that got a reply at all
    // The MAC answer as a MAC address (normalMac); empty when the module
    // cannot be told apart by it.
    QString mac() const { return parameters::normalMac(values.value(ModuleField::Mac)); }
};

// Every field of the read-out, in its order.
QList<ModuleField> allFields();
// Milliseconds as seconds for a message: "1.5".
QString secondsText(int ms);
// Why a module is not identified by what it answered to the MAC query.
QString notIdentified(const ModuleReading &reading);

// Who answered a read after a restart.
enum class ModuleReturn {
    Same,          // the module identified before, by its MAC
    Silent,        // nothing answered
    NotIdentified, // no well-formed MAC: it may be another module
    Other,         // another MAC: another module
};
// The one check that the module which came back is the one identified
// before (identifiedMac, as normalMac gives it).
ModuleReturn sameModule(const ModuleReading &back, const QString &identifiedMac);

// Progress of a job: the query or command in hand, `index` of `total`.
using JobProgress =
    std::function<void(const QString &port, int index, int total, const QString &what)>;

// Runs the read-out's queries for `fields` one after another.
void runQueries(ModuleConsole *console, const QList<ModuleField> &fields,
                const JobProgress &progress,
                const std::function<void(const ModuleReading &)> &done);

// Identifies a module: reads `fields` (the MAC among them), then the MAC
// once more. `done` gets the first reading and, when the module is not
// identified by a well-formed MAC read the same twice in a row, why not
// (empty when the module did not answer at all, or stopped answering before
// the second read: reading.answered is 0).
void identifyModule(
    ModuleConsole *console, const QList<ModuleField> &fields, const JobProgress &progress,
    const std::function<void(const ModuleReading &reading, const QString &problem)> &done);

// Base of the jobs: one console on one port, a result and an error text.
class ModuleJob : public QObject
{
    Q_OBJECT

public:
    ModuleJob(const QString &port, const JobSettings &settings, QObject *parent = nullptr);

    QString port() const { return console.path(); }
    JobResult result() const { return outcome; }
    // The job came to what was asked (its error is empty).
    bool succeeded() const { return outcome == JobResult::Done; }
    // The port could not be opened (or another run holds it).
    bool portUnavailable() const { return outcome == JobResult::PortUnavailable; }
    // ordan-cli's exit code for the job.
    int exitCode() const { return int(outcome); }
    QString error() const { return failure; }
    bool isFinished() const { return finishedFlag; }
    // The port exists but this user may not open it.
    bool permissionDenied() const { return console.permissionDenied(); }
    // Another run held the port: nothing was sent.
    bool portInUse() const { return console.inUse() || lockRefused; }
    void setProgress(JobProgress progress) { progressHandler = std::move(progress); }

    virtual void start() = 0;
    // Stops at once: nothing more is sent and the port is closed.
    virtual void interrupt();

signals:
    // Where the job stands: `index` of `total` within the stage (0 of 0 when
    // not counted), `what` the parameter or command in hand.
    void stageChanged(JobStage stage, int index, int total, const QString &what);
    void finished();

protected:
    // Takes the port's lock for the whole job (restarts included) and
    // opens it; on failure the job has finished (PortUnavailable).
    bool openPort();
    // The lock alone; false with the reason when another run holds it.
    bool claimPort(QString *error);
    void finish(JobResult result, const QString &error = QString());
    void report(JobStage stage, int index, int total, const QString &what);

    JobSettings settings;
    ModuleConsole console;
    JobProgress progressHandler;

private:
    JobResult outcome = JobResult::Done;
    QString failure;
    bool finishedFlag = false;
    PortLock portLock;
    bool lockRefused = false;
};

#endif // MODULEJOB_H

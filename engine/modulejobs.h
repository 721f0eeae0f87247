#ifndef MODULEJOBS_H
#define MODULEJOBS_H

#include "engine/moduleconsole.h"
#include "protocol/parameters.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

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

// Progress of a job: the query or command in hand, `index` of `total`.
using JobProgress =
    std::function<void(const QString &port, int index, int total, const QString &what)>;

// Runs the read-out's queries for `fields` one after another.
void runQueries(ModuleConsole *console, const QList<ModuleField> &fields,
                const JobProgress &progress, std::function<void(const ModuleReading &)> done);

// Identifies a module: reads `fields` (the MAC among them), then the MAC
// once more. `done` gets the first reading and, when the module is not
// identified by a well-formed MAC read the same twice in a row, why not
// (empty when the module did not answer at all: reading.answered is 0).
void identifyModule(ModuleConsole *console, const QList<ModuleField> &fields,
                    const JobProgress &progress,
                    std::function<void(const ModuleReading &reading, const QString &problem)> done);

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
//
// Verified means: this module, identified by a well-formed MAC read the same
// twice in a row before the first write, took every command with "ok", refused no restart, went
// away and came back, answered with the same MAC and reads back every value written. Nothing is
// written to a module that cannot be identified, nor when the configuration it would run (the
// values written over the values it holds) is unsound.
class WriteJob : public ModuleJob
{
    Q_OBJECT

public:
    struct Mismatch {
        ModuleField field;
        QString written;
        QString read; // empty when missing or not valid
    };
    // Decides whether an identified module may be written: an empty text
    // lets the write go on, any other is the reason it may not (a module
    // already written in this run).
    using IdentityGate = std::function<QString(const QString &mac)>;

    WriteJob(const QString &port, const parameters::Values &values, const JobSettings &settings,
             QObject *parent = nullptr);
    void setVerify(bool on) { verify = on; }
    // A site audit: nothing is written or restarted; the module is
    // identified, read and compared with the values (verified() then means
    // that it matches them; the record says "matches" or "differs: ...").
    void setAuditOnly(bool on) { audit = on; }
    bool isAudit() const { return audit; }
    void setRecord(const QString &path) { recordPath = path; }
    void setIdentityGate(IdentityGate gate) { identityGate = std::move(gate); }

    void start() override;
    void interrupt() override;

    // Name, version and MAC as the module gave them before the first write.
    parameters::Values identity() const { return ident; }
    // The MAC of the module identified before the write (normalMac), and
    // the one that answered the read-back; empty when not known.
    QString identifiedMac() const { return identMac; }
    QString readBackMac() const { return back.mac(); }
    // Commands put on the line, and those the module took with "ok".
    QList<ModuleField> sent() const { return sentFields; }
    QList<ModuleField> accepted() const { return acceptedFields; }
    bool resetSent() const { return resetWasSent; }
    bool verified() const { return verifiedFlag; }
    ModuleReading readBack() const { return back; }
    QList<Mismatch> mismatches() const { return differences; }
    // The record: whether the job's row reached it (false when none was
    // asked), and why not.
    bool keepsRecord() const { return !recordPath.isEmpty(); }
    bool recorded() const { return recordedFlag; }
    QString recordError() const { return recordFailure; }
    // The result with the record's: a module done whose row the record did
    // not take is FileNotWritten.
    int exitCode() const;
    // The record's words for the outcome ("verified", "refused: ip", ...).
    QString recordResult() const;

signals:
    // The module is identified by its MAC (normalMac) and may be written.
    void identified(const QString &mac);

private:
    void identify();
    void checkConfiguration(const ModuleReading &r);
    void sendNext(int index);
    void restart();
    void readBackValues();
    void compare();
    void end(JobResult result, const QString &error = QString(),
             const QString &recordText = QString());

    parameters::Values values;
    QList<parameters::WriteStep> steps;
    bool verify = true;
    bool audit = false;
    QString recordPath;
    IdentityGate identityGate;
    RestartProof proof;
    parameters::Values ident;
    QString identMac;
    QList<ModuleField> sentFields;
    QList<ModuleField> acceptedFields;
    bool resetWasSent = false;
    bool verifiedFlag = false;
    ModuleReading back;
    QList<Mismatch> differences;
    QString resultText;
    bool recordedFlag = false;
    QString recordFailure;
};

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

#endif // MODULEJOBS_H

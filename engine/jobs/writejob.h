#ifndef WRITEJOB_H
#define WRITEJOB_H

#include "engine/jobs/modulejob.h"
#include "engine/jobs/restartproof.h"
#include "engine/net/reachcheck.h"

#include <memory>

// Writes parameters to a module, restarts it, reads it back and compares;
// optionally hands the outcome to a recorder (the commissioning record) as
// it ends, before it counts as finished. One module, one
// port: a commissioning run makes one of these per module.
//
// Verified means: this module, identified by a well-formed MAC read the same
// twice in a row before the first write, took every command with "ok", refused no restart, went
// away and came back, answered with the same MAC and reads back every value written. Nothing is
// written to a module that cannot be identified, nor when the configuration it would run (the
// values written over the values it holds) is unsound.
//
// With JobSettings::reachTimeoutMs, a module verified on its console must
// then be reachable at the address and TCP port it runs with (as read back):
// connected to, nothing sent, tried until that time is up. One that is not
// is a failed job (NoAnswer, or Mismatch when refused): "verified on the
// console, not reachable at IP:PORT (no answer)".
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
    // Keeps the finished job's row (the commissioning record): true when it
    // did, otherwise false with the reason in *error.
    using Recorder = std::function<bool(const WriteJob &job, QString *error)>;

    WriteJob(const QString &port, const parameters::Values &values, const JobSettings &settings,
             QObject *parent = nullptr);
    void setVerify(bool on) { verify = on; }
    bool verifies() const { return verify; }
    // The values to write (or, in an audit, the plan's).
    parameters::Values written() const { return values; }
    // A site audit: nothing is written or restarted; the module is
    // identified, read and compared with the values (verified() then means
    // that it matches them; the record says "matches" or "differs: ...").
    void setAuditOnly(bool on) { audit = on; }
    bool isAudit() const { return audit; }
    void setRecorder(Recorder keeper) { recorder = std::move(keeper); }
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
    // The read-back matched (with a reach check, result() also says
    // whether the module was reachable).
    bool verified() const { return verifiedFlag; }
    // The reach check after the read-back: whether one was made, where
    // ("10.20.0.31:502") and what it came to.
    bool reachChecked() const { return reach != nullptr; }
    QString reachTarget() const { return reach ? reach->target(0) : QString(); }
    ReachCheck::Result reachResult() const
    {
        return reach ? reach->result(0) : ReachCheck::Result();
    }
    ModuleReading readBack() const { return back; }
    QList<Mismatch> mismatches() const { return differences; }
    // The record: whether the job's row reached it (false when none was
    // asked), and why not.
    bool keepsRecord() const { return bool(recorder); }
    bool recorded() const { return recordedFlag; }
    QString recordError() const { return recordFailure; }
    // The result with the record's: a module done whose row the record did
    // not take is FileNotWritten.
    int exitCode() const;
    // The record's words for the outcome ("verified", "refused: ip", ...).
    QString recordResult() const;
    // The module's values as the record shows them: the identity read
    // before the write, with the values read back when that same module
    // answered (or those written, when not verifying as asked).
    parameters::Values recordValues() const;

signals:
    // The module is identified by its MAC (normalMac) and may be written.
    void identified(const QString &mac);
    // Verified on its console; now connecting to it at `target` (IP:PORT).
    void reaching(const QString &target);

private:
    void identify();
    void checkConfiguration(const ModuleReading &r);
    void sendNext(int index);
    void restart();
    void readBackValues();
    void compare();
    void checkReach();
    void onReached();
    void end(JobResult result, const QString &error = QString(),
             const QString &recordText = QString());

    parameters::Values values;
    QList<parameters::WriteStep> steps;
    bool verify = true;
    bool audit = false;
    Recorder recorder;
    JobResult ending = JobResult::NoAnswer;
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
    std::unique_ptr<ReachCheck> reach;
    QString resultText;
    bool recordedFlag = false;
    QString recordFailure;
};

#endif // WRITEJOB_H

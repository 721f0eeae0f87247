#ifndef WRITEJOB_H
#define WRITEJOB_H

#include "engine/bus/busscan.h"
#include "engine/jobs/modulejob.h"
#include "engine/jobs/restartproof.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/reach/reachcheck.h"

#include <memory>

// Writes parameters to a module, restarts it, reads it back and compares;
// optionally hands the outcome to a recorder (the commissioning record) as
// it ends, and counts as finished once the recorder is done. One module, one
// port: a commissioning run makes one of these per module. What it came to
// is a WriteResult (facts); RowOutcome judges it and says it.
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
// is a failed job: "verified on the console, not reachable at IP:PORT (no
// answer)". With JobSettings::checkBus too, the devices of setBusUnits()
// (the plan's bus_ids) must then answer through it, at that address
// (BusScan): "verified on the console, reachable, bus: 5 does not answer
// (1, 2 answer)" otherwise.
class WriteJob : public ModuleJob
{
    Q_OBJECT

public:
    // The bus check awaits each answer this much beyond the module's packet
    // time-out.
    static constexpr int busAnswerMarginMs = 1000;

    using Mismatch = WriteResult::Difference;
    // Decides whether an identified module may be written: an empty text
    // lets the write go on, any other is the reason it may not (a module
    // already written in this run).
    using IdentityGate = std::function<QString(const QString &mac)>;
    // Keeps the finished job's row (the commissioning record): called once
    // as the job ends, with what it came to; it calls `done` (at once, or
    // later from the event loop: the row is appended off it) with whether
    // the row was kept, and why not. The job counts as finished only then.
    using RecordDone = std::function<void(bool kept, const QString &error)>;
    using Recorder = std::function<void(const RowOutcome &outcome, RecordDone done)>;
    // The site register's word on an identified module, asked before
    // anything is written: Write it; Rewrite it (it was verified elsewhere
    // and this is asked: `text` says what it was); Unchanged (it was
    // verified at every planned value, `text` where: it is read and, when
    // it still holds them, not written); Stop with `stop` and the
    // register's words in `text`.
    struct RegisterAnswer {
        enum class Verdict { Write, Rewrite, Unchanged, Stop };
        Verdict verdict = Verdict::Write;
        WriteResult::Ending stop = WriteResult::Ending::VerifiedElsewhere;
        QString text;
    };
    using RegisterAnswered = std::function<void(const RegisterAnswer &answer)>;
    // Asks the register about the module `mac` (normalMac) and calls
    // `answered` once, at once or later from the event loop.
    using RegisterGate = std::function<void(const QString &mac, RegisterAnswered answered)>;

    WriteJob(const QString &port, const parameters::Values &values, const JobSettings &settings,
             QObject *parent = nullptr);
    void setVerify(bool on) { facts.verify = on; }
    bool verifies() const { return facts.verify; }
    // The values to write (or, in an audit, the plan's).
    parameters::Values written() const { return facts.planned; }
    // A site audit: nothing is written or restarted; the module is
    // identified, read and compared with the values (verified() then means
    // that it matches them; the record says "matches" or "differs: ...").
    void setAuditOnly(bool on) { facts.audit = on; }
    bool isAudit() const { return facts.audit; }
    // The plan's row the values come from (0, the default: none).
    void setPlanRow(int row) { facts.planRow = row; }
    // The devices that must answer on the module's bus (the plan's
    // bus_ids); checked with JobSettings::checkBus.
    void setBusUnits(const QList<int> &units) { facts.busUnits = units; }
    void setRecorder(Recorder keeper) { recorder = std::move(keeper); }
    void setIdentityGate(IdentityGate gate) { identityGate = std::move(gate); }
    void setRegisterGate(RegisterGate gate) { registerGate = std::move(gate); }
    // Keeps the finished row in the site register, before the record does
    // (a recorder too): a row the register did not take is failed, and the
    // record says so.
    void setRegistrar(Recorder keeper) { registrar = std::move(keeper); }

    void start() override;
    // Stops at once, unless the job is ending already (its row on its way
    // to the record): then it finishes as it came to.
    void interrupt() override;
    // Ends the row where it stands because another station took it over
    // (`reason`: who): a write not restarted yet is not restarted.
    void abandon(const QString &reason);

    // What the job came to (RowOutcome::of its facts): every word of it.
    RowOutcome outcome() const { return RowOutcome::of(facts); }
    const WriteResult &writeResult() const { return facts; }

    // Name, version and MAC as the module gave them before the first write.
    parameters::Values identity() const { return facts.identity; }
    // The MAC of the module identified before the write (normalMac), and
    // the one that answered the read-back; empty when not known.
    QString identifiedMac() const { return facts.identifiedMac; }
    QString readBackMac() const { return facts.readBack.mac(); }
    // Commands put on the line, and those the module took with "ok".
    QList<ModuleField> sent() const { return facts.sent; }
    QList<ModuleField> accepted() const { return facts.accepted; }
    bool resetSent() const { return facts.resetSent; }
    // The read-back matched (with a reach check, the outcome also says
    // whether the module was reachable).
    bool verified() const
    {
        return facts.ending == WriteResult::Ending::Done ||
               facts.ending == WriteResult::Ending::AddressNotKnown ||
               facts.ending == WriteResult::Ending::NotReachable ||
               facts.ending == WriteResult::Ending::BusIncomplete;
    }
    // The reach check after the read-back: whether one was made, where
    // ("10.20.0.31:502") and what it came to.
    bool reachChecked() const { return facts.reachChecked; }
    QString reachTarget() const { return facts.reachTarget; }
    ReachCheck::Result reachResult() const { return facts.reach; }
    ModuleReading readBack() const { return facts.readBack; }
    QList<Mismatch> mismatches() const { return facts.differences; }
    // The record: whether the job's row reached it (false when none was
    // asked), and why not.
    bool keepsRecord() const { return facts.keepsRecord; }
    bool recorded() const { return facts.recorded; }
    QString recordError() const { return facts.recordError; }
    // The row's exit code (the record's included: a module done whose row
    // the record did not take is 1).
    int exitCode() const { return outcome().exitCode; }

signals:
    // The module is identified by its MAC (normalMac) and may be written.
    void identified(const QString &mac);
    // Verified on its console; now connecting to it at `target` (IP:PORT).
    void reaching(const QString &target);
    // Reachable; now asking the devices of its bus at `target`.
    void checkingBus(const QString &target);

private:
    using Ending = WriteResult::Ending;

    void identify();
    void askRegister();
    // Identified, admitted: the audit's read, the read of a module that may
    // hold the values already, or the write.
    void proceed();
    void prepareWrite();
    void checkConfiguration(const ModuleReading &r);
    void sendNext(int index);
    void restart();
    void readBackValues();
    void compare();
    void checkReach();
    void onReached();
    // The bus check after the reach check, when asked and the row names
    // devices.
    bool busWanted() const { return settings.checkBus && !facts.busUnits.isEmpty(); }
    void checkBus();
    void onBusChecked();
    // Ends the job where it stands: the facts so far, the record, then
    // finished.
    void end(Ending ending);
    void endOn(ModuleField field, Ending ending, const QString &reply = QString());
    void endWith(Ending ending, const QString &detail);

    QList<parameters::WriteStep> steps;
    WriteResult facts;
    Recorder recorder;
    IdentityGate identityGate;
    RegisterGate registerGate;
    Recorder registrar;
    RestartProof proof;
    std::unique_ptr<ReachCheck> reach;
    std::unique_ptr<BusScan> busScan;
    bool ending = false;
};

#endif // WRITEJOB_H

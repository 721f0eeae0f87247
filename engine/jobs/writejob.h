#ifndef WRITEJOB_H
#define WRITEJOB_H

#include "engine/bus/busscan.h"
#include "engine/jobs/modulejob.h"
#include "engine/jobs/restartproof.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/reach/reachcheck.h"

#include <memory>
#include <optional>

// Writes parameters to a module, restarts it, reads it back and compares;
// optionally asks the run's gate before anything is written (admission:
// the run's own rules and the site register's), and hands the outcome to
// its keepers (the site register, the commissioning record) as it ends,
// counting as finished once they are done. One module, one
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
    using Admission = WriteResult::Admission;
    using Keeper = WriteResult::Keeper;
    // The run's gate: asked once the module is identified by its MAC
    // (normalMac), before anything is written, whether it may be written;
    // calls `answered` once, at once or later from the event loop. A stop
    // ends the job with nothing written.
    using Answered = std::function<void(const Admission &answer)>;
    using Admit = std::function<void(const QString &mac, Answered answered)>;
    // A keeper of the finished job's row (the site register, the record):
    // called once as the job ends, in the order added, with what it came to
    // (the answers of the keepers before it included); it calls `done` (at
    // once, or later from the event loop: the row is kept off it) with
    // whether the row was kept, and why not (its error, or the keeper
    // closed). The job counts as finished once every keeper has answered.
    using KeepDone = std::function<void(bool kept, const QString &error, bool closed)>;
    using Keep = std::function<void(const RowOutcome &outcome, KeepDone done)>;

    WriteJob(const QString &port, const parameters::Values &values, const JobSettings &settings,
             QObject *parent = nullptr);
    void setVerify(bool on) { facts.verify = on; }
    // A site audit: nothing is written or restarted; the module is
    // identified, read and compared with the values (the outcome then says
    // whether it matches them; the record says "matches" or "differs: ...").
    void setAuditOnly(bool on) { facts.audit = on; }
    // The plan's row the values come from (0, the default: none).
    void setPlanRow(int row) { facts.planRow = row; }
    // The devices that must answer on the module's bus (the plan's
    // bus_ids); checked with JobSettings::checkBus.
    void setBusUnits(const QList<int> &units) { facts.busUnits = units; }
    void setAdmission(Admit gate) { admit = std::move(gate); }
    // Keepers are asked in the order added: the site register before the
    // record, so that a row the register did not take is failed in the
    // record too.
    void addKeeper(Keeper who, Keep keep) { keepers.append({who, std::move(keep)}); }

    void start() override;
    // Stops at once, unless the job is ending already (its row on its way
    // to the record): then it finishes as it came to.
    void interrupt() override;
    // Ends the row where it stands because another run took it over
    // (`reason`: who): a write not restarted yet is not restarted.
    void abandon(const QString &reason);

    // What the job came to, its facts (result()) and their judgement:
    // judged as the job ends and again as each keeper answers (what a
    // keeper did is a fact of the row), and kept; every word of it. Before
    // the job ends: a row not reached.
    const RowOutcome &outcome() const { return *judged; }

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
    void askAdmission();
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
    // Ends the job where it stands: the facts so far, its keepers, then
    // finished.
    void end(Ending ending);
    // Judges the facts as they stand (outcome()).
    void settle();
    // Hands the row to the keepers from `next` on, then finishes.
    void keep(int next);
    void endOn(ModuleField field, Ending ending, const QString &reply = QString());
    void endWith(Ending ending, const QString &detail);

    QList<parameters::WriteStep> steps;
    WriteResult facts;
    std::optional<RowOutcome> judged;
    Admit admit;
    struct KeeperEntry {
        Keeper who;
        Keep keep;
    };
    QList<KeeperEntry> keepers;
    RestartProof proof;
    std::unique_ptr<ReachCheck> reach;
    std::unique_ptr<BusScan> busScan;
    bool ending = false;
};

#endif // WRITEJOB_H

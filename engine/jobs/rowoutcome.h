#ifndef ROWOUTCOME_H
#define ROWOUTCOME_H

#include "engine/jobs/writeresult.h"
#include "protocol/parameters.h"

#include <QList>
#include <QString>

#include <optional>

// What a write, or a row of a commissioning run or an audit, came to:
// judged here once from the job's facts (WriteResult), which it holds as
// they were (result()) and never copies. Its words, in the terminal, JSON,
// the windows, the record's reader and the register's note, are chosen by
// RowWording alone. ordan-cli prints it (text and JSON), the site window
// shows it, the record keeps it; none of them judges a job or words its
// outcome by itself. The record keeps its result in English words the
// register and the record's reader parse back (recordResult()).
class RowOutcome
{
public:
    enum class Status {
        Verified,    // written, restarted, the same module read back as written
        Unverified,  // written and restarted, not read back (asked so)
        Matches,     // audit: the module holds what the plan says
        Differs,     // the module holds other values (read back or audited)
        Failed,      // anything else: see failure
        Interrupted, // stopped by the user while the module was in hand
        NotReached,  // the run ended before the row began
        AlreadyDone, // verified by an earlier run of the plan, or another station's
    };
    enum class Failure {
        None,
        PortNotOpened,
        NoAnswer, // no answer, not identified, did not restart or come back
        Refused,
        InvalidConfiguration,
        AnotherModule,   // another module answered after the restart
        NotRecorded,     // the module is right, the record lacks its row
        NotReachable,    // verified on its console, not reachable at its address (--reach)
        AddressNotKnown, // verified on its console, its address read back is no place to reach
        AlreadyVerified, // the register: the module is verified elsewhere; nothing written
        AddressHeld,     // the register: a planned address is another's; nothing written
        NoRegister,      // the register could not be asked; nothing written
        ClaimLost,       // another station took the row over (its lease ran out)
        NotRegistered,   // the module is right, the register lacks its row
        BusIncomplete,   // verified and reachable, but not every device of bus_ids answers
    };
    using Difference = WriteResult::Difference;
    // Why a row was not begun: a fact RowWording words.
    struct NotBegun {
        enum class Why {
            Unsaid,      // its lane ended with no word of its own
            Interrupted, // the run was stopped by the user
            NoNewModule, // no new module came to its port within waitedMs
            PortHeld,    // its port could not be had (`words`: the lock's)
            DoneAlready, // the register has it done (`words`: by whom, when)
        };
        Why why = Why::Unsaid;
        int waitedMs = 0;
        QString words;
    };

    // A write or an audit of one module, finished.
    static RowOutcome of(const WriteResult &result);
    // A row that was never begun, and why (a run's row not reached).
    // `meant`: what the row meant (its port, plan row, values and bus).
    static RowOutcome notReached(const WriteResult &meant, const NotBegun &why, int exitCode);
    // A row that was not begun because the register says it is done
    // (`reason`: by whom, when, on which module), or because the register
    // could not be asked for it.
    static RowOutcome alreadyDone(const WriteResult &meant, const QString &reason);
    static RowOutcome registerUnavailable(const WriteResult &meant, const QString &reason);
    // A row that was not begun because a gate stopped it before its module
    // was identified (`stop`: an address another run holds).
    static RowOutcome refused(const WriteResult &meant, const WriteResult::Admission &stop);

    // The job's facts the row was judged from, as the job found them (for
    // a row never begun: what it meant, its port, plan row and values).
    const WriteResult &result() const { return facts; }

    // The judgement.
    Status status = Status::NotReached;
    Failure failure = Failure::None;
    // Why a row was not begun (not reached, done already).
    NotBegun notBegun;
    // Written fields whose read-back is not what was written.
    QList<ModuleField> readBackDiffers;
    // A write stopped before its restart: the commands the module had been
    // sent (sentBeforeStop()), none of them in effect.
    bool stoppedBeforeRestart = false;
    // Every command was taken and the restart not refused: the values
    // written (and read back) make a table.
    bool wentThrough = false;
    // The module is right (verified, unverified as asked, matches), whether
    // or not the record took its row.
    bool moduleRight = false;
    // ordan-cli's exit code for the row.
    int exitCode = 0;
    // "on_module" in JSON: whether the module was read back as written;
    // none when it was not read back (not asked, or it did not get there).
    // "verified": that, and the register (when one is kept) took the row.
    std::optional<bool> onModule;
    std::optional<bool> verified;
    // "matches" in JSON (an audit): none when nothing was compared.
    std::optional<bool> matches;
    // The read-back makes a column beside the values written.
    bool readBackShown = false;

    // What the keepers did with the row: the record's and the register's
    // answers (none when that keeper is not kept), and why not.
    const WriteResult::Kept *record() const { return facts.keptBy(WriteResult::Keeper::Record); }
    const WriteResult::Kept *inRegister() const
    {
        return facts.keptBy(WriteResult::Keeper::Register);
    }
    // The register knew the module at every planned value: read, not
    // written.
    bool unchanged() const
    {
        return facts.admission.verdict == WriteResult::Admission::Verdict::Unchanged;
    }
    // The commands sent before the job stopped short of its restart.
    QList<ModuleField> sentBeforeStop() const
    {
        return facts.resetSent ? QList<ModuleField>() : facts.sent;
    }

    // The row counts as done right (verified, or matches in an audit).
    bool isSuccess() const { return status == Status::Verified || status == Status::Matches; }
    // The bus check in the record's bus column, never translated.
    QString busRecord() const;

    // The record's words for the row, never translated: "verified",
    // "refused: ip after sending ip; no restart was sent", "mismatch: ip".
    QString recordResult() const { return recordText; }
    // The module's values as the record shows them: the identity read
    // before the write, with the values read back when that same module
    // answered (or those written, when not verifying as asked).
    parameters::Values recordValues() const { return recordCells; }

    // ordan-cli's exit code for reach checks that came to `outcomes`: 0
    // when every one is reachable; 4 when any does not answer or is
    // unreachable; otherwise 6 when any refuses. 130 when interrupted; 1
    // when all were reachable but their record was not written.
    static int reachExitCode(const QList<ReachCheck::Outcome> &outcomes, bool interrupted = false,
                             bool recordFailed = false);

private:
    explicit RowOutcome(const WriteResult &judged) : facts(judged) {}

    const WriteResult facts;
    QString recordText;
    parameters::Values recordCells;
};

#endif // ROWOUTCOME_H

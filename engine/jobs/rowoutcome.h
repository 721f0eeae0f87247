#ifndef ROWOUTCOME_H
#define ROWOUTCOME_H

#include "engine/jobs/writeresult.h"
#include "protocol/parameters.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What a write, or a row of a commissioning run or an audit, came to:
// judged here once from the job's facts (WriteResult), and said here once.
// ordan-cli prints it (text and JSON), the site window shows it, the record
// keeps it; none of them judges a job or words its outcome by itself. The
// sentences are translatable (ordan-cli loads no translation: it stays
// English), parameters named in them included; statusWord(), the record's
// words and the keys of JSON are not.
class RowOutcome
{
    Q_DECLARE_TR_FUNCTIONS(RowOutcome)

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

    // A write or an audit of one module, finished.
    static RowOutcome of(const WriteResult &result);
    // A row that was never begun, and why (a run's row not reached).
    static RowOutcome notReached(bool audit, const QString &reason, int exitCode);
    // A row that was not begun because the register says it is done
    // (`reason`: by whom, when, on which module), or because the register
    // could not be asked for it.
    static RowOutcome alreadyDone(bool audit, const QString &reason);
    static RowOutcome registerUnavailable(bool audit, const QString &reason);
    // A row that was not begun because a gate stopped it before its module
    // was identified (`stop`: an address another run holds).
    static RowOutcome refused(bool audit, const WriteResult::Admission &stop);

    Status status = Status::NotReached;
    Failure failure = Failure::None;
    bool audit = false;
    // Why, in words: the job's failure, or why the row was not reached.
    QString reason;
    QList<Difference> differences;
    // Written fields whose read-back is not what was written.
    QList<ModuleField> readBackDiffers;
    // The record: whether one is kept, whether it took the row, and why not.
    bool keepsRecord = false;
    bool recorded = false;
    QString recordError;
    // The site register: whether one is kept, whether it took the row, and
    // why not; a module it knew as verified elsewhere, rewritten as asked,
    // and what it was; a module that already held the planned values,
    // read and not written, and where it was verified.
    bool keepsRegister = false;
    bool registered = false;
    QString registerError;
    QString rewriteOf;
    bool unchanged = false;
    QString unchangedOf;
    // The port exists but this user may not open it.
    bool permissionDenied = false;
    // A write stopped before its restart: the commands the module had been
    // sent, none of them in effect.
    bool stoppedBeforeRestart = false;
    QList<ModuleField> sentBeforeStop;
    bool resetSent = false;
    int acceptedCount = 0;
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

    // When the row ended (the record's and the register's time); empty for
    // a row not begun.
    QString time;
    // What was meant: the port, the plan's row (0: a write on its own) and
    // the values to write (an audit's: the plan's).
    QString port;
    int planRow = 0;
    parameters::Values planned;
    // The module as it named itself before the first write.
    parameters::Values identity;
    QString identifiedMac;
    // Read back after the restart (or read, in an audit) was asked.
    bool verifies = true;
    // The commands the module took, in the order sent.
    QList<ModuleField> accepted;
    // What the module answered when read back (or read, in an audit), and
    // whether the read-back makes a column beside the values written.
    ModuleReading readBack;
    bool readBackShown = false;
    // The reach check after the read-back: whether one was made, where
    // ("10.20.0.31:502") and what it came to.
    bool reachChecked = false;
    QString reachTarget;
    ReachCheck::Result reach;
    // The devices that must answer on the module's bus (the plan's
    // bus_ids), and the bus check after the reach check: whether one was
    // made and what it came to.
    QList<int> busUnits;
    bool busChecked = false;
    BusReport bus;

    // The row counts as done right (verified, or matches in an audit).
    bool isSuccess() const { return status == Status::Verified || status == Status::Matches; }
    // The word for the row's status in ordan-cli's summary and JSON:
    // "verified", "unverified", "matches", "differs", "failed" or "not
    // reached" (an interrupted row, and a write that differs, failed).
    QString statusWord() const;
    // The words a run's rows can have, in the order a summary counts them.
    static QStringList statusWords(bool audit);
    // A status word in the reader's language (itself in English).
    static QString statusText(const QString &word);
    // What the module itself came to, whatever the record: "verified",
    // "unverified" or "matches"; empty when it did not get there.
    QString moduleWord() const;
    // The failure in a word or two ("refused", "no answer"); empty when
    // none.
    QString failureWord() const;
    // The row in one line, as ordan-cli's summary gives it: "verified",
    // "failed: the module refused ...", "differs: ip planned ..., module
    // has ..."; in a window's language where one is loaded.
    QString line() const;
    // The row in a word or a few, for the site window's state column: its
    // status, a difference by the parameters that differ ("differs: ip,
    // mask"; a write's too), a failure by its word ("failed: refused"), a
    // row done already by whom; in a window's language where one is loaded.
    QString shortLine() const;
    // What the row came to, for the site window's result cell.
    QString detail() const;
    // What the register said of the module, when it went on anyway or
    // found nothing to write: "rewritten: it was verified as 10.70.0.82
    // (row 3 of site.csv, station, time)", "not rewritten: it already held
    // the planned values, verified as ..."; empty otherwise.
    QString registerNote() const;

    // The bus check in the window's words ("1, 2, 5 answer", "5 does not
    // answer (1, 2 answer)"); empty when none was made.
    QString busDetail() const;
    // The same in the record's bus column, never translated.
    QString busRecord() const;

    // The record's words for the row, never translated: "verified",
    // "refused: ip after sending ip; no restart was sent", "mismatch: ip".
    QString recordResult() const { return recordText; }
    // The module's values as the record shows them: the identity read
    // before the write, with the values read back when that same module
    // answered (or those written, when not verifying as asked).
    parameters::Values recordValues() const { return recordCells; }

    // A parameter's name in a sentence, translated (the key itself in
    // English: "ip", "tcp_port"), and several joined: "ip, gateway".
    static QString fieldName(ModuleField field);
    static QString fieldNames(const QList<ModuleField> &fields);

    // ordan-cli's exit code for reach checks that came to `outcomes`: 0
    // when every one is reachable; 4 when any does not answer or is
    // unreachable; otherwise 6 when any refuses. 130 when interrupted; 1
    // when all were reachable but their record was not written.
    static int reachExitCode(const QList<ReachCheck::Outcome> &outcomes, bool interrupted = false,
                             bool recordFailed = false);

private:
    QString recordText;
    parameters::Values recordCells;
};

#endif // ROWOUTCOME_H

#ifndef ROWOUTCOME_H
#define ROWOUTCOME_H

#include "protocol/parameters.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class WriteJob;

// What a write, or a row of a commissioning run or an audit, came to:
// decided here once. ordan-cli prints it (text and JSON), the site window
// shows it; neither judges a job by itself. The words are translatable
// (ordan-cli loads no translation: it stays English), except statusWord(),
// which files and JSON keep.
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
    };
    enum class Failure {
        None,
        PortNotOpened,
        NoAnswer, // no answer, not identified, did not restart or come back
        Refused,
        InvalidConfiguration,
        AnotherModule, // another module answered after the restart
        NotRecorded,   // the module is right, the record lacks its row
        NotReachable,  // verified on its console, not reachable at its address (--reach)
    };
    // A value that differs: planned or written against read (empty when
    // the module gave none that is valid).
    struct Difference {
        ModuleField field;
        QString expected;
        QString read;
    };

    // A write or an audit of one module, finished.
    static RowOutcome of(const WriteJob &job);
    // A row that was never begun, and why (a run's row not reached).
    static RowOutcome notReached(bool audit, const QString &reason, int exitCode);

    Status status = Status::NotReached;
    Failure failure = Failure::None;
    bool audit = false;
    // Why, in the engine's words: the job's error, or why the row was not
    // reached.
    QString reason;
    QList<Difference> differences;
    // Written fields whose read-back is not what was written.
    QList<ModuleField> readBackDiffers;
    // The record: whether one is kept, whether it took the row, and why not.
    bool keepsRecord = false;
    bool recorded = false;
    QString recordError;
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
    // "verified" in JSON: whether the module was read back as written;
    // none when it was not read back (not asked, or it did not get there).
    std::optional<bool> verified;
    // "matches" in JSON (an audit): none when nothing was compared.
    std::optional<bool> matches;

    // The row counts as done right (verified, or matches in an audit).
    bool isSuccess() const { return status == Status::Verified || status == Status::Matches; }
    // The word for the row's status in ordan-cli's summary and JSON:
    // "verified", "unverified", "matches", "differs", "failed" or "not
    // reached" (an interrupted row, and a write that differs, failed).
    QString statusWord() const;
    // The words a run's rows can have, in the order a summary counts them.
    static QStringList statusWords(bool audit);
    // What the module itself came to, whatever the record: "verified",
    // "unverified" or "matches"; empty when it did not get there.
    QString moduleWord() const;
    // The failure in a word or two ("refused", "no answer"); empty when
    // none.
    QString failureWord() const;
    // The row in one line, as ordan-cli's summary gives it: "verified",
    // "failed: the module refused ...", "differs: ip planned ..., module
    // has ...".
    QString line() const;
    // What the row came to, for the site window's result cell.
    QString detail() const;
};

#endif // ROWOUTCOME_H

#ifndef REGISTERENTRIES_H
#define REGISTERENTRIES_H

#include "protocol/parameters.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// What the site register holds and answers, as values: a run, a row's
// outcome (the CSV record's row), a module's entry, a claim, a plan row's
// standing. Times are the record's text (local time in ISO 8601 with its
// offset).
namespace siteregister
{

// Values as one text, "ip=10.70.0.82;mask=255.255.255.0" (the parameters'
// record names; "\", ";" and "=" in a value escaped with "\"). Keys this
// program does not know are left out.
QString valuesText(const parameters::Values &values);
parameters::Values valuesFrom(const QString &text);

// A plan's identity as registers of the tables' first version kept it:
// the SHA-256 of its file's bytes, in hex. A plan is known by its rows
// now (commissionplan::identity, "rows:..."): a register still holding
// this one is brought to the rows' identity when the plan is met again.
QString legacyPlanHash(const QByteArray &planBytes);
// Whether a plan's key is the rows' identity rather than a legacy hash.
bool isRowsIdentity(const QString &planKey);

// Local time in ISO 8601 with milliseconds and the UTC offset, of a moment
// in milliseconds since 1970.
QString timeText(qint64 msSinceEpoch);

// Particulars by name, as the register keeps them (registerfacts.h); as
// one text "code=refused;field=ip" ("\", ";" and "=" in a value escaped
// with "\"), and back.
using Facts = QMap<QString, QString>;
QString factsText(const Facts &facts);
Facts factsFrom(const QString &text);

// A row's result: `code` names the ending ("verified", "refused",
// "not_reachable", ...); `values` hold its particulars ("field", "fields",
// "sent", "target", "reach", "bus", "mac", "audit", "unregistered",
// "after_restart"). A result whose words could not be read has the code
// "text" and keeps them as "text".
struct ResultFacts {
    QString code;
    Facts values;

    bool operator==(const ResultFacts &other) const
    {
        return code == other.code && values == other.values;
    }
};

// One run of a program, as begun in the register.
struct RunInfo {
    QString tool;     // "ordan-cli commission", "ordan-site", "import"
    QString station;  // the computer's host name (empty for an import:
    QString user;     // the login name             not known)
    qint64 pid = 0;   // the process, so that a claim names it
    QString planPath; // empty for a run without a plan (write)
    QString planHash; // the plan's identity (commissionplan::identity)
    // legacyPlanHash() of the plan's bytes, when they are known: the
    // register's runs and claims of that key become the identity's.
    QString legacyHash;
    QString record; // the CSV record the run appends to, if any

    // A run of `tool` by this computer's user and this process now.
    static RunInfo here(const QString &tool, const QString &planPath = QString(),
                        const QString &planIdentity = QString(), const QString &record = QString());
};

// A row's outcome, as the CSV record has it.
struct RowEntry {
    QString time;               // the record's time; now when empty
    int planRow = 0;            // the plan's row; 0 for a write without a plan
    QString port;               // the serial port
    parameters::Values planned; // what the row asked for
    parameters::Values values;  // read back: name, version, MAC and the parameters
    QString result;             // the record's result: "verified", the failure, ...
    // The module this row's module replaces (ordan-cli replace): marked as
    // replaced by it when the row proves its values.
    QString replaces;

    QString mac() const;
};

// A module the register knows (by its MAC), and where it was last verified.
struct ModuleEntry {
    QString mac; // empty: not in the register
    QString firstSeen;
    QString lastSeen;
    QString verifiedTime; // empty: never verified
    qint64 verifiedMs = 0;
    parameters::Values values; // the values it was last verified at
    qint64 run = 0;            // the run that verified it, and that run's
    QString tool;
    QString station;
    QString user;
    QString planPath;
    QString planHash;
    QString record; // the CSV record of that run (an import's source)
    int planRow = 0;
    QString port;
    QString replacedBy; // the MAC of the module that took its place

    bool known() const { return !mac.isEmpty(); }
    bool verified() const { return !verifiedTime.isEmpty(); }
};

// What the register knew of a module written again: where it was last
// verified (`was`; unknown() when it was not), and the address another
// module held (`heldIp`, `holder`). A note of an older register that could
// not be read is kept as `text`.
struct RewriteNote {
    ModuleEntry was;
    QString heldIp;
    ModuleEntry holder;
    QString text;

    bool isEmpty() const { return !was.verified() && heldIp.isEmpty() && text.isEmpty(); }
};

// One line of a module's history: a row's outcome, or a rewrite noted.
struct HistoryEntry {
    qint64 run = 0;
    QString tool;
    QString station;
    QString user;
    QString planPath;
    RowEntry row; // its result as result (the record's words) and as facts
    ResultFacts result;
    bool verified = false;
    // For a rewrite: what the register knew of the module before.
    bool rewrite = false;
    RewriteNote previous;
};

// What a row claims in the register before anything is written to its
// module, in one transaction: its plan's row (two stations split a plan),
// the address it plans (two rows never write one address at once) and,
// for a replacement, the module it replaces (one successor). Each under
// the database's own unique key.
struct ClaimRequest {
    qint64 run = 0;
    QString planHash;           // the plan's identity; empty: a row of no plan
    int planRow = 0;            // its row in the plan (0: none)
    QString port;               // where the row runs, as others are told
    parameters::Values planned; // the values it plans: its address is claimed
    QString replaces;           // a replacement's old module (its MAC)
    int leaseMs = 60000;        // how long the claim holds unless renewed
    bool again = false;         // a row done already is claimed again (--rewrite)

    // The keys of what is claimed beside the plan's row: "replaces:MAC",
    // "ip:ADDRESS", in the order they are taken.
    QStringList keys() const;
};

// A claim as the register answers it.
struct ClaimEntry {
    enum class State {
        Free,        // nobody holds it (a look-up only)
        Claimed,     // this run holds it now
        TakenOver,   // this run holds it now, after another's lease ran out
        HeldByOther, // another run holds the plan's row, its lease running
        Done,        // the row is done already (the register's latest word on
                     // its module: verified as this row); claimed again only
                     // when asked
        Blocked,     // another run holds the address or the old module live:
                     // `what`, and the holder below
        Failed,      // the register could not be asked
    };
    State state = State::Free;
    int planRow = 0;
    qint64 run = 0;          // the run that holds (or held) it
    QString station;         // and its station
    qint64 pid = 0;          // and its process
    QString since;           // when it was claimed, or verified
    QString mac;             // the module a done row was verified on
    qint64 leaseLeftMs = 0;  // of a claim held
    QString previousStation; // TakenOver: whose lease ran out
    // Blocked: the key held ("ip:10.0.0.1", "replaces:MAC"), and where the
    // holder runs: its plan and row, or its port.
    QString what;
    QString planPath;
    int heldRow = 0;
    QString port;
};

// A row of a plan, as the register is asked about it.
struct PlannedRow {
    int row = 0;
    QString port;
    parameters::Values planned;
};

// What the register knows of a plan's row.
struct RowStanding {
    enum class Kind {
        Never,     // no module is known verified as this row
        Elsewhere, // the module last verified at its address, at every planned
                   // value, was verified so as another plan's row
        Verified,  // its module's latest word: verified as this row, at every
                   // planned value, not rewritten or replaced since
        Differs,   // the module known for this row holds other values, or was
                   // rewritten since
    };
    int row = 0;
    Kind kind = Kind::Never;
    ModuleEntry module;
    QList<ModuleField> differing;
    bool rewritten = false; // a rewrite of the module was noted since
    ClaimEntry claim;       // Free, HeldByOther or Done
    // Done already: the register's latest word on `module` is verified
    // as this row with every planned value (standingOf decides it).
    bool done() const { return kind == Kind::Verified; }
};

} // namespace siteregister

#endif // REGISTERENTRIES_H

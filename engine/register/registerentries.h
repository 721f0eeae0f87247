#ifndef REGISTERENTRIES_H
#define REGISTERENTRIES_H

#include "protocol/parameters.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

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

// A plan's identity across stations: the SHA-256 of its bytes, in hex.
QString planHash(const QByteArray &planBytes);

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
    QString planPath; // empty for a run without a plan (write)
    QString planHash; // planHash() of the plan's bytes
    QString record;   // the CSV record the run appends to, if any

    // A run of `tool` by this computer's user now.
    static RunInfo here(const QString &tool, const QString &planPath = QString(),
                        const QByteArray &planBytes = QByteArray(),
                        const QString &record = QString());
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

// A plan's row as claimed by a station.
struct ClaimEntry {
    enum class State {
        Free,        // nobody holds it (a look-up only)
        Claimed,     // this run holds it now
        TakenOver,   // this run holds it now, after another's lease ran out
        HeldByOther, // another run holds it, its lease running
        Done,        // verified by a run; claimed again only when asked
        Failed,      // the register could not be asked
    };
    State state = State::Free;
    int planRow = 0;
    qint64 run = 0;          // the run that holds (or held) it
    QString station;         // and its station
    QString since;           // when it was claimed, or done
    QString mac;             // the module a done row was verified on
    qint64 leaseLeftMs = 0;  // of a claim held
    QString previousStation; // TakenOver: whose lease ran out
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
        Never,    // no module is known verified as this row
        Verified, // a module was last verified holding every planned value
        Differs,  // the module known for this row holds other values
    };
    int row = 0;
    Kind kind = Kind::Never;
    ModuleEntry module;
    QList<ModuleField> differing;
    ClaimEntry claim; // Free, HeldByOther or Done
};

} // namespace siteregister

#endif // REGISTERENTRIES_H

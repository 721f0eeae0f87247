#ifndef WRITERESULT_H
#define WRITERESULT_H

#include "engine/bus/busreport.h"
#include "engine/jobs/modulejob.h"
#include "engine/reach/reachcheck.h"
#include "protocol/parameters.h"

#include <QList>
#include <QString>
#include <QStringList>

// What a write, or an audit, of one module came to, as the job found it:
// how it ended, what was meant, what was sent and what was read. Facts
// only, no words: RowOutcome judges them and says them, once for every
// front end and the record.
struct WriteResult {
    // Where the job ended. Each comes with its facts below; the ones named
    // here are the ones it sets.
    enum class Ending {
        Done,                  // every step as asked (read back, matched, reached)
        PortInUse,             // detail: what holds the port; nothing sent
        PortNotOpened,         // detail: the system's reason; nothing sent
        Interrupted,           // stopped by the user
        Silent,                // no answer to the identification; nothing written
        NotIdentified,         // detail: why its MAC does not identify it; nothing written
        NotAdmitted,           // detail: why the run may not write this module (met already)
        VerifiedElsewhere,     // detail: the register's words; nothing written
        AddressHeld,           // detail: the register's words (another's address); nothing written
        RegisterUnavailable,   // detail: why the register could not be asked; nothing written
        ClaimLost,             // detail: who took the row over (its claim's lease ran out)
        HeldValueMissing,      // field: a value the configuration check needs, not given
        Unsound,               // heldInvalid, configProblems: nothing written
        NoReply,               // field: its command got no reply (the line lost)
        Refused,               // field, reply: the module refused a command
        LinkLost,              // the restart command could not be sent
        RestartRefused,        // reply
        DidNotRestart,         // it kept answering for restartTimeoutMs
        NotBack,               // not back within restartTimeoutMs
        ReadBackSilent,        // the read-back (an audit's read) had no answer at all
        ReadBackNotIdentified, // the read-back's MAC identifies no module
        OtherModule,           // another module (readBack.mac()) answered the read-back
        Differs,               // differences: read back (or audited) other than asked
        AddressNotKnown,       // verified; detail: why its address is no place to reach it
        NotReachable,          // verified on its console; reach: not reachable there
        BusIncomplete,         // verified and reachable; bus: not every one of busUnits answers
    };
    // A value planned or written against the one read (empty when the
    // module gave none that is valid).
    struct Difference {
        ModuleField field;
        QString expected;
        QString read;
    };
    // A value the module holds that the configuration it would run cannot
    // keep: `rule` is what it must be.
    struct HeldValue {
        ModuleField field;
        QString value;
        QString rule;
    };

    Ending ending = Ending::Interrupted;
    bool audit = false;
    bool verify = true;
    QString port;
    // What was meant: the plan's row (0 for a write on its own) and the
    // values to write (an audit's: the plan's).
    int planRow = 0;
    parameters::Values planned;
    // Name, version and MAC as the module gave them before the first write;
    // the MAC as normalMac has it.
    parameters::Values identity;
    QString identifiedMac;
    // Commands put on the line, those the module took with "ok", and
    // whether the restart command went out.
    QList<ModuleField> sent;
    QList<ModuleField> accepted;
    bool resetSent = false;
    ModuleReading readBack;
    QList<Difference> differences;
    // The ending's particulars (see Ending).
    ModuleField field = ModuleField::Ip;
    QString reply;
    QString detail;
    QList<HeldValue> heldInvalid;
    QStringList configProblems;
    int restartTimeoutMs = 0;
    bool permissionDenied = false;
    // The reach check after the read-back, when one was made.
    bool reachChecked = false;
    QString reachTarget;
    ReachCheck::Result reach;
    // The devices that must answer on the module's bus (the plan's
    // bus_ids), and the bus check after the reach check, when one was made.
    QList<int> busUnits;
    bool busChecked = false;
    BusReport bus;
    // The site register: a module it knew as verified elsewhere, written
    // as asked (`rewriteOf`: what it was verified as); one verified before
    // at every planned value, read and found so, and not written
    // (`unchanged`, `unchangedOf`: where it was verified).
    QString rewriteOf;
    bool unchanged = false;
    QString unchangedOf;
    // Whether a register is kept, whether it took the row, why not.
    bool keepsRegister = false;
    bool registered = false;
    QString registerError;
    // When the job ended, as the record and the register write it.
    QString endedAt;
    // The record: whether one is kept, whether it took the row, why not.
    bool keepsRecord = false;
    bool recorded = false;
    QString recordError;
};

#endif // WRITERESULT_H

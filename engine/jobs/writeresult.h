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
        NotAdmitted,           // admission: why the run's gate stopped it; nothing written
        Abandoned,             // detail: who took the row over (its claim's lease ran out)
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

    // What the run's gate (WriteJob::setAdmission) said of the module once
    // it was identified, before anything was written.
    struct Admission {
        enum class Verdict {
            Write,     // written (`words`: what the gate knew it as, when it is
                       // written although the gate knew it otherwise)
            Unchanged, // proven at every value to write before (`words`: where):
                       // read, and written only when it no longer holds them
            Stop,      // not written: `refusal`, and why in `words`
        };
        // Why a gate stops a module.
        enum class Refusal {
            ByRun,      // the run's own rule: a module met in another row, not
                        // the one looked for
            Elsewhere,  // the module is proven in another row or plan
            Held,       // what the row plans is another module's (its address)
            Unanswered, // the gate could not be asked (the register)
            Closed,     // the gate was closed before it was asked (the register)
        };
        Verdict verdict = Verdict::Write;
        Refusal refusal = Refusal::ByRun;
        QString words;
        // ByRun: the plan row where this run met the module before (0:
        // the rule gave its own words).
        int metAtRow = 0;
    };
    // Who keeps a finished row, asked in this order: the site register
    // first (a row it did not take is failed in the record too), then the
    // record.
    enum class Keeper { Register, Record };
    struct Kept {
        Keeper keeper = Keeper::Record;
        bool kept = false;
        QString error; // why not
        // The keeper (the register, the record) was closed before the row
        // came to it: no error of its own.
        bool closed = false;
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
    Admission admission;
    // The keepers of the row, in the order asked, and what each did with it
    // (kept false until it answered).
    QList<Kept> kept;
    // When the job ended, as the record and the register write it.
    QString endedAt;

    // What a keeper did with the row; nullptr when it was not asked.
    const Kept *keptBy(Keeper keeper) const
    {
        for (const Kept &k : kept) {
            if (k.keeper == keeper)
                return &k;
        }
        return nullptr;
    }
};

#endif // WRITERESULT_H

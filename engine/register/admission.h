#ifndef ADMISSION_H
#define ADMISSION_H

#include "engine/register/registerentries.h"
#include "engine/register/registerverdict.h"

#include <QString>

class SiteRegister;

namespace siteregister
{

// What a run asks the register about a module it identified, before
// anything is written to it.
struct AdmissionRequest {
    qint64 run = 0;
    int planRow = 0;            // the row's place in its plan (0: none)
    QString mac;                // the module, as identified (normalMac)
    parameters::Values planned; // what the row would write
    QString replaces;           // a replacement's old module, if any
    // --rewrite, or the engineer's yes to the register's stop: a module
    // verified elsewhere, or an address another module holds, is written,
    // and the register notes it.
    bool rewrite = false;
    // ordan-cli write names its module: one verified elsewhere is written,
    // and the register notes it.
    bool namedModule = false;
    int addressMemoryDays = defaultAddressMemoryDays;
};

// The register's word on the module.
struct Admission {
    enum class Verdict {
        Write,     // nothing known against it
        Rewrite,   // verified elsewhere (or its address another's), written as
                   // asked: `words` say what it was; noted in the register
        Unchanged, // verified at every planned value before (`words`: where):
                   // read, and written only if it no longer holds them
        Stop,      // not written: `stop` says why, `words` in the register's words
    };
    enum class Stop {
        None,
        VerifiedElsewhere, // verified as another row, or it is the one to replace
        AddressHeld,       // another module holds the planned address
        Unavailable,       // the register could not be asked
    };
    Verdict verdict = Verdict::Write;
    Stop stop = Stop::None;
    QString words;
    // A rewrite's note as the register keeps it: what the module was, and
    // whose address it took.
    RewriteNote note;

    // A stop the engineer may overrule (the site window's question): one
    // of the register's rules, not its absence.
    bool overrulable() const { return verdict == Verdict::Stop && stop != Stop::Unavailable; }
};

// The one admission of a module to a row: what the register knows of the
// module and of the planned address lets the row write it, rewrite it,
// read it only, or stops it. A rewrite is noted in the register here,
// before anything is written; a register that cannot be asked (or cannot
// note the rewrite) stops the row.
Admission admit(SiteRegister &reg, const AdmissionRequest &request);

} // namespace siteregister

#endif // ADMISSION_H

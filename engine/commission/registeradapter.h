#ifndef REGISTERADAPTER_H
#define REGISTERADAPTER_H

#include "engine/jobs/writejob.h"
#include "engine/register/registerentries.h"

#include <QString>

#include <functional>
#include <optional>

class RegisterDesk;

// The site register's side of one write, in the words of a WriteJob: the
// register's admission of the module identified (its gate) and the
// register as the first keeper of the row as it ends. The register's own
// rules are in engine/register (admission.h, claimbook.h); this only
// carries them between the job and the register's worker.
namespace registeradapter
{

struct Row {
    int planRow = 0;            // 0: a write of no plan
    parameters::Values planned; // what the job writes
    QString replaces;           // a replacement's old module, if any
    // The claims the row holds, ended with its outcome in the same
    // transaction; none when it holds none.
    std::optional<siteregister::ClaimRequest> claimed;
};

// The register's word on the module, as the job's admission asks it.
WriteJob::Admit admission(RegisterDesk *desk, const Row &row);
// The register keeping the row, before the record.
WriteJob::Keep keeper(RegisterDesk *desk, const Row &row);
// Both, for a write with no gate of its own (an audit writes nothing: its
// job takes the keeper alone).
void attach(RegisterDesk *desk, WriteJob *job, const Row &row);

// A run's own rule for an identified module (the plan row where the run
// met it before, a refusal; 0: admitted), asked before `then` (none:
// nothing more to ask).
using RunRule = std::function<int(const QString &mac)>;
WriteJob::Admit ruleFirst(const RunRule &rule, const WriteJob::Admit &then);

} // namespace registeradapter

#endif // REGISTERADAPTER_H

#ifndef CLI_REGISTER_H
#define CLI_REGISTER_H

#include "engine/register/registerentries.h"
#include "engine/register/registerlocation.h"

#include <QString>

#include <memory>

struct Run;

// ordan-cli register show MAC|IP, history MAC, site PLAN, import
// RECORD.csv..., export: what the site register knows, and records
// backfilled into it. Returns the exit code.
int commandRegister(Run &run);

// The register a command uses, from --register, --no-register and
// ORDAN_REGISTER (the default file otherwise); kind None with
// --no-register. False with the problem (a usage error) when they name no
// usable register.
bool registerLocation(Run &run, siteregister::Location *location, QString *problem);

// A register that cannot be opened, or a write to it that failed: exit 3,
// before anything is written to a module.
constexpr int registerUnavailableExit = 3;

class HeldClaim;
class RegisterDesk;
class WriteJob;

// Opens the register of a command that writes or audits modules, and
// begins its run (`info`) in it, before anything is written: false with
// the problem said on stderr (exit registerUnavailableExit; a usage error
// is said and *exitCode set to 2). With --no-register, true and no desk.
// The desk's policy comes from --rewrite, --address-memory, --claim-lease
// (at least siteregister::minimumLeaseMs) and --register-wait.
bool openRegister(Run &run, const siteregister::RunInfo &info, std::unique_ptr<RegisterDesk> *desk,
                  int *exitCode);

// A write's job (write, replace) wired to the register: what it plans
// claimed first, before anything is sent (its address, a replacement's
// old module `replaces`), waiting for the answer; then the register's
// admission and keeping. False with the holder or the reason said on
// stderr and *exitCode set (7: another run holds one live; 3: the register
// could not be asked; 130: stopped). *claim holds the claims until the job
// has ended (endClaim).
bool registerWrite(RegisterDesk *desk, WriteJob *job, int planRow,
                   const parameters::Values &planned, const QString &replaces,
                   std::unique_ptr<HeldClaim> *claim, int *exitCode);
// The claims once their job has ended: freed unless the register took
// its row, which ended them.
void endClaim(const WriteJob &job, HeldClaim *claim);

// ordan-cli replace OLD_MAC --port PORT.
int commandReplace(Run &run);

#endif // CLI_REGISTER_H

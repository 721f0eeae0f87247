#ifndef CLI_REGISTER_H
#define CLI_REGISTER_H

#include "engine/register/registerlocation.h"

#include <QString>

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

#endif // CLI_REGISTER_H

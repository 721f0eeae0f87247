#ifndef CLI_OPTIONS_H
#define CLI_OPTIONS_H

#include "protocol/protocol.h"

#include <QString>
#include <QStringList>

// ordan-cli's commands and options, each named once: the parser registers
// the options from this table, refuses an option given to a command it does
// not go with, and the help text is made from it.
namespace clioptions
{

// The commands, as bits: an option names the commands it goes with.
enum Command : unsigned {
    Ports = 1u << 0,
    Read = 1u << 1,
    Write = 1u << 2,
    Commission = 1u << 3,
    Audit = 1u << 4,
    Restart = 1u << 5,
    FactoryReset = 1u << 6,
    Bridge = 1u << 7,
    Reach = 1u << 8,
    Register = 1u << 9,
    Bus = 1u << 10,
    Replace = 1u << 11,
    Gateway = 1u << 12,
    AllCommands = (1u << 13) - 1,
};

struct CommandInfo {
    Command command;
    const char *name;     // "write"
    const char *operands; // "PORT"
    const char *about;    // the help's paragraph, wrapped at 72 columns
};

struct OptionInfo {
    const char *name;      // "tcp-port", without the dashes
    const char *valueName; // "N"; nullptr for a flag
    unsigned commands;     // the commands it goes with
    unsigned requiredBy;   // the commands that need it (shown without brackets)
    ModuleField field;     // the parameter a value option sets (writes only)
    bool setsField;
    const char *help; // one line, for the options of every command
};

const QList<CommandInfo> &commands();
const QList<OptionInfo> &options();
// The command of a name; nullptr for an unknown one.
const CommandInfo *findCommand(const QString &name);
// "--tcp-port" for the option that sets `field`; the field's key otherwise.
QString optionFor(ModuleField field);
// The whole --help text, one line each.
QStringList helpText();

} // namespace clioptions

#endif // CLI_OPTIONS_H

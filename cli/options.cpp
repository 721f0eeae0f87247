#include "cli/options.h"

#include "protocol/parameters.h"

namespace clioptions
{

namespace
{

const char intro[] =
    R"(Reads, writes, restarts and resets Ordan-RS485-Ethernet modules through their
serial console, checks that they can be reached on the network, and finds the
devices on the bus behind them.

Exit 0 and "verified" mean that this module, identified by its MAC before the
first write, restarted, came back as the same module, and reads back every
value that was asked. Anything else is a non-zero exit with its reason.)";

const char replyNote[] =
    R"(The module's replies carry no tag: a reply later than --reply-timeout may be
taken for the answer to the next command. Set the time-out above the module's
slowest reply.)";

const char exitCodes[] = R"(Exit codes:
  0  done (and verified)
  2  usage, invalid value or unsound configuration (nothing written)
  3  the port could not be opened, or another run holds it; the site
     register could not be opened (nothing written) or did not take a row
  4  the module did not answer, could not be identified by its MAC, did not
     restart, or did not come back after its restart
  5  the module refused a command (a write or the restart)
  6  the read-back differs, or a different module answered after the restart
  7  the site register stopped the row, nothing written: the module is
     verified elsewhere, or a planned address is another module's
  1  a file could not be written: the settings file of --save, or a row of
     the record (--record)
  130 interrupted (Ctrl-C, SIGTERM or SIGHUP)
Several ports: the code of the first port (in argument order) that failed.
commission: 0 only when every row was verified; 2 for a plan with problems
(nothing sent); otherwise the code of the first row (in plan order) that
failed, 4 for a row not reached (no new module within --swap-timeout).
audit: 0 only when every module matches; otherwise as commission.
bridge: 0 after Ctrl-C, SIGTERM, SIGQUIT or SIGHUP (unless ignored), once its
link is removed; 2 for a malformed HOST:PORT (300.1.1.1, port 0 or 0502), an
empty --link or one outside --link-dir, or a system without pseudo-terminals;
3 when the link cannot be made (something other than a dangling link or a
killed bridge's is there, a PATH.lock that is not a bridge's, another
bridge holds it, no such directory), nothing touched; 4 when it gave up
(--give-up).
gateway: 0 after Ctrl-C, SIGTERM or SIGQUIT; 2 for bad arguments (a bad
CIDR, a TLS file that cannot be used) or a plan with problems (a unit id
on two buses among them); 3 when it cannot listen (who holds the port is
named) or open its control socket (another gateway of its name runs, the
folder is not safe); 4 when it gave up (--give-up). gateway status: 0 when
the gateway answered; 3 when none runs (by that name) or it does not
answer; 2 when several run and none is named.
register: 0 when found (site: every row verified); 4 nothing known of it
(site: a row never verified), 6 a row differs; 3 when the register cannot
be opened or written; 2 for a record that cannot be imported (nothing is).
reach: 0 when every target is reachable; 4 when any does not answer or is
unreachable; otherwise 6 when any refuses; 2 for a bad target or plan.
write --reach, commission --reach: a module verified on its console but not
reachable is 4 (no answer, unreachable) or 6 (refused).
write --bus, commission --bus, audit --bus: a module reachable but whose
bus_ids do not all answer is 6.
bus: 0 when a device answers and every --expect one does (and, with
--repeat, the line's quality reaches --min-quality); 4 when none answers
(--find-settings: at no setting, the module written back, verified); 6 when
an expected one does not answer or the quality is under --min-quality; 3
when the module cannot be reached (or its console port cannot be used); 2
for bad input.)";

constexpr unsigned siteCommands = Commission | Audit;
constexpr unsigned restarts = Restart | FactoryReset;
// The commands that consult the site register (on by default), and those
// that write a module it judges first.
constexpr unsigned registerUsers = Register | Write | Commission | Audit | Replace;
constexpr unsigned registerJudged = Write | Commission | Replace;

const QList<OptionInfo> optionTable{
    {"from", "FILE.TRset", Write | siteCommands | Reach | Gateway, 0, ModuleField::Ip, false,
     nullptr},
    {"port", "PORT", Replace, Replace, ModuleField::Ip, false, nullptr},
    {"ip", "A", Write, 0, ModuleField::Ip, true, nullptr},
    {"mask", "M", Write, 0, ModuleField::Mask, true, nullptr},
    {"gateway", "G", Write, 0, ModuleField::Gateway, true, nullptr},
    {"tcp-port", "N", Write, 0, ModuleField::PortTcp, true, nullptr},
    {"parity", nullptr, Write | Gateway, 0, ModuleField::Parity, true, nullptr},
    {"speed", "BAUD", Write | Gateway, 0, ModuleField::Speed, true, nullptr},
    {"stop-bits", nullptr, Write | Gateway, 0, ModuleField::StopBit, true, nullptr},
    {"packet-timeout", "MS", Write | Gateway, 0, ModuleField::Timewait, true, nullptr},
    {"no-verify", nullptr, Write, 0, ModuleField::Ip, false, nullptr},
    {"allow-foreign-gateway", nullptr, Write | siteCommands | Reach, 0, ModuleField::Ip, false,
     nullptr},
    {"save", "FILE.TRset", Read, 0, ModuleField::Ip, false, nullptr},
    {"dry-run", nullptr, Commission, 0, ModuleField::Ip, false, nullptr},
    {"swap-timeout", "S", siteCommands, 0, ModuleField::Ip, false, nullptr},
    {"yes", nullptr, FactoryReset, FactoryReset, ModuleField::Ip, false, nullptr},
    {"wait", nullptr, restarts, 0, ModuleField::Ip, false, nullptr},
    {"restart-timeout", "S", registerJudged | restarts, 0, ModuleField::Ip, false, nullptr},
    {"reach", nullptr, Write | Commission, 0, ModuleField::Ip, false, nullptr},
    {"reach-timeout", "S", Write | siteCommands, 0, ModuleField::Ip, false, nullptr},
    {"bus", nullptr, Write | siteCommands, 0, ModuleField::Ip, false, nullptr},
    {"bus-ids", "LIST", Write, 0, ModuleField::Ip, false, nullptr},
    {"ids", "LIST", Bus, 0, ModuleField::Ip, false, nullptr},
    {"expect", "LIST", Bus, 0, ModuleField::Ip, false, nullptr},
    {"answer-timeout", "MS", Bus | Gateway, 0, ModuleField::Ip, false, nullptr},
    {"repeat", "N", Bus, 0, ModuleField::Ip, false, nullptr},
    {"min-quality", "P", Bus, 0, ModuleField::Ip, false, nullptr},
    {"probe", "FC:ADDR:COUNT", Bus, 0, ModuleField::Ip, false, nullptr},
    {"framing", "rtu|tcp", Bus | Gateway, 0, ModuleField::Ip, false, nullptr},
    {"line-speed", "BAUD", Bus, 0, ModuleField::Ip, false, nullptr},
    {"find-settings", nullptr, Bus, 0, ModuleField::Ip, false, nullptr},
    {"console", "PORT", Bus, 0, ModuleField::Ip, false, nullptr},
    {"find-timeout", "S", Bus, 0, ModuleField::Ip, false, nullptr},
    {"connect-timeout", "S", Reach | Bus, 0, ModuleField::Ip, false, nullptr},
    {"record", "FILE.csv", Write | siteCommands | Reach | Bus | Replace, 0, ModuleField::Ip, false,
     nullptr},
    {"link", "PATH", Bridge, Bridge, ModuleField::Ip, false, nullptr},
    {"link-dir", "DIR", Bridge, 0, ModuleField::Ip, false, nullptr},
    {"gap", "MS", Bridge, 0, ModuleField::Ip, false, nullptr},
    {"give-up", "S", Bridge | Gateway, 0, ModuleField::Ip, false, nullptr},
    {"stall", "S", Bridge, 0, ModuleField::Ip, false, nullptr},
    {"plan", "PLAN.csv", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"listen", "[ADDR:]PORT", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"listen-base", "[ADDR:]PORT", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"unit-map", "ROW:UNIT=ID", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"max-clients", "N", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"client-timeout", "S", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"queue", "N", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"dead-after", "N", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"probe-every", "S", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"retries", "N", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"broadcast-delay", "MS", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"no-broadcast", nullptr, Gateway, 0, ModuleField::Ip, false, nullptr},
    {"coalesce", nullptr, Gateway, 0, ModuleField::Ip, false, nullptr},
    {"allow", "CIDR[:ro]", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"tls-cert", "FILE.pem", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"tls-key", "FILE.pem", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"tls-ca", "FILE.pem", Gateway, 0, ModuleField::Ip, false, nullptr},
    {"name", "NAME", Gateway, 0, ModuleField::Ip, false, nullptr},
    // The register's options, for the commands that consult it.
    {"register", "URL", registerUsers, 0, ModuleField::Ip, false, nullptr},
    {"no-register", nullptr, registerUsers & ~(Register | Replace), 0, ModuleField::Ip, false,
     nullptr},
    {"rewrite", nullptr, registerJudged, 0, ModuleField::Ip, false, nullptr},
    {"address-memory", "DAYS", registerJudged, 0, ModuleField::Ip, false, nullptr},
    {"claim-lease", "S", registerJudged, 0, ModuleField::Ip, false, nullptr},
    {"register-wait", "S", registerUsers & ~Register, 0, ModuleField::Ip, false, nullptr},
    {"csv", nullptr, Register, 0, ModuleField::Ip, false, nullptr},
    {"json", nullptr, AllCommands, 0, ModuleField::Ip, false, "One JSON document on stdout."},
    {"log", "FILE", AllCommands, 0, ModuleField::Ip, false,
     "Append a timestamped trace of every command and reply."},
    {"reply-timeout", "MS", AllCommands, 0, ModuleField::Ip, false,
     "Wait at most MS for each reply (default 1000)."},
    {"pace", "MS", AllCommands, 0, ModuleField::Ip, false,
     "At least MS between two commands (default 0)."},
};

// The choice words of a list, "none|odd|even".
QString choices(ModuleField field)
{
    QStringList words;
    for (int position = 1; !choiceWord(field, position).isEmpty(); ++position)
        words << QString::fromLatin1(choiceWord(field, position));
    return words.join(QLatin1Char('|'));
}

// What stands after the option's name in a usage line.
QString valueOf(const OptionInfo &option)
{
    if (option.valueName)
        return QLatin1String(option.valueName);
    if (option.setsField && isChoiceField(option.field))
        return choices(option.field);
    return QString();
}

QString spelled(const OptionInfo &option)
{
    const QString value = valueOf(option);
    return QStringLiteral("--") + QLatin1String(option.name) +
           (value.isEmpty() ? QString() : QLatin1Char(' ') + value);
}

// "  write PORT [--from FILE.TRset] ..." wrapped at 78 columns.
QStringList usageLines(const CommandInfo &command)
{
    QStringList lines{QStringLiteral("  ") + QLatin1String(command.name)};
    if (*command.operands)
        lines.last() += QLatin1Char(' ') + QLatin1String(command.operands);
    for (const OptionInfo &option : optionTable) {
        if (!(option.commands & command.command) || option.commands == AllCommands)
            continue;
        const QString word = option.requiredBy & command.command
                                 ? spelled(option)
                                 : QLatin1Char('[') + spelled(option) + QLatin1Char(']');
        if (lines.last().size() + 1 + word.size() > 78)
            lines << QStringLiteral("       ");
        lines.last() += QLatin1Char(' ') + word;
    }
    return lines;
}

QStringList indented(const char *text, int by)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(text).split(QLatin1Char('\n')))
        lines << QString(by, QLatin1Char(' ')) + line;
    return lines;
}

} // namespace

const QList<OptionInfo> &options()
{
    return optionTable;
}

QString optionFor(ModuleField field)
{
    for (const OptionInfo &option : optionTable) {
        if (option.setsField && option.field == field)
            return QStringLiteral("--") + QLatin1String(option.name);
    }
    return parameters::fieldKey(field);
}

QStringList helpText()
{
    QStringList text{QStringLiteral("Usage: ordan-cli COMMAND [OPTIONS]"), QString()};
    text += indented(intro, 0);
    text << QString() << QStringLiteral("Commands:");
    for (const CommandInfo &command : commands())
        text += usageLines(command) + indented(command.about, 6);
    text << QString();
    text += indented(replyNote, 0);
    text << QString() << QStringLiteral("Options for all commands:");
    const auto optionLine = [](const QString &spelling, const QString &help) {
        return QStringLiteral("  %1 %2").arg(spelling, -19).arg(help);
    };
    for (const OptionInfo &option : optionTable) {
        if (option.commands == AllCommands)
            text << optionLine(spelled(option), QLatin1String(option.help));
    }
    text << optionLine(QStringLiteral("-h, --help"), QStringLiteral("This text."))
         << optionLine(QStringLiteral("--version"), QStringLiteral("The version."));
    text << QString()
         << QStringLiteral("Values: IPv4 addresses as four numbers 0-255 without leading zeros, "
                           "one a")
         << QStringLiteral("module can have (not 0.0.0.0, 127.x.x.x, nor 224.0.0.0 and above; "
                           "a gateway")
         << QStringLiteral("may be 0.0.0.0 for none), neither its subnet's network nor "
                           "broadcast address;")
         << QStringLiteral("a contiguous subnet mask; TCP port %1; packet time-out")
                .arg(parameters::tcpPortRule())
         << QStringLiteral("1-10000 ms; parity %1; stop bits %2; speed:")
                .arg(choices(ModuleField::Parity), choices(ModuleField::StopBit))
         << QStringLiteral("%1.").arg(
                choices(ModuleField::Speed).replace(QLatin1Char('|'), QLatin1String(", ")))
         << QStringLiteral("Numbers never with leading zeros. Time options: seconds, a positive "
                           "decimal")
         << QStringLiteral("number.");
    text << QString();
    text += indented(exitCodes, 0);
    return text;
}

} // namespace clioptions

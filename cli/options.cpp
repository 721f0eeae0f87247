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

const QList<CommandInfo> commandTable{
    {Ports, "ports", "",
     R"(The serial ports, with their stable names where udev keeps them: the
/dev/serial/by-id/ name follows the adapter (for an adapter that stays
while modules are swapped behind it), the /dev/serial/by-path/ name is the
computer's socket (for modules that bring their own USB adapter). Both
survive a module's restart; /dev/ttyUSB0 may not.)"},
    {Read, "read", "PORT...",
     R"(Identifies and reads the module on each port (several ports at the same
time). --save (one port only) writes the values as a settings file the
window opens.)"},
    {Write, "write", "PORT",
     R"(Checks every value, identifies the module by its MAC (a module without
a readable MAC is not written), checks the configuration it would run
(the values given over the values it holds: a gateway outside its
subnet is refused unless --allow-foreign-gateway), sends only the
given values (the file's, then the options'), each of which must be
answered "ok", restarts the module, sees it go away and come back (up
to --restart-timeout seconds, default 20), reads it back and compares,
MAC included. --no-verify stops once the restart was not refused and
says "unverified". --record appends one row per module to a CSV file;
cells that come from a module or a file are neutralised, so the record
is safe to open in a spreadsheet; a row the record cannot take fails
the command (exit 1). --reach then connects to the module at the address
and TCP port it runs with, sending nothing, again and again up to
--reach-timeout seconds (default 10) while its network comes up: one
verified on its console but not reachable fails (exit 4, 6 if refused).
The site register is consulted first: a module it knows verified
elsewhere is written all the same, and it says what the module was and
notes the rewrite; a planned address another module holds stops the
write (exit 7, --rewrite goes past). The address is claimed in the
register before anything is sent: another run writing it at the same
time stops this one, named (exit 7; --claim-lease as for commission).
--bus --bus-ids LIST (as 1,2,5 or 1-4) then asks those Modbus devices
through the module's new address and TCP port ("read holding registers
0, count 1"): one that does not answer fails the write (exit 6). --bus
implies --reach.)"},
    {Commission, "commission", "PLAN.csv",
     R"text(Writes and verifies a whole site from a plan: a CSV file (UTF-8, "," or
";") whose header names the columns: port (required), ip, mask,
gateway, tcp_port, parity, speed, stop_bits, packet_timeout. One row
per module; an empty cell takes the value of --from, if given,
otherwise that parameter is not written. Unknown columns, an IP
address planned twice and bad values are reported with their row and
column before anything is sent. Rows on different ports run at the
same time; rows on the same port one after another: after each, it
says "connect the next module to PORT" and waits (polling every
500 ms) for a module whose MAC address was not met in this run, read
the same twice in a row; --swap-timeout ends that wait (default: until
Ctrl-C). No module is written by two rows. Each row is a write with
verification; --record gets one row per module as soon as it is done,
on the disk at once (an interrupted run keeps every finished row; the
MAC column ties each address to its module). At the end, a summary:
verified, failed (with the reason), not reached, and whether each row
reached the record. --dry-run checks the plan and shows what each row
would send, sending nothing (the module's own values, against which
the configuration is checked, are read only in a real run). --reach as
for write: each verified module must also be reachable at its address.
A column bus_ids (as 1,2,5 or 1-4) names the Modbus devices on each
module's bus; --bus (which implies --reach) asks them through the module
once it is reachable: a row whose devices do not all answer fails
("verified on the console, reachable, bus: 5 does not answer (1, 2
answer)", exit 6). The record's last column, bus, says what they came
to.
The site register (see register) is consulted before each module is
written and gets every row's outcome: a module verified elsewhere stops
its row ("this module, MAC, is already verified as ...: connect the next
one"), one that already holds its row's values is read and not written,
a planned address another module was verified at within
--address-memory days (default 365) stops the row; --rewrite writes
them anyway, noted in the register. Each row is claimed in the register
with its planned address before it is written, so that two stations
running one plan (a plan is known by its rows, whatever its line ends,
separator or column order) split its rows and no two runs write one
address at once: a row whose address another run is writing stops,
naming it (exit 7). A claim lasts --claim-lease seconds (default 60, at
least 2), renewed every third of it; then another station takes the row
over. A row is done already when the register's latest word on its
module is verified as that row, at its values: it is not written again
(--rewrite: it is). A team's server lost between rows is connected to
again, for up to --register-wait seconds (default 30). --no-register for
a throwaway bench run.)text"},
    {Audit, "audit", "PLAN.csv",
     R"(Checks a site against its plan, writing nothing: identifies each row's
module as commission does (same ports, same swaps), reads it and
compares it with the row. Each row "matches" or "differs" (the values
planned against the values read). Exit 0 when every module matches, 6
when one differs, 4 when one does not answer or is not reached. --bus
as for commission: a module that matches must be reachable at its
address, and the devices of its row's bus_ids must answer through it.)"},
    {Restart, "restart", "PORT",
     R"(Restarts the module ("RESET"). Without --wait: done when the module
does not answer the command within the reply time-out (a reply is a
refusal). --wait identifies the module first, then waits until it has
gone away and answers again (up to --restart-timeout seconds, default
20) with the same MAC, and shows its name and MAC.)"},
    {FactoryReset, "factory-reset", "PORT",
     R"(Returns the module to its factory settings ("LOAD SETTING:DEFAULT"),
once confirmed with --yes; --wait as for restart.)"},
    {Bridge, "bridge", "HOST:PORT",
     R"(A virtual serial port to the RS-485 bus behind a module, for programs
that speak only serial (Modbus RTU masters): a pseudo-terminal in raw
mode with a symbolic link at --link PATH, bridged to the module's TCP
port. Only a dangling symbolic link, or one to the pseudo-terminal that a
killed bridge's lock names, is replaced; a lock beside it (PATH.lock,
made exclusively) keeps a second bridge off, and a PATH.lock that is not
a bridge's refuses the start untouched; both are removed at exit. --link-dir DIR refuses a link
outside DIR (the service's own directory). HOST is an IPv4 address, a
name (tried again while it does not resolve) or [IPv6]. A whole Modbus
RTU request goes to the module at once; other bytes are gathered until
the port has been quiet for --gap MS (default, empty or "auto": 3.5
characters at the speed, parity and stop bits the program set, 1.75 ms
above 19200 bit/s; 0 sends them as they come), then sent in one TCP
segment. The module's bytes go to the port as they arrive, to the opening
of the port whose request they answer: answers to an earlier opening's
requests, bytes that arrive while no program has the port open and what
the last program left unread are dropped and counted. A module that has
answered nothing for --stall S (default 2) gets no more requests until it
answers (one every S still goes, to find out); they are counted. When
the connection drops or is refused (a module restarting), the port stays
open and the bridge reconnects (250 ms doubling to 2 s), until --give-up
S without a connection if given (exit 4). Bytes written while there is
no connection are discarded and counted, never sent late. stderr says
each change (connected, lost, back after N s, a module that closes
every connection at once); SIGUSR1 and the exit print the counters on
stdout (--json: one JSON object a line). --log FILE traces the traffic,
escaped. The port belongs to the group dialout where the bridge may give
it, as a serial port does. The service ordan-bridge@NAME runs a bridge
from /etc/ordan/bridge/NAME.conf.)"},
    {Reach, "reach", "TARGET...",
     R"text(Whether the modules can be reached on the network from this computer:
connects to each target's address and TCP port, sends nothing and
closes. A target is IP:PORT or a plan file (the ip and tcp_port of each
row, from --from where the row leaves them empty; a row with neither is
refused and nothing is connected to). All at once, at most 32
connections at a time. Each says "reachable (N ms)", "refused" (the host
answers, but nothing listens at that port, or its one connection is
taken), "no answer" (nothing within --connect-timeout, default 3 s: a
wrong address, subnet, gateway or cable) or "unreachable" (this computer
has no route to it). --record appends time, row, ip, tcp_port, result
and milliseconds to a CSV file.)text"},
    {Register, "register", "show|history|site|import|export",
     R"(What the site register knows: every module ever commissioned, where and
at what it was last verified, and every row's outcome. "show MAC|IP": a
module, or the modules last verified at an address; "history MAC": its
rows and rewrites; "site PLAN.csv": each row of the plan, verified (by
whom, when, on which module), differs (which values), or never;
"import RECORD.csv...": backfills commissioning records (rows already
there are skipped, so importing twice adds nothing); "export --csv" (or
--json): every module. The register is a SQLite file in the user's data
folder (~/.local/share/ordan/register.sqlite), or --register (or
ORDAN_REGISTER): postgresql://USER@HOST[:PORT]/DB for a team's
PostgreSQL (the password in ~/.pgpass or PGPASSFILE, never in the
address; a socket folder as HOST written %2Frun%2Fpostgresql; the query
may set sslmode, connect_timeout, application_name and
target_session_attrs), or sqlite:FILE, or a FILE. Anything else that
looks like an address is refused (exit 2).)"},
    {Replace, "replace", "OLD_MAC",
     R"(Puts a new module in the place of one that failed: reads from the site
register the values OLD_MAC was last verified at (its address, mask,
gateway, TCP port and bus settings), writes them to the module on
--port PORT as write does, verifies them, and records the replacement:
the new module takes the old one's row, and the old one is marked as
replaced (register show OLD_MAC says by which). The new module is
judged by the register as in commission (--rewrite goes past). OLD_MAC
and its address are claimed before anything is sent: a second
replacement of it at the same time stops, naming the first (exit 7).)"},
    {Gateway, "gateway", "[HOST:PORT | status [NAME]]",
     R"(A Modbus TCP server for many clients (--max-clients, default 64) in front
of a module's bus: each request becomes an RTU frame on one connection to
the module kept up across its restarts (--framing tcp: a module that speaks
Modbus TCP, transaction ids remapped), and its answer goes back under the
client's own transaction and unit id. --listen [ADDR:]PORT (default every
address). --plan PLAN.csv serves a whole site instead: each row's module at
its ip and tcp_port (--from fills empty cells), the units of its bus_ids
routed to it; a unit on two rows is refused naming both, unless --unit-map
ROW:UNIT=ID serves one of them as another id; --listen-base PORT gives each
row a listener of its own on PORT + row - 1. SIGHUP reads the plan again
and keeps every client (a plan with problems is refused, the old one kept).
One request is on a bus at a time, clients in turn, with the line quiet
for 3.5 characters between frames (the speed, parity, stop bits and packet
time-out of the row, or of --speed, --parity, --stop-bits,
--packet-timeout; otherwise 9600 8N1) and no other pause. Any function
code passes; a device's exception comes back as it arrives. The gateway
answers itself: 0x0B when the device does not answer within
--answer-timeout MS (default 1000), and at once for a unit given up after
--dead-after N time-outs in a row (default 3; probed every --probe-every
S, default 5, until it answers); 0x0A for a unit on no bus or a module not
connected; 0x06 over --queue N requests waiting for a bus (default 64). A
write is never sent twice; a read again after a time-out only with
--retries N. A late answer is dropped and counted. Unit 0 is a broadcast:
a write, sent with no answer awaited, then the bus waits
--broadcast-delay MS (default 100); --no-broadcast refuses it (0x01).
--coalesce answers a read that is the very read on the bus (another
client's) with its answer, not sending it again. A client that begins a
request and does not finish it within --client-timeout S (default 10) is
dropped. stderr says each module's connection as it changes; SIGUSR1 and
the exit print the counters per client, module and unit as JSON on
stdout; --log FILE traces every request and answer with its client.
--give-up S ends it (exit 4) when no module has had a connection for S
seconds.
--allow CIDR[:ro] (repeatable; IPv4 or IPv6, as 10.20.0.0/16, 10.20.0.66
or fd00::/8) takes clients from those networks only; others are refused
as they connect. The longest prefix that holds a client decides; with :ro
it may only read: every function but 1, 2, 3, 4, 7, 11, 12, 17, 20, 24
and 43 with MEI type 14 (read device identification) is answered 0x01,
never sent (5, 6, 8, 15, 16, 22, 23, the other 43s and vendors' codes
among them). --tls-cert, --tls-key and --tls-ca FILE.pem: Modbus/TCP
Security (its port is 802), TLS 1.2 or later only; a client must present
a certificate the CA signed, or it is refused.
Each gateway has a control socket, gateway-NAME.sock in its runtime
folder (a service's own, else $XDG_RUNTIME_DIR/ordan, else
/run/ordan-UID or /tmp/ordan-UID: a folder of the user's that no one
else may write into), named by --name NAME (default its listening port,
"502", or ADDRESS-PORT). "gateway status [NAME]" asks it for the
counters and prints them (--json: the object SIGUSR1 prints); NAME may
be left out when one gateway runs. As the service ordan-gateway@NAME (its arguments in
/etc/ordan/gateway/NAME.conf) it tells systemd when it is ready and keeps
its watchdog.)"},
    {Bus, "bus", "HOST:PORT",
     R"(Finds the Modbus devices on the RS-485 bus behind a module, through its
TCP port (a transparent module: RTU frames with their CRC; --framing tcp
for a module in a Modbus TCP mode). Asks each unit address of --ids
(default 1-247) the probe, one at a time: "read holding registers 0,
count 1" unless --probe FC:ADDR:COUNT (a read: function 1-4). Any
well-formed reply proves a device, an exception included; a reply with a
wrong CRC is asked again. Each address: answers (ms), exception N, or
nothing, within --answer-timeout MS (default 1000; above the module's
packet time-out, after which it sends what the bus said). One reply for
one request: what was waiting before a request is stray, a reply after
its time-out is late only until the next request, a frame from the
address asked that does not answer the request is a wrong reply. The
next request waits 3.5 characters at --line-speed BAUD (default 9600)
after a reply or a time-out. --repeat N
asks each device that answered N times more and reports the line's
quality: good replies, CRC errors, no reply, min/median/max ms; under
--min-quality (percent, default 99) it fails. Then one line: the devices
that answer, or why nothing does. --expect LIST names devices that must
answer. --find-settings --console PORT: when nothing answers, tries the
bus's speed and parity through the module's console, most common first
(9600 and 19200 with none, even, odd, then 38400, 115200, 57600, 4800,
2400, 1200, 128000, 256000), stop bits kept: each a verified write with
the restart proof, then a probe of --ids (default 1-10). It stops at the
first setting where a device answers and leaves the module verified
there; otherwise it writes the old settings back, verified. Each try and
its cost are printed; --find-timeout S bounds the search. --record
appends the outcome to a CSV file.)"},
};

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

const QList<CommandInfo> &commands()
{
    return commandTable;
}

const QList<OptionInfo> &options()
{
    return optionTable;
}

const CommandInfo *findCommand(const QString &name)
{
    for (const CommandInfo &command : commandTable) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
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
    for (const CommandInfo &command : commandTable)
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

#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QByteArray>
#include <QString>

#include <iterator>

// The module's console: command bytes, where values stand in its replies,
// the lists it chooses from, its write commands in their order and how its
// acknowledgements are judged. All of it is data and small functions; the
// window's timed sequences and the engine's jobs apply it.

// The parameters of the module as the form shows them.
enum class ModuleField {
    Name,
    Version,
    Mac,
    Ip,
    Mask,
    Gateway,
    PortTcp,
    Parity,
    Speed,
    StopBit,
    Timewait,
};

inline constexpr ModuleField allModuleFields[] = {
    ModuleField::Name,  ModuleField::Version, ModuleField::Mac,      ModuleField::Ip,
    ModuleField::Mask,  ModuleField::Gateway, ModuleField::PortTcp,  ModuleField::Parity,
    ModuleField::Speed, ModuleField::StopBit, ModuleField::Timewait,
};

// Name, version and MAC address: read from the module, never written.
inline constexpr bool isInformationField(ModuleField field)
{
    return field == ModuleField::Name || field == ModuleField::Version || field == ModuleField::Mac;
}

namespace Command
{
// Restart and factory-reset commands: the module answers none of them and
// drops the link while it restarts.
inline constexpr char writeFinish[] = "reset";
inline constexpr char restart[] = "RESET";
inline constexpr char factoryReset[] = "LOAD SETTING:DEFAULT";
} // namespace Command

// One query of the read-out: its command, and where the value stands in its
// answer (skip `position` characters, take at most `width`).
struct QueryRow {
    const char *command;
    int position;
    int width;
    ModuleField field;
};

// The module's queries, in the order a read-out asks them.
inline constexpr QueryRow queryTable[] = {
    {"name", 5, 18, ModuleField::Name},
    {"version", 8, 10, ModuleField::Version},
    {"MAC", 4, 18, ModuleField::Mac},
    {"ip", 3, 15, ModuleField::Ip},
    {"MASK", 5, 16, ModuleField::Mask},
    {"GATEWAY", 8, 15, ModuleField::Gateway},
    {"PORT TCP", 9, 6, ModuleField::PortTcp},
    {"parity", 7, 4, ModuleField::Parity},
    {"SPEED RS485", 12, 7, ModuleField::Speed},
    {"STOP BIT", 9, 3, ModuleField::StopBit},
    {"timeout data", 13, 5, ModuleField::Timewait}, // 1 to 10000 ms: five digits
};
// The query that reads `field` (every field has one).
const QueryRow &queryFor(ModuleField field);

// One write command of the module: the parameter it sets, its prefix (the
// value follows it directly), and how its reply is judged. Every command is
// taken with exactly "ok" (isAcknowledgement). `onlyRefusal`, where set, is
// the one reply that the module gives to refuse this command; a judge that
// lets other replies pass (the window's) refuses on it alone.
struct WriteCommandRow {
    ModuleField field;
    const char *prefix;
    const char *onlyRefusal;
};

// The module's write commands, in the order a write sends them: this order
// is the write's, everywhere.
inline constexpr WriteCommandRow writeCommandTable[] = {
    {ModuleField::Ip, "CHANGE IP:", nullptr},
    {ModuleField::Mask, "CHANGE MASK:", nullptr},
    {ModuleField::Gateway, "CHANGE GATEWAY:", nullptr},
    {ModuleField::PortTcp, "CHANGE PORT TCP:", nullptr},
    {ModuleField::Parity, "CHANGE PARITY:", nullptr},
    {ModuleField::Speed, "CHANGE SPEED RS485:", nullptr},
    {ModuleField::StopBit, "CHANGE STOP BIT:", nullptr},
    {ModuleField::Timewait, "change timeout data:", "?"},
};
// The write command of `field`; nullptr for a field that is never written.
const WriteCommandRow *writeCommandFor(ModuleField field);

// The cleaned text of one reply: the bytes up to the first NUL, decoded as
// UTF-8, with every carriage return and line feed removed wherever it stands.
QString cleanReply(const QByteArray &bytes);

// At most `width` characters after the first `position`; empty when the
// reply is not longer than `position`.
QString extractValue(const QString &reply, int position, int width);

// Choice lists of the form (position 0 is the empty entry): the module's
// word for each position from 1 on.
bool isChoiceField(ModuleField field);
// Position in the list whose word equals `value` exactly, or -1.
int choicePosition(ModuleField field, const QString &value);
// The module's word for a list position; empty for position 0, -1 or any
// position the list does not have.
QByteArray choiceWord(ModuleField field, int position);

// What a read-out answer means.
struct ReadoutAnswer {
    bool applies = false; // false: no answer is taken (the window's idle ticks)
    ModuleField field = ModuleField::Name;
    bool valid = false;
    QString text;      // text fields: the value when valid
    int position = -1; // choice fields: the list position chosen when valid
};
// The answer to the query of `field`, whenever it was asked.
ReadoutAnswer interpretAnswer(ModuleField field, const QString &reply);

// The module took a write command: its reply is exactly "ok" (whole,
// case-sensitive). Any other reply, "?" and "OK" included, is a refusal.
bool isAcknowledgement(const QString &reply);

// A write command: the prefix directly followed by the value's Latin-1
// bytes (a character outside Latin-1 becomes '?'); no terminator.
QByteArray writeCommand(const char *prefix, const QString &value);
QByteArray writeCommandForChoice(const char *prefix, ModuleField field, int position);

#endif // PROTOCOL_H

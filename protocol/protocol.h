#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QByteArray>
#include <QString>

// The module's console: command bytes, where values stand in its replies,
// the lists it chooses from and how its acknowledgements are judged. All of
// it is data and small functions; the window only applies the results.

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

// One query of the read-out: the command sent on tick `step`, and where the
// value stands in its answer (skip `position` characters, take at most
// `width`).
struct QueryRow {
    int step;
    const char *command;
    int position;
    int width;
    ModuleField field;
};

// The read-out ends on the tick after its last query.
inline constexpr int readoutEndStep = 12;

// The eleven queries, steps 1 to 11; nullptr for any other step.
const QueryRow *queryForStep(int step);
// The query that reads `field` (every field has one).
const QueryRow &queryFor(ModuleField field);

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

// What a read-out answer means for the form.
struct ReadoutAnswer {
    bool applies = false; // false: the step takes no answer
    ModuleField field = ModuleField::Name;
    bool valid = false;
    QString text;      // text fields: the value shown when valid
    int position = -1; // choice fields: the list position chosen when valid
};
ReadoutAnswer interpretReadoutAnswer(int step, const QString &reply);
// The answer to the query of `field`, whenever it was asked.
ReadoutAnswer interpretAnswer(ModuleField field, const QString &reply);

// The module took a write command: its reply is exactly "ok" (whole,
// case-sensitive). Any other reply, "?" and "OK" included, is a refusal.
bool isAcknowledgement(const QString &reply);

// How a reply is judged while the window's parameter write runs: more
// lenient than isAcknowledgement() on the time-out command, whose replies
// other than "ok" and "?" the window lets pass.
enum class AckVerdict { Ignore, Acknowledged, Failed };
struct AckJudgement {
    AckVerdict verdict = AckVerdict::Ignore;
    ModuleField field = ModuleField::Ip;
    bool acknowledgesIp = false; // the IP address write was acknowledged
    QString failureText;         // rich text of the failure box
};
// A reply taken on tick `step` of the window's write.
AckJudgement judgeAcknowledgement(int step, const QString &reply);
// The reply to the write command of `field`, wherever it is sent (Ignore for
// a field the write does not send).
AckJudgement judgeWriteReply(ModuleField field, const QString &reply);

// One tick of the parameter write: a command every other tick from tick 3 on,
// the check on tick 4 that the IP address was acknowledged, "reset" on the
// last tick. The ticks and the acknowledgement rules come from one table.
enum class WriteAction { Nothing, Send, CheckAcknowledgement, Finish };
struct WriteTick {
    WriteAction action = WriteAction::Nothing;
    const char *prefix = nullptr; // command, or its prefix when a value follows
    bool hasValue = false;        // the value of `field` is appended
    ModuleField field = ModuleField::Ip;
    const char *replyTrace = nullptr;   // trace the last reply with this label first
    const char *commandTrace = nullptr; // label traced before the command
    bool traceCommand = false;          // trace the command after writing it
};
inline constexpr int writeCheckTick = 4;
inline constexpr int writeLastTick = 19;
WriteTick writeTickAt(int tick);

// A write command: the prefix directly followed by the value's Latin-1
// bytes (a character outside Latin-1 becomes '?'); no terminator.
QByteArray writeCommand(const char *prefix, const QString &value);
QByteArray writeCommandForChoice(const char *prefix, ModuleField field, int position);

#endif // PROTOCOL_H

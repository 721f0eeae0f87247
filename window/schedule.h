#ifndef SCHEDULE_H
#define SCHEDULE_H

#include "protocol/protocol.h"

#include <QString>

// The window's timed sequences, one command a second, laid over the
// module's tables (protocol/protocol.h): which query or command goes out
// on which tick, how a reply on a tick is judged, the failure box's text
// and the debug trace's labels.

// The read-out asks the module's queries one a tick from tick 1 and ends on
// the tick after the last.
inline constexpr int readoutEndStep = int(std::size(queryTable)) + 1;
// The query sent on tick `step`; nullptr for any other step.
const QueryRow *queryForStep(int step);
// What the reply taken on tick `step` of the read-out means (applies is
// false on a tick that takes none).
ReadoutAnswer interpretReadoutAnswer(int step, const QString &reply);

// How a reply is judged while the window's parameter write runs: more
// lenient than isAcknowledgement() on a command that has an only refusal,
// whose other replies the window lets pass.
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

// One tick of the parameter write: the module's write commands every other
// tick from tick 3 on, in their order; the check on tick 4 that the IP
// address was acknowledged; "reset" on the last tick.
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
inline constexpr int writeFirstTick = 3;
inline constexpr int writeCheckTick = 4;
inline constexpr int writeLastTick = writeFirstTick + 2 * int(std::size(writeCommandTable));
WriteTick writeTickAt(int tick);

#endif // SCHEDULE_H

#include "window/schedule.h"

namespace
{

// The failure box's texts; two of them lack the leading blank.
const char writeFailed[] = "<FONT COLOR='#800000'> Ошибка записи </FONT>";
const char writeFailedTight[] = "<FONT COLOR='#800000'>Ошибка записи </FONT>";

// What the window says of each write command: the failure box's text, and
// what it traces on the command's tick (the last reply with a label before
// the command, a label with the command, or the command alone).
struct WriteWords {
    ModuleField field;
    const char *failureText;
    const char *replyTrace;
    const char *commandTrace;
    bool traceCommand;
};

const WriteWords writeWords[] = {
    {ModuleField::Ip, writeFailed, "case_3", "change ip---", true},
    {ModuleField::Mask, writeFailed, nullptr, "change mask---", true},
    {ModuleField::Gateway, writeFailed, nullptr, nullptr, false},
    {ModuleField::PortTcp, writeFailedTight, nullptr, nullptr, true},
    {ModuleField::Parity, writeFailed, nullptr, nullptr, false},
    {ModuleField::Speed, writeFailed, nullptr, nullptr, true},
    {ModuleField::StopBit, writeFailedTight, nullptr, nullptr, false},
    {ModuleField::Timewait, writeFailed, nullptr, nullptr, false},
};

// The ticks of the write that send no parameter: the start and the
// acknowledgement check trace the last reply.
const char startTrace[] = "case_1";
const char checkTrace[] = "case_2";

const WriteWords &wordsFor(ModuleField field)
{
    for (const WriteWords &words : writeWords) {
        if (words.field == field)
            return words;
    }
    Q_UNREACHABLE();
    return writeWords[0];
}

// The tick on which the write sends command `index` of the module's table.
constexpr int sendTick(int index)
{
    return writeFirstTick + 2 * index;
}

} // namespace

const QueryRow *queryForStep(int step)
{
    return step >= 1 && step < readoutEndStep ? &queryTable[step - 1] : nullptr;
}

ReadoutAnswer interpretReadoutAnswer(int step, const QString &reply)
{
    const QueryRow *row = queryForStep(step);
    return row ? interpretAnswer(row->field, reply) : ReadoutAnswer();
}

AckJudgement judgeWriteReply(ModuleField field, const QString &reply)
{
    AckJudgement judgement;
    const WriteCommandRow *command = writeCommandFor(field);
    if (!command)
        return judgement;
    judgement.field = field;
    judgement.failureText = QString::fromUtf8(wordsFor(field).failureText);
    if (isAcknowledgement(reply)) {
        judgement.verdict = AckVerdict::Acknowledged;
        judgement.acknowledgesIp = field == ModuleField::Ip;
    } else if (!command->onlyRefusal || reply == QLatin1String(command->onlyRefusal)) {
        judgement.verdict = AckVerdict::Failed;
    }
    return judgement;
}

AckJudgement judgeAcknowledgement(int step, const QString &reply)
{
    if (step >= 1 && step < writeFirstTick) {
        // Nothing has been sent yet: "ok" means nothing, anything else is
        // taken as the first command (the IP address) failing.
        AckJudgement judgement;
        if (!isAcknowledgement(reply)) {
            judgement.verdict = AckVerdict::Failed;
            judgement.field = writeCommandTable[0].field;
            judgement.failureText = QString::fromUtf8(wordsFor(judgement.field).failureText);
        }
        return judgement;
    }
    // A command's reply is taken on its tick and on the next.
    for (int i = 0; i < int(std::size(writeCommandTable)); ++i) {
        if (step == sendTick(i) || step == sendTick(i) + 1)
            return judgeWriteReply(writeCommandTable[i].field, reply);
    }
    return AckJudgement();
}

WriteTick writeTickAt(int tick)
{
    WriteTick t;
    if (tick == 1)
        t.replyTrace = startTrace;
    if (tick == writeCheckTick) {
        t.action = WriteAction::CheckAcknowledgement;
        t.replyTrace = checkTrace;
    }
    if (tick == writeLastTick) {
        t.action = WriteAction::Finish;
        t.prefix = Command::writeFinish;
    }
    for (int i = 0; i < int(std::size(writeCommandTable)); ++i) {
        if (sendTick(i) != tick)
            continue;
        const WriteCommandRow &command = writeCommandTable[i];
        const WriteWords &words = wordsFor(command.field);
        t.action = WriteAction::Send;
        t.prefix = command.prefix;
        t.hasValue = true;
        t.field = command.field;
        t.replyTrace = words.replyTrace;
        t.commandTrace = words.commandTrace;
        t.traceCommand = words.traceCommand;
    }
    return t;
}

#include "protocol/protocol.h"

#include <iterator>

namespace
{

const QueryRow queries[] = {
    {1, "name", 5, 18, ModuleField::Name},
    {2, "version", 8, 10, ModuleField::Version},
    {3, "MAC", 4, 18, ModuleField::Mac},
    {4, "ip", 3, 15, ModuleField::Ip},
    {5, "MASK", 5, 16, ModuleField::Mask},
    {6, "GATEWAY", 8, 15, ModuleField::Gateway},
    {7, "PORT TCP", 9, 6, ModuleField::PortTcp},
    {8, "parity", 7, 4, ModuleField::Parity},
    {9, "SPEED RS485", 12, 7, ModuleField::Speed},
    {10, "STOP BIT", 9, 3, ModuleField::StopBit},
    {11, "timeout data", 13, 5, ModuleField::Timewait}, // 1 to 10000 ms: five digits
};

const char *const parityWords[] = {"none", "odd", "even"};
const char *const speedWords[] = {"1200",  "2400",  "4800",   "9600",   "19200",
                                  "38400", "57600", "115200", "128000", "256000"};
const char *const stopBitWords[] = {"1", "2"};

struct ChoiceList {
    const char *const *words;
    int count;
};

ChoiceList choiceList(ModuleField field)
{
    switch (field) {
    case ModuleField::Parity:
        return {parityWords, int(std::size(parityWords))};
    case ModuleField::Speed:
        return {speedWords, int(std::size(speedWords))};
    case ModuleField::StopBit:
        return {stopBitWords, int(std::size(stopBitWords))};
    default:
        return {nullptr, 0};
    }
}

// The module's failure texts; two of them lack the leading blank.
const char writeFailed[] = "<FONT COLOR='#800000'> Ошибка записи </FONT>";
const char writeFailedTight[] = "<FONT COLOR='#800000'>Ошибка записи </FONT>";

// The parameter write, one row per parameter in the order they are sent: the
// tick whose command sends it (its reply is judged on that tick and on the
// next), the command's prefix (the value follows it), the text of the failure
// box, the one reply that counts as a refusal (any other than "ok" when
// null), and what the window traces on that tick.
struct WriteRow {
    int tick;
    const char *prefix;
    ModuleField field;
    const char *failureText;
    const char *refusal;
    const char *replyTrace;   // the last reply with this label, before the command
    const char *commandTrace; // this label with the command
    bool traceCommand;        // the command alone, when it has no label
};

const WriteRow writeRows[] = {
    {3, "CHANGE IP:", ModuleField::Ip, writeFailed, nullptr, "case_3", "change ip---", true},
    {5, "CHANGE MASK:", ModuleField::Mask, writeFailed, nullptr, nullptr, "change mask---", true},
    {7, "CHANGE GATEWAY:", ModuleField::Gateway, writeFailed, nullptr, nullptr, nullptr, false},
    {9, "CHANGE PORT TCP:", ModuleField::PortTcp, writeFailedTight, nullptr, nullptr, nullptr,
     true},
    {11, "CHANGE PARITY:", ModuleField::Parity, writeFailed, nullptr, nullptr, nullptr, false},
    {13, "CHANGE SPEED RS485:", ModuleField::Speed, writeFailed, nullptr, nullptr, nullptr, true},
    {15, "CHANGE STOP BIT:", ModuleField::StopBit, writeFailedTight, nullptr, nullptr, nullptr,
     false},
    // The time-out command fails only on "?"; its other replies pass.
    {17, "change timeout data:", ModuleField::Timewait, writeFailed, "?", nullptr, nullptr, false},
};

// The ticks of the write that send no parameter: the start and the
// acknowledgement check trace the last reply, the last tick sends "reset".
const char startTrace[] = "case_1";
const char checkTrace[] = "case_2";

const WriteRow *writeRowFor(ModuleField field)
{
    for (const WriteRow &row : writeRows) {
        if (row.field == field)
            return &row;
    }
    return nullptr;
}

const char acknowledgement[] = "ok";

} // namespace

const QueryRow *queryForStep(int step)
{
    for (const QueryRow &row : queries) {
        if (row.step == step)
            return &row;
    }
    return nullptr;
}

const QueryRow &queryFor(ModuleField field)
{
    for (const QueryRow &row : queries) {
        if (row.field == field)
            return row;
    }
    Q_UNREACHABLE();
    return queries[0];
}

QString cleanReply(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    QString text = QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

QString extractValue(const QString &reply, int position, int width)
{
    return reply.mid(position, width);
}

bool isChoiceField(ModuleField field)
{
    return choiceList(field).count > 0;
}

int choicePosition(ModuleField field, const QString &value)
{
    const ChoiceList list = choiceList(field);
    for (int i = 0; i < list.count; ++i) {
        if (value == QLatin1String(list.words[i]))
            return i + 1;
    }
    return -1;
}

QByteArray choiceWord(ModuleField field, int position)
{
    const ChoiceList list = choiceList(field);
    if (position < 1 || position > list.count)
        return QByteArray();
    return QByteArray(list.words[position - 1]);
}

ReadoutAnswer interpretReadoutAnswer(int step, const QString &reply)
{
    const QueryRow *row = queryForStep(step);
    return row ? interpretAnswer(row->field, reply) : ReadoutAnswer();
}

ReadoutAnswer interpretAnswer(ModuleField field, const QString &reply)
{
    ReadoutAnswer answer;
    const QueryRow *row = &queryFor(field);
    answer.applies = true;
    answer.field = row->field;
    QString value = extractValue(reply, row->position, row->width);
    if (row->field == ModuleField::Name) {
        // The name goes through Latin-1 and back as UTF-8: outside Latin-1 a
        // character becomes '?', a lone byte above 127 a replacement character.
        value = QString::fromUtf8(value.toLatin1());
    }
    if (isChoiceField(row->field)) {
        answer.position = choicePosition(row->field, value);
        answer.valid = answer.position > 0;
    } else {
        answer.valid = !value.isEmpty();
        if (answer.valid)
            answer.text = value;
    }
    return answer;
}

bool isAcknowledgement(const QString &reply)
{
    return reply == QLatin1String(acknowledgement);
}

AckJudgement judgeWriteReply(ModuleField field, const QString &reply)
{
    AckJudgement judgement;
    const WriteRow *row = writeRowFor(field);
    if (!row)
        return judgement;
    judgement.field = row->field;
    judgement.failureText = QString::fromUtf8(row->failureText);
    if (isAcknowledgement(reply)) {
        judgement.verdict = AckVerdict::Acknowledged;
        judgement.acknowledgesIp = row->field == ModuleField::Ip;
    } else if (!row->refusal || reply == QLatin1String(row->refusal)) {
        judgement.verdict = AckVerdict::Failed;
    }
    return judgement;
}

AckJudgement judgeAcknowledgement(int step, const QString &reply)
{
    const WriteRow &first = writeRows[0];
    if (step >= 1 && step < first.tick) {
        // Nothing has been sent yet: "ok" means nothing, anything else is
        // taken as the first command (the IP address) failing.
        AckJudgement judgement;
        if (!isAcknowledgement(reply)) {
            judgement.verdict = AckVerdict::Failed;
            judgement.field = first.field;
            judgement.failureText = QString::fromUtf8(first.failureText);
        }
        return judgement;
    }
    for (const WriteRow &row : writeRows) {
        if (step == row.tick || step == row.tick + 1)
            return judgeWriteReply(row.field, reply);
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
    for (const WriteRow &row : writeRows) {
        if (row.tick != tick)
            continue;
        t.action = WriteAction::Send;
        t.prefix = row.prefix;
        t.hasValue = true;
        t.field = row.field;
        t.replyTrace = row.replyTrace;
        t.commandTrace = row.commandTrace;
        t.traceCommand = row.traceCommand;
    }
    return t;
}

QByteArray writeCommand(const char *prefix, const QString &value)
{
    return QByteArray(prefix) + value.toLatin1();
}

QByteArray writeCommandForChoice(const char *prefix, ModuleField field, int position)
{
    return QByteArray(prefix) + choiceWord(field, position);
}

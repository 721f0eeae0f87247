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

struct AckRow {
    int firstStep; // the command's tick; its reply is also taken one tick later
    ModuleField field;
    const char *failureText;
};

const AckRow acknowledgements[] = {
    {3, ModuleField::Ip, writeFailed},
    {5, ModuleField::Mask, writeFailed},
    {7, ModuleField::Gateway, writeFailed},
    {9, ModuleField::PortTcp, writeFailedTight},
    {11, ModuleField::Parity, writeFailed},
    {13, ModuleField::Speed, writeFailed},
    {15, ModuleField::StopBit, writeFailedTight},
    {17, ModuleField::Timewait, writeFailed},
};

const char acknowledgement[] = "ok";
const char timeoutRefused[] = "?";

} // namespace

const QueryRow *queryForStep(int step)
{
    for (const QueryRow &row : queries) {
        if (row.step == step)
            return &row;
    }
    return nullptr;
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
    ReadoutAnswer answer;
    const QueryRow *row = queryForStep(step);
    if (!row)
        return answer;
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

AckJudgement judgeAcknowledgement(int step, const QString &reply)
{
    AckJudgement judgement;
    const bool ok = reply == QLatin1String(acknowledgement);
    if (step == 1 || step == 2) {
        // Nothing has been sent yet: "ok" means nothing, anything else is
        // taken as the IP address write failing.
        if (!ok) {
            judgement.verdict = AckVerdict::Failed;
            judgement.field = ModuleField::Ip;
            judgement.failureText = QString::fromUtf8(writeFailed);
        }
        return judgement;
    }
    for (const AckRow &row : acknowledgements) {
        if (step != row.firstStep && step != row.firstStep + 1)
            continue;
        judgement.field = row.field;
        judgement.failureText = QString::fromUtf8(row.failureText);
        if (ok) {
            judgement.verdict = AckVerdict::Acknowledged;
            judgement.acknowledgesIp = row.field == ModuleField::Ip;
        } else if (row.field != ModuleField::Timewait || reply == QLatin1String(timeoutRefused)) {
            // The time-out command fails only on "?"; its other replies pass.
            judgement.verdict = AckVerdict::Failed;
        }
        return judgement;
    }
    return judgement;
}

WriteTick writeTickAt(int tick)
{
    WriteTick t;
    const auto send = [&t](const char *prefix, ModuleField field) {
        t.action = WriteAction::Send;
        t.prefix = prefix;
        t.hasValue = true;
        t.field = field;
    };
    switch (tick) {
    case 1:
        t.replyTrace = "case_1";
        break;
    case 3:
        send("CHANGE IP:", ModuleField::Ip);
        t.replyTrace = "case_3";
        t.commandTrace = "change ip---";
        t.traceCommand = true;
        break;
    case 4:
        t.action = WriteAction::CheckAcknowledgement;
        t.replyTrace = "case_2";
        break;
    case 5:
        send("CHANGE MASK:", ModuleField::Mask);
        t.commandTrace = "change mask---";
        t.traceCommand = true;
        break;
    case 7:
        send("CHANGE GATEWAY:", ModuleField::Gateway);
        break;
    case 9:
        send("CHANGE PORT TCP:", ModuleField::PortTcp);
        t.traceCommand = true;
        break;
    case 11:
        send("CHANGE PARITY:", ModuleField::Parity);
        break;
    case 13:
        send("CHANGE SPEED RS485:", ModuleField::Speed);
        t.traceCommand = true;
        break;
    case 15:
        send("CHANGE STOP BIT:", ModuleField::StopBit);
        break;
    case 17:
        send("change timeout data:", ModuleField::Timewait);
        break;
    case writeLastTick:
        t.action = WriteAction::Finish;
        t.prefix = Command::writeFinish;
        break;
    default:
        break;
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

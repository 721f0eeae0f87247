#include "protocol/protocol.h"

#include <iterator>

namespace
{

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

const char acknowledgement[] = "ok";

} // namespace

const QueryRow &queryFor(ModuleField field)
{
    for (const QueryRow &row : queryTable) {
        if (row.field == field)
            return row;
    }
    Q_UNREACHABLE();
    return queryTable[0];
}

const WriteCommandRow *writeCommandFor(ModuleField field)
{
    for (const WriteCommandRow &row : writeCommandTable) {
        if (row.field == field)
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

QByteArray writeCommand(const char *prefix, const QString &value)
{
    return QByteArray(prefix) + value.toLatin1();
}

QByteArray writeCommandForChoice(const char *prefix, ModuleField field, int position)
{
    return QByteArray(prefix) + choiceWord(field, position);
}

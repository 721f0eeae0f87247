// Arbitrary bytes from the line, cut into arbitrary notifications, through
// the reply framer, the clean-up and the interpretation of every read-out
// step and every write step; and arbitrary text through the write-command
// builder. Nothing may crash, leak or grow without bound, no byte may be
// lost or doubled by the framing, and the judgements keep their rules.
//
// Input: a sequence of records, each a control byte followed by up to 63
// bytes of data. Control bits 0-5: the data's length; bit 6: the line goes
// quiet after it; bit 7: the data is also used as a typed text value.

#include "engine/console/replyframer.h"
#include "protocol/protocol.h"
#include "window/schedule.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

void check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "fuzz_reply_path: %s\n", what);
        abort();
    }
}

const char *const writePrefixes[] = {
    "CHANGE IP:",     "CHANGE MASK:",        "CHANGE GATEWAY:",  "CHANGE PORT TCP:",
    "CHANGE PARITY:", "CHANGE SPEED RS485:", "CHANGE STOP BIT:", "change timeout data:"};

void interpret(const QByteArray &bytes)
{
    check(bytes.size() <= ReplyFramer::maxReplyBytes, "reply beyond the size bound");
    const QString reply = cleanReply(bytes);
    check(!reply.contains(QLatin1Char('\r')) && !reply.contains(QLatin1Char('\n')),
          "line break left in a reply");
    for (int step = -1; step <= readoutEndStep + 1; ++step) {
        const ReadoutAnswer answer = interpretReadoutAnswer(step, reply);
        const QueryRow *row = queryForStep(step);
        check(answer.applies == (row != nullptr), "read-out step taken without its query");
        if (!row)
            continue;
        check(answer.field == row->field, "answer given to another field");
        if (isChoiceField(row->field)) {
            check(answer.valid == (answer.position > 0), "choice validity and position disagree");
            check(!answer.valid || !choiceWord(row->field, answer.position).isEmpty(),
                  "choice outside its list");
        } else {
            check(answer.text.size() <= row->width, "value wider than its width");
            check(answer.valid == !answer.text.isEmpty(), "text validity and value disagree");
        }
    }
    for (int step = -1; step <= writeLastTick + 1; ++step) {
        const AckJudgement judgement = judgeAcknowledgement(step, reply);
        if (judgement.verdict == AckVerdict::Acknowledged)
            check(reply == QLatin1String("ok"), "acknowledged without exactly ok");
        check(!judgement.acknowledgesIp || judgement.verdict == AckVerdict::Acknowledged,
              "IP acknowledged by a reply that was not accepted");
    }
}

void buildCommands(const QByteArray &typed)
{
    const QString value = QString::fromUtf8(typed);
    for (const char *prefix : writePrefixes) {
        const QByteArray command = writeCommand(prefix, value);
        check(command.startsWith(prefix) && command.size() == int(strlen(prefix)) + value.size(),
              "write command not prefix plus one byte a character");
    }
    const int position = typed.isEmpty() ? -1 : int(static_cast<signed char>(typed.at(0)));
    for (ModuleField field : {ModuleField::Parity, ModuleField::Speed, ModuleField::StopBit}) {
        const QByteArray command = writeCommandForChoice("CHANGE PARITY:", field, position);
        check(command.startsWith("CHANGE PARITY:"), "choice command lost its prefix");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Timers need an application object; no event loop ever runs, so the
    // framer's quiet gap is only ever the input's own.
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ReplyFramer framer;
    QByteArray fed;
    QByteArray framed;
    QObject::connect(&framer, &ReplyFramer::replyFramed, [&framed](const QByteArray &bytes) {
        framed += bytes;
        interpret(bytes);
    });
    size_t pos = 0;
    while (pos < size) {
        const uint8_t control = data[pos++];
        const size_t length = std::min<size_t>(control & 0x3f, size - pos);
        const QByteArray chunk(reinterpret_cast<const char *>(data + pos), int(length));
        pos += length;
        fed += chunk;
        framer.feed(chunk);
        check(framer.pendingSize() <= ReplyFramer::maxReplyBytes, "pending beyond the bound");
        if (control & 0x40)
            framer.frameNow();
        if (control & 0x80)
            buildCommands(chunk);
    }
    framer.frameNow();
    check(framed == fed, "framing lost or doubled bytes");
    return 0;
}

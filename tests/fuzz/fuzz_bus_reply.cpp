// Arbitrary bytes from a module's Modbus TCP port, cut into arbitrary
// segments, through the bus's reply reader, with the time running out at
// arbitrary moments. Nothing may crash, leak or grow without bound; every
// byte comes out exactly once, in order; a frame is a whole Modbus TCP
// frame. (Over a transparent module, RTU, fuzz_reply_match tries the bus
// engine's matcher.)
//
// Input: records, each a control byte followed by up to 63 bytes of data.
// Control bits 0-5: the data's length; bit 6: the time is up after it
// (flush).

#include "engine/bus/mbapframe.h"
#include "engine/bus/replyreader.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{

void check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "fuzz_bus_reply: %s\n", what);
        abort();
    }
}

void drain(ReplyReader &reader, QByteArray *out)
{
    ReplyReader::Item item;
    while (reader.next(&item)) {
        check(!item.bytes.isEmpty(), "an empty item");
        *out += item.bytes;
        if (item.kind != ReplyReader::Item::Kind::Frame)
            continue;
        const mbapframe::Scan s = mbapframe::scan(item.bytes);
        check(s.state == mbapframe::Scan::State::Complete && s.length == item.bytes.size(),
              "a Modbus TCP frame that is no whole frame");
        check(item.pdu.size() + 7 == item.bytes.size(), "the PDU is not the frame's");
    }
    check(reader.pendingSize() < mbapframe::maxLength, "pending beyond the largest frame");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ReplyReader reader;
    QByteArray fed;
    QByteArray out;
    size_t pos = 0;
    while (pos < size) {
        const uint8_t control = data[pos++];
        const size_t length = std::min<size_t>(control & 0x3f, size - pos);
        const QByteArray chunk(reinterpret_cast<const char *>(data + pos), int(length));
        pos += length;
        fed += chunk;
        reader.feed(chunk);
        if (control & 0x40)
            reader.flush();
        drain(reader, &out);
    }
    reader.flush();
    drain(reader, &out);
    check(reader.pendingSize() == 0, "bytes left after the time ran out");
    check(out == fed, "bytes lost, doubled or reordered");
    return 0;
}

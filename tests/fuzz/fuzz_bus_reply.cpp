// Arbitrary bytes from a module's TCP port, cut into arbitrary segments,
// through the reply reader of the bus (RTU over a transparent module, or
// Modbus TCP), with the reply awaited changing and the time running out at
// arbitrary moments. Nothing may crash, leak or grow without bound; every
// byte comes out exactly once, in order; a frame is a whole frame (its CRC
// right, from a unit that may answer); a frame with a wrong CRC is one of
// the reply awaited.
//
// Input: the first byte's bit 0 chooses the framing (0 RTU, 1 Modbus TCP);
// then records, each a control byte followed by up to 63 bytes of data.
// Control bits 0-5: the data's length; bit 6: the time is up after it
// (flush); bit 7: the data's first two bytes are the unit and function
// awaited from then on (and are fed too).

#include "engine/bus/mbapframe.h"
#include "engine/bus/replyreader.h"
#include "engine/bus/rtuframe.h"

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

struct Awaited {
    quint8 unit = 0;
    quint8 function = 0;
};

void drain(ReplyReader &reader, BusFraming framing, const Awaited &awaited, QByteArray *out)
{
    ReplyReader::Item item;
    while (reader.next(&item)) {
        check(!item.bytes.isEmpty(), "an empty item");
        *out += item.bytes;
        switch (item.kind) {
        case ReplyReader::Item::Kind::Frame:
            if (framing == BusFraming::Rtu) {
                check(rtuframe::isWholeFrame(item.bytes, rtuframe::Direction::Response),
                      "a frame that is no whole frame");
                check(item.unit >= 1 && item.unit <= 247, "a frame from a unit that cannot answer");
            } else {
                const mbapframe::Scan s = mbapframe::scan(item.bytes);
                check(s.state == mbapframe::Scan::State::Complete && s.length == item.bytes.size(),
                      "a Modbus TCP frame that is no whole frame");
            }
            check(item.pdu.size() + (framing == BusFraming::Rtu ? 3 : 7) == item.bytes.size(),
                  "the PDU is not the frame's");
            break;
        case ReplyReader::Item::Kind::BadCrc:
            check(framing == BusFraming::Rtu, "a CRC error without a CRC");
            check(item.unit == awaited.unit &&
                      (quint8(item.pdu.functionCode()) & 0x7f) == (awaited.function & 0x7f),
                  "a CRC error in a reply not awaited");
            check(rtuframe::scan(item.bytes, rtuframe::Direction::Response).state ==
                      rtuframe::Scan::State::BadCrc,
                  "a CRC error whose CRC is right");
            break;
        case ReplyReader::Item::Kind::Noise:
            break;
        }
    }
    const int bound = framing == BusFraming::Rtu ? rtuframe::maxLength : mbapframe::maxLength;
    check(reader.pendingSize() < bound, "pending beyond the largest frame");
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
    if (size == 0)
        return 0;
    const BusFraming framing = (data[0] & 1) ? BusFraming::Tcp : BusFraming::Rtu;
    ReplyReader reader(framing);
    Awaited awaited;
    QByteArray fed;
    QByteArray out;
    size_t pos = 1;
    while (pos < size) {
        const uint8_t control = data[pos++];
        const size_t length = std::min<size_t>(control & 0x3f, size - pos);
        const QByteArray chunk(reinterpret_cast<const char *>(data + pos), int(length));
        pos += length;
        if ((control & 0x80) && chunk.size() >= 2) {
            awaited = {quint8(chunk.at(0)), quint8(chunk.at(1))};
            reader.expect(awaited.unit, awaited.function);
        }
        fed += chunk;
        reader.feed(chunk);
        if (control & 0x40)
            reader.flush();
        drain(reader, framing, awaited, &out);
    }
    reader.flush();
    drain(reader, framing, awaited, &out);
    check(reader.pendingSize() == 0, "bytes left after the time ran out");
    check(out == fed, "bytes lost, doubled or reordered");
    return 0;
}

// Arbitrary bytes from a gateway's client, cut into arbitrary segments,
// through the reader of its Modbus TCP requests (engine/gateway/mbapreader),
// taken between segments or only now and then. Nothing may crash, leak or
// grow without bound: every request comes out whole (its header rebuilt
// from it is the bytes sent, its PDU 1-253 bytes), in order, nothing lost
// or made up; what is held never exceeds the largest frame and one
// segment; once out of step the reader takes nothing more.
//
// Input: records, each a control byte followed by up to 63 bytes of data.
// Control bits 0-5: the data's length; bit 6: the requests are not taken
// after this segment (a client held back).

#include "engine/bus/mbapframe.h"
#include "engine/gateway/mbapreader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{

void check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "fuzz_mbap_request: %s\n", what);
        abort();
    }
}

void take(MbapReader &reader, const QByteArray &fed, int *taken)
{
    MbapReader::Request request;
    while (reader.next(&request)) {
        check(!request.pdu.isEmpty() && request.pdu.size() <= 253, "a PDU of no request's size");
        const QByteArray frame = mbapframe::encode(request.transaction, request.unit, request.pdu);
        check(fed.mid(*taken, frame.size()) == frame, "a request that is not the bytes sent");
        *taken += frame.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MbapReader reader;
    QByteArray fed;
    int taken = 0;
    size_t at = 0;
    while (at < size) {
        const uint8_t control = data[at++];
        const size_t length = std::min<size_t>(control & 0x3f, size - at);
        const QByteArray segment(reinterpret_cast<const char *>(data + at), int(length));
        at += length;
        const bool wasOutOfStep = reader.outOfStep();
        reader.feed(segment);
        fed += segment;
        if (wasOutOfStep) {
            check(reader.held() == 0, "bytes held after the stream went out of step");
            continue;
        }
        if (!(control & 0x40))
            take(reader, fed, &taken);
        if (!reader.outOfStep())
            check(reader.held() == fed.size() - taken, "bytes lost or made up");
        check(reader.held() <= mbapframe::maxLength + 64 * 2 || (control & 0x40),
              "more held than a frame and a segment");
    }
    take(reader, fed, &taken);
    if (reader.outOfStep()) {
        check(reader.held() == 0, "bytes held out of step");
        check(!reader.midFrame(), "a frame begun out of step");
    } else {
        check(reader.held() == fed.size() - taken, "bytes lost at the end");
        check(reader.held() < mbapframe::maxLength, "a whole request left untaken");
    }
    return 0;
}

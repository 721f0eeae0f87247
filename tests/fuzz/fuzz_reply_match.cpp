// Arbitrary bytes from a transparent module's TCP port, cut into arbitrary
// segments, through the bus engine's matcher of one reply to one request
// (ReplyMatch), with requests sent and their time running out at arbitrary
// moments. Nothing may crash, leak or grow without bound; every byte fed
// comes out once, in an event or still pending; a request ends at most
// once; a reply is a frame with its CRC right from the unit asked, with
// its function or its exception; a late reply comes only after the time ran out.
//
// Input: records, each a control byte followed by up to 63 bytes of data,
// one millisecond apart. Control bits 0-5: the data's length; bit 6: the
// time for the answer is up after it; bit 7: the data is a request (unit
// and PDU; its CRC is added), sent now, instead of bytes that came.

#include "engine/bus/replymatch.h"
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
        fprintf(stderr, "fuzz_reply_match: %s\n", what);
        abort();
    }
}

struct Request {
    quint8 unit = 0;
    quint8 function = 0;
    int ended = 0; // events that ended it
    bool timedOut = false;
    int late = 0;
};

// A frame's last two bytes are the CRC of the rest (a reply's length comes
// from its request; another function's reply ends at its first right CRC).
bool hasRightCrc(const QByteArray &frame)
{
    if (frame.size() < 4)
        return false;
    const quint16 crc = rtuframe::crc16(frame.constData(), frame.size() - 2);
    return quint8(frame.at(frame.size() - 2)) == (crc & 0xff) &&
           quint8(frame.at(frame.size() - 1)) == (crc >> 8);
}

qint64 drain(ReplyMatch &match, Request *request)
{
    qint64 out = 0;
    ReplyMatch::Event e;
    while (match.next(&e)) {
        using K = ReplyMatch::Event::Kind;
        check(e.size >= 0 && e.count >= 1, "a negative size or count");
        if (e.kind != K::NoReply) {
            check(e.size > 0, "an event of no bytes");
            out += e.size;
        }
        if (e.endsRequest)
            ++request->ended;
        check(request->ended <= 1, "a request ended twice");
        switch (e.kind) {
        case K::Reply:
            check(hasRightCrc(e.frame), "a reply whose CRC is wrong");
            [[fallthrough]];
        case K::Late:
            check(e.frame.size() == e.size, "a reply's bytes are not its size");
            check(e.unit == request->unit && e.unit != 0, "a reply from a unit not asked");
            check((e.function & 0x7f) == (request->function & 0x7f),
                  "a reply with another function");
            check(e.kind == K::Reply || request->timedOut, "late before the time ran out");
            if (e.kind == K::Late)
                check(++request->late == 1, "one reply late twice");
            break;
        case K::WrongReply:
        case K::CrcError:
            check(e.frame.size() == e.size, "a frame's bytes are not its size");
            check(e.unit == request->unit, "a wrong reply from a unit not asked");
            break;
        case K::NoReply:
        case K::Stray:
            break;
        }
    }
    check(match.pendingSize() <= 2 * rtuframe::maxLength, "pending beyond bound");
    return out;
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
    ReplyMatch match;
    Request request;
    qint64 fed = 0;
    qint64 out = 0;
    qint64 now = 0;
    size_t pos = 0;
    while (pos < size) {
        const uint8_t control = data[pos++];
        const size_t length = std::min<size_t>(control & 0x3f, size - pos);
        QByteArray chunk(reinterpret_cast<const char *>(data + pos), int(length));
        pos += length;
        ++now;
        if ((control & 0x80) && chunk.size() >= 2) {
            const quint16 crc = rtuframe::crc16(chunk);
            chunk.append(char(crc & 0xff));
            chunk.append(char(crc >> 8));
            match.begin(chunk, now);
            out += drain(match, &request); // what was pending, and the last request's end
            request = Request();
            request.unit = quint8(chunk.at(0));
            request.function = quint8(chunk.at(1));
        } else {
            fed += chunk.size();
            match.feed(chunk, now);
        }
        if (control & 0x40) {
            match.timeUp(now);
            request.timedOut = true;
        }
        out += drain(match, &request);
        check(out + match.pendingSize() == fed, "bytes lost or doubled");
    }
    return 0;
}

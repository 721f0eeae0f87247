#ifndef REPLYREADER_H
#define REPLYREADER_H

#include <QByteArray>
#include <QModbusResponse>

// How the module carries Modbus on its TCP port: transparent (the RTU frames
// of the bus, CRC included) or as Modbus TCP (MBAP).
enum class BusFraming { Rtu, Tcp };

// Takes apart what comes back from the module into whole replies and the
// bytes between them, whatever the pieces it arrives in.
//
// Over a transparent module what arrives is what was on the bus, gathered
// by the module until the line was quiet: a reply may come in several
// segments, after noise, or with a corrupted byte. A reply ends where its
// function code's length says (Qt SerialBus's calculateDataSize); a frame
// counts only with its CRC right, from a unit address 1-247. Bytes that can
// no longer be the start of a frame are noise. A frame of the reply
// awaited (expect()) whose CRC is wrong is a reply with a CRC error.
//
// Over Modbus TCP the frames follow each other; a header that is none (a
// protocol other than 0, a length no PDU has) puts the stream out of step,
// and what is pending is noise.
//
// Every byte fed comes out exactly once, in order, in one item. Pending
// bytes are bounded by the largest frame; flush() settles them (the time
// for the reply is up).
class ReplyReader
{
public:
    struct Item {
        enum class Kind {
            Frame,  // a whole frame: unit, PDU (and the transaction's id)
            BadCrc, // a frame of the reply awaited, its CRC wrong
            Noise,  // bytes that are no frame
        };
        Kind kind = Kind::Noise;
        QByteArray bytes; // as they came
        quint8 unit = 0;
        QModbusResponse pdu;
        quint16 transaction = 0; // Modbus TCP only
    };

    explicit ReplyReader(BusFraming framing = BusFraming::Rtu) : framing(framing) {}

    // The reply awaited: from `unit`, with `function` (or its exception).
    // 0, 0: none.
    void expect(quint8 unit, quint8 function);
    void feed(const QByteArray &bytes);
    // The next item settled, oldest first; false when what is pending may
    // still become a frame (or nothing is).
    bool next(Item *item);
    // The time is up: next() settles everything pending.
    void flush() { flushing = true; }
    int pendingSize() const { return pending.size(); }

private:
    bool nextRtu(Item *item);
    bool nextTcp(Item *item);
    Item take(Item::Kind kind, int length);

    BusFraming framing;
    QByteArray pending;
    quint8 awaitedUnit = 0;
    quint8 awaitedFunction = 0;
    bool flushing = false;
};

#endif // REPLYREADER_H

#ifndef REPLYREADER_H
#define REPLYREADER_H

#include <QByteArray>
#include <QModbusResponse>

// How the module carries Modbus on its TCP port: transparent (the RTU frames
// of the bus, CRC included) or as Modbus TCP (MBAP).
enum class BusFraming { Rtu, Tcp };

// Takes apart what comes back from a module in a Modbus TCP mode into whole
// frames and the bytes between them, whatever the pieces it arrives in.
// The frames follow each other; a header that is none (a protocol other
// than 0, a length no PDU has) puts the stream out of step, and what is
// pending is noise. (Over a transparent module, RTU, the bus engine's
// ReplyMatch matches a reply to its request.)
//
// Every byte fed comes out exactly once, in order, in one item. Pending
// bytes are bounded by the largest frame; flush() settles them (the time
// for the reply is up).
class ReplyReader
{
public:
    struct Item {
        enum class Kind {
            Frame, // a whole frame: unit, PDU and the transaction's id
            Noise, // bytes that are no frame
        };
        Kind kind = Kind::Noise;
        QByteArray bytes; // as they came
        quint8 unit = 0;
        QModbusResponse pdu;
        quint16 transaction = 0;
    };

    void feed(const QByteArray &bytes);
    // The next item settled, oldest first; false when what is pending may
    // still become a frame (or nothing is).
    bool next(Item *item);
    // The time is up: next() settles everything pending.
    void flush() { flushing = true; }
    int pendingSize() const { return pending.size(); }

private:
    Item take(Item::Kind kind, int length);

    QByteArray pending;
    bool flushing = false;
};

#endif // REPLYREADER_H

#ifndef MBAPFRAME_H
#define MBAPFRAME_H

#include <QByteArray>
#include <QModbusPdu>

// Modbus TCP frames (the MBAP header and a PDU), for a module set to a
// Modbus TCP mode: transaction (2 bytes), protocol (2, always 0), length
// (2: the unit and the PDU that follow), unit (1), then the PDU. Big-endian,
// no CRC: TCP checks the bytes.
namespace mbapframe
{

constexpr int headerLength = 7;               // up to and with the unit
constexpr int maxLength = headerLength + 253; // the largest PDU after it

QByteArray encode(quint16 transaction, quint8 unit, const QModbusPdu &pdu);
// The same with the PDU as its bytes (function code first), whatever the
// function: what a gateway passes through untouched.
QByteArray encode(quint16 transaction, quint8 unit, const QByteArray &pdu);

struct Scan {
    enum class State {
        Incomplete, // more bytes are needed
        Complete,   // `length` bytes make a frame
        Invalid,    // no frame starts here: a protocol other than 0, or a
                    // length no PDU has (the stream is out of step)
    };
    State state = State::Incomplete;
    int length = 0;
    quint16 transaction = 0;
    quint8 unit = 0;
};
// Where the bytes at the start of a buffer stand as a Modbus TCP frame.
Scan scan(const QByteArray &bytes);

} // namespace mbapframe

#endif // MBAPFRAME_H

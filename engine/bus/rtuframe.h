#ifndef RTUFRAME_H
#define RTUFRAME_H

#include <QByteArray>
#include <QModbusPdu>

// Modbus RTU frames on a serial line: the unit address, a PDU (function code
// and data) and the CRC-16 (polynomial 0xA001, low byte first). A frame's
// length follows from its function code and, for some, a byte count in its
// data (Qt SerialBus's calculateDataSize), so a frame can be told complete
// before the line falls quiet. The bus has one master: what it writes are
// requests, what comes back are responses, and their lengths differ.
namespace rtuframe
{

constexpr int maxLength = 256; // address + PDU (at most 253) + CRC
constexpr int minLength = 4;   // address, function code, CRC

// A unit that may answer: 0 is the broadcast, 248-255 are reserved.
constexpr bool isAnsweringUnit(quint8 unit)
{
    return unit >= 1 && unit <= 247;
}

enum class Direction { Request, Response };

quint16 crc16(const char *data, int size);
// The CRC after one byte more, from `crc` (0xffff before the first).
quint16 crc16Step(quint16 crc, quint8 byte);
inline quint16 crc16(const QByteArray &bytes)
{
    return crc16(bytes.constData(), bytes.size());
}

// The frame for unit `unit` carrying `pdu`, its CRC appended.
QByteArray encode(quint8 unit, const QModbusPdu &pdu);

// Where the bytes at the start of a buffer stand as a frame of `direction`.
struct Scan {
    enum class State {
        Incomplete, // a frame may yet come: more bytes are needed to tell
        Complete,   // `length` bytes make a frame whose CRC is right
        BadCrc,     // `length` bytes make a frame, its CRC is wrong
        Invalid,    // no frame starts here (an unknown function code, a
                    // length past the largest frame)
    };
    State state = State::Incomplete;
    int length = 0;
};
Scan scan(const QByteArray &bytes, Direction direction);

// The length of the whole frame (unit, PDU, CRC) of a device's normal reply
// to `requestFrame` (unit, PDU and CRC as sent; only its first six bytes are
// read), from the request alone: for functions 1 and 2 a byte count of
// ceil(quantity / 8), for 3 and 4 of 2 x quantity, an echo of 8 bytes for
// 5, 6, 15 and 16. 0 for any other function (8, 17, 23, 43, a vendor's), or
// a request too short or asking more than a frame holds: that reply ends at
// its first complete CRC. An exception is always exceptionLength.
int expectedReplyLength(const QByteArray &requestFrame);
constexpr int exceptionLength = 5; // address, function + 0x80, code, CRC

// The length of the reply frame at `data` as the public function codes say
// (a byte count, or a fixed length; any exception is exceptionLength):
// -1 when more bytes are needed to tell, 0 when no frame of those starts
// here (an unknown function code, a length past the largest frame). No
// copies: for reading floods.
int knownReplyLength(const char *data, int size);

// The CRC at the end of the `length` bytes at `data` is right.
bool hasRightCrc(const char *data, int length);

// The bytes are exactly one frame, its CRC right.
bool isWholeFrame(const QByteArray &bytes, Direction direction);

// A frame taken apart: unit address and PDU (a response's PDU may be an
// exception: QModbusPdu::isException()).
struct Frame {
    quint8 unit = 0;
    QModbusPdu::FunctionCode functionCode = QModbusPdu::Invalid;
    QByteArray data;
    bool isException() const { return (quint8(functionCode) & 0x80) != 0; }
    quint8 exceptionCode() const
    {
        return isException() && !data.isEmpty() ? quint8(data.at(0)) : 0;
    }
};
// Takes apart the bytes as one whole frame (isWholeFrame).
bool decode(const QByteArray &bytes, Direction direction, Frame *frame);

} // namespace rtuframe

#endif // RTUFRAME_H

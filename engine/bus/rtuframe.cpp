#include "engine/bus/rtuframe.h"

#include <QModbusRequest>
#include <QModbusResponse>

namespace rtuframe
{

namespace
{

// The public function codes whose lengths Qt SerialBus knows: for these a
// length it cannot give yet means that more bytes are needed.
bool isKnownFunction(quint8 code)
{
    switch (code & 0x7f) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x07:
    case 0x08:
    case 0x0b:
    case 0x0c:
    case 0x0f:
    case 0x10:
    case 0x11:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x17:
    case 0x18:
    case 0x2b:
        return true;
    default:
        return false;
    }
}

// The CRC-16's table, a byte at a time (polynomial 0xA001, reflected).
struct CrcTable {
    quint16 entry[256] = {};
    constexpr CrcTable()
    {
        for (int byte = 0; byte < 256; ++byte) {
            quint16 crc = quint16(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? quint16((crc >> 1) ^ 0xa001) : quint16(crc >> 1);
            entry[byte] = crc;
        }
    }
};
constexpr CrcTable crcTable;

} // namespace

quint16 crc16Step(quint16 crc, quint8 byte)
{
    return quint16((crc >> 8) ^ crcTable.entry[(crc ^ byte) & 0xff]);
}

quint16 crc16(const char *data, int size)
{
    // The step written out: floods of frames pass here.
    quint16 crc = 0xffff;
    for (int i = 0; i < size; ++i)
        crc = quint16((crc >> 8) ^ crcTable.entry[(crc ^ quint8(data[i])) & 0xff]);
    return crc;
}

bool hasRightCrc(const char *data, int length)
{
    if (length < minLength)
        return false;
    const quint16 crc = crc16(data, length - 2);
    return quint8(data[length - 2]) == (crc & 0xff) && quint8(data[length - 1]) == (crc >> 8);
}

int expectedReplyLength(const QByteArray &requestFrame)
{
    if (requestFrame.size() < 6)
        return 0;
    const auto byteAt = [&requestFrame](int at) { return int(quint8(requestFrame.at(at))); };
    const int quantity = byteAt(4) << 8 | byteAt(5);
    int byteCount = -1;
    switch (byteAt(1)) {
    case 0x01:
    case 0x02:
        byteCount = (quantity + 7) / 8;
        break;
    case 0x03:
    case 0x04:
        byteCount = 2 * quantity;
        break;
    case 0x05:
    case 0x06:
    case 0x0f:
    case 0x10:
        return 8;
    default:
        return 0;
    }
    // A quantity of none, or more than a reply holds: only an exception
    // can answer it, and nothing else is told by its length.
    if (byteCount < 1 || byteCount > maxLength - 6)
        return 0;
    return 5 + byteCount;
}

int knownReplyLength(const char *data, int size)
{
    if (size < 2)
        return -1;
    const quint8 code = quint8(data[1]);
    if (code & 0x80)
        return (code & 0x7f) != 0 ? exceptionLength : 0;
    int length = 0;
    switch (code) {
    case 0x01: // a byte count
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x0c:
    case 0x11:
    case 0x14:
    case 0x15:
    case 0x17:
        if (size < 3)
            return -1;
        length = 5 + quint8(data[2]);
        break;
    case 0x07:
        return 5;
    case 0x05: // an echo, or a fixed answer
    case 0x06:
    case 0x08:
    case 0x0b:
    case 0x0f:
    case 0x10:
        return 8;
    case 0x16:
        return 10;
    case 0x18: // a byte count of two bytes
        if (size < 4)
            return -1;
        length = 6 + (quint8(data[2]) << 8 | quint8(data[3]));
        break;
    default:
        return 0;
    }
    return length <= maxLength ? length : 0;
}

QByteArray encode(quint8 unit, const QModbusPdu &pdu)
{
    QByteArray frame;
    frame.reserve(pdu.size() + 3);
    frame.append(char(unit));
    // functionCode() leaves out an exception's bit.
    frame.append(char(quint8(pdu.functionCode()) | (pdu.isException() ? 0x80 : 0)));
    frame.append(pdu.data());
    const quint16 crc = crc16(frame);
    frame.append(char(crc & 0xff));
    frame.append(char(crc >> 8));
    return frame;
}

Scan scan(const QByteArray &bytes, Direction direction)
{
    Scan result;
    if (bytes.size() < 2)
        return result;
    const quint8 code = quint8(bytes.at(1));
    if (!isKnownFunction(code) || (direction == Direction::Request && (code & 0x80))) {
        result.state = Scan::State::Invalid;
        return result;
    }
    const auto function = QModbusPdu::FunctionCode(code);
    // At most the largest PDU's data: calculateDataSize reads a byte count.
    const QByteArray data = bytes.mid(2, maxLength - 4);
    int dataSize = -1;
    if (direction == Direction::Request)
        dataSize = QModbusRequest::calculateDataSize(QModbusRequest(function, data));
    else
        dataSize = QModbusResponse::calculateDataSize(QModbusResponse(function, data));
    if (dataSize < 0) {
        // Qt cannot tell yet; once the largest frame's bytes are there and
        // it still cannot, no frame starts here.
        if (bytes.size() >= maxLength)
            result.state = Scan::State::Invalid;
        return result;
    }
    const int length = 2 + dataSize + 2;
    if (length > maxLength) {
        result.state = Scan::State::Invalid;
        return result;
    }
    if (bytes.size() < length)
        return result;
    result.length = length;
    const quint16 expected = crc16(bytes.constData(), length - 2);
    const quint16 given =
        quint16(quint8(bytes.at(length - 2))) | quint16(quint16(quint8(bytes.at(length - 1))) << 8);
    result.state = expected == given ? Scan::State::Complete : Scan::State::BadCrc;
    return result;
}

bool isWholeFrame(const QByteArray &bytes, Direction direction)
{
    const Scan s = scan(bytes, direction);
    return s.state == Scan::State::Complete && s.length == bytes.size();
}

bool decode(const QByteArray &bytes, Direction direction, Frame *frame)
{
    if (!isWholeFrame(bytes, direction))
        return false;
    frame->unit = quint8(bytes.at(0));
    frame->functionCode = QModbusPdu::FunctionCode(quint8(bytes.at(1)));
    frame->data = bytes.mid(2, bytes.size() - 4);
    return true;
}

} // namespace rtuframe

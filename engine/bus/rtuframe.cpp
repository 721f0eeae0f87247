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

} // namespace

quint16 crc16(const char *data, int size)
{
    quint16 crc = 0xffff;
    for (int i = 0; i < size; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xa001) : quint16(crc >> 1);
    }
    return crc;
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

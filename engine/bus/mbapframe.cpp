#include "engine/bus/mbapframe.h"

namespace mbapframe
{

namespace
{

quint16 word(const QByteArray &bytes, int at)
{
    return quint16(quint16(quint8(bytes.at(at))) << 8 | quint8(bytes.at(at + 1)));
}

void appendWord(QByteArray *bytes, quint16 value)
{
    bytes->append(char(value >> 8));
    bytes->append(char(value & 0xff));
}

} // namespace

QByteArray encode(quint16 transaction, quint8 unit, const QModbusPdu &pdu)
{
    QByteArray bytes;
    bytes.reserve(pdu.size());
    bytes.append(char(quint8(pdu.functionCode()) | (pdu.isException() ? 0x80 : 0)));
    bytes.append(pdu.data());
    return encode(transaction, unit, bytes);
}

QByteArray encode(quint16 transaction, quint8 unit, const QByteArray &pdu)
{
    QByteArray frame;
    frame.reserve(headerLength + pdu.size());
    appendWord(&frame, transaction);
    appendWord(&frame, 0);
    appendWord(&frame, quint16(1 + pdu.size()));
    frame.append(char(unit));
    frame.append(pdu);
    return frame;
}

Scan scan(const QByteArray &bytes)
{
    Scan result;
    if (bytes.size() < 6)
        return result;
    const quint16 length = word(bytes, 4);
    // The unit and at least a function code; at most the largest PDU.
    if (word(bytes, 2) != 0 || length < 2 || length > maxLength - headerLength + 1) {
        result.state = Scan::State::Invalid;
        return result;
    }
    if (bytes.size() < 6 + length)
        return result;
    result.state = Scan::State::Complete;
    result.length = 6 + length;
    result.transaction = word(bytes, 0);
    result.unit = quint8(bytes.at(6));
    return result;
}

} // namespace mbapframe

#include "mbapgateway.h"

namespace
{

// The Modbus CRC-16, the simulator's own (as in busdevices.cpp).
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

int word(const QByteArray &bytes, int at)
{
    return quint8(bytes.at(at)) << 8 | quint8(bytes.at(at + 1));
}

} // namespace

QByteArray MbapGateway::fromClient(const QByteArray &bytes)
{
    pending += bytes;
    QByteArray rtu;
    while (pending.size() >= 6) {
        const int length = word(pending, 4);
        if (word(pending, 2) != 0 || length < 2 || length > 254) {
            pending.clear();
            break;
        }
        if (pending.size() < 6 + length)
            break;
        QByteArray frame = pending.mid(6, length); // unit and PDU
        const quint16 crc = crc16(frame.constData(), frame.size());
        frame.append(char(crc & 0xff));
        frame.append(char(crc >> 8));
        rtu += frame;
        waiting.append(pending.left(7));
        pending.remove(0, 6 + length);
    }
    return rtu;
}

QByteArray MbapGateway::toClient(const QByteArray &bus)
{
    if (waiting.isEmpty() || bus.size() < 4 ||
        crc16(bus.constData(), bus.size() - 2) !=
            quint16(quint8(bus.at(bus.size() - 2)) | quint8(bus.at(bus.size() - 1)) << 8))
        return QByteArray();
    // The oldest request of this unit: an earlier one the bus left
    // unanswered is answered no more.
    while (!waiting.isEmpty() && waiting.first().at(6) != bus.at(0))
        waiting.removeFirst();
    if (waiting.isEmpty())
        return QByteArray();
    QByteArray reply = waiting.takeFirst().left(4);
    const int length = bus.size() - 2; // unit and PDU
    reply.append(char(length >> 8));
    reply.append(char(length & 0xff));
    reply.append(bus.left(length));
    return reply;
}

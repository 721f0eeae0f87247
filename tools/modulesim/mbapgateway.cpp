#include "mbapgateway.h"

#include "busdevices.h"

namespace
{

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
        rtu += withCrc(pending.mid(6, length)); // unit and PDU
        waiting.append(pending.left(7));
        pending.remove(0, 6 + length);
    }
    return rtu;
}

QByteArray MbapGateway::toClient(const QByteArray &bus)
{
    if (waiting.isEmpty() || !crcRight(bus))
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

#include "engine/gateway/gatewayrequest.h"

bool GatewayRequest::isBroadcastWrite() const
{
    switch (function()) {
    case 0x05: // write single coil
    case 0x06: // write single register
        return pdu.size() == 5;
    case 0x0f: // write multiple coils
    case 0x10: // write multiple registers
        return pdu.size() >= 6 && pdu.size() == 6 + quint8(pdu.at(5));
    case 0x16: // mask write register
        return pdu.size() == 7;
    default:
        return false;
    }
}

QByteArray GatewayRequest::writeAnswer() const
{
    const quint8 f = function();
    if (f == 0x0f || f == 0x10)
        return pdu.left(5);
    return pdu;
}

bool GatewayRequest::isKnownRead() const
{
    switch (function()) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x07:
    case 0x0b:
    case 0x0c:
    case 0x11:
    case 0x14:
    case 0x18:
        return true;
    case 0x2b: // encapsulated interface: only read device identification
        return pdu.size() >= 2 && quint8(pdu.at(1)) == 0x0e;
    default:
        return false;
    }
}

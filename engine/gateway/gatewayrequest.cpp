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

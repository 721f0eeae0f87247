#ifndef GATEWAYREQUEST_H
#define GATEWAYREQUEST_H

#include <QByteArray>

#include <functional>

// A client's request on its way through the gateway, and the exceptions the
// gateway answers with itself.
namespace gatewayexception
{
constexpr quint8 illegalFunction = 0x01; // a broadcast refused, a read-only client's write
constexpr quint8 busy = 0x06;            // the bus's queue is full
constexpr quint8 noPath = 0x0A;          // no such unit, or its module is not connected
constexpr quint8 noResponse = 0x0B;      // the device did not answer in time
} // namespace gatewayexception

struct GatewayRequest {
    quint64 client = 0;   // who asked (0: the gateway itself, a probe)
    quint64 sequence = 0; // its place among that client's requests
    quint8 unit = 0;      // the unit on the bus (a virtual id mapped)
    QByteArray pdu;       // function code and data
    qint64 takenNs = 0;   // when the gateway took it (a monotonic clock)

    quint8 function() const { return pdu.isEmpty() ? 0 : quint8(pdu.at(0)); }
    // Reads only: a read may be tried again after a time-out (--retries),
    // a write never.
    bool isRead() const
    {
        const quint8 f = function();
        return f >= 1 && f <= 4;
    }
    // Known to read only, changing nothing in the device: read coils,
    // discrete inputs, holding and input registers (1-4), read exception
    // status (7), the comm event counter and log (11, 12), report server id
    // (17), read file record (20), read FIFO queue (24) and read device
    // identification (43 with MEI type 14). Anything else may write: 5, 6,
    // 15, 16, 22, 23, diagnostics (8: some of its sub-functions restart the
    // device's line or clear its counters), the other MEI types of 43 and
    // every code of a vendor's.
    bool isKnownRead() const;
    // A write whose answer the gateway can give itself, since a broadcast
    // gets none: force a coil, write a register, coils, registers, mask.
    bool isBroadcastWrite() const;
    // The answer a device gives to such a write: the request's echo, or for
    // writes of many its first four data bytes.
    QByteArray writeAnswer() const;
};

// The answer a request came to: a PDU, the device's or the gateway's
// exception included.
using GatewayAnswer = std::function<void(const QByteArray &pdu)>;

// A PDU of exception `code` for `function`.
inline QByteArray exceptionPdu(quint8 function, quint8 code)
{
    QByteArray pdu;
    pdu.append(char(function | 0x80));
    pdu.append(char(code));
    return pdu;
}

#endif // GATEWAYREQUEST_H

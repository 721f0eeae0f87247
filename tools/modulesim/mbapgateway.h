#ifndef MBAPGATEWAY_H
#define MBAPGATEWAY_H

#include <QByteArray>
#include <QList>

// The module in a Modbus TCP mode: Modbus TCP frames from its client (the
// MBAP header: transaction, protocol 0, length, unit; then the PDU) go out
// on the bus as RTU frames with their CRC, and a reply from the bus goes
// back under the request's header. A reply whose CRC is wrong, or that
// comes with no request waiting, is dropped; a request the bus does not
// answer gets nothing (the client's time-out says so). A header that is
// none puts the stream out of step: what is pending is dropped.
class MbapGateway
{
public:
    // The RTU frames of the whole requests in `bytes` (and those before).
    QByteArray fromClient(const QByteArray &bytes);
    // The reply for the client, from what the bus said; empty for none.
    QByteArray toClient(const QByteArray &bus);

private:
    QByteArray pending;
    QList<QByteArray> waiting; // the headers of requests sent, oldest first
};

#endif // MBAPGATEWAY_H

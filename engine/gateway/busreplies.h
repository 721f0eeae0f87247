#ifndef BUSREPLIES_H
#define BUSREPLIES_H

#include "engine/bus/replymatch.h"
#include "engine/gateway/gatewaysite.h"

#include <QByteArray>

#include <deque>

// One bus's requests put in frames and the module's bytes matched to the
// request on the bus: in Modbus RTU by the bus engine's rule (ReplyMatch),
// in Modbus TCP by the transaction ids of our own. A reply after its time
// is late, never taken for the next request's; what answers nothing asked
// is stray.
class BusReplies
{
public:
    struct Event {
        enum class Kind { Reply, CrcError, WrongReply, Late, Stray };
        Kind kind = Kind::Stray;
        QByteArray frame; // as it came (the trace shows it)
        QByteArray pdu;   // Reply: the answer
        quint8 unit = 0;
        quint8 function = 0;
        bool isFrame = false;  // Stray: `count` whole frames, else `size` bytes of noise
        bool showFrame = true; // Stray: the trace shows `frame`, else it says what came
        bool releases = false; // Stray: a late answer of `unit`, it may be asked again
        bool traced = true;    // Stray: false for what was left before a request
        int count = 0;
        int size = 0;
        // Stray: what the trace says of it when it does not show the frame.
        QString text() const;
    };

    explicit BusReplies(BusFraming framing) : framing(framing) {}

    // The request's frame, with its transaction id or its CRC.
    QByteArray frame(quint8 unit, const QByteArray &pdu);
    // The frame went at `atNs`: what comes now may answer it.
    void begin(const QByteArray &frame, quint8 unit, quint8 function, qint64 atNs);
    // The module's bytes; `asking`: an answer is awaited.
    void feed(const QByteArray &bytes, qint64 atNs, bool asking);
    // The answer's time is up: what comes for it from now is late.
    void expire(qint64 nowNs);
    bool next(Event *event);

private:
    void feedTcp(qint64 atNs, bool asking);
    void drainRtu();

    BusFraming framing;
    std::deque<Event> events;
    // Modbus TCP: the transaction ids of our own.
    quint16 transaction = 0;
    quint16 lateTransaction = 0; // timed out: its answer is late until the next request
    quint8 askedUnit = 0;
    quint8 askedFunction = 0;
    QByteArray tcpPending;
    // Modbus RTU: the bus engine's matcher.
    ReplyMatch rtu;
};

#endif // BUSREPLIES_H

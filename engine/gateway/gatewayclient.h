#ifndef GATEWAYCLIENT_H
#define GATEWAYCLIENT_H

#include "engine/gateway/gatewaycounters.h"
#include "engine/gateway/mbapreader.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <deque>

class QTcpSocket;

// One Modbus TCP client of the gateway, on its own connection.
//
// - Its requests are taken as they come, many before the first is answered
//   (pipelined), each given the next sequence number; each is answered
//   under its own transaction id and unit id, in the order it was sent.
// - It may have maxOutstanding requests unanswered; beyond, its connection
//   is not read until answers have gone (its requests wait in TCP), and so
//   while more than maxUnsentBytes of answers wait for it to read them.
// - A header that is none (a protocol other than 0, a length no PDU has)
//   drops it: its stream cannot be followed.
// - A request begun and not finished within the client time-out (a half
//   header that stalls) drops it; it blocks nobody meanwhile. A client with
//   nothing begun may stay quiet as long as it likes.
class GatewayClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxOutstanding = 256;
    static constexpr qint64 maxUnsentBytes = qint64(64) * 1024;

    // Takes `socket` over (made its child).
    GatewayClient(QTcpSocket *socket, quint64 id, const QString &listener, int clientTimeoutMs,
                  QObject *parent = nullptr);
    ~GatewayClient() override;
    GatewayClient(const GatewayClient &) = delete;
    GatewayClient &operator=(const GatewayClient &) = delete;

    quint64 id() const { return clientId; }
    // The listener it came in on ("*:502"): its routes are its own.
    QString listener() const { return listenerKey; }
    QHostAddress peerAddress() const { return peerHost; }
    QString peer() const { return peerText; } // "127.0.0.1:40112"
    // "127.0.0.1:40112" (an IPv4 address mapped into IPv6 too), "[::1]:40112".
    static QString textOf(const QHostAddress &address, quint16 port);
    // Whether it may only read (--allow CIDR:ro); the policy decides what
    // it is refused.
    bool readOnly() const { return onlyReads; }
    void setReadOnly(bool only) { onlyReads = only; }
    qint64 connectedMs() const { return since.elapsed(); }
    const ClientCounters &counters() const { return count; }
    QJsonObject json() const;

    // Starts reading; requests come by requestTaken().
    void start();
    // The answer (a PDU, an exception included) to the request numbered
    // `sequence`; it goes out once those before it have.
    void answer(quint64 sequence, const QByteArray &pdu);
    // Closes the connection; gone() follows.
    void drop(const QString &why);
    // Whether the client closed it (or its connection broke), not the gateway.
    bool closedByPeer() const { return peerClosed; }

signals:
    void requestTaken(GatewayClient *client, quint64 sequence, quint8 unit, const QByteArray &pdu);
    // The connection is gone (closed by the client, or dropped, `why`).
    void gone(GatewayClient *client, const QString &why);

private:
    struct Slot {
        quint64 sequence = 0;
        quint16 transaction = 0;
        quint8 unit = 0;
        qint64 takenNs = 0;
        bool answered = false;
        QByteArray pdu;
    };
    void onReadable();
    void flushAnswers();
    void onTimeout();
    bool canTake() const;

    QTcpSocket *socket;
    quint64 clientId;
    QString listenerKey;
    int timeoutMs;
    QHostAddress peerHost;
    QString peerText;
    QElapsedTimer since;
    MbapReader reader;
    std::deque<Slot> pendingAnswers;
    quint64 nextSequence = 1;
    QTimer stallTimer;
    ClientCounters count;
    bool closing = false;
    bool peerClosed = false;
    bool onlyReads = false;
};

#endif // GATEWAYCLIENT_H

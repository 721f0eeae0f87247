#ifndef BUSCLIENT_H
#define BUSCLIENT_H

#include "engine/bus/replyreader.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QModbusRequest>
#include <QObject>
#include <QTimer>

#include <functional>

class QTcpSocket;

// A Modbus master on the bus behind a module, through the module's TCP
// port: one request at a time (the bus has one master), each answered,
// answered with a CRC error, or not within its time.
//
// Over a transparent module (BusFraming::Rtu) the requests go out as RTU
// frames with their CRC, and the replies are taken apart by ReplyReader:
// in segments, after noise, by their function code's length. Over Modbus
// TCP (BusFraming::Tcp) each request carries a transaction id of its own.
//
// A whole frame that is not the reply awaited (a late reply to an earlier
// request, another master's traffic) is said by frameAside(); bytes that
// are no frame are counted as noise.
class BusClient : public QObject
{
    Q_OBJECT

public:
    struct Answer {
        enum class Kind {
            Reply,    // a well-formed reply: `pdu` (an exception included)
            CrcError, // the reply awaited came with a wrong CRC
            Silent,   // nothing of it within the time
            Lost,     // the connection went first
        };
        Kind kind = Kind::Silent;
        QModbusResponse pdu;
        int ms = -1;        // from the request's write to the reply
        int noiseBytes = 0; // bytes that were no frame, meanwhile
    };
    using Done = std::function<void(const Answer &answer)>;

    explicit BusClient(BusFraming framing = BusFraming::Rtu, QObject *parent = nullptr);
    ~BusClient() override;

    // Connects, trying again every retryPauseMs until `retryForMs` have
    // passed since the first try (a module whose network comes up after a
    // restart); each try bounded by `connectTimeoutMs`. opened() or
    // notOpened() follows.
    void open(const QHostAddress &host, quint16 port, int connectTimeoutMs, int retryForMs = 0);
    bool isOpen() const;
    void close();
    // "10.20.0.31:502"
    QString target() const;

    // Sends the request to `unit` and calls `done` once: with its reply,
    // or when `timeoutMs` have passed. One at a time.
    void ask(quint8 unit, const QModbusRequest &request, int timeoutMs, Done done);
    bool isAsking() const { return bool(pendingDone); }
    // Drops the request in hand: `done` is not called.
    void cancel();

    static constexpr int retryPauseMs = 250;

signals:
    void opened();
    // `why`: "refused", "no answer", "unreachable: ..." and the like.
    void notOpened(const QString &why);
    // The module closed the connection, or it broke.
    void lost(const QString &why);
    // A whole frame that is not the reply awaited.
    void frameAside(quint8 unit, quint8 function);
    // Bytes that are no frame (or a frame with a wrong CRC not awaited).
    void noise(int bytes);

private:
    void tryConnect();
    void onConnected();
    void onSocketError();
    void onDisconnected();
    void onReadyRead();
    void onAnswerTimeout();
    void settle();
    void answer(Answer::Kind kind, const QModbusResponse &pdu = QModbusResponse());
    void dropSocket();

    BusFraming framing;
    ReplyReader reader;
    QTcpSocket *socket = nullptr;
    QHostAddress host;
    quint16 port = 0;
    int connectTimeoutMs = 3000;
    int retryForMs = 0;
    QElapsedTimer sinceFirstTry;
    QTimer connectTimer; // a try's time-out, or the pause before the next
    bool connecting = false;
    bool active = false; // between open() and close()
    QString lastWhy;

    Done pendingDone;
    quint8 unit = 0;
    quint8 function = 0;
    quint16 transaction = 0;
    QElapsedTimer sinceRequest;
    QTimer answerTimer;
    int noiseMeanwhile = 0;
};

#endif // BUSCLIENT_H

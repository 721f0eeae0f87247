#ifndef BUSCLIENT_H
#define BUSCLIENT_H

#include "engine/bus/replymatch.h"
#include "engine/bus/replyreader.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QModbusRequest>
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>

class QTcpSocket;

// A Modbus master on the bus behind a module, through the module's TCP
// port: one request at a time (the bus has one master), each answered,
// answered with a CRC error or a wrong reply, or not within its time.
//
// Over a transparent module (BusFraming::Rtu) the requests go out as RTU
// frames with their CRC, and what comes back is matched to its request by
// ReplyMatch: one reply for one request, whatever was waiting before it
// stray, a reply after its time-out late only until the next request. A
// request goes out only once the line's 3.5-character gap has passed since
// the last reply ended or the last time-out. Over Modbus TCP
// (BusFraming::Tcp) each request carries a transaction id of its own.
//
// Its states, one at a time, changed only by enter():
//
//     Closed -> Connecting -> Ready -> Gap -> Awaiting -> Ready ...
//                  |  ^                           (reply, time-out)
//                  v  |
//                Pausing (between tries)
//
// A connection lost or closed goes back to Closed (or, with open() again,
// Connecting).
class BusClient : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Closed,     // not connected, not trying
        Connecting, // a try of the module's TCP port in hand
        Pausing,    // between two tries
        Ready,      // connected, no request in hand
        Gap,        // a request waits for the line's gap to pass
        Awaiting,   // a request on the line, its reply awaited
    };

    struct Answer {
        enum class Kind {
            Reply,      // the reply: `pdu` (an exception included)
            CrcError,   // the reply came with a wrong CRC
            WrongReply, // a well-formed frame from the unit that is no reply
            Silent,     // nothing of it within the time
            Lost,       // the connection went first
        };
        Kind kind = Kind::Silent;
        QModbusResponse pdu;
        int ms = -1;        // from the request's write to the reply's last byte
        int noiseBytes = 0; // bytes that were no frame, meanwhile
    };
    using Done = std::function<void(const Answer &answer)>;

    // What came that answered no request in hand: frames by unit, and bytes
    // that were no frame; over every connection of this client.
    struct Stray {
        std::array<int, 256> framesByUnit{};
        int frames = 0;
        qint64 noiseBytes = 0;
    };

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
    State state() const { return current; }

    // The bus's speed, for the 3.5-character gap (11 bits a character;
    // 1.75 ms above 19200). 0, unknown: the gap of 9600.
    void setLineSpeed(int baud);
    // The gap, in microseconds.
    int gapMicroseconds() const { return gapUs; }

    // Sends the request to `unit` (once the line's gap has passed) and calls
    // `done` once: with its reply, or when `timeoutMs` have passed since the
    // request's end on the line (its bytes at the line's speed). One at a
    // time.
    void ask(quint8 unit, const QModbusRequest &request, int timeoutMs, Done done);
    bool isAsking() const { return current == State::Gap || current == State::Awaiting; }
    // Drops the request in hand: `done` is not called.
    void cancel();

    const Stray &stray() const { return strays; }

    static constexpr int retryPauseMs = 250;
    static constexpr int readSlice = 64 * 1024; // bytes taken at once

signals:
    void opened();
    // `why`: "refused", "no answer" or "unreachable", the reach check's
    // words.
    void notOpened(const QString &why);
    // The module closed the connection, or it broke.
    void lost(const QString &why);
    // The reply to the last request, after its time-out and before the next
    // request (an exception keeps its code).
    void late(quint8 unit, const QModbusResponse &pdu, int ms);

private:
    void enter(State next);
    void tryConnect();
    void onConnected();
    void onSocketError();
    void onDisconnected();
    void onReadyRead();
    void onAnswerTimeout();
    void send();
    void takeEvents();
    void settleTcp();
    void answer(Answer::Kind kind, const QModbusResponse &pdu = QModbusResponse(), int ms = -1);
    void dropSocket();
    qint64 nowMs() const { return clock.elapsed(); }

    State current = State::Closed;
    BusFraming framing;
    ReplyMatch match;   // RTU
    ReplyReader reader; // Modbus TCP
    QTcpSocket *socket = nullptr;
    QHostAddress host;
    quint16 port = 0;
    int connectTimeoutMs = 3000;
    int retryForMs = 0;
    QElapsedTimer sinceFirstTry;
    QTimer connectTimer; // a try's time-out, or the pause before the next
    QString lastWhy;
    bool inConnectCall = false;
    Stray strays;

    QElapsedTimer clock;     // one monotonic clock for the matcher
    qint64 lineFreeAtUs = 0; // the end of the last reply or time-out + gap
    int lineBaud = 9600;
    int gapUs = 4010; // 3.5 characters of 11 bits at 9600
    QTimer gapTimer;
    Done pendingDone;
    quint8 unit = 0;
    quint8 function = 0;
    quint16 transaction = 0;
    QByteArray frame; // the request in hand, as written
    int timeoutMs = 1000;
    qint64 sentAtMs = 0;
    QTimer answerTimer;
    int noiseMeanwhile = 0;
};

#endif // BUSCLIENT_H

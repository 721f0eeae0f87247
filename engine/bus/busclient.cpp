#include "engine/bus/busclient.h"

#include "engine/bus/mbapframe.h"
#include "engine/bus/rtuframe.h"

#include <QTcpSocket>

#include <utility>

BusClient::BusClient(BusFraming framing, QObject *parent)
    : QObject(parent), framing(framing), reader(framing)
{
    connectTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, [this] {
        if (connecting) {
            lastWhy = QStringLiteral("no answer");
            dropSocket();
            connecting = false;
        }
        tryConnect();
    });
    answerTimer.setSingleShot(true);
    answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&answerTimer, &QTimer::timeout, this, &BusClient::onAnswerTimeout);
}

BusClient::~BusClient()
{
    pendingDone = nullptr;
    dropSocket();
}

void BusClient::open(const QHostAddress &address, quint16 tcpPort, int timeoutMs, int retryMs)
{
    close();
    host = address;
    port = tcpPort;
    connectTimeoutMs = timeoutMs;
    retryForMs = retryMs;
    lastWhy.clear();
    sinceFirstTry.start();
    active = true;
    tryConnect();
}

bool BusClient::isOpen() const
{
    return socket && !connecting && socket->state() == QAbstractSocket::ConnectedState;
}

void BusClient::close()
{
    active = false;
    cancel();
    connectTimer.stop();
    connecting = false;
    dropSocket();
    reader = ReplyReader(framing);
}

QString BusClient::target() const
{
    return QStringLiteral("%1:%2").arg(host.toString()).arg(port);
}

// A try, or the end of trying: the time for tries is up after a failure.
void BusClient::tryConnect()
{
    if (!lastWhy.isEmpty() && sinceFirstTry.elapsed() >= retryForMs) {
        emit notOpened(lastWhy);
        return;
    }
    dropSocket();
    socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, &BusClient::onConnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, &BusClient::onSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &BusClient::onDisconnected);
    connect(socket, &QTcpSocket::readyRead, this, &BusClient::onReadyRead);
    connecting = true;
    connectTimer.start(connectTimeoutMs);
    socket->connectToHost(host, port);
}

void BusClient::onConnected()
{
    connectTimer.stop();
    connecting = false;
    // A request goes out whole at once: the module puts it on the bus as it
    // comes, and a frame that stops half-way is lost.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit opened();
}

void BusClient::onSocketError()
{
    if (!socket)
        return;
    if (!connecting) {
        onDisconnected();
        return;
    }
    switch (socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        lastWhy = QStringLiteral("refused");
        break;
    case QAbstractSocket::SocketTimeoutError:
        lastWhy = QStringLiteral("no answer");
        break;
    default:
        lastWhy = QStringLiteral("unreachable (%1)").arg(socket->errorString());
        break;
    }
    connecting = false;
    connectTimer.stop();
    // The next try after a pause; or the end, when the time for tries is up.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!active)
                return; // closed meanwhile
            if (sinceFirstTry.elapsed() + retryPauseMs < retryForMs)
                connectTimer.start(retryPauseMs);
            else
                tryConnect();
        },
        Qt::QueuedConnection);
}

void BusClient::onDisconnected()
{
    if (!socket || connecting)
        return;
    const QString why = socket->error() == QAbstractSocket::RemoteHostClosedError ||
                                socket->error() == QAbstractSocket::UnknownSocketError
                            ? QStringLiteral("the module closed the connection")
                            : socket->errorString();
    dropSocket();
    if (pendingDone) {
        answerTimer.stop();
        answer(Answer::Kind::Lost);
    }
    emit lost(why);
}

void BusClient::dropSocket()
{
    if (!socket)
        return;
    QTcpSocket *gone = std::exchange(socket, nullptr);
    gone->disconnect(this);
    gone->abort();
    gone->deleteLater();
}

void BusClient::ask(quint8 toUnit, const QModbusRequest &request, int timeoutMs, Done done)
{
    unit = toUnit;
    function = quint8(request.functionCode());
    pendingDone = std::move(done);
    noiseMeanwhile = 0;
    QByteArray frame;
    if (framing == BusFraming::Rtu) {
        frame = rtuframe::encode(unit, request);
    } else {
        ++transaction;
        frame = mbapframe::encode(transaction, unit, request);
    }
    reader.expect(unit, function);
    sinceRequest.start();
    answerTimer.start(timeoutMs);
    if (!isOpen()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                answer(Answer::Kind::Lost);
                emit lost(QStringLiteral("not connected"));
            },
            Qt::QueuedConnection);
        return;
    }
    socket->write(frame);
}

void BusClient::cancel()
{
    pendingDone = nullptr;
    answerTimer.stop();
    reader.expect(0, 0);
}

void BusClient::onReadyRead()
{
    if (!socket)
        return;
    reader.feed(socket->readAll());
    settle();
}

void BusClient::onAnswerTimeout()
{
    reader.flush();
    settle();
    if (pendingDone)
        answer(Answer::Kind::Silent);
}

// Takes what the reader has settled: the reply awaited ends the request;
// the rest is aside or noise.
void BusClient::settle()
{
    ReplyReader::Item item;
    while (reader.next(&item)) {
        const quint8 code = quint8(item.pdu.functionCode()) & 0x7f;
        const bool awaited = pendingDone && item.unit == unit && code == function &&
                             (framing == BusFraming::Rtu || item.transaction == transaction);
        switch (item.kind) {
        case ReplyReader::Item::Kind::Frame:
            if (awaited) {
                answer(Answer::Kind::Reply, item.pdu);
                continue;
            }
            emit frameAside(item.unit, quint8(item.pdu.functionCode()));
            break;
        case ReplyReader::Item::Kind::BadCrc:
            if (awaited) {
                answer(Answer::Kind::CrcError);
                continue;
            }
            noiseMeanwhile += item.bytes.size();
            emit noise(item.bytes.size());
            break;
        case ReplyReader::Item::Kind::Noise:
            noiseMeanwhile += item.bytes.size();
            emit noise(item.bytes.size());
            break;
        }
    }
}

void BusClient::answer(Answer::Kind kind, const QModbusResponse &pdu)
{
    if (!pendingDone)
        return;
    answerTimer.stop();
    reader.expect(0, 0);
    Answer a;
    a.kind = kind;
    a.pdu = pdu;
    a.ms = int(sinceRequest.elapsed());
    a.noiseBytes = noiseMeanwhile;
    // `done` may ask the next question: it runs last.
    const Done done = std::exchange(pendingDone, nullptr);
    done(a);
}

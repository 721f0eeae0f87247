#include "engine/bus/busclient.h"

#include "engine/bus/mbapframe.h"
#include "engine/bus/rtuframe.h"

#include <QTcpSocket>

#include <cmath>
#include <utility>

BusClient::BusClient(BusFraming framing, QObject *parent)
    : QObject(parent), framing(framing), reader(framing)
{
    clock.start();
    connectTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, [this] {
        if (current == State::Connecting) {
            lastWhy = QStringLiteral("no answer");
            dropSocket();
        }
        tryConnect();
    });
    gapTimer.setSingleShot(true);
    gapTimer.setTimerType(Qt::PreciseTimer);
    connect(&gapTimer, &QTimer::timeout, this, &BusClient::send);
    answerTimer.setSingleShot(true);
    answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&answerTimer, &QTimer::timeout, this, &BusClient::onAnswerTimeout);
}

BusClient::~BusClient()
{
    pendingDone = nullptr;
    dropSocket();
}

// The one place the state changes: the timer of the state left stops.
void BusClient::enter(State next)
{
    switch (current) {
    case State::Connecting:
    case State::Pausing:
        connectTimer.stop();
        break;
    case State::Gap:
        gapTimer.stop();
        break;
    case State::Awaiting:
        answerTimer.stop();
        break;
    case State::Closed:
    case State::Ready:
        break;
    }
    current = next;
}

void BusClient::setLineSpeed(int baud)
{
    lineBaud = baud > 0 ? baud : 9600;
    // 3.5 characters of 11 bits; above 19200 the fixed 1750 us.
    gapUs = lineBaud > 19200 ? 1750 : int(std::lround(3.5 * 11 * 1000000.0 / lineBaud));
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
    tryConnect();
}

bool BusClient::isOpen() const
{
    return socket &&
           (current == State::Ready || current == State::Gap || current == State::Awaiting) &&
           socket->state() == QAbstractSocket::ConnectedState;
}

void BusClient::close()
{
    cancel();
    enter(State::Closed);
    dropSocket();
    match.reset();
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
        enter(State::Closed);
        emit notOpened(lastWhy);
        return;
    }
    dropSocket();
    socket = new QTcpSocket(this);
    // A flood is read a slice at a time: the time-outs and Ctrl-C are
    // served between the slices, never after the whole of it.
    socket->setReadBufferSize(readSlice);
    connect(socket, &QTcpSocket::connected, this, &BusClient::onConnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, &BusClient::onSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &BusClient::onDisconnected);
    connect(socket, &QTcpSocket::readyRead, this, &BusClient::onReadyRead);
    enter(State::Connecting);
    connectTimer.start(connectTimeoutMs);
    inConnectCall = true;
    socket->connectToHost(host, port);
    inConnectCall = false;
}

void BusClient::onConnected()
{
    enter(State::Ready);
    // A request goes out whole at once: the module puts it on the bus as it
    // comes, and a frame that stops half-way is lost.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    match.reset();
    emit opened();
}

void BusClient::onSocketError()
{
    if (!socket)
        return;
    if (current != State::Connecting) {
        onDisconnected();
        return;
    }
    // The reach check's words for the same failures: one that fails inside
    // the connect call is this computer's (no route, a blackhole route,
    // which the system reports as a refusal); a host's refusal and the
    // network's word come back later.
    if (inConnectCall)
        lastWhy = QStringLiteral("unreachable");
    else if (socket->error() == QAbstractSocket::ConnectionRefusedError)
        lastWhy = QStringLiteral("refused");
    else
        lastWhy = QStringLiteral("no answer");
    // The next try after a pause; or, when the time for tries is up, the
    // end (tryConnect() says it).
    enter(State::Pausing);
    connectTimer.start(sinceFirstTry.elapsed() + retryPauseMs < retryForMs ? retryPauseMs : 0);
}

void BusClient::onDisconnected()
{
    if (!socket || current == State::Connecting || current == State::Pausing)
        return;
    const QString why = socket->error() == QAbstractSocket::RemoteHostClosedError ||
                                socket->error() == QAbstractSocket::UnknownSocketError
                            ? QStringLiteral("the module closed the connection")
                            : socket->errorString();
    dropSocket();
    answer(Answer::Kind::Lost);
    enter(State::Closed);
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

void BusClient::ask(quint8 toUnit, const QModbusRequest &request, int answerTimeoutMs, Done done)
{
    unit = toUnit;
    function = quint8(request.functionCode());
    pendingDone = std::move(done);
    timeoutMs = answerTimeoutMs;
    noiseMeanwhile = 0;
    if (framing == BusFraming::Rtu) {
        frame = rtuframe::encode(unit, request);
    } else {
        ++transaction;
        frame = mbapframe::encode(transaction, unit, request);
    }
    if (!isOpen()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!pendingDone)
                    return;
                answer(Answer::Kind::Lost);
                emit lost(QStringLiteral("not connected"));
            },
            Qt::QueuedConnection);
        return;
    }
    const qint64 waitUs = lineFreeAtUs - clock.nsecsElapsed() / 1000;
    if (waitUs <= 0) {
        send();
        return;
    }
    enter(State::Gap);
    gapTimer.start(int((waitUs + 999) / 1000));
}

// The request goes on the line: what came before it is settled first (a
// late reply to the last request, or stray), then the reply is awaited.
void BusClient::send()
{
    if (!socket || !pendingDone)
        return;
    const QByteArray before = socket->readAll();
    if (framing == BusFraming::Rtu) {
        match.feed(before, nowMs());
        match.begin(frame, nowMs());
    } else {
        reader.feed(before);
        reader.flush();
        settleTcp();
        reader.expect(unit, function);
    }
    sentAtMs = nowMs();
    socket->write(frame);
    enter(State::Awaiting);
    // The time-out runs from the request's end on the line, as a device
    // (and a master on the line) counts it.
    const int onLineMs = int((qint64(frame.size()) * 11 * 1000 + lineBaud - 1) / lineBaud);
    answerTimer.start(timeoutMs + onLineMs);
    takeEvents();
}

void BusClient::cancel()
{
    pendingDone = nullptr;
    if (current == State::Gap || current == State::Awaiting)
        enter(State::Ready);
    reader.expect(0, 0);
    // The matcher gives the dropped request up now, not at the next one's
    // start, where its "no reply" would answer the wrong request.
    if (match.state() == ReplyMatch::State::Awaiting) {
        match.timeUp(nowMs());
        takeEvents();
    }
}

void BusClient::onReadyRead()
{
    if (!socket)
        return;
    if (framing == BusFraming::Rtu) {
        match.feed(socket->readAll(), nowMs());
        takeEvents();
    } else {
        reader.feed(socket->readAll());
        settleTcp();
    }
}

void BusClient::onAnswerTimeout()
{
    if (framing == BusFraming::Rtu) {
        match.timeUp(nowMs());
        takeEvents();
        return;
    }
    reader.flush();
    settleTcp();
    answer(Answer::Kind::Silent);
}

// The matcher's events: the one that ends the request answers it; a late
// reply is said; the rest is counted as stray.
void BusClient::takeEvents()
{
    using K = ReplyMatch::Event::Kind;
    ReplyMatch::Event e;
    while (match.next(&e)) {
        switch (e.kind) {
        case K::Reply:
            answer(Answer::Kind::Reply, e.pdu, int(e.ms));
            break;
        case K::CrcError:
            answer(Answer::Kind::CrcError, QModbusResponse(), int(e.ms));
            break;
        case K::WrongReply:
            answer(Answer::Kind::WrongReply, e.pdu, int(e.ms));
            break;
        case K::NoReply:
            answer(Answer::Kind::Silent, QModbusResponse(), int(e.ms));
            break;
        case K::Late:
            emit late(e.unit, e.pdu, int(e.ms));
            break;
        case K::Stray:
            if (e.isFrame) {
                strays.framesByUnit[e.unit] += e.count;
                strays.frames += e.count;
            } else {
                strays.noiseBytes += e.size;
                noiseMeanwhile += e.size;
            }
            break;
        }
    }
}

// Modbus TCP: the reply is the frame with the request's transaction id.
void BusClient::settleTcp()
{
    ReplyReader::Item item;
    while (reader.next(&item)) {
        const quint8 code = quint8(item.pdu.functionCode()) & 0x7f;
        const bool awaited = current == State::Awaiting && item.unit == unit && code == function &&
                             item.transaction == transaction;
        if (item.kind == ReplyReader::Item::Kind::Frame && awaited) {
            answer(Answer::Kind::Reply, item.pdu);
        } else if (item.kind == ReplyReader::Item::Kind::Frame) {
            ++strays.framesByUnit[item.unit];
            ++strays.frames;
        } else {
            strays.noiseBytes += item.bytes.size();
            noiseMeanwhile += item.bytes.size();
        }
    }
}

void BusClient::answer(Answer::Kind kind, const QModbusResponse &pdu, int ms)
{
    if (!pendingDone)
        return;
    if (current == State::Gap || current == State::Awaiting)
        enter(State::Ready);
    reader.expect(0, 0);
    // The line is free once the gap after this reply (or time-out) passed.
    lineFreeAtUs = clock.nsecsElapsed() / 1000 + gapUs;
    Answer a;
    a.kind = kind;
    a.pdu = pdu;
    a.ms = ms >= 0 ? ms : int(nowMs() - sentAtMs);
    a.noiseBytes = noiseMeanwhile;
    // `done` may ask the next question: it runs last.
    const Done done = std::exchange(pendingDone, nullptr);
    done(a);
}

#include "engine/gateway/gatewayclient.h"

#include "engine/bus/mbapframe.h"

#include <QJsonValue>
#include <QTcpSocket>
#ifndef QT_NO_SSL
#include <QSslSocket>
#endif

namespace
{

constexpr qint64 clientReadChunk = 4096;

qint64 monotonicNs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.nsecsElapsed();
}

} // namespace

GatewayClient::GatewayClient(QTcpSocket *connection, quint64 id, const QString &listener,
                             int clientTimeoutMs, QObject *parent)
    : QObject(parent), socket(connection), clientId(id), listenerKey(listener),
      timeoutMs(clientTimeoutMs)
{
    socket->setParent(this);
    peerHost = socket->peerAddress();
    peerText = textOf(peerHost, socket->peerPort());
    since.start();
    stallTimer.setSingleShot(true);
    connect(&stallTimer, &QTimer::timeout, this, &GatewayClient::onTimeout);
}

GatewayClient::~GatewayClient() = default;

QString GatewayClient::textOf(const QHostAddress &address, quint16 port)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (address.protocol() == QAbstractSocket::IPv6Protocol && !mapped)
        return QLatin1Char('[') + address.toString() + QStringLiteral("]:") + QString::number(port);
    return (mapped ? QHostAddress(v4) : address).toString() + QLatin1Char(':') +
           QString::number(port);
}

void GatewayClient::start()
{
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A client gone without a word (its machine off) is noticed in time.
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &GatewayClient::onReadable);
    connect(socket, &QTcpSocket::bytesWritten, this, &GatewayClient::onReadable);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        peerClosed = true;
        drop(QStringLiteral("closed by the client"));
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        peerClosed = true;
        drop(error == QAbstractSocket::RemoteHostClosedError
                 ? QStringLiteral("closed by the client")
                 : socket->errorString());
    });
    onReadable();
}

bool GatewayClient::canTake() const
{
    return !closing && int(pendingAnswers.size()) < maxOutstanding &&
           socket->bytesToWrite() <= maxUnsentBytes;
}

void GatewayClient::onReadable()
{
    while (canTake()) {
        MbapReader::Request request;
        if (!reader.next(&request)) {
            if (reader.outOfStep()) {
                drop(QStringLiteral("sent a header that is no Modbus TCP header (protocol not 0, "
                                    "or a length no request has)"));
                return;
            }
            const QByteArray bytes = socket->read(clientReadChunk);
            if (bytes.isEmpty())
                break;
            reader.feed(bytes);
            continue;
        }
        Slot slot;
        slot.sequence = nextSequence++;
        slot.transaction = request.transaction;
        slot.unit = request.unit;
        slot.takenNs = monotonicNs();
        pendingAnswers.push_back(slot);
        ++count.requests;
        count.queue.grow();
        emit requestTaken(this, slot.sequence, request.unit, request.pdu);
        if (closing)
            return;
    }
    // A request begun is timed while the client could send its rest.
    if (reader.midFrame() && canTake()) {
        if (!stallTimer.isActive() && timeoutMs > 0)
            stallTimer.start(timeoutMs);
    } else {
        stallTimer.stop();
    }
}

void GatewayClient::onTimeout()
{
    if (reader.midFrame())
        drop(QStringLiteral("began a request and did not finish it within %1 s (--client-timeout)")
                 .arg(timeoutMs / 1000.0));
}

void GatewayClient::answer(quint64 sequence, const QByteArray &pdu)
{
    for (Slot &slot : pendingAnswers) {
        if (slot.sequence == sequence && !slot.answered) {
            slot.answered = true;
            slot.pdu = pdu;
            break;
        }
    }
    flushAnswers();
}

void GatewayClient::flushAnswers()
{
    bool wrote = false;
    while (!pendingAnswers.empty() && pendingAnswers.front().answered) {
        const Slot slot = std::move(pendingAnswers.front());
        pendingAnswers.pop_front();
        count.queue.shrink();
        const bool exception = !slot.pdu.isEmpty() && (quint8(slot.pdu.at(0)) & 0x80);
        if (exception && slot.pdu.size() >= 2)
            count.exceptions.add(quint8(slot.pdu.at(1)));
        else
            ++count.replies;
        count.latency.add((monotonicNs() - slot.takenNs) / 1000);
        if (closing)
            continue;
        socket->write(mbapframe::encode(slot.transaction, slot.unit, slot.pdu));
        wrote = true;
    }
    if (wrote)
        socket->flush();
    // Room again for requests held back.
    if (!closing && socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &GatewayClient::onReadable, Qt::QueuedConnection);
}

void GatewayClient::drop(const QString &why)
{
    if (closing)
        return;
    closing = true;
    stallTimer.stop();
    socket->disconnect(this);
    socket->abort();
    emit gone(this, why);
}

QJsonObject GatewayClient::json() const
{
    QJsonObject object = count.json();
    object.insert(QStringLiteral("id"), double(clientId));
    object.insert(QStringLiteral("peer"), peerText);
    object.insert(QStringLiteral("listener"), listenerKey);
    object.insert(QStringLiteral("connected_s"), double(since.elapsed()) / 1000.0);
    object.insert(QStringLiteral("access"),
                  onlyReads ? QStringLiteral("read-only") : QStringLiteral("read-write"));
#ifndef QT_NO_SSL
    // Over TLS: who its certificate says it is.
    if (const auto *tls = qobject_cast<const QSslSocket *>(socket)) {
        if (tls->isEncrypted())
            object.insert(QStringLiteral("certificate"),
                          tls->peerCertificate().subjectDisplayName());
    }
#endif
    return object;
}

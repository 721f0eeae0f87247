#include "engine/gateway/gatewayserver.h"

#include "engine/gateway/clientpolicy.h"
#include "engine/gateway/gatewayclient.h"
#include "engine/gateway/portholder.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#ifndef QT_NO_SSL
#include <QSslSocket>
#endif

#include <memory>

namespace
{

// A listener that could not accept (no descriptor left) tries again after
// this, rather than spinning on a connection it cannot take.
constexpr int acceptPauseMs = 1000;

#ifndef QT_NO_SSL
// A listener whose connections are TLS sockets, their handshake not begun:
// the gateway admits the peer's address first.
class TlsListener : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (socket->setSocketDescriptor(descriptor))
            addPendingConnection(socket);
        else
            delete socket;
    }
};
#endif

} // namespace

GatewayServer::GatewayServer(const Settings &settings, QObject *parent)
    : QObject(parent), settings(settings), openPolicy(std::make_unique<ClientPolicy>())
{
    clientPolicy = openPolicy.get();
}

GatewayServer::~GatewayServer()
{
    close();
}

void GatewayServer::setPolicy(const ClientPolicy *policy)
{
    clientPolicy = policy ? policy : openPolicy.get();
}

const ClientPolicy &GatewayServer::policy() const
{
    return *clientPolicy;
}

bool GatewayServer::open(const GatewayListener &listener, QString *problem)
{
#ifndef QT_NO_SSL
    QTcpServer *server = usesTls() ? new TlsListener(this) : new QTcpServer(this);
#else
    auto *server = new QTcpServer(this);
#endif
    // Connections wait in the system's queue only as long as it takes to
    // accept them.
    server->setMaxPendingConnections(settings.maxClients + 1);
    if (!server->listen(listener.address, listener.port)) {
        const QAbstractSocket::SocketError error = server->serverError();
        QString why = server->errorString();
        if (error == QAbstractSocket::AddressInUseError) {
            const QString holder = portholder::whoListens(listener.port);
            why = holder.isEmpty() ? QStringLiteral("the port is in use")
                                   : QStringLiteral("the port is in use by ") + holder;
        } else if (error == QAbstractSocket::SocketAccessError && listener.port < 1024) {
            why = QStringLiteral("permission denied: a port below 1024 needs root or the "
                                 "capability CAP_NET_BIND_SERVICE");
        }
        *problem = QStringLiteral("cannot listen on %1: %2").arg(listener.text(), why);
        delete server;
        return false;
    }
    const QString key = listener.text();
    connect(server, &QTcpServer::newConnection, this,
            [this, server, key] { onNewConnection(server, key); });
    connect(server, &QTcpServer::acceptError, this, [server] {
        server->pauseAccepting();
        QTimer::singleShot(acceptPauseMs, server, [server] { server->resumeAccepting(); });
    });
    servers[key] = server;
    return true;
}

bool GatewayServer::listen(const QList<GatewayListener> &listeners, QString *problem)
{
    for (const GatewayListener &listener : listeners) {
        if (!open(listener, problem)) {
            close();
            return false;
        }
    }
    return true;
}

void GatewayServer::relisten(const QList<GatewayListener> &listeners, QStringList *problems)
{
    QStringList wanted;
    for (const GatewayListener &listener : listeners)
        wanted << listener.text();
    for (auto it = servers.begin(); it != servers.end();) {
        if (wanted.contains(it->first)) {
            ++it;
            continue;
        }
        it->second->close();
        it->second->deleteLater();
        it = servers.erase(it);
    }
    for (const GatewayListener &listener : listeners) {
        if (servers.count(listener.text()))
            continue;
        QString problem;
        if (!open(listener, &problem))
            *problems << problem;
    }
}

void GatewayServer::close()
{
    for (auto &entry : servers) {
        entry.second->close();
        delete entry.second;
    }
    servers.clear();
    const QList<GatewayClient *> all = clientsById.values();
    for (GatewayClient *client : all)
        client->drop(QStringLiteral("the gateway stops"));
}

QStringList GatewayServer::listening() const
{
    QStringList keys;
    for (const auto &entry : servers)
        keys << entry.first;
    return keys;
}

QList<GatewayClient *> GatewayServer::clients() const
{
    QList<GatewayClient *> list = clientsById.values();
    std::sort(list.begin(), list.end(),
              [](const GatewayClient *a, const GatewayClient *b) { return a->id() < b->id(); });
    return list;
}

GatewayClient *GatewayServer::client(quint64 id) const
{
    return clientsById.value(id);
}

void GatewayServer::onNewConnection(QTcpServer *server, const QString &key)
{
    while (server->hasPendingConnections()) {
        QTcpSocket *socket = server->nextPendingConnection();
        admit(socket, key);
    }
}

bool GatewayServer::usesTls() const
{
#ifndef QT_NO_SSL
    return !settings.tls.localCertificate().isNull();
#else
    return false;
#endif
}

// The one place a connection becomes a client: the count, the policy, then
// with TLS the handshake.
void GatewayServer::admit(QTcpSocket *socket, const QString &listener)
{
    const QString peer = GatewayClient::textOf(socket->peerAddress(), socket->peerPort());
    QString why;
    if (clientsById.size() + handshaking >= settings.maxClients) {
        ++count.refused;
        why = QStringLiteral("%1 clients already (--max-clients)").arg(settings.maxClients);
        refuse(socket, peer, why);
        return;
    }
    const ClientPolicy::Admission admission =
        clientPolicy->admit(socket->peerAddress(), listener, &why);
    if (admission == ClientPolicy::Admission::Refused) {
        ++count.notAdmitted;
        refuse(socket, peer, why);
        return;
    }
    const bool readOnly = admission == ClientPolicy::Admission::ReadOnly;
#ifndef QT_NO_SSL
    auto *tls = qobject_cast<QSslSocket *>(socket);
    if (!tls || !usesTls()) {
        take(socket, listener, readOnly);
        return;
    }
    // Its own until it is a client: a listener closed on a reload leaves it.
    tls->setParent(this);
    ++handshaking;
    auto *timer = new QTimer(tls);
    timer->setSingleShot(true);
    auto settled = std::make_shared<bool>(false);
    auto verifyErrors = std::make_shared<QStringList>();
    const auto fail = [this, tls, peer, settled, verifyErrors](const QString &reason) {
        if (*settled)
            return;
        *settled = true;
        --handshaking;
        ++count.tlsRefused;
        tls->disconnect(this);
        refuse(tls, peer,
               QStringLiteral("TLS: ") +
                   (verifyErrors->isEmpty() ? reason : verifyErrors->join(QStringLiteral("; "))));
    };
    connect(tls, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this,
            [verifyErrors](const QList<QSslError> &errors) {
                for (const QSslError &error : errors)
                    *verifyErrors << error.errorString();
            });
    connect(tls, &QAbstractSocket::errorOccurred, this, [tls, fail] { fail(tls->errorString()); });
    connect(tls, &QAbstractSocket::disconnected, this,
            [fail] { fail(QStringLiteral("closed by the client during the handshake")); });
    connect(timer, &QTimer::timeout, this, [this, fail] {
        fail(QStringLiteral("no handshake within %1 s (--client-timeout)")
                 .arg(settings.clientTimeoutMs / 1000.0));
    });
    connect(tls, &QSslSocket::encrypted, this, [this, tls, timer, listener, readOnly, settled] {
        if (*settled)
            return;
        *settled = true;
        --handshaking;
        delete timer;
        tls->disconnect(this);
        take(tls, listener, readOnly);
    });
    tls->setSslConfiguration(settings.tls);
    timer->start(settings.clientTimeoutMs);
    tls->startServerEncryption();
#else
    take(socket, listener, readOnly);
#endif
}

void GatewayServer::take(QTcpSocket *socket, const QString &listener, bool readOnly)
{
    ++count.accepted;
    auto *client =
        new GatewayClient(socket, nextClient++, listener, settings.clientTimeoutMs, this);
    client->setReadOnly(readOnly);
    clientsById.insert(client->id(), client);
    connect(client, &GatewayClient::requestTaken, this, &GatewayServer::request);
    connect(client, &GatewayClient::gone, this, &GatewayServer::onGone);
    emit clientConnected(client);
    client->start();
}

void GatewayServer::refuse(QTcpSocket *socket, const QString &peer, const QString &why)
{
    socket->abort();
    socket->deleteLater();
    emit clientRefused(peer, why);
}

void GatewayServer::onGone(GatewayClient *client, const QString &why)
{
    if (!clientsById.remove(client->id()))
        return;
    if (!client->closedByPeer())
        ++count.dropped;
    emit clientGone(client, why);
    client->deleteLater();
}

#include "engine/gateway/gatewayserver.h"

#include "engine/gateway/clientpolicy.h"
#include "engine/gateway/gatewayclient.h"
#include "engine/gateway/portholder.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace
{

// A listener that could not accept (no descriptor left) tries again after
// this, rather than spinning on a connection it cannot take.
constexpr int acceptPauseMs = 1000;

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
    auto *server = new QTcpServer(this);
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

// The one place a connection becomes a client: the count, then the policy.
void GatewayServer::admit(QTcpSocket *socket, const QString &listener)
{
    const QString peer =
        socket->peerAddress().toString() + QLatin1Char(':') + QString::number(socket->peerPort());
    QString why;
    if (clientsById.size() >= settings.maxClients) {
        ++count.refused;
        why = QStringLiteral("%1 clients already (--max-clients)").arg(settings.maxClients);
    } else if (!clientPolicy->admit(socket->peerAddress(), listener, &why)) {
        ++count.notAdmitted;
    } else {
        ++count.accepted;
        auto *client =
            new GatewayClient(socket, nextClient++, listener, settings.clientTimeoutMs, this);
        clientsById.insert(client->id(), client);
        connect(client, &GatewayClient::requestTaken, this, &GatewayServer::request);
        connect(client, &GatewayClient::gone, this, &GatewayServer::onGone);
        emit clientConnected(client);
        client->start();
        return;
    }
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

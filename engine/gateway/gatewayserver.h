#ifndef GATEWAYSERVER_H
#define GATEWAYSERVER_H

#include "engine/gateway/gatewaysite.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#ifndef QT_NO_SSL
#include <QSslConfiguration>
#endif

#include <map>
#include <memory>

class ClientPolicy;
class GatewayClient;
class QTcpServer;
class QTcpSocket;

// The gateway's listeners and the clients they take.
//
// - A client is admitted in admit(): at most maxClients at once (one more
//   is accepted and closed at once, counted, said once a run of them), and
//   only when the policy lets it in. Then its requests come by request().
// - With TLS (Modbus/TCP Security) every listener takes TLS only: a client
//   the policy lets in becomes a client once its handshake is done and its
//   certificate verified by the CA; one without a certificate, with one
//   the CA did not sign, or whose handshake is not done within the client
//   time-out, is closed, counted and said as a refusal. Handshakes under
//   way count towards maxClients.
// - Listeners are opened all together at start (one that cannot listen
//   fails the start, naming who holds its port), and changed on a reload:
//   those kept stay with their clients, new ones open, those gone close,
//   their clients staying connected.
class GatewayServer : public QObject
{
    Q_OBJECT

public:
    struct Settings {
        int maxClients = 64;
        int clientTimeoutMs = 30000;
#ifndef QT_NO_SSL
        // Used when it holds a local certificate: every listener is TLS.
        QSslConfiguration tls;
#endif
    };
    struct Counters {
        qint64 accepted = 0;
        qint64 refused = 0;     // over --max-clients
        qint64 notAdmitted = 0; // refused by the policy
        qint64 tlsRefused = 0;  // its TLS handshake failed: no certificate, not the CA's
        qint64 dropped = 0;     // by the gateway: out of step, stalled mid-request
    };

    explicit GatewayServer(const Settings &settings, QObject *parent = nullptr);
    ~GatewayServer() override;
    GatewayServer(const GatewayServer &) = delete;
    GatewayServer &operator=(const GatewayServer &) = delete;

    void setPolicy(const ClientPolicy *policy);
    const ClientPolicy &policy() const;

    // Listens on each; false, nothing left open, with the problem.
    bool listen(const QList<GatewayListener> &listeners, QString *problem);
    // The listeners of a reloaded site: what cannot be opened is said in
    // *problems, the rest goes on.
    void relisten(const QList<GatewayListener> &listeners, QStringList *problems);
    void close();

    QList<GatewayClient *> clients() const;
    GatewayClient *client(quint64 id) const;
    Counters counters() const
    {
        return count;
    }
    QStringList listening() const;
    // Whether its listeners take TLS only.
    bool usesTls() const;

signals:
    void clientConnected(GatewayClient *client);
    void clientGone(GatewayClient *client, const QString &why);
    // A connection closed at once, and why; said by the gateway once a run.
    void clientRefused(const QString &peer, const QString &why);
    void request(GatewayClient *client, quint64 sequence, quint8 unit, const QByteArray &pdu);

private:
    bool open(const GatewayListener &listener, QString *problem);
    void onNewConnection(QTcpServer *server, const QString &key);
    void admit(QTcpSocket *socket, const QString &listener);
    // Makes the connection a client of the listener.
    void take(QTcpSocket *socket, const QString &listener, bool readOnly);
    void refuse(QTcpSocket *socket, const QString &peer, const QString &why);
    void onGone(GatewayClient *client, const QString &why);

    Settings settings;
    const ClientPolicy *clientPolicy = nullptr;
    std::unique_ptr<ClientPolicy> openPolicy;
    std::map<QString, QTcpServer *> servers; // by the listener's text
    QHash<quint64, GatewayClient *> clientsById;
    quint64 nextClient = 1;
    int handshaking = 0; // TLS handshakes under way
    Counters count;
};

#endif // GATEWAYSERVER_H

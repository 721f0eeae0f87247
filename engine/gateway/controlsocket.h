#ifndef CONTROLSOCKET_H
#define CONTROLSOCKET_H

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

// The gateway's control socket: a local socket, gateway-NAME.sock, in the
// runtime folder of the user it runs as (engine/platform/runtimefolder:
// under systemd the service's own, /run/ordan-gateway/NAME). One line in,
// "status", and the gateway's counters come back as one JSON object on one
// line (the object SIGUSR1 prints), then it closes. Only the gateway's
// user (and root) may connect. Unix only; elsewhere it is not opened.
namespace controlsocket
{

// Where the services' gateways have their folders (RuntimeDirectory=).
constexpr char serviceFolders[] = "/run/ordan-gateway";

// A gateway's name: 1-32 letters, digits, '.', '_' or '-', not beginning
// with '.'. False with the problem.
bool checkName(const QString &name, QString *problem);
// The name of a gateway not given one: its --listen (or --listen-base)
// port, "1502", with the address in front when it listens on one address,
// "127.0.0.1-1502".
QString defaultName(const QHostAddress &address, quint16 port);
// The socket of the gateway `name` in `folder`.
QString socketPath(const QString &folder, const QString &name);

// The sockets of running gateways this user may look at: in its own
// runtime folder and the services' folders (for `name`, or every one
// when it is empty), those that exist, with the folders looked in.
QStringList find(const QString &name, QStringList *lookedIn);
// The name of the gateway whose socket `path` is.
QString nameOf(const QString &path);

// Asks the gateway at `path` a line (`command`); its answer, or false with
// the problem, within `timeoutMs`.
bool ask(const QString &path, const QByteArray &command, int timeoutMs, QByteArray *answer,
         QString *problem);

} // namespace controlsocket

// The socket's server side, in the gateway.
class ControlServer : public QObject
{
    Q_OBJECT

public:
    using Status = std::function<QJsonObject()>;

    explicit ControlServer(Status status, QObject *parent = nullptr);
    ~ControlServer() override;
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    // Opens gateway-NAME.sock in this user's runtime folder. A socket of
    // that name that still answers belongs to another gateway running:
    // false, nothing touched; one left by a gateway gone is replaced. False
    // with the problem.
    bool listen(const QString &name, QString *problem);
    QString path() const { return socketPath; }
    // Stops listening and removes the socket.
    void close();

private:
    void onConnection();
    void serve(QLocalSocket *socket);

    Status status;
    QLocalServer *server = nullptr;
    QString socketPath;
    int open = 0; // connections being served
};

#endif // CONTROLSOCKET_H

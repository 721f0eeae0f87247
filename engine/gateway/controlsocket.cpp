#include "engine/gateway/controlsocket.h"

#include "engine/platform/runtimefolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTimer>

#include <memory>

namespace
{

constexpr int longestName = 32;
// A path a local socket can have (sun_path, its end included).
constexpr int longestSocketPath = 107;
// What one connection may send, and for how long; how many at once.
constexpr int longestCommand = 256;
constexpr int commandTimeoutMs = 5000;
constexpr int mostConnections = 16;
// How long a socket left in place is given to show its gateway still runs.
constexpr int stillRunsMs = 500;

const char prefix[] = "gateway-";
const char suffix[] = ".sock";

} // namespace

bool controlsocket::checkName(const QString &name, QString *problem)
{
    static const QRegularExpression rule(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,31}$"));
    if (rule.match(name).hasMatch())
        return true;
    *problem = QStringLiteral("the gateway's name \"%1\": 1-%2 letters, digits, '.', '_' or '-', "
                              "not beginning with '.'")
                   .arg(name)
                   .arg(longestName);
    return false;
}

QString controlsocket::defaultName(const QHostAddress &address, quint16 port)
{
    if (address == QHostAddress::Any)
        return QString::number(port);
    QString host = address.toString();
    host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9.]")), QStringLiteral("_"));
    return (host + QLatin1Char('-') + QString::number(port)).right(longestName);
}

QString controlsocket::socketPath(const QString &folder, const QString &name)
{
    return QDir(folder).filePath(QLatin1String(prefix) + name + QLatin1String(suffix));
}

QString controlsocket::nameOf(const QString &path)
{
    QString name = QFileInfo(path).fileName();
    name.remove(0, int(qstrlen(prefix)));
    name.chop(int(qstrlen(suffix)));
    return name;
}

QStringList controlsocket::find(const QString &name, QStringList *lookedIn)
{
    QStringList folders;
    QString mine;
    QString problem;
    if (runtimefolder::find(false, &mine, &problem))
        folders << mine;
    const QDir services{QLatin1String(serviceFolders)};
    const QStringList instances =
        services.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QString &instance : instances) {
        if (name.isEmpty() || instance == name)
            folders << services.filePath(instance);
    }
    lookedIn->clear();
    if (!mine.isEmpty())
        *lookedIn << mine;
    *lookedIn << services.path();
    QStringList sockets;
    const QString pattern = QLatin1String(prefix) + (name.isEmpty() ? QStringLiteral("*") : name) +
                            QLatin1String(suffix);
    for (const QString &folder : qAsConst(folders)) {
        const QDir dir(folder);
        for (const QFileInfo &entry :
             dir.entryInfoList({pattern}, QDir::System | QDir::NoSymLinks, QDir::Name)) {
            if (!sockets.contains(entry.filePath()))
                sockets << entry.filePath();
        }
    }
    return sockets;
}

bool controlsocket::ask(const QString &path, const QByteArray &command, int timeoutMs,
                        QByteArray *answer, QString *problem)
{
    QElapsedTimer clock;
    clock.start();
    const auto left = [&] { return qMax(0, timeoutMs - int(clock.elapsed())); };
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(left())) {
        *problem = QStringLiteral("cannot connect to %1: %2").arg(path, socket.errorString());
        return false;
    }
    socket.write(command + '\n');
    if (!socket.waitForBytesWritten(left())) {
        *problem = QStringLiteral("%1: %2").arg(path, socket.errorString());
        return false;
    }
    QByteArray bytes;
    while (!bytes.contains('\n')) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(left())) {
            *problem =
                socket.state() == QLocalSocket::ConnectedState
                    ? QStringLiteral("%1: no answer within %2 s").arg(path).arg(timeoutMs / 1000.0)
                    : QStringLiteral("%1: closed without an answer").arg(path);
            return false;
        }
        bytes += socket.readAll();
    }
    *answer = bytes.left(bytes.indexOf('\n'));
    return true;
}

ControlServer::ControlServer(Status status, QObject *parent)
    : QObject(parent), status(std::move(status))
{
}

ControlServer::~ControlServer()
{
    close();
}

#ifdef Q_OS_UNIX

bool ControlServer::listen(const QString &name, QString *problem)
{
    if (!controlsocket::checkName(name, problem))
        return false;
    QString folder;
    if (!runtimefolder::find(true, &folder, problem)) {
        *problem = QStringLiteral("no control socket: ") + *problem;
        return false;
    }
    const QString path = controlsocket::socketPath(folder, name);
    if (QFile::encodeName(path).size() > longestSocketPath) {
        *problem = QStringLiteral("no control socket: %1 is longer than a local socket's path "
                                  "may be (%2 bytes): give a shorter --name")
                       .arg(path)
                       .arg(longestSocketPath);
        return false;
    }
    QFileInfo there(path);
    if (there.exists() || there.isSymLink()) {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(stillRunsMs)) {
            *problem = QStringLiteral("another gateway named %1 runs: its control socket %2 "
                                      "answers (give this one another --name)")
                           .arg(name, path);
            return false;
        }
        // A gateway gone without closing it (killed) left it behind.
        QLocalServer::removeServer(path);
    }
    auto *opened = new QLocalServer(this);
    opened->setSocketOptions(QLocalServer::UserAccessOption);
    opened->setMaxPendingConnections(mostConnections);
    if (!opened->listen(path)) {
        *problem = QStringLiteral("cannot open the control socket %1: %2")
                       .arg(path, opened->errorString());
        delete opened;
        return false;
    }
    server = opened;
    socketPath = path;
    connect(server, &QLocalServer::newConnection, this, &ControlServer::onConnection);
    return true;
}

#else

bool ControlServer::listen(const QString &name, QString *problem)
{
    Q_UNUSED(name);
    *problem = QStringLiteral("no control socket on this system");
    return false;
}

#endif

void ControlServer::close()
{
    if (!server)
        return;
    server->close();
    delete server;
    server = nullptr;
}

void ControlServer::onConnection()
{
    while (server && server->hasPendingConnections()) {
        QLocalSocket *socket = server->nextPendingConnection();
        if (open >= mostConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        serve(socket);
    }
}

// One command a connection, within its time; then the answer, and closed.
void ControlServer::serve(QLocalSocket *socket)
{
    ++open;
    struct Served {
        QByteArray command;
        bool answered = false;
    };
    auto served = std::make_shared<Served>();
    auto *timer = new QTimer(socket);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, socket, &QLocalSocket::abort);
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
        socket->disconnect(this);
        --open;
        socket->deleteLater();
    });
    const auto readable = [this, socket, served, timer] {
        if (served->answered)
            return;
        served->command += socket->read(longestCommand + 1 - served->command.size());
        const int end = served->command.indexOf('\n');
        if (end < 0 && served->command.size() <= longestCommand)
            return;
        served->answered = true;
        timer->stop();
        const QByteArray command = served->command.left(end).trimmed();
        QJsonObject answer;
        if (command == "status")
            answer = status();
        else
            answer.insert(QStringLiteral("error"),
                          QStringLiteral("unknown command \"%1\": the one known is \"status\"")
                              .arg(QString::fromUtf8(command.left(64))));
        socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
        socket->disconnectFromServer();
    };
    connect(socket, &QLocalSocket::readyRead, this, readable);
    timer->start(commandTimeoutMs);
    if (socket->state() != QLocalSocket::ConnectedState) {
        socket->disconnect(this);
        --open;
        socket->deleteLater();
    } else if (socket->bytesAvailable() > 0) {
        readable();
    }
}

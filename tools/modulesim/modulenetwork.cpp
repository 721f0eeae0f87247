#include "modulenetwork.h"

#include "posixhelpers.h"

#include "busdevices.h"
#include "mbapgateway.h"
#include "modulesimulator.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace
{

using posix::closeFd;
using posix::ErrnoKeeper;
using posix::isSymlink;
using posix::systemError;

const char echoBus[] = "echo";

// An address the module can listen on: one of this machine's interfaces
// holds it (the loopback range is all this machine's).
bool isOnThisMachine(const QHostAddress &address)
{
    return address.isLoopback() || QNetworkInterface::allAddresses().contains(address);
}

void record(QList<ModuleNetwork::Segment> &kept, qint64 &segments, qint64 &bytes,
            const QByteArray &segment)
{
    ++segments;
    bytes += segment.size();
    if (kept.size() < ModuleNetwork::segmentsKept)
        kept.append({segment.size(), segment.left(ModuleNetwork::segmentHeadBytes)});
}

} // namespace

ModuleNetwork::ModuleNetwork(ModuleSimulator *sim, QObject *parent) : QObject(parent), module(sim)
{
    connect(sim, &ModuleSimulator::upChanged, this, &ModuleNetwork::follow);
    connect(sim, &ModuleSimulator::runningStateChanged, this, &ModuleNetwork::follow);

    paceTimer.setSingleShot(true);
    paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&paceTimer, &QTimer::timeout, this, &ModuleNetwork::pumpBus);
    quietTimer.setSingleShot(true);
    quietTimer.setTimerType(Qt::PreciseTimer);
    connect(&quietTimer, &QTimer::timeout, this, &ModuleNetwork::onBusQuiet);
    clock.start();
}

ModuleNetwork::~ModuleNetwork()
{
    stop();
}

bool ModuleNetwork::start()
{
    if (active) {
        lastError = QStringLiteral("already started");
        return false;
    }
    if (!openBus())
        return false;
    active = true;
    seen = Traffic();
    follow();
    return true;
}

void ModuleNetwork::stop()
{
    active = false;
    closeAll();
    closeBus();
}

bool ModuleNetwork::isListening() const
{
    return server && server->isListening();
}

// Listens as the module is now: up or not, at the address and port it runs
// with.
void ModuleNetwork::follow()
{
    if (!active || !module || !module->isUp()) {
        closeAll();
        return;
    }
    const ModuleState running = module->runningState();
    const QHostAddress address(running.ip);
    bool portOk = false;
    const uint port = running.portTcp.toUInt(&portOk);
    if (isListening() && address == listenAddress && port == listenPort)
        return; // another value changed: read where it is used
    closeAll();
    if (address.protocol() != QAbstractSocket::IPv4Protocol || !portOk || port == 0 ||
        port > 65535) {
        emit notListening(QStringLiteral("%1 port %2 is no address to listen on: not listening")
                              .arg(running.ip, running.portTcp));
        return;
    }
    if (!isOnThisMachine(address)) {
        emit notListening(
            QStringLiteral("%1 is on no interface of this machine: not listening").arg(running.ip));
        return;
    }
    server = new QTcpServer(this);
    connect(server, &QTcpServer::newConnection, this, &ModuleNetwork::onNewConnection);
    if (!server->listen(address, quint16(port))) {
        emit notListening(QStringLiteral("cannot listen on %1:%2: %3")
                              .arg(running.ip)
                              .arg(port)
                              .arg(server->errorString()));
        delete server;
        server = nullptr;
        return;
    }
    listenAddress = address;
    listenPort = quint16(port);
    emit listening(running.ip, listenPort);
}

// The module stops: its connection and listener go, and with them what it
// held on its way to the bus or to the client. What is on the bus stays
// there.
void ModuleNetwork::closeAll()
{
    paceTimer.stop();
    quietTimer.stop();
    busPending.clear();
    busIn.clear();
    if (client) {
        QTcpSocket *gone = client;
        client = nullptr;
        gone->disconnect(this);
        gone->abort();
        gone->deleteLater();
        emit clientGone();
    }
    if (server) {
        server->close();
        server->deleteLater();
        server = nullptr;
    }
    listenAddress = QHostAddress();
    listenPort = 0;
}

void ModuleNetwork::onNewConnection()
{
    while (server && server->hasPendingConnections()) {
        QTcpSocket *socket = server->nextPendingConnection();
        const QString peer =
            QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (client) {
            // One client at a time: the next is accepted and closed at once.
            ++seen.refused;
            socket->close();
            socket->deleteLater();
            emit clientRefused(peer);
            continue;
        }
        ++seen.accepted;
        client = socket;
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(client, &QTcpSocket::readyRead, this, &ModuleNetwork::onClientReadable);
        connect(client, &QTcpSocket::disconnected, this, &ModuleNetwork::onClientGone);
        emit clientAccepted(peer);
    }
}

void ModuleNetwork::onClientReadable()
{
    if (!client)
        return;
    const QByteArray received = client->readAll();
    if (received.isEmpty())
        return;
    record(seen.received, seen.receivedSegments, seen.receivedBytes, received);
    const QByteArray bytes = gateway ? gateway->fromClient(received) : received;
    if (bytes.isEmpty())
        return;
    if (!echo && !devices && busMaster < 0)
        return; // no bus: nowhere to go
    if (busPending.isEmpty())
        lineBusyUntilNs = qMax(lineBusyUntilNs, clock.nsecsElapsed());
    busPending += bytes;
    pumpBus();
}

void ModuleNetwork::onClientGone()
{
    if (!client)
        return;
    client->deleteLater();
    client = nullptr;
    emit clientGone();
}

// One character on the bus: start bit, 8 data bits, the parity bit unless
// none, the stop bits; at the speed in baud.
qint64 ModuleNetwork::characterNs() const
{
    const ModuleState running = module ? module->runningState() : ModuleState();
    int baud = running.speed.toInt();
    if (baud <= 0)
        baud = 9600;
    const bool parityBit = running.parity.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0;
    const int stopBits = running.stopBit == QLatin1String("2") ? 2 : 1;
    const int bits = 1 + 8 + (parityBit ? 1 : 0) + stopBits;
    return qint64(bits) * 1000000000 / baud;
}

int ModuleNetwork::packetTimeoutMs() const
{
    const int ms = module ? module->runningState().timeout.toInt() : 0;
    return ms > 0 ? ms : 1000;
}

// Puts on the bus the characters whose time has come: each one when the
// one before it has ended.
void ModuleNetwork::pumpBus()
{
    if (busPending.isEmpty())
        return;
    QByteArray out;
    if (!pacing) {
        out.swap(busPending);
    } else {
        const qint64 now = clock.nsecsElapsed();
        const qint64 perCharacter = characterNs();
        int n = 0;
        while (n < busPending.size() && lineBusyUntilNs + perCharacter <= now) {
            lineBusyUntilNs += perCharacter;
            ++n;
        }
        out = busPending.left(n);
        busPending.remove(0, n);
        if (!busPending.isEmpty()) {
            const qint64 waitNs = lineBusyUntilNs + perCharacter - now;
            paceTimer.start(int(qMax<qint64>(1, (waitNs + 999999) / 1000000)));
        }
    }
    if (out.isEmpty())
        return;
    if (echo) {
        gather(out);
        return;
    }
    if (devices) {
        devices->fromModule(out, pacing ? clock.nsecsElapsed() - lineBusyUntilNs : 0);
        return;
    }
    busOut += out;
    flushBus();
}

void ModuleNetwork::setModbusTcp(bool on)
{
    gateway = on ? std::make_unique<MbapGateway>() : nullptr;
}

void ModuleNetwork::setDevices(BusDevices *simulated)
{
    devices = simulated;
    devices->setModuleSettings([this] {
        const ModuleState running = module ? module->runningState() : ModuleState();
        UartSettings uart;
        uart.baud = running.speed.toInt() > 0 ? running.speed.toInt() : 9600;
        const QString parity = running.parity.toLower();
        uart.parity = parity == QLatin1String("even")  ? 'E'
                      : parity == QLatin1String("odd") ? 'O'
                                                       : 'N';
        uart.stopBits = running.stopBit == QLatin1String("2") ? 2 : 1;
        return uart;
    });
    connect(devices, &BusDevices::heard, this, [this](const QByteArray &bytes) {
        if (active && module && module->isUp())
            gather(bytes);
    });
}

void ModuleNetwork::gather(const QByteArray &bytes)
{
    busIn += bytes;
    quietTimer.start(packetTimeoutMs());
}

void ModuleNetwork::onBusQuiet()
{
    const QByteArray gathered = std::exchange(busIn, QByteArray());
    const QByteArray segment = gateway ? gateway->toClient(gathered) : gathered;
    if (segment.isEmpty() || !client || client->state() != QAbstractSocket::ConnectedState)
        return; // nobody to answer: lost
    client->write(segment);
    record(seen.sent, seen.sentSegments, seen.sentBytes, segment);
}

bool ModuleNetwork::openBus()
{
    ErrnoKeeper keep;
    echo = busChoice == QLatin1String(echoBus);
    if (busChoice.isEmpty() || echo)
        return true;

    const QString link = QFileInfo(busChoice).absoluteFilePath();
    const QByteArray linkName = QFile::encodeName(link);
    struct stat st;
    if (::lstat(linkName.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        lastError = link + QStringLiteral(" exists and is not a symlink");
        return false;
    }
    int master = -1;
    int slave = -1;
    QString name;
    if (!posix::openRawPty(master, slave, name, lastError))
        return false;
    // Each program that plays the devices sets the line as it likes, and a
    // program started again sets it as the last one did.
    if (!posix::reportSettings(master, slave)) {
        lastError = systemError("bus settings");
        closeFd(master);
        closeFd(slave);
        return false;
    }
    // Renamed over the old link, so that the path is never missing.
    const QByteArray temp = QFile::encodeName(
        QFileInfo(link).absolutePath() +
        QStringLiteral("/.%1.new%2").arg(QFileInfo(link).fileName()).arg(::getpid()));
    ::unlink(temp.constData());
    if (::symlink(QFile::encodeName(name).constData(), temp.constData()) != 0 ||
        ::rename(temp.constData(), linkName.constData()) != 0) {
        lastError = systemError("bus link");
        ::unlink(temp.constData());
        closeFd(master);
        closeFd(slave);
        return false;
    }
    busMaster = master;
    busSlave = slave;
    busLink = link;
    busSlavePath = name;
    busReadNotifier = new QSocketNotifier(busMaster, QSocketNotifier::Read, this);
    connect(busReadNotifier, &QSocketNotifier::activated, this, &ModuleNetwork::onBusReadable);
    busWriteNotifier = new QSocketNotifier(busMaster, QSocketNotifier::Write, this);
    busWriteNotifier->setEnabled(false);
    connect(busWriteNotifier, &QSocketNotifier::activated, this, &ModuleNetwork::flushBus);
    return true;
}

void ModuleNetwork::closeBus()
{
    ErrnoKeeper keep;
    delete busReadNotifier;
    delete busWriteNotifier;
    busReadNotifier = nullptr;
    busWriteNotifier = nullptr;
    closeFd(busMaster);
    closeFd(busSlave);
    if (!busLink.isEmpty() && isSymlink(busLink))
        ::unlink(QFile::encodeName(busLink).constData());
    busLink.clear();
    busSlavePath.clear();
    busOut.clear();
    echo = false;
}

void ModuleNetwork::onBusReadable()
{
    ErrnoKeeper keep;
    QByteArray bytes;
    bool settings = false;
    for (;;) {
        const ssize_t n = posix::readPacket(busMaster, bytes, settings);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            // Cannot happen while our own slave fd is open; do not spin.
            qWarning("module network: bus read failed: %s", strerror(errno));
            busReadNotifier->setEnabled(false);
        }
        break;
    }
    if (settings)
        posix::putAside(busSlave, busSettingsTurn);
    if (!bytes.isEmpty() && active && module && module->isUp())
        gather(bytes);
}

void ModuleNetwork::flushBus()
{
    posix::writePending(busMaster, busOut, busWriteNotifier, "module network: bus");
}

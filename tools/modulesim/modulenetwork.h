#ifndef MODULENETWORK_H
#define MODULENETWORK_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class BusDevices;
class MbapGateway;
class ModuleSimulator;
class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// The simulated module's network side: a TCP server on the address and port
// the module runs with, bridging one client at a time to its RS-485 bus.
//
// It follows a ModuleSimulator: it listens while the module is up, with the
// values the module runs with (runningState()). A restart closes the client
// and the listener; the module listens again, with its new values, when it
// is up again. An address on no interface of this machine gets no listener
// (notListening()): the module is unreachable, as one on a subnet this
// computer cannot reach is in the field. A second client is accepted and
// closed at once, as single-client converters do.
//
// The bus: bytes from the client go out on it paced by the speed, parity and
// stop bits the module runs with; what comes back is gathered until the bus
// has been quiet for the module's packet time-out ("timeout data", in ms),
// then sent to the client in one write. The bus is a pseudo-terminal kept at
// a path (a symlink, like the module's console) that another program opens
// to play the devices on it, or an echo: every byte that went out comes back
// as the bus's answer. Without a bus the client's bytes are dropped. A
// program may open the bus's pseudo-terminal and set it again and again,
// started anew as often as it likes (posix::reportSettings()).
//
// Values the module runs with that are no number (a --set of the console's
// answers) count as the factory's: 9600 baud, 1000 ms.
class ModuleNetwork : public QObject
{
    Q_OBJECT

public:
    static constexpr int segmentHeadBytes = 64; // bytes of a segment kept
    static constexpr int segmentsKept = 1000;   // segments kept each way

    // One read from the client or one write to it: its size and its first
    // segmentHeadBytes bytes.
    struct Segment {
        qint64 size = 0;
        QByteArray head;
    };
    // What went over TCP since start(): the first segmentsKept segments each
    // way and the totals.
    struct Traffic {
        QList<Segment> received;
        QList<Segment> sent;
        qint64 receivedSegments = 0;
        qint64 receivedBytes = 0;
        qint64 sentSegments = 0;
        qint64 sentBytes = 0;
        int accepted = 0; // connections that became the client
        int refused = 0;  // connections closed at once: a client was there
    };

    explicit ModuleNetwork(ModuleSimulator *module, QObject *parent = nullptr);
    ~ModuleNetwork() override;

    // Before start(): "echo", the path where the bus's pseudo-terminal is
    // kept (an existing symlink there is replaced, any other file makes
    // start() fail), or empty for no bus.
    void setBus(const QString &bus) { busChoice = bus; }
    // Before start(): simulated devices as the bus (instead of setBus()),
    // hearing the module at the speed, parity and stop bits it runs with.
    void setDevices(BusDevices *devices);
    // Before start(): the module's Modbus TCP mode (MbapGateway) on its TCP
    // port instead of its transparent one.
    void setModbusTcp(bool on);
    // Pacing on the bus (on by default); off for benchmarks.
    void setPacing(bool on) { pacing = on; }

    // Opens the bus and follows the module from now on.
    bool start();
    // Closes everything and removes the bus's link.
    void stop();
    QString errorString() const { return lastError; }

    bool isListening() const;
    QHostAddress address() const { return listenAddress; } // while listening
    quint16 port() const { return listenPort; }
    bool hasClient() const { return client != nullptr; }
    QString busPath() const { return busLink; }         // the symlink
    QString busPtyPath() const { return busSlavePath; } // its /dev/pts/N
    Traffic traffic() const { return seen; }

signals:
    void listening(const QString &address, quint16 port);
    // The module is up but has no listener, and why.
    void notListening(const QString &why);
    void clientAccepted(const QString &peer);
    void clientRefused(const QString &peer);
    void clientGone();

private:
    void follow();
    void closeAll();
    void onNewConnection();
    void onClientReadable();
    void onClientGone();
    bool openBus();
    void closeBus();
    void onBusReadable();
    void flushBus();
    void pumpBus();
    void gather(const QByteArray &bytes);
    void onBusQuiet();
    qint64 characterNs() const;
    int packetTimeoutMs() const;

    QPointer<ModuleSimulator> module; // may go first: then nothing follows it
    bool active = false;
    QString lastError;
    bool pacing = true;

    QTcpServer *server = nullptr;
    QTcpSocket *client = nullptr;
    QHostAddress listenAddress;
    quint16 listenPort = 0;

    QString busChoice;
    bool echo = false;
    BusDevices *devices = nullptr;
    std::unique_ptr<MbapGateway> gateway;
    QString busLink;
    QString busSlavePath;
    int busMaster = -1;
    int busSlave = -1;            // held so the master sees no hang-up between programs
    unsigned busSettingsTurn = 0; // which unset speed comes next (posix::putAside())
    QSocketNotifier *busReadNotifier = nullptr;
    QSocketNotifier *busWriteNotifier = nullptr;
    QByteArray busPending; // from the client, not yet on the bus
    QByteArray busOut;     // on the bus, not yet taken by the pseudo-terminal
    QByteArray busIn;      // the bus's answer, gathered
    QElapsedTimer clock;
    qint64 lineBusyUntilNs = 0; // when the last character put on the bus ends
    QTimer paceTimer;
    QTimer quietTimer;

    Traffic seen;
};

#endif // MODULENETWORK_H

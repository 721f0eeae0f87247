#ifndef SERIALBRIDGE_H
#define SERIALBRIDGE_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QSocketNotifier;
class QTcpSocket;
class TraceLog;

// A virtual serial port to the RS-485 bus behind a module: a
// pseudo-terminal in raw mode (a symbolic link to it at a chosen path) on
// one side, the module's TCP port on the other, for programs that speak
// only serial (Modbus RTU masters, SCADA drivers).
//
// - Bytes written to the port are gathered until the port has been quiet
//   for the gap, then sent to the module as one frame in one write (TCP
//   no-delay on): a frame a program writes in pieces leaves in one segment.
//   The default gap is 3.5 characters at the speed, parity and stop bits
//   the program set on the port, at least 1 ms.
// - Bytes from the module go to the port as they arrive.
// - When the connection drops or is refused, the port stays open; the
//   bridge reconnects with back-off (250 ms doubling to 2 s) until stop(),
//   or until it has been without a connection for the give-up time. Bytes
//   written while there is no connection are discarded and counted, never
//   sent late; nothing is ever sent twice or out of order.
//
// A pseudo-terminal cannot keep parity (Linux clears it), and glibc's
// tcsetattr() reports EINVAL when nothing it was asked could be applied: a
// program that sets 19200 8E1 on a port already at 19200 would fail. So
// until a program sets its speed the port stands at 50 baud, and on Linux
// it is put back there (its unread input dropped) whenever the last
// program closes it: every program's first setting then takes effect.
//
// The pseudo-terminal needs a POSIX system: elsewhere available() is false
// and openPort() fails.
class SerialBridge : public QObject
{
    Q_OBJECT

public:
    struct Settings {
        QString host;
        quint16 port = 0;
        QString link;      // the path programs open as their serial port
        int gapUs = -1;    // quiet time that ends a frame; -1: 3.5 characters
        int giveUpMs = -1; // without a connection this long, give up; -1: never
        TraceLog *trace = nullptr;
    };
    struct Counters {
        qint64 bytesToModule = 0;
        qint64 bytesFromModule = 0;
        qint64 framesToModule = 0; // one write each
        qint64 reconnects = 0;     // connections made again after a loss
        qint64 discardedBytes = 0; // written while there was no connection
        qint64 discardedFrames = 0;
    };
    enum class State { Idle, Connecting, Connected, Waiting, Stopped };

    explicit SerialBridge(const Settings &settings, QObject *parent = nullptr);
    ~SerialBridge() override;
    SerialBridge(const SerialBridge &) = delete;
    SerialBridge &operator=(const SerialBridge &) = delete;

    // Whether this system has the pseudo-terminals the port needs.
    static bool available();
    // "HOST:PORT", "[v6 address]:PORT": false with the problem when
    // malformed (no host, no port, a port outside 1-65535).
    static bool parseTarget(const QString &text, QString *host, quint16 *port, QString *problem);
    // 3.5 characters of `bitsPerCharacter` at `baud`, in microseconds, and
    // at least 1 ms.
    static int characterGapUs(int baud, int bitsPerCharacter);

    // Makes the pseudo-terminal and the link to it. Refuses to replace
    // anything but a symbolic link. False with the reason, nothing left
    // behind, when the port cannot be made.
    bool openPort(QString *problem);
    // The pseudo-terminal the link points to ("/dev/pts/4").
    QString device() const { return devicePath; }
    QString target() const;

    // Connects, and keeps connecting until stop() or the give-up time.
    void start();
    // Closes the connection and the port and removes the link (when it
    // still points to this port). Safe to call more than once.
    void stop();

    State state() const { return currentState; }
    Counters counters() const { return count; }
    // The gap the next frame is gathered with, in microseconds.
    int currentGapUs() const;

signals:
    // A connection is up: the first one (`downMs` -1) or one made again
    // after `downMs` without any.
    void connected(qint64 downMs);
    // The first attempt failed; the bridge keeps trying.
    void notReached(const QString &reason);
    // An established connection dropped; the bridge reconnects.
    void lost(const QString &reason);
    // Without a connection for the give-up time: the bridge has stopped.
    void gaveUp(const QString &reason);

private:
    // Bytes streamed without a pause leave in pieces of this size: a frame
    // of a serial protocol is far smaller.
    static constexpr int largestFrame = 64 * 1024;

    void connectNow();
    void onConnected();
    void onSocketDown(const QString &reason);
    void scheduleRetry();
    void onPortReadable();
    void onPortWritable();
    void onModuleReadable();
    void flushFrame();
    void writeToPort();
    void setState(State state);
    void onOpenEvents();
    void resetPort();

    Settings settings;
    State currentState = State::Idle;
    Counters count;
    QString devicePath;
    int masterFd = -1;
    int slaveFd = -1; // held open so that the port survives a program's close
    std::unique_ptr<QSocketNotifier> portReadable;
    std::unique_ptr<QSocketNotifier> portWritable;
    int openWatchFd = -1; // inotify: programs opening and closing the port
    int programsOpen = 0;
    std::unique_ptr<QSocketNotifier> openWatch;
    QTcpSocket *socket = nullptr;

    QByteArray frame;            // gathered from the port, not yet sent
    quint64 frameGeneration = 0; // the connection the frame started under
    quint64 generation = 0;      // counts connections made; 0: none yet
    QByteArray toPort;           // from the module: [toPortAt, toPortEnd) not yet in the port
    int toPortAt = 0;
    int toPortEnd = 0;
    QTimer gapTimer;
    QTimer retryTimer;
    QTimer connectTimer;
    QTimer giveUpTimer;
    int retryMs = 250;
    bool everConnected = false;
    bool reportedNotReached = false;
    QElapsedTimer down;           // since the connection was lost (or first tried)
    QElapsedTimer connectedSince; // the connection up now
    QString lastReason;
    mutable int lastGapUs = 1000;
};

#endif // SERIALBRIDGE_H

#ifndef MODULECONSOLE_H
#define MODULECONSOLE_H

#include "engine/console/portlock.h"
#include "engine/console/replyframer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <functional>

class TraceLog;

// One module's console on one serial port, without a window: commands go
// out one at a time and each waits for its reply, framed by the quiet gap,
// or for the reply time-out. Two commands are never closer than the quiet
// gap (the module has no terminator to tell them apart) nor than the pace.
// Everything runs in the owner's event loop; several consoles share one.
class ModuleConsole : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultReplyTimeoutMs = 1000;

    explicit ModuleConsole(const QString &path, QObject *parent = nullptr);
    ~ModuleConsole() override;

    QString path() const { return portPath; }
    void setReplyTimeout(int ms) { replyTimeoutMs = qMax(1, ms); }
    void setPace(int ms) { paceMs = qMax(0, ms); }
    void setTraceLog(TraceLog *log) { trace = log; }

    // Opens the port (9600 8N1, the module's console), holding its name
    // lock and its device (PortLock) while it is open. On failure the
    // system's reason, or what holds the port, is in errorString().
    bool open();
    void close();
    bool isOpen() const { return port.isOpen(); }
    QString errorString() const { return lastError; }
    bool permissionDenied() const { return lastOpenError == QSerialPort::PermissionError; }
    // The last open failed because another run or program holds the port
    // (never a permission problem then).
    bool inUse() const { return lockedOut; }
    // Whether the port's device is there at all (a module with its own
    // USB adapter brings it along): false for no such device, and for a
    // by-id or by-path link whose device is away.
    static bool exists(const QString &port);
    // The open port's name no longer leads to the device opened (the
    // device went away, or the link now points at another one).
    bool isStale() const;

    // How a command's wait ended.
    enum class Reply {
        Answered, // the framed reply is there
        TimedOut, // nothing within the reply time-out
        LinkLost, // the link was lost first (or the port was not open)
    };
    // Sends `command` as soon as the line allows and calls `done` once, with
    // the framed reply when answered.
    using ReplyHandler = std::function<void(Reply reply, const QByteArray &bytes)>;
    void ask(const QByteArray &command, ReplyHandler done);
    // Sends a command that gets no reply (a restart); `done` once its bytes
    // have left the port (true), or when they cannot (false: the port is
    // closed or the link was lost first, or they did not leave within the
    // reply time-out).
    void tell(const QByteArray &command, std::function<void(bool sent)> done);
    // What the line did while it was watched.
    enum class LineEvent {
        Lost,    // the link dropped (the module went away)
        Replied, // the module sent something nobody asked for
        Quiet,   // neither, for the whole time
    };
    // Watches the line for `ms`: calls `done` once, at the first loss of the
    // link or the first reply (with its bytes), or when the time is up.
    void watchLine(int ms, std::function<void(LineEvent event, const QByteArray &reply)> done);
    // Drops everything pending; no handler is called any more.
    void cancel();
    // Counts the cancels: a procedure spread over timers checks that it has
    // not been cancelled meanwhile.
    quint64 epoch() const { return cancels; }

private:
    void trySend();
    void onReadyRead();
    void onFramed(const QByteArray &bytes);
    void onReplyTimeout();
    void onError(QSerialPort::SerialPortError error);
    void onBytesWritten();
    void linkLost();
    void endWatch(LineEvent event, const QByteArray &reply = QByteArray());
    // Ends an open refused because the port is held: false.
    bool refuse(const QString &holder);

    QString portPath;
    QSerialPort port;
    ReplyFramer framer;
    TraceLog *trace = nullptr;
    int replyTimeoutMs = defaultReplyTimeoutMs;
    int paceMs = 0;
    QString lastError;
    QSerialPort::SerialPortError lastOpenError = QSerialPort::NoError;
    PortLock lock;
    bool lockedOut = false;
    QString openedDevice; // devicePath() when opened

    QByteArray queued; // the command waiting for the line
    bool queuedIsTell = false;
    ReplyHandler pendingReply;
    std::function<void(bool)> pendingTell;
    bool tellInFlight = false; // its bytes are written, not yet gone
    std::function<void(LineEvent, const QByteArray &)> pendingWatch;
    bool unframed = false; // bytes received that are not yet a reply
    QElapsedTimer sinceSend;
    QTimer sendTimer;
    QTimer replyTimer;
    QTimer drainTimer; // bound on a told command's bytes leaving
    QTimer watchTimer; // polls for the hang-up while the line is watched
    QElapsedTimer watchClock;
    int watchMs = 0;
    quint64 watches = 0;
    quint64 cancels = 0;
};

#endif // MODULECONSOLE_H

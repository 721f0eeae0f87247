#ifndef MODULECONSOLE_H
#define MODULECONSOLE_H

#include "engine/replyframer.h"

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

    // Opens the port (9600 8N1, the module's console). On failure the
    // system's reason is in errorString().
    bool open();
    void close();
    bool isOpen() const { return port.isOpen(); }
    QString errorString() const { return lastError; }
    bool permissionDenied() const { return lastOpenError == QSerialPort::PermissionError; }

    // Sends `command` as soon as the line allows and calls `done` once with
    // the framed reply (answered) or after the reply time-out (not answered,
    // also when the link is lost meanwhile).
    using ReplyHandler = std::function<void(bool answered, const QByteArray &reply)>;
    void ask(const QByteArray &command, ReplyHandler done);
    // Sends a command that gets no reply (a restart); `done` once its bytes
    // have left (true), or at once when the port is closed (false).
    void tell(const QByteArray &command, std::function<void(bool sent)> done);
    // Calls `done` when the link drops (the module restarting) or after
    // `graceMs` without that, whichever comes first; true when it dropped.
    void awaitLinkLoss(int graceMs, std::function<void(bool dropped)> done);
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
    void linkLost();

    QString portPath;
    QSerialPort port;
    ReplyFramer framer;
    TraceLog *trace = nullptr;
    int replyTimeoutMs = defaultReplyTimeoutMs;
    int paceMs = 0;
    QString lastError;
    QSerialPort::SerialPortError lastOpenError = QSerialPort::NoError;

    QByteArray queued; // the command waiting for the line
    bool queuedIsTell = false;
    ReplyHandler pendingReply;
    std::function<void(bool)> pendingTell;
    std::function<void(bool)> pendingLoss;
    bool unframed = false; // bytes received that are not yet a reply
    QElapsedTimer sinceSend;
    QTimer sendTimer;
    QTimer replyTimer;
    QTimer lossTimer; // grace for awaitLinkLoss, and polling for the hang-up
    QElapsedTimer lossClock;
    int lossGraceMs = 0;
    quint64 cancels = 0;
};

#endif // MODULECONSOLE_H

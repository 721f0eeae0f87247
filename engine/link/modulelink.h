#ifndef MODULELINK_H
#define MODULELINK_H

#include "engine/link/connectpolicy.h"
#include "engine/link/hostport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QTcpSocket;
class TraceLog;

// The bridge's network end: the TCP connection to the module, kept up.
//
// - It connects, and when the connection drops or is refused (every restart
//   of the module is one) connects again after 250 ms, 500 ms, 1 s, then
//   every 2 s (ConnectPolicy::keptUp), until stop() or until it has been
//   without a connection for the give-up time. A name that does not resolve (a boot before DNS) is
//   tried again the same way.
// - A short TCP keep-alive (idle 5 s, 3 probes 1 s apart; data
//   unacknowledged for 8 s) notices a module gone without a word.
// - A connection is kept once it has lasted keptMs or the module sent a
//   byte on it. One the module closes before (a single-client converter
//   still holding a connection that went stale) is a refusal, counted apart
//   from reconnects: the first of a run is said, the next are tried every
//   2 s in silence, and the run ends with the next connection kept.
// - Each frame goes in one write, TCP no-delay on. A frame is counted as
//   sent once all its bytes have left for the network; what was handed to a
//   connection that dropped before it left is counted as lost, never sent
//   on the next one.
class ModuleLink : public QObject
{
    Q_OBJECT

public:
    static constexpr int keptMs = 500;

    enum class State { Idle, Connecting, Connected, Waiting, Stopped };
    // "connected", "connecting", "reconnecting", "stopped", "idle": what a
    // status says, never translated.
    static QString stateName(State state);
    struct Counters {
        qint64 bytesSent = 0; // left for the module
        qint64 framesSent = 0;
        qint64 bytesLost = 0; // handed to a connection that dropped before they left
        qint64 framesLost = 0;
        qint64 bytesReceived = 0;
        qint64 reconnects = 0; // connections kept again after a loss
        qint64 refusals = 0;   // connections the module closed at once
    };

    explicit ModuleLink(const HostPort &target, QObject *parent = nullptr);
    ~ModuleLink() override;
    ModuleLink(const ModuleLink &) = delete;
    ModuleLink &operator=(const ModuleLink &) = delete;

    // -1 (the default): never give up.
    void setGiveUp(int ms) { giveUpMs = ms; }
    void setTrace(TraceLog *log) { trace = log; }

    // Connects, and keeps connecting until stop() or the give-up time.
    void start();
    void stop();

    State state() const { return currentState; }
    // Counts the connections made: bytes belong to the one they came under.
    quint64 generation() const { return connections; }
    QString target() const { return where.text(); }
    Counters counters() const { return count; }

    // One frame, in one write, on the connection up now; false when none is.
    bool send(const QByteArray &frame);
    // Bytes handed to the connection that have not left yet.
    qint64 backlog() const;
    // From the module; what it sent before a connection dropped is still
    // read here.
    qint64 bytesAvailable() const;
    QByteArray read(qint64 max);

signals:
    // A connection is kept: the first one (`downMs` -1) or one made again
    // after `downMs` without any, with the refusals of the run it ends.
    void connected(qint64 downMs, qint64 refusals);
    // The first try failed; the link keeps trying.
    void notReached(const QString &reason);
    // A kept connection dropped; the link reconnects.
    void lost(const QString &reason);
    // The module closed a connection at once, the first time in a run.
    void refusing();
    // Without a connection for the give-up time: the link has stopped.
    void gaveUp(const QString &reason);
    void readyRead();
    // Bytes left for the module: the backlog is smaller.
    void drained();

private:
    void connectNow();
    void onConnected();
    void onReadable();
    void keep();
    void onDown(const QString &reason);
    void account();
    void dropSocket();
    void event(const QString &what);

    HostPort where;
    int giveUpMs = -1;
    TraceLog *trace = nullptr;
    State currentState = State::Idle;
    Counters count;
    QTcpSocket *socket = nullptr;
    quint64 connections = 0;
    bool kept = false;       // the connection up now has been kept
    bool everKept = false;   // a connection has been kept since start()
    bool inRefusals = false; // refusals since the last kept connection
    qint64 runRefusals = 0;  // ... how many
    bool reportedNotReached = false;
    ConnectPolicy policy{ConnectPolicy::keptUp()};
    QTimer retryTimer;
    QTimer connectTimer;
    QTimer giveUpTimer;
    QTimer keptTimer;
    QElapsedTimer down;      // since the last kept connection was lost (or the first try)
    QElapsedTimer keptSince; // the connection kept now
    QString lastReason;
    qint64 handed = 0;            // bytes given to this connection
    qint64 left = 0;              // ... that have left
    std::deque<qint64> frameEnds; // where the frames given to it end, in `handed`
    QByteArray rest;              // from a connection that dropped, not yet read
};

#endif // MODULELINK_H

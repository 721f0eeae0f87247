#ifndef BUSWORKER_H
#define BUSWORKER_H

#include "engine/bridge/gaptimer.h"
#include "engine/gateway/gatewaycounters.h"
#include "engine/gateway/gatewayrequest.h"
#include "engine/gateway/gatewaysite.h"
#include "engine/link/modulelink.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <vector>

class TraceLog;

// One bus of the gateway: its module's connection, kept up across restarts
// (ModuleLink), and the requests of every client for the units behind it.
//
// - One request is on the bus at a time. The next goes when the answer is
//   in (or its time is up) and the line has been quiet for 3.5 characters
//   (1.75 ms above 19200 bit/s), the module's packet time-out counted in
//   when it is known; no other pause.
// - Clients take turns: one request of each client that has one waiting,
//   in turn, so that no client's burst starves another.
// - A unit that did not answer in time is asked again only once its late
//   answer has come, or one more answer time-out has passed: a device a
//   little slower than the time-out never has its late answer taken for
//   its next request's. The other units are asked meanwhile, so a healthy
//   device waits at most one answer time-out behind a dead one.
// - The answer is the reply that answers the request, by the bus engine's
//   rule (a reply from the unit asked, with its function or its exception,
//   of the length the request implies, in the answer's time); a device's
//   exception goes back the moment it is in. A reply after its time is
//   dropped and counted, never taken for the next request's.
// - The gateway answers itself, at once and without sending: 0x0A when the
//   module is not connected, 0x0B for a unit given up (after --dead-after
//   time-outs in a row; it is probed in the background every --probe-every
//   until it answers again), 0x06 when the queue is over its bound (a
//   client's first request waiting here is always taken). 0x0B too when
//   nothing answered in time, or the answer came with a wrong CRC.
// - A write is never sent twice. A read is sent again after a time-out
//   only with --retries, as a request of its own turn.
// - Unit 0 (a broadcast) is sent with no answer awaited, and the bus then
//   stays quiet for the broadcast delay.
// - With coalesce, a read that is the very request on the bus (the same
//   unit, function and data) is not sent again: it gets the same answer.
class BusWorker : public QObject
{
    Q_OBJECT

public:
    struct Settings {
        int answerTimeoutMs = 1000;
        int queueLimit = 64;
        int deadAfter = 3;
        int probeEveryMs = 5000;
        int retries = 0;
        int broadcastDelayMs = 100;
        bool coalesce = false;
        TraceLog *trace = nullptr;
    };
    // A request to carry, who asked (for the trace: "client 3"), and where
    // its answer goes (called once).
    struct Job {
        GatewayRequest request;
        QString who;
        GatewayAnswer answer;
        int tries = 0;
        // --coalesce: the same read of others, taken while this one was on
        // the bus, answered with it.
        std::vector<GatewayAnswer> alsoAnswer;
    };
    using State = ModuleLink::State;

    BusWorker(const GatewayBus &bus, const Settings &settings, QObject *parent = nullptr);
    ~BusWorker() override;
    BusWorker(const BusWorker &) = delete;
    BusWorker &operator=(const BusWorker &) = delete;

    void start();
    // Ends the connection; every request waiting is answered 0x0A.
    void stop();
    // The same module from a reloaded site: its row, line format and units.
    void setBus(const GatewayBus &bus);
    const GatewayBus &bus() const { return config; }
    State state() const { return link.state(); }
    bool isConnected() const { return link.state() == State::Connected; }

    // Takes a request for a unit behind it: answered at once by the
    // gateway, or queued and answered when the bus has answered.
    void submit(Job job);
    // A broadcast: answered with the write's own answer once it has left
    // for the module, 0x0A when it cannot.
    void submitBroadcast(Job job);
    // The client is gone: its requests still waiting are dropped (the one
    // on the bus runs its course).
    void forget(quint64 client);

    const ModuleCounters &counters() const { return count; }
    ModuleLink::Counters linkCounters() const { return link.counters(); }
    QJsonObject json() const;

signals:
    void connected(qint64 downMs, qint64 refusals);
    void notReached(const QString &reason);
    void lost(const QString &reason);
    void refusing();
    // A unit given up after --dead-after time-outs in a row, or back.
    void unitGivenUp(quint8 unit);
    void unitBack(quint8 unit);

private:
    struct Unit {
        BusCounters counters;
        int silentRun = 0; // time-outs in a row
        bool dead = false;
        bool probeQueued = false;
        bool everAsked = false;
        qint64 quietUntilMs = 0; // after a time-out: not asked again before
    };
    enum class Line { Idle, Asking, Quiet };

    Unit &unit(quint8 id);
    void answer(Job &job, const QByteArray &pdu, bool fromDevice);
    void refuse(Job &job, quint8 code);
    void enqueue(Job job);
    void pump();
    bool takeNext(Job *job);
    void send(Job job);
    void finish(qint64 quietUs);
    void onReadable();
    void onAnswerTimeout();
    void onLinkConnected(qint64 downMs, qint64 refusals);
    void onLinkLost(const QString &reason);
    void flushQueue(quint8 code);
    void giveUp(quint8 id);
    void queueProbe(quint8 id);
    void armProbes();
    void replied(const QByteArray &pdu, const QByteArray &frame, qint64 atNs);
    // The answer awaited came with a wrong CRC, or a frame from the unit
    // that does not answer the request: 0x0B, the unit counted as there.
    void notAnswer(bool crc, const QByteArray &frame);
    void traceEvent(const QString &text);

    // The module's bytes, matched to the request on the bus.
    void matchBegin(const QByteArray &frame, qint64 sentNs);
    void matchFeed(const QByteArray &bytes, qint64 atNs);
    void matchExpire(qint64 nowNs);
    void drainMatch(qint64 atNs);

    GatewayBus config;
    Settings settings;
    ModuleLink link;
    ModuleCounters count;
    QHash<quint8, Unit> units;

    std::map<quint64, std::deque<Job>> queues; // by client; 0: the gateway's probes
    std::deque<quint64> turns;                 // clients with requests waiting, in turn
    qint64 waiting = 0;

    Line line = Line::Idle;
    Job current;
    bool currentBroadcast = false;
    bool currentForgotten = false; // its client is gone
    quint64 sentGeneration = 0;    // the module's connection it went on
    qint64 sentNs = 0;
    QElapsedTimer clock;
    QTimer answerTimer;
    GapTimer quietTimer;
    QTimer probeTimer;
    QTimer holdTimer;               // every request waiting is for a unit held back
    QHash<quint8, qint64> probeDue; // a unit given up -> when it is probed next (ms)

    // Modbus TCP framing: the transaction ids of our own.
    quint16 transaction = 0;
    quint16 lateTransaction = 0; // timed out: its answer is late until the next request
    QByteArray tcpPending;
    // RTU: the bus engine's matcher.
    struct Match;
    std::unique_ptr<Match> match;
};

#endif // BUSWORKER_H

#ifndef BUSQUEUE_H
#define BUSQUEUE_H

#include "engine/gateway/gatewaycounters.h"
#include "engine/gateway/gatewayrequest.h"

#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <vector>

// A request to carry on a bus, who asked (for the trace: "client 3"), and
// where its answer goes (called once).
struct BusJob {
    GatewayRequest request;
    QString who;
    GatewayAnswer answer;
    int tries = 0;
    // --coalesce: the same read of others, taken while this one was on the
    // bus, answered with it.
    std::vector<GatewayAnswer> alsoAnswer;
};

// The requests waiting for one bus, by client, taken in turns: one request
// of each client that has one waiting, in turn, so that no client's burst
// starves another. Client 0 is the gateway's own probes, not counted in
// the queue's depth nor held to its bound.
class BusQueue
{
public:
    using Jobs = std::map<quint64, std::deque<BusJob>>;

    explicit BusQueue(QueueDepth *depth) : depth(depth) {}

    // Over `limit` the queue takes no more, but a client's first request
    // waiting here is always taken: one client's burst never locks another
    // out. False (and `job` left as it was) when it is not taken.
    bool push(BusJob &job, qint64 limit);
    // Taken before the client's other requests (a read sent again).
    void pushFront(BusJob job);
    // The gateway's own request (a probe), after those waiting.
    void pushProbe(BusJob job);

    // The next request, by turns, skipping a client whose first request is
    // for a unit `heldUntil` holds back (ms, against `nowMs`). False when
    // none may go; `*heldMs` is then when the first held may, or -1.
    bool takeNext(BusJob *job, const std::function<qint64(quint8)> &heldUntil, qint64 nowMs,
                  qint64 *heldMs);
    // A client's requests still waiting are dropped.
    void forget(quint64 client);
    // The clients' requests for `unit` (not the probes), taken out.
    std::vector<BusJob> takeUnit(quint8 unit);
    // Everything waiting, taken out.
    Jobs takeAll();

private:
    void add(BusJob job, bool first);

    Jobs queues;               // by client; 0: the gateway's probes
    std::deque<quint64> turns; // clients with requests waiting, in turn
    qint64 waiting = 0;
    QueueDepth *depth;
};

#endif // BUSQUEUE_H

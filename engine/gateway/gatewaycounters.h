#ifndef GATEWAYCOUNTERS_H
#define GATEWAYCOUNTERS_H

#include "engine/gateway/latency.h"

#include <QJsonObject>
#include <QMap>

// What the gateway counts, per client, per module and per unit of a
// module, kept as plain values and given as JSON: the same object goes to
// stdout on SIGUSR1 and at exit, and to whoever asks for the gateway's
// status.

// Exceptions by their code: {"2": 5, "11": 1}.
struct ExceptionCounts {
    QMap<int, qint64> byCode;
    void add(quint8 code) { ++byCode[code]; }
    qint64 total() const;
    QJsonObject json() const;
};

// A queue's depth now and the most it ever held.
struct QueueDepth {
    qint64 now = 0;
    qint64 high = 0;
    void grow()
    {
        ++now;
        high = qMax(high, now);
    }
    void shrink() { now = qMax<qint64>(0, now - 1); }
    QJsonObject json() const;
};

struct ClientCounters {
    qint64 requests = 0;
    qint64 replies = 0;         // answers that are no exception
    ExceptionCounts exceptions; // every exception it was answered, a device's or the gateway's
    QueueDepth queue;           // its requests taken and not yet answered
    Latency latency;            // from its request in to its answer out
    QJsonObject json() const;
};

// What went on the bus for a module, or for one unit of it.
struct BusCounters {
    qint64 requests = 0;               // taken for it, the gateway's own answers included
    qint64 sent = 0;                   // put on the bus, each try
    qint64 retries = 0;                // reads sent again after a time-out (--retries)
    qint64 broadcasts = 0;             // sent to unit 0, no answer awaited
    qint64 replies = 0;                // the devices' answers in time, their exceptions included
    ExceptionCounts exceptions;        // the devices'
    ExceptionCounts gatewayExceptions; // the gateway's own (1, 6, 10, 11)
    qint64 timeouts = 0;               // sent, and nothing answered in time
    qint64 late = 0;                   // an answer after its time, dropped
    qint64 crcErrors = 0;              // the answer awaited, its CRC wrong
    qint64 wrongReplies = 0; // a frame in the answer's time that does not answer the request
    Latency latency;         // on the bus: from the request sent to its answer in
    QJsonObject json() const;
};

struct ModuleCounters {
    BusCounters bus;
    qint64 strayFrames = 0; // whole frames that answer nothing asked
    qint64 strayBytes = 0;  // bytes that are no frame, or a frame's nobody awaits
    QueueDepth queue;       // requests waiting for the bus
    qint64 probes = 0;      // requests of its own to a unit given up, in the background
    qint64 coalesced = 0;   // reads answered with the same read's answer (--coalesce)
    QJsonObject json() const;
};

#endif // GATEWAYCOUNTERS_H

#ifndef LATENCY_H
#define LATENCY_H

#include <QJsonObject>

#include <array>

// Latencies kept as a histogram, so that a gateway that runs for months
// holds a few kilobytes for each client, module and unit: buckets of 10 us
// below 1 ms, 100 us below 10 ms, 1 ms below 100 ms, 10 ms below 1 s and
// 100 ms below 10 s; longer ones in one last bucket. A percentile is the
// upper edge of the bucket it falls in: at most 10 % above the truth.
class Latency
{
public:
    void add(qint64 us);
    qint64 count() const { return total; }
    // The latency that `percent` of those added did not exceed, in
    // microseconds; -1 when none was added.
    qint64 percentileUs(double percent) const;
    // {"p50": ms, "p99": ms, "max": ms}; nulls when none was added.
    QJsonObject json() const;

private:
    static constexpr int decades = 5; // 10 us .. 10 s
    static constexpr int perDecade = 90;
    static constexpr int buckets = 100 + (decades - 1) * perDecade + 1;
    static int bucketOf(qint64 us);
    static qint64 upperEdgeUs(int bucket);

    std::array<qint64, buckets> counts{};
    qint64 total = 0;
    qint64 maxUs = 0;
};

#endif // LATENCY_H

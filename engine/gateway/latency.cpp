#include "engine/gateway/latency.h"

#include <QJsonValue>

#include <cmath>

// Below 1 ms: 100 buckets of 10 us; then each decade up to 10 s in 90
// buckets of a tenth of its start (1-10 ms in steps of 100 us, ...).
int Latency::bucketOf(qint64 us)
{
    if (us < 1000)
        return int(qMax<qint64>(0, us) / 10);
    qint64 start = 1000;
    for (int decade = 0; decade < decades - 1; ++decade, start *= 10) {
        if (us < start * 10)
            return 100 + decade * perDecade + int((us - start) / (start / 10));
    }
    return buckets - 1;
}

qint64 Latency::upperEdgeUs(int bucket)
{
    if (bucket < 100)
        return qint64(bucket + 1) * 10;
    qint64 start = 1000;
    int first = 100;
    for (int decade = 0; decade < decades - 1; ++decade, start *= 10, first += perDecade) {
        if (bucket < first + perDecade)
            return start + qint64(bucket - first + 1) * (start / 10);
    }
    return -1; // the last bucket: no edge
}

void Latency::add(qint64 us)
{
    ++counts[size_t(bucketOf(us))];
    ++total;
    maxUs = qMax(maxUs, us);
}

qint64 Latency::percentileUs(double percent) const
{
    if (total == 0)
        return -1;
    const qint64 rank = qMax<qint64>(1, qint64(std::ceil(double(total) * percent / 100.0)));
    qint64 seen = 0;
    for (int b = 0; b < buckets; ++b) {
        seen += counts[size_t(b)];
        if (seen >= rank) {
            const qint64 edge = upperEdgeUs(b);
            return edge < 0 ? maxUs : qMin(edge, maxUs);
        }
    }
    return maxUs;
}

QJsonObject Latency::json() const
{
    const auto ms = [](qint64 us) {
        return us < 0 ? QJsonValue() : QJsonValue(double(us) / 1000.0);
    };
    return {{QStringLiteral("p50"), ms(percentileUs(50))},
            {QStringLiteral("p99"), ms(percentileUs(99))},
            {QStringLiteral("max"), ms(total ? maxUs : -1)}};
}

#include "site/latencyprobe.h"

#include <algorithm>

LatencyProbe::LatencyProbe(QObject *parent) : QObject(parent)
{
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(intervalMs);
    connect(&timer, &QTimer::timeout, this, &LatencyProbe::tick);
}

bool LatencyProbe::wanted()
{
    return !qEnvironmentVariableIsEmpty("ORDAN_SITE_LATENCY");
}

void LatencyProbe::start()
{
    lateness.clear();
    clock.start();
    last = 0;
    timer.start();
}

void LatencyProbe::tick()
{
    const qint64 now = clock.nsecsElapsed();
    lateness << qMax<qint64>(0, now - last - qint64(intervalMs) * 1000000);
    last = now;
}

QString LatencyProbe::stop()
{
    timer.stop();
    QVector<qint64> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&sorted](double share) {
        if (sorted.isEmpty())
            return 0.0;
        const int i = qBound(0, qRound(share * sorted.size()) - 1, sorted.size() - 1);
        return sorted.at(i) / 1e6;
    };
    return QStringLiteral("event loop latency: p50 %1 ms, p90 %2 ms, p99 %3 ms, max %4 ms "
                          "(%5 samples over %6 s)")
        .arg(at(0.5), 0, 'f', 2)
        .arg(at(0.9), 0, 'f', 2)
        .arg(at(0.99), 0, 'f', 2)
        .arg(at(1.0), 0, 'f', 2)
        .arg(sorted.size())
        .arg(clock.elapsed() / 1000.0, 0, 'f', 2);
}

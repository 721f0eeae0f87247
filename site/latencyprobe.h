#ifndef LATENCYPROBE_H
#define LATENCYPROBE_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

// How late the event loop serves a timer of 10 ms while a run goes on: the
// window's answer time to a click or a repaint. Started when the
// environment variable ORDAN_SITE_LATENCY is set; the percentiles go to
// stderr when the run ends.
class LatencyProbe : public QObject
{
    Q_OBJECT

public:
    static constexpr int intervalMs = 10;

    explicit LatencyProbe(QObject *parent = nullptr);
    static bool wanted();

    void start();
    // Stops and tells the percentiles: "event loop latency: p50 0.1 ms, ...".
    QString stop();

private:
    void tick();

    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    QVector<qint64> lateness; // nanoseconds
};

#endif // LATENCYPROBE_H

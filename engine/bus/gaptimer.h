#ifndef GAPTIMER_H
#define GAPTIMER_H

#include <QObject>
#include <QTimer>

#include <memory>

class QSocketNotifier;

// A one-shot timer to the microsecond, for the quiet that ends a frame on a
// serial line (2,006 us at 19200 8E1): a timerfd on Linux; elsewhere a
// precise QTimer, to the millisecond rounded up. start() again before it
// fired starts it afresh; a time-out that fell due meanwhile is not
// delivered.
class GapTimer : public QObject
{
    Q_OBJECT

public:
    explicit GapTimer(QObject *parent = nullptr);
    ~GapTimer() override;
    GapTimer(const GapTimer &) = delete;
    GapTimer &operator=(const GapTimer &) = delete;

    void start(int us);
    void stop();
    bool isActive() const { return active; }

signals:
    void timeout();

private:
    void onExpired();

    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer fallback;
    bool active = false;
};

#endif // GAPTIMER_H

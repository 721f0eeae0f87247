#include "engine/bus/gaptimer.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

GapTimer::GapTimer(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_LINUX
    fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0) {
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this, &GapTimer::onExpired);
        return;
    }
#endif
    fallback.setSingleShot(true);
    fallback.setTimerType(Qt::PreciseTimer);
    connect(&fallback, &QTimer::timeout, this, &GapTimer::onExpired);
}

GapTimer::~GapTimer()
{
    notifier.reset();
#ifdef Q_OS_LINUX
    if (fd >= 0)
        ::close(fd);
#endif
}

void GapTimer::start(int us)
{
    active = true;
#ifdef Q_OS_LINUX
    if (fd >= 0) {
        // Setting the timer also drops an expiry not yet read.
        itimerspec when = {};
        when.it_value.tv_sec = qMax(us, 1) / 1000000;
        when.it_value.tv_nsec = long(qMax(us, 1) % 1000000) * 1000;
        // Fails only for a bad descriptor or time, and neither can be here.
        (void)::timerfd_settime(fd, 0, &when, nullptr);
        return;
    }
#endif
    fallback.start((qMax(us, 1) + 999) / 1000);
}

void GapTimer::stop()
{
    active = false;
#ifdef Q_OS_LINUX
    if (fd >= 0) {
        const itimerspec never = {};
        (void)::timerfd_settime(fd, 0, &never, nullptr); // as in start()
        return;
    }
#endif
    fallback.stop();
}

void GapTimer::onExpired()
{
#ifdef Q_OS_LINUX
    if (fd >= 0) {
        std::uint64_t expiries = 0;
        // Nothing to read: started again or stopped since it fell due.
        if (::read(fd, &expiries, sizeof expiries) != ssize_t(sizeof expiries) || expiries == 0)
            return;
    }
#endif
    if (!active)
        return;
    active = false;
    emit timeout();
}

#include "engine/gateway/servicenotify.h"

#if defined(Q_OS_LINUX) && defined(ORDAN_HAVE_LIBSYSTEMD)
#include <systemd/sd-daemon.h>
#define ORDAN_SD_NOTIFY 1
#endif

ServiceNotify::ServiceNotify(QObject *parent) : QObject(parent)
{
#ifdef ORDAN_SD_NOTIFY
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        // Twice in each of its periods: one late turn of the loop is no
        // reason to be killed.
        watchdogEveryMs = int(qBound<uint64_t>(1, usec / 2000, uint64_t(3600) * 1000));
        watchdog.setTimerType(Qt::CoarseTimer);
        connect(&watchdog, &QTimer::timeout, this, [this] { send(QStringLiteral("WATCHDOG=1")); });
        watchdog.start(watchdogEveryMs);
    }
#endif
}

bool ServiceNotify::built()
{
#ifdef ORDAN_SD_NOTIFY
    return true;
#else
    return false;
#endif
}

void ServiceNotify::send(const QString &state)
{
#ifdef ORDAN_SD_NOTIFY
    // Outside a service (no NOTIFY_SOCKET) it does nothing.
    (void)sd_notify(0, state.toUtf8().constData());
#else
    Q_UNUSED(state);
#endif
}

void ServiceNotify::ready(const QString &status)
{
    send(QStringLiteral("READY=1\nSTATUS=") + status);
}

void ServiceNotify::reloading()
{
    send(QStringLiteral("RELOADING=1"));
}

void ServiceNotify::stopping()
{
    send(QStringLiteral("STOPPING=1"));
}

void ServiceNotify::status(const QString &text)
{
    send(QStringLiteral("STATUS=") + text);
}

#ifndef SERVICENOTIFY_H
#define SERVICENOTIFY_H

#include <QObject>
#include <QString>
#include <QTimer>

// What the gateway tells systemd when it runs as a service of Type=notify
// (libsystemd's sd_notify, on Linux when built with it; elsewhere, and
// outside a service, nothing is sent):
//
// - READY=1 once it listens, with its STATUS= line;
// - RELOADING=1 while it reads its plan again, READY=1 after;
// - STOPPING=1 as it stops;
// - WATCHDOG=1 from the event loop at half the service's WatchdogSec=
//   (WATCHDOG_USEC), so a gateway whose loop is stuck is restarted.
class ServiceNotify : public QObject
{
    Q_OBJECT

public:
    explicit ServiceNotify(QObject *parent = nullptr);

    // Whether this build can tell systemd anything.
    static bool built();

    void ready(const QString &status);
    void reloading();
    void stopping();
    void status(const QString &text);
    // The watchdog's interval, 0 when systemd asks for none.
    int watchdogMs() const { return watchdogEveryMs; }

private:
    void send(const QString &state);

    QTimer watchdog;
    int watchdogEveryMs = 0;
};

#endif // SERVICENOTIFY_H

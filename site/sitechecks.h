#ifndef SITECHECKS_H
#define SITECHECKS_H

#include <QHash>
#include <QList>
#include <QObject>
#include <QVector>

class BusScan;
class PlanRows;
class QAction;
class QPushButton;
class QWidget;
class ReachCheck;
class RunStates;
struct BusScanSettings;

// The checks of a site that need no module on a serial port: each fills a
// column of the plan's table of its own. "Check network" tries every row's
// address and TCP port (the network column). "Check bus" asks the devices
// of every row's bus_ids through its module's address and TCP port (the bus
// column), a few modules at a time, each module's bus one request at a
// time. isBusy() while either goes on.
class SiteChecks : public QObject
{
    Q_OBJECT

public:
    // Modules whose buses are asked at the same time.
    static constexpr int busChecksAtOnce = 8;

    SiteChecks(const PlanRows *rows, RunStates *states, QWidget *parent);
    ~SiteChecks() override;

    QAction *networkAction() const { return network; }
    QPushButton *networkButton() const { return button; }
    QAction *busAction() const { return bus; }
    QPushButton *busButton() const { return busPush; }
    // Enabled while no run goes on (a check needs no module on a serial
    // port, nor a sound plan).
    void setAvailable(bool available);

    // Tries every row's address and TCP port on the network (the base
    // values where a cell is empty), all at once; nothing is sent to a
    // module.
    void checkNetwork();
    // Asks the devices of every row's bus_ids at the row's address and TCP
    // port (the base values where a cell is empty): "read holding
    // registers 0, count 1", nothing written.
    void checkBus();
    void stop();
    bool isBusy() const { return networkCheck != nullptr || !busScans.isEmpty(); }
    // The check going on, in words ("The bus check is going on"); empty
    // when none.
    QString busyText() const;

signals:
    // A check began or ended.
    void busyChanged(bool busy);
    // The check's column is to be shown.
    void columnWanted(int column);
    void message(const QString &text, int timeoutMs);
    void networkChecked();
    void busChecked();

private:
    struct BusRow {
        int tableRow = -1;
        QList<int> units;
        QString ip;
        QString tcpPort;
        int packetTimeoutMs = 0;
    };
    void updateTips(bool available);
    void startBusScans();
    void onBusScanFinished(BusScan *scan);
    void showBusProgress();
    void endBusCheck(bool wasBusy);

    const PlanRows *rows;
    RunStates *states;
    QAction *network = nullptr;
    QPushButton *button = nullptr;
    QAction *bus = nullptr;
    QPushButton *busPush = nullptr;
    bool available = true;
    ReachCheck *networkCheck = nullptr; // the network check going on, if any
    QVector<int> networkRowOf;          // its target -> table row
    QList<BusRow> busWaiting;           // rows of the bus check not begun
    QHash<BusScan *, int> busScans;     // the scans going on -> table row
    int busTotal = 0;
    int busDone = 0;
    int busComplete = 0; // rows whose every device answered
};

#endif // SITECHECKS_H

#ifndef SITECHECKS_H
#define SITECHECKS_H

#include <QObject>
#include <QVector>

class PlanModel;
class QAction;
class QPushButton;
class QWidget;
class ReachCheck;

// The checks of a site that need no module on a serial port: each fills a
// column of the plan's table of its own. "Check network" tries every row's
// address and TCP port (the network column). A further check (the bus
// behind each module) comes beside it here: its action, its button, its
// column, and isBusy() while it goes on.
class SiteChecks : public QObject
{
    Q_OBJECT

public:
    SiteChecks(PlanModel *model, QWidget *parent);

    QAction *networkAction() const { return network; }
    QPushButton *networkButton() const { return button; }
    // Enabled while no run goes on (a check needs no module on a serial
    // port, nor a sound plan).
    void setAvailable(bool available);

    // Tries every row's address and TCP port on the network (the base
    // values where a cell is empty), all at once; nothing is sent to a
    // module.
    void checkNetwork();
    void stop();
    bool isBusy() const { return networkCheck != nullptr; }

signals:
    // A check began or ended.
    void busyChanged(bool busy);
    // The check's column is to be shown.
    void columnWanted(int column);
    void message(const QString &text, int timeoutMs);
    void networkChecked();

private:
    PlanModel *model;
    QAction *network = nullptr;
    QPushButton *button = nullptr;
    ReachCheck *networkCheck = nullptr; // the network check going on, if any
    QVector<int> networkRowOf;          // its target -> table row
};

#endif // SITECHECKS_H

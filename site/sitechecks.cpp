#include "site/sitechecks.h"

#include "engine/bus/busscan.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/writejob.h"
#include "engine/link/hostport.h"
#include "engine/reach/reachcheck.h"
#include "site/plancolumns.h"
#include "site/planrows.h"
#include "site/runstates.h"

#include <QAction>
#include <QPushButton>

SiteChecks::SiteChecks(const PlanRows *rows, RunStates *states, QWidget *parent)
    : QObject(parent), rows(rows), states(states)
{
    network = new QAction(tr("Check &network"), parent);
    network->setObjectName(QStringLiteral("networkAction"));
    network->setShortcut(QKeySequence(QStringLiteral("F7")));
    connect(network, &QAction::triggered, this, &SiteChecks::checkNetwork);
    button = new QPushButton(tr("Check network"), parent);
    button->setObjectName(QStringLiteral("networkButton"));
    connect(button, &QPushButton::clicked, this, &SiteChecks::checkNetwork);
    bus = new QAction(tr("Check &bus"), parent);
    bus->setObjectName(QStringLiteral("busAction"));
    bus->setShortcut(QKeySequence(QStringLiteral("F9")));
    connect(bus, &QAction::triggered, this, &SiteChecks::checkBus);
    busPush = new QPushButton(tr("Check bus"), parent);
    busPush->setObjectName(QStringLiteral("busButton"));
    connect(busPush, &QPushButton::clicked, this, &SiteChecks::checkBus);
    setAvailable(true);
}

SiteChecks::~SiteChecks()
{
    // The scans still going end here, their connections closed.
    busWaiting.clear();
    const QList<BusScan *> scans = busScans.keys();
    busScans.clear();
    qDeleteAll(scans);
}

void SiteChecks::setAvailable(bool on)
{
    available = on;
    for (QAction *a : {network, bus})
        a->setEnabled(available && !isBusy());
    for (QPushButton *b : {button, busPush})
        b->setEnabled(available && !isBusy());
    updateTips(available);
}

void SiteChecks::updateTips(bool on)
{
    const QString busy = busyText();
    button->setToolTip(!busy.isEmpty() ? busy
                       : on ? tr("Tries every row's address and TCP port on the network, "
                                 "sending nothing (F7)")
                            : tr("A run is going on"));
    busPush->setToolTip(!busy.isEmpty() ? busy
                        : on ? tr("Asks the devices of every row's bus_ids through its module's "
                                  "address and TCP port, reading one register each; writes "
                                  "nothing (F9)")
                             : tr("A run is going on"));
}

QString SiteChecks::busyText() const
{
    if (networkCheck)
        return tr("The network check is going on");
    if (!busScans.isEmpty())
        return tr("The bus check is going on");
    return QString();
}

void SiteChecks::checkNetwork()
{
    if (isBusy() || !button->isEnabled())
        return;
    networkCheck = new ReachCheck(this);
    networkRowOf.clear();
    const commissionplan::Plan &plan = rows->checked().plan();
    for (int i = 0; i < plan.rows.size(); ++i) {
        const commissionplan::Row &row = plan.rows.at(i);
        const int tableRow = rows->checked().tableRows().value(i, -1);
        HostPort target;
        QString problem;
        if (HostPort::parse(row.values.value(ModuleField::Ip),
                            row.values.value(ModuleField::PortTcp), HostPort::Hosts::Ipv4Only,
                            &target, &problem)) {
            networkCheck->addTarget(target.address, target.port);
            networkRowOf << tableRow;
            states->setNetwork(tableRow, tr("checking…"), false);
        } else {
            states->setNetwork(tableRow, tr("no address and TCP port"), false);
        }
    }
    emit columnWanted(PlanColumns::NetworkColumn);
    connect(networkCheck, &ReachCheck::targetFinished, this, [this](int index) {
        const ReachCheck::Result result = networkCheck->result(index);
        states->setNetwork(networkRowOf.value(index, -1), ReachCheck::describe(result),
                           result.outcome == ReachCheck::Outcome::Reachable);
    });
    connect(networkCheck, &ReachCheck::finished, this, [this] {
        int reachable = 0;
        for (int i = 0; i < networkCheck->count(); ++i)
            reachable += networkCheck->result(i).outcome == ReachCheck::Outcome::Reachable;
        emit message(
            tr("Network checked: %1 of %2 reachable").arg(reachable).arg(networkCheck->count()), 0);
        networkCheck->deleteLater();
        networkCheck = nullptr;
        setAvailable(available);
        emit busyChanged(false);
        emit networkChecked();
    });
    setAvailable(available);
    emit busyChanged(true);
    emit message(tr("Checking the network…"), 0);
    networkCheck->start();
}

void SiteChecks::checkBus()
{
    if (isBusy() || !busPush->isEnabled())
        return;
    busWaiting.clear();
    busTotal = busDone = busComplete = 0;
    const commissionplan::Plan &plan = rows->checked().plan();
    for (int i = 0; i < plan.rows.size(); ++i) {
        const commissionplan::Row &row = plan.rows.at(i);
        const int tableRow = rows->checked().tableRows().value(i, -1);
        if (row.busIds.isEmpty()) {
            states->setBus(tableRow, QString(), false);
            continue;
        }
        BusRow r;
        r.tableRow = tableRow;
        r.units = row.busIds;
        r.ip = row.values.value(ModuleField::Ip);
        r.tcpPort = row.values.value(ModuleField::PortTcp);
        r.packetTimeoutMs = row.values.value(ModuleField::Timewait).toInt();
        busWaiting << r;
        states->setBus(tableRow, tr("checking…"), false);
    }
    emit columnWanted(PlanColumns::BusColumn);
    busTotal = busWaiting.size();
    if (busWaiting.isEmpty()) {
        emit message(tr("No row names bus_ids: there is no bus to check"), 5000);
        return;
    }
    startBusScans();
    if (busScans.isEmpty()) {
        endBusCheck(false); // no row had an address to ask at
        return;
    }
    setAvailable(available);
    emit busyChanged(true);
    showBusProgress();
}

void SiteChecks::startBusScans()
{
    while (!busWaiting.isEmpty() && busScans.size() < busChecksAtOnce) {
        const BusRow r = busWaiting.takeFirst();
        HostPort target;
        QString problem;
        if (!HostPort::parse(r.ip, r.tcpPort, HostPort::Hosts::Ipv4Only, &target, &problem)) {
            states->setBus(r.tableRow, tr("no address and TCP port"), false);
            ++busDone;
            continue;
        }
        BusScanSettings settings = BusScanSettings::forUnits(target.address, target.port, r.units);
        // Beyond the module's packet time-out, after which it sends what
        // the bus said (as a run's check after the read-back waits).
        if (r.packetTimeoutMs > 0)
            settings.answerTimeoutMs = r.packetTimeoutMs + WriteJob::busAnswerMarginMs;
        else
            settings.answerTimeoutMs += WriteJob::busAnswerMarginMs;
        auto *scan = new BusScan(settings, this);
        busScans.insert(scan, r.tableRow);
        connect(scan, &BusScan::progress, this, [this, scan](int, int, int unit, int) {
            states->setBus(busScans.value(scan, -1), tr("asking unit %1…").arg(unit), false);
        });
        connect(scan, &BusScan::finished, this, [this, scan] { onBusScanFinished(scan); });
        scan->start();
    }
}

void SiteChecks::onBusScanFinished(BusScan *scan)
{
    const int row = busScans.take(scan);
    const BusReport &report = scan->report();
    const bool complete = report.exitCode() == 0;
    states->setBus(row, report.outcomeWords(true), complete);
    ++busDone;
    busComplete += complete ? 1 : 0;
    scan->deleteLater();
    startBusScans();
    if (!busScans.isEmpty()) {
        showBusProgress();
        return;
    }
    endBusCheck(true);
}

void SiteChecks::endBusCheck(bool wasBusy)
{
    emit message(
        tr("Bus checked: every device answers in %1 of %2 rows").arg(busComplete).arg(busTotal), 0);
    setAvailable(available);
    if (wasBusy)
        emit busyChanged(false);
    emit busChecked();
}

void SiteChecks::showBusProgress()
{
    emit message(tr("Checking the bus: %1 of %2 rows done…").arg(busDone).arg(busTotal), 0);
}

void SiteChecks::stop()
{
    if (networkCheck)
        networkCheck->stop();
    busWaiting.clear();
    for (BusScan *scan : busScans.keys())
        scan->stop();
}

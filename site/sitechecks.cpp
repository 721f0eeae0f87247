#include "site/sitechecks.h"

#include "engine/net/hostport.h"
#include "engine/net/reachcheck.h"
#include "site/planmodel.h"

#include <QAction>
#include <QPushButton>

SiteChecks::SiteChecks(PlanModel *model, QWidget *parent) : QObject(parent), model(model)
{
    network = new QAction(tr("Check &network"), parent);
    network->setObjectName(QStringLiteral("networkAction"));
    network->setShortcut(QKeySequence(QStringLiteral("F7")));
    connect(network, &QAction::triggered, this, &SiteChecks::checkNetwork);
    button = new QPushButton(tr("Check network"), parent);
    button->setObjectName(QStringLiteral("networkButton"));
    connect(button, &QPushButton::clicked, this, &SiteChecks::checkNetwork);
    setAvailable(true);
}

void SiteChecks::setAvailable(bool available)
{
    network->setEnabled(available && !isBusy());
    button->setEnabled(available && !isBusy());
    button->setToolTip(isBusy() ? tr("The network check is going on")
                       : available
                           ? tr("Tries every row's address and TCP port on the network, sending "
                                "nothing (F7)")
                           : tr("A run is going on"));
}

void SiteChecks::checkNetwork()
{
    if (networkCheck || !button->isEnabled())
        return;
    networkCheck = new ReachCheck(this);
    networkRowOf.clear();
    const commissionplan::Plan &plan = model->checkedPlan();
    for (int i = 0; i < plan.rows.size(); ++i) {
        const commissionplan::Row &row = plan.rows.at(i);
        const int tableRow = model->checkedTableRows().value(i, -1);
        HostPort target;
        QString problem;
        if (HostPort::parse(row.values.value(ModuleField::Ip),
                            row.values.value(ModuleField::PortTcp), HostPort::Hosts::Ipv4Only,
                            &target, &problem)) {
            networkCheck->addTarget(target.address, target.port);
            networkRowOf << tableRow;
            model->setNetwork(tableRow, tr("checking…"), false);
        } else {
            model->setNetwork(tableRow, tr("no address and TCP port"), false);
        }
    }
    emit columnWanted(PlanModel::NetworkColumn);
    connect(networkCheck, &ReachCheck::targetFinished, this, [this](int index) {
        const ReachCheck::Result result = networkCheck->result(index);
        model->setNetwork(networkRowOf.value(index, -1), ReachCheck::describe(result),
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
        emit busyChanged(false);
        emit networkChecked();
    });
    emit busyChanged(true);
    emit message(tr("Checking the network…"), 0);
    networkCheck->start();
}

void SiteChecks::stop()
{
    if (networkCheck)
        networkCheck->stop();
}

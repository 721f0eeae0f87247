#include "site/siterun.h"

#include "engine/commission/commissionrun.h"
#include "engine/commission/recordpath.h"
#include "engine/commission/registerdesk.h"
#include "engine/commission/runsummary.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/rowwording.h"
#include "engine/jobs/writejob.h"
#include "engine/platform/textsafety.h"
#include "engine/reach/reachcheck.h"
#include "engine/register/siteregister.h"
#include "site/latencyprobe.h"
#include "site/planmodel.h"
#include "site/planrows.h"
#include "site/rowstage.h"
#include "site/runregister.h"
#include "site/runstates.h"

#include <QFileInfo>
#include <QPointer>

#include <cstdio>

SiteRun::SiteRun(PlanModel *model, QObject *parent)
    : QObject(parent), model(model), reg(new RunRegister(model->plan(), this))
{
    if (LatencyProbe::wanted())
        latency = std::make_unique<LatencyProbe>();
}

SiteRun::~SiteRun()
{
    // A run still going ends here: its ports are closed.
    delete run;
}

bool SiteRun::start(Mode mode, const QString &record, const JobSettings &settings,
                    const QList<int> &only)
{
    refused.clear();
    refusedCode = int(JobResult::Invalid);
    if (isRunning())
        return false;
    const CheckedPlan &checked = model->plan()->checked();
    if (checked.problemCount() > 0) {
        refused = checked.problemLines();
        emit message(
            tr("The plan has %n problem(s): nothing was started", "", checked.problemCount()), 0);
        return false;
    }
    // Judged without making the file: a run refused makes none.
    QString error;
    if (!recordpath::checkAppendable(record, commissionrecord::kind(), &error)) {
        refused << tr("Cannot append to the record %1: %2").arg(record, error);
        emit message(refused.first(), 0);
        return false;
    }
    const commissionplan::Plan &plan = checked.plan();
    QList<commissionplan::Row> rows;
    QVector<int> tableRows;
    for (int i = 0; i < plan.rows.size(); ++i) {
        const int tableRow = checked.tableRows().value(i, -1);
        if (only.isEmpty() || only.contains(tableRow)) {
            rows << plan.rows.at(i);
            tableRows << tableRow;
            // A replacement writes the old module's values.
            if (!replacing.isEmpty())
                rows.last().values = replacementValues;
        }
    }
    if (rows.isEmpty())
        return false;
    auto *commission = new CommissionRun(rows, settings, this);
    // One run per port: another run (a second window, a script) holding a
    // port means nothing is started.
    if (!commission->claimPorts(&error)) {
        delete commission;
        refused << error;
        refusedCode = int(JobResult::PortUnavailable);
        emit message(tr("Nothing was started: %1").arg(error), 0);
        return false;
    }
    // A record that is there already must open for appending.
    if (QFileInfo::exists(record) &&
        !recordpath::checkWritable(record, commissionrecord::kind(), &error)) {
        delete commission;
        refused << tr("Cannot append to the record %1: %2").arg(record, error);
        emit message(refused.first(), 0);
        return false;
    }
    run = commission;
    runMode = mode;
    tableRowOf = tableRows;
    goAll = only.isEmpty();
    goRecord = record;
    lastExit = -1;
    waitingPorts.clear();
    ended.clear();
    lastSummary.clear();
    if (!openRegister(record)) {
        dropRun();
        emit message(tr("Nothing was started: %1").arg(refused.value(0)), 0);
        return false;
    }
    // The window's answer time from here on, the register's opening too.
    if (latency)
        latency->start();
    emit started();
    if (!opening)
        go();
    return true;
}

void SiteRun::go()
{
    opening = false;
    CommissionRun *commission = run;
    RunStates *states = model->states();
    commission->setAuditOnly(runMode == Mode::Audit);
    commission->setRecord(goRecord);
    connect(commission, &CommissionRun::rowSettled, this, [this, states](int index) {
        const int row = tableRowOf.value(index, -1);
        const RowOutcome outcome = run->outcome(index);
        states->setProgress(row, finishedProgress(outcome));
        states->setResult(row, RowWording::detail(outcome));
        emit progressed();
    });
    connect(commission, &CommissionRun::rowHeldElsewhere, this,
            [this, states](int index, const QString &words) {
                RowProgress held;
                held.stage = RowStage::HeldElsewhere;
                held.item = words;
                states->setProgress(tableRowOf.value(index, -1), held);
            });
    connect(commission, &CommissionRun::rowStage, this, &SiteRun::onRowStage);
    connect(commission, &CommissionRun::rowFinished, this, &SiteRun::onRowFinished);
    connect(commission, &CommissionRun::swapNeeded, this, &SiteRun::onSwapNeeded);
    connect(commission, &CommissionRun::rowIdentified, this,
            [this, states](int index, const QString &mac) {
                states->setMac(tableRowOf.value(index, -1), mac);
            });
    connect(commission, &CommissionRun::rowReaching, this, [this, states](int index) {
        RowProgress reaching;
        reaching.stage = RowStage::Reaching;
        states->setProgress(tableRowOf.value(index, -1), reaching);
    });
    connect(commission, &CommissionRun::rowCheckingBus, this, [this, states](int index) {
        RowProgress checking;
        checking.stage = RowStage::CheckingBus;
        states->setProgress(tableRowOf.value(index, -1), checking);
    });
    connect(commission, &CommissionRun::moduleAlreadyDone, this, &SiteRun::onModuleAlreadyDone);
    connect(commission, &CommissionRun::finished, this, &SiteRun::onFinished);

    // The rows of this run start afresh; a row run again alone leaves the
    // others as they ended.
    if (goAll)
        states->clear();
    RowProgress waiting;
    waiting.stage = RowStage::Waiting;
    for (const int row : qAsConst(tableRowOf)) {
        states->clear(row);
        states->setProgress(row, waiting);
    }
    const int rows = int(tableRowOf.size());
    emit message(runMode == Mode::Audit ? tr("Checking %n module(s)…", "", rows)
                                        : tr("Commissioning %n module(s)…", "", rows),
                 0);
    emit rowWanted(tableRowOf.value(0));
    emit progressed();
    commission->start();
}

void SiteRun::dropRun()
{
    // Nothing was sent: the ports are let go with the run, the register
    // without waiting for it.
    delete run;
    run = nullptr;
    opening = false;
    reg->close();
    replacing.clear();
}

void SiteRun::reportLatency()
{
    if (latency)
        std::fprintf(stderr, "ordan-site: %s\n", qPrintable(latency->stop()));
}

void SiteRun::stop()
{
    if (!run)
        return;
    if (opening) {
        // Nothing sent yet: the run ends here, as interrupted.
        dropRun();
        lastExit = int(JobResult::Interrupted);
        ended = tr("Stopped before anything was sent");
        reportLatency();
        emit message(ended, 0);
        emit finished(lastExit);
        return;
    }
    emit message(tr("Stopping…"), 0);
    run->interrupt();
}

void SiteRun::onRowStage(int index, JobStage stage, int step, int steps, const QString &what)
{
    model->states()->setProgress(tableRowOf.value(index, -1),
                                 rowProgress(stage, step, steps, what));
    if (waitingPorts.remove(index) > 0)
        showWaiting();
}

void SiteRun::onRowFinished(int index)
{
    const int row = tableRowOf.value(index, -1);
    if (!run->job(index))
        return;
    const RowOutcome outcome = run->outcome(index);
    RunStates *states = model->states();
    states->setMac(row, outcome.result().identity.value(ModuleField::Mac));
    states->setProgress(row, finishedProgress(outcome));
    QHash<int, QString> cells;
    for (const RowOutcome::Difference &d : outcome.result().differences)
        cells.insert(PlanColumns::columnOf(d.field), d.read);
    states->setDifferences(row, cells);
    states->setResult(row, RowWording::detail(outcome));
    if (outcome.result().reachChecked)
        states->setNetwork(row, ReachCheck::describe(outcome.result().reach),
                           outcome.result().reach.outcome == ReachCheck::Outcome::Reachable);
    if (outcome.result().busChecked)
        states->setBus(row, RowWording::busDetail(outcome), outcome.result().bus.exitCode() == 0);
    emit progressed();
}

void SiteRun::onSwapNeeded(int index)
{
    const int row = tableRowOf.value(index, -1);
    RowProgress next;
    next.stage = RowStage::NextModule;
    next.firstModule = run->isFirstOnPort(index);
    model->states()->setProgress(row, next);
    emit rowWanted(row);
    waitingPorts.insert(index, row);
    showWaiting();
}

void SiteRun::onModuleAlreadyDone(int index, const QString &mac, int doneRow)
{
    const int row = tableRowOf.value(index, -1);
    RowProgress next = model->states()->progress(row);
    if (next.stage != RowStage::NextModule)
        return;
    next.note = tr("This module, %1, was done in row %2: connect the next one")
                    .arg(textsafety::escapeControls(mac))
                    .arg(doneRow);
    model->states()->setProgress(row, next);
    showWaiting();
}

QString SiteRun::waitingLine() const
{
    if (waitingPorts.size() == 1)
        return tr("%1 (row %2)")
            .arg(model->nextModulePrompt(waitingPorts.first()))
            .arg(PlanModel::fileRow(waitingPorts.first()));
    // Several ports: each named once, short enough for a laptop's status
    // bar; what each says of its own is in its row.
    QStringList ports;
    for (auto it = waitingPorts.cbegin(); it != waitingPorts.cend(); ++it)
        ports << tr("%1 (row %2)")
                     .arg(model->portLabel(it.value()))
                     .arg(PlanModel::fileRow(it.value()));
    return ports.isEmpty()
               ? QString()
               : tr("Connect a module to each: %1").arg(ports.join(QLatin1String(", ")));
}

void SiteRun::showWaiting()
{
    emit message(waitingLine(), 0);
}

QString SiteRun::progressLine() const
{
    if (!run)
        return ended;
    if (opening)
        return tr("Opening the register %1…").arg(reg->shown());
    int done = 0, verified = 0, failed = 0;
    for (const int row : qAsConst(tableRowOf)) {
        const RowStage stage = model->states()->progress(row).stage;
        if (!isFinal(stage))
            continue;
        ++done;
        if (stage == RowStage::Verified || stage == RowStage::Matches ||
            stage == RowStage::DoneElsewhere)
            ++verified;
        else
            ++failed;
    }
    return (runMode == Mode::Audit ? tr("Checking: %1 of %2 rows done, %3 match, %4 not")
                                   : tr("Running: %1 of %2 rows done, %3 verified, %4 failed"))
        .arg(done)
        .arg(tableRowOf.size())
        .arg(verified)
        .arg(failed);
}

bool SiteRun::canRunAgain(int row) const
{
    if (run || row < 0 || row >= model->rowCount())
        return false;
    switch (model->states()->progress(row).stage) {
    case RowStage::Differs:
    case RowStage::Failed:
    case RowStage::Interrupted:
    case RowStage::NotReached:
    case RowStage::ChangedSinceVerified:
        return true;
    default:
        return false;
    }
}

void SiteRun::onFinished()
{
    int verified = 0, failed = 0, notReached = 0;
    for (int i = 0; i < run->rowCount(); ++i) {
        const int row = tableRowOf.value(i, -1);
        const RowOutcome outcome = run->outcome(i);
        if (outcome.status == RowOutcome::Status::AlreadyDone || outcome.isSuccess()) {
            ++verified; // done here, or by a run before
        } else if (outcome.status == RowOutcome::Status::NotReached) {
            model->states()->setProgress(row, finishedProgress(outcome));
            model->states()->setResult(row, RowWording::detail(outcome));
            ++notReached;
        } else {
            ++failed;
        }
    }
    lastExit = run->exitCode();
    lastSummary = runsummary::table(*run);
    reportLatency();
    // The outcome stays beside the buttons until the plan changes.
    ended =
        (runMode == Mode::Audit ? tr("Check ended: %1 match, %2 differ or failed, %3 not reached")
                                : tr("Run ended: %1 verified, %2 failed, %3 not reached"))
            .arg(verified)
            .arg(failed)
            .arg(notReached);
    waitingPorts.clear();
    emit message(ended, 0);
    run->deleteLater();
    run = nullptr;
    reg->close();
    replacing.clear();
    emit finished(lastExit);
}

bool SiteRun::openRegister(const QString &record)
{
    QString error;
    const QPointer<SiteRun> self(this);
    const RunRegister::Start start = reg->open(
        record, replacing,
        [self](bool opened, const QString &why) {
            if (self)
                self->registerOpened(opened, why);
        },
        &error);
    if (start == RunRegister::Start::Refused) {
        refused << tr("The register cannot be used: %1").arg(error);
        return false;
    }
    opening = start == RunRegister::Start::Opening;
    return true;
}

void SiteRun::registerOpened(bool opened, const QString &error)
{
    if (!opening)
        return;
    if (!opened) {
        refused << error;
        refusedCode = int(JobResult::RegisterFailed);
        dropRun();
        reportLatency();
        emit message(tr("Nothing was started: %1").arg(error), 0);
        emit startRefused();
        return;
    }
    run->setRegister(reg->desk());
    run->setReplaces(replacing);
    go();
}

bool SiteRun::startReplacement(int row, const siteregister::ModuleEntry &old, const QString &record,
                               const JobSettings &settings)
{
    replacing = old.mac;
    replacementValues = siteregister::replacementValues(old);
    if (start(Mode::Commission, record, settings, {row}))
        return true;
    replacing.clear();
    return false;
}

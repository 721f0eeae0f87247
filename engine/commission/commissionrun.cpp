#include "engine/commission/commissionrun.h"

#include "engine/commission/commissionclaims.h"
#include "engine/commission/commissionrecord.h"
#include "engine/commission/registeradapter.h"
#include "engine/commission/registerdesk.h"
#include "engine/console/portcatalog.h"

#include <QPointer>

CommissionRun::CommissionRun(const QList<commissionplan::Row> &planRows,
                             const JobSettings &settings, QObject *parent)
    : QObject(parent), settings(settings)
{
    QHash<QString, Lane *> byKey;
    for (const commissionplan::Row &planRow : planRows) {
        rows.emplace_back();
        rows.back().plan = planRow;
        // Two spellings of one device (a by-id alias and /dev/ttyUSB0) are
        // one port: their rows must not run at the same time.
        const QString key = PortCatalog::devicePath(planRow.port);
        Lane *lane = byKey.value(key);
        if (!lane) {
            lanes.push_back(std::make_unique<Lane>());
            lane = lanes.back().get();
            byKey.insert(key, lane);
            lane->pollTimer.setSingleShot(true);
            lane->pollTimer.setInterval(swapPollMs);
            lane->swapTimer.setSingleShot(true);
            connect(&lane->pollTimer, &QTimer::timeout, this, [this, lane] { poll(lane); });
            connect(&lane->swapTimer, &QTimer::timeout, this, [this, lane] {
                endLane(lane, {RowOutcome::NotBegun::Why::NoNewModule, swapTimeoutMs, QString()});
            });
            lane->id = int(lanes.size() - 1);
        }
        lane->rows << int(rows.size() - 1);
    }
}

CommissionRun::~CommissionRun()
{
    for (const auto &lane : lanes) {
        if (lane->probe)
            lane->probe->cancel();
    }
}

bool CommissionRun::claimPorts(QString *error)
{
    if (claimed)
        return true;
    for (const auto &lane : lanes) {
        for (const int index : qAsConst(lane->rows)) {
            if (!lane->lock.acquire(rows.at(size_t(index)).plan.port, error)) {
                for (const auto &other : lanes)
                    other->lock.release();
                return false;
            }
        }
    }
    claimed = true;
    return true;
}

void CommissionRun::start()
{
    if (started)
        return;
    started = true;
    if (!recordPath.isEmpty())
        appender = std::make_unique<commissionrecord::Appender>(recordPath);
    QString busy;
    if (!claimPorts(&busy)) {
        claimError = busy;
        for (const auto &lane : lanes)
            endLane(lane.get(), {RowOutcome::NotBegun::Why::PortHeld, 0, busy});
        checkFinished();
        return;
    }
    if (claimsKept()) {
        QList<commissionplan::Row> planned;
        for (const RowState &row : rows)
            planned << row.plan;
        claims = std::make_unique<CommissionClaims>(
            registerDesk, planned, [this](int lane) { return waitingRows(lane); }, replacesMac);
        connect(claims.get(), &CommissionClaims::taken, this, &CommissionRun::onTaken);
        connect(claims.get(), &CommissionClaims::settled, this, &CommissionRun::onSettled);
        connect(claims.get(), &CommissionClaims::heldElsewhere, this,
                &CommissionRun::rowHeldElsewhere);
        connect(claims.get(), &CommissionClaims::laneSettled, this, &CommissionRun::onLaneSettled);
        connect(claims.get(), &CommissionClaims::lost, this,
                [this](int index, const QString &reason) {
                    const Lane *lane = laneOf(index);
                    if (lane && lane->current == index)
                        rows.at(size_t(index)).job->abandon(reason);
                });
        // The rows done already are known before a port is looked at.
        const QPointer<CommissionRun> self(this);
        claims->settleAll([self] {
            if (self && !self->interrupted)
                self->startLanes();
        });
        return;
    }
    startLanes();
}

void CommissionRun::startLanes()
{
    for (const auto &lane : lanes) {
        if (lane->done || lane->next >= lane->rows.size()) {
            endLane(lane.get(), {});
            continue;
        }
        // A module that brings its own USB adapter brings its port: until
        // it is plugged in, the row waits for it as for a swap.
        const QString port = rows.at(size_t(lane->rows.at(lane->next))).plan.port;
        if (ModuleConsole::exists(port))
            takeRow(lane.get());
        else
            awaitModule(lane.get());
    }
    checkFinished();
}

bool CommissionRun::claimsKept() const
{
    return registerDesk && !audit;
}

void CommissionRun::takeRow(Lane *lane)
{
    if (claims)
        claims->choose(lane->id);
    else
        beginRow(lane);
}

QList<int> CommissionRun::waitingRows(int lane) const
{
    const Lane &l = *lanes.at(size_t(lane));
    return l.done ? QList<int>() : l.rows.mid(l.next);
}

CommissionRun::Lane *CommissionRun::laneOf(int index) const
{
    for (const auto &lane : lanes) {
        if (lane->rows.contains(index))
            return lane.get();
    }
    return nullptr;
}

void CommissionRun::onTaken(int index)
{
    Lane *lane = laneOf(index);
    if (interrupted || !lane || lane->done)
        return;
    // The row taken is the next one of its port.
    lane->rows.move(int(lane->rows.indexOf(index)), lane->next);
    beginRow(lane);
}

void CommissionRun::onSettled(int index, const RowOutcome &outcome)
{
    // A row begun or settled already stands before the lane's next.
    Lane *lane = laneOf(index);
    const int position = lane ? int(lane->rows.indexOf(index)) : -1;
    if (!lane || position < lane->next)
        return;
    rows.at(size_t(index)).settled.emplace(outcome);
    lane->rows.move(position, lane->next);
    ++lane->next;
    emit rowSettled(index);
}

void CommissionRun::onLaneSettled(int id)
{
    if (Lane *lane = lanes.at(size_t(id)).get(); !lane->done && lane->current < 0)
        endLane(lane, {});
}

bool CommissionRun::isFirstOnPort(int index) const
{
    for (const auto &lane : lanes) {
        if (!lane->rows.isEmpty() && lane->rows.first() == index)
            return true;
    }
    return false;
}

int CommissionRun::rowOfModule(const QString &mac) const
{
    const auto it = commissioned.constFind(mac);
    return it == commissioned.constEnd() ? 0 : rows.at(size_t(it.value())).plan.row;
}

void CommissionRun::beginRow(Lane *lane)
{
    const int index = lane->rows.at(lane->next++);
    lane->current = index;
    RowState &state = rows.at(size_t(index));
    state.job = std::make_unique<WriteJob>(state.plan.port, state.plan.values, settings);
    state.job->setPlanRow(state.plan.row);
    state.job->setBusUnits(state.plan.busIds);
    state.job->setAuditOnly(audit);
    state.job->setProgress(progressHandler);
    // The run's own rule first, then the register's word.
    WriteJob::Admit registerAdmits;
    const auto rule = [this, index](const QString &mac) { return metBefore(index, mac); };
    if (registerDesk) {
        registeradapter::Row row;
        row.planRow = state.plan.row;
        row.planned = state.plan.values;
        row.replaces = replacesMac;
        if (const siteregister::ClaimRequest *claimed = claims ? claims->claimOf(index) : nullptr)
            row.claimed = *claimed;
        else
            registerDesk->rowBegins();
        if (!audit)
            registerAdmits = registeradapter::admission(registerDesk, row);
        state.job->addKeeper(WriteJob::Keeper::Register,
                             registeradapter::keeper(registerDesk, row));
    }
    if (appender)
        state.job->addKeeper(WriteJob::Keeper::Record, appender->recorder());
    state.job->setAdmission(registeradapter::ruleFirst(rule, registerAdmits));
    // Queued: the job may finish inside one of its own console's handlers.
    connect(
        state.job.get(), &ModuleJob::finished, this,
        [this, lane, index] { onRowFinished(lane, index); }, Qt::QueuedConnection);
    connect(state.job.get(), &ModuleJob::stageChanged, this,
            [this, index](JobStage stage, int step, int steps, const QString &what) {
                emit rowStage(index, stage, step, steps, what);
            });
    connect(state.job.get(), &WriteJob::identified, this,
            [this, index](const QString &mac) { emit rowIdentified(index, mac); });
    connect(state.job.get(), &WriteJob::reaching, this,
            [this, index](const QString &target) { emit rowReaching(index, target); });
    connect(state.job.get(), &WriteJob::checkingBus, this,
            [this, index](const QString &target) { emit rowCheckingBus(index, target); });
    emit rowStarted(index);
    state.job->start();
}

int CommissionRun::metBefore(int index, const QString &mac)
{
    const auto it = commissioned.constFind(mac);
    if (it != commissioned.constEnd())
        return rows.at(size_t(it.value())).plan.row;
    commissioned.insert(mac, index);
    return 0;
}

void CommissionRun::onRowFinished(Lane *lane, int index)
{
    lane->current = -1;
    // The module that answered the read-back is marked too: if another one
    // answered after the restart, neither may be written again.
    const WriteJob *job = rows.at(size_t(index)).job.get();
    // A row the register did not take (its port refused, the register
    // failed) frees its claims; one it took ended them.
    if (claims) {
        const WriteResult::Kept *kept = job->outcome().inRegister();
        claims->ended(index, kept && kept->kept);
    }
    const WriteResult &facts = job->outcome().result();
    const QString mac = facts.readBack.mac();
    if (!mac.isEmpty() && !commissioned.contains(mac))
        commissioned.insert(mac, index);
    // The module still on the port is the one just done: it is not news
    // that it answers, until it has been away.
    lane->lastDone = mac.isEmpty() ? facts.identifiedMac : mac;
    emit rowFinished(index);
    if (lane->next < lane->rows.size() && !interrupted)
        awaitModule(lane);
    else
        lane->done = true;
    checkFinished();
}

void CommissionRun::awaitModule(Lane *lane)
{
    const RowState &next = rows.at(size_t(lane->rows.at(lane->next)));
    lane->probe = std::make_unique<ModuleConsole>(next.plan.port);
    lane->probe->setReplyTimeout(settings.replyTimeoutMs);
    lane->probe->setPace(settings.paceMs);
    lane->probe->setTraceLog(settings.trace);
    if (swapTimeoutMs >= 0)
        lane->swapTimer.start(swapTimeoutMs);
    lane->lastSeen.clear();
    lane->toldDone.clear();
    lane->sawAway = false;
    emit swapNeeded(lane->rows.at(lane->next));
    if (claims)
        claims->setWaiting(lane->id, true);
    // The port stays open in the run's hands between its modules (its
    // device is locked only while open). The module just written is still
    // there: the first look is a poll interval away.
    if (ModuleConsole::exists(next.plan.port))
        lane->probe->open();
    lane->pollTimer.start(swapPollMs);
}

void CommissionRun::poll(Lane *lane)
{
    ModuleConsole *probe = lane->probe.get();
    if (!probe || lane->done)
        return;
    if (!probe->isOpen() && !probe->open()) {
        lane->sawAway = true;
        lane->lastSeen.clear();
        lane->pollTimer.start(swapPollMs); // no device there yet
        return;
    }
    const quint64 epoch = probe->epoch();
    runQueries(probe, {ModuleField::Mac}, nullptr,
               [this, lane, probe, epoch](const ModuleReading &r) {
                   if (probe->epoch() != epoch)
                       return;
                   // A new module: a well-formed MAC not met in this run,
                   // read the same twice in a row (one garbled answer is
                   // not taken for another module).
                   const QString mac = r.mac();
                   const bool fresh = !mac.isEmpty() && !commissioned.contains(mac);
                   const bool confirmed = fresh && mac == lane->lastSeen;
                   const bool again = !fresh && !mac.isEmpty() && mac == lane->lastSeen;
                   lane->lastSeen = mac;
                   if (mac != lane->lastDone)
                       lane->sawAway = true;
                   if (again && (mac != lane->lastDone || lane->sawAway) && mac != lane->toldDone) {
                       // A module done already, plugged in again (read the
                       // same twice, so not a garbled answer).
                       lane->toldDone = mac;
                       emit moduleAlreadyDone(lane->rows.at(lane->next), mac, rowOfModule(mac));
                   }
                   if (confirmed) {
                       // A module not met in this run: the next row is for
                       // it. The probe goes away outside its own handler.
                       lane->swapTimer.stop();
                       if (claims)
                           claims->setWaiting(lane->id, false);
                       probe->cancel();
                       probe->close();
                       QTimer::singleShot(0, this, [this, lane] {
                           lane->probe.reset();
                           if (!interrupted && !lane->done)
                               takeRow(lane);
                       });
                       return;
                   }
                   // Still a module met before, or none, or one read only
                   // once: look again later (a new one is confirmed at
                   // once). A port that gave no answer is opened afresh
                   // when its name now leads elsewhere (the module, with
                   // its own adapter, replugged).
                   if (r.answered == 0 && probe->isStale())
                       probe->close();
                   lane->pollTimer.start(fresh ? 0 : swapPollMs);
               });
}

void CommissionRun::endLane(Lane *lane, const RowOutcome::NotBegun &why)
{
    lane->pollTimer.stop();
    lane->swapTimer.stop();
    if (claims)
        claims->endLane(lane->id);
    if (lane->probe) {
        lane->probe->cancel();
        lane->probe->close();
    }
    for (int i = lane->next; i < lane->rows.size(); ++i)
        rows.at(size_t(lane->rows.at(i))).notReached = why;
    lane->lock.release();
    lane->next = lane->rows.size();
    if (lane->current < 0)
        lane->done = true;
    checkFinished();
}

void CommissionRun::interrupt()
{
    if (finishedFlag || interrupted)
        return;
    interrupted = true;
    for (const auto &lane : lanes) {
        endLane(lane.get(), {RowOutcome::NotBegun::Why::Interrupted, 0, QString()});
        if (lane->current >= 0)
            rows.at(size_t(lane->current)).job->interrupt();
    }
}

void CommissionRun::checkFinished()
{
    if (finishedFlag || !started)
        return;
    for (const auto &lane : lanes) {
        if (!lane->done)
            return;
    }
    finishedFlag = true;
    for (const auto &lane : lanes)
        lane->lock.release();
    emit finished();
}

bool CommissionRun::verified(int index) const
{
    const WriteJob *j = job(index);
    const RowState &state = rows.at(size_t(index));
    return (j && j->isFinished() && outcome(index).isSuccess()) ||
           (!j && state.settled && state.settled->status == RowOutcome::Status::AlreadyDone);
}

RowOutcome CommissionRun::outcome(int index) const
{
    if (const WriteJob *j = job(index))
        return j->outcome();
    const RowState &state = rows.at(size_t(index));
    return state.settled ? *state.settled
                         : RowOutcome::notReached(commissionplan::meaning(row(index), audit),
                                                  notReached(index), int(JobResult::NoAnswer));
}

int CommissionRun::rowExitCode(int index) const
{
    return outcome(index).exitCode;
}

int CommissionRun::exitCode() const
{
    if (interrupted)
        return int(JobResult::Interrupted);
    if (!claimError.isEmpty())
        return int(JobResult::PortUnavailable);
    for (int i = 0; i < rowCount(); ++i) {
        if (!verified(i))
            return rowExitCode(i) ? rowExitCode(i) : int(JobResult::NoAnswer);
    }
    return 0;
}

#include "engine/commission/registerdesk.h"

#include "engine/commission/commissionplan.h"
#include "engine/platform/workqueue.h"
#include "engine/register/planstanding.h"
#include "engine/register/registerruns.h"
#include "engine/register/siteregister.h"

#include <QPointer>

using namespace siteregister;

RegisterDesk::RegisterDesk(QObject *parent)
    : QObject(parent),
      // The connection is made, used and closed on the queue's thread.
      queue(std::make_unique<WorkQueue>([this] { reg = std::make_unique<SiteRegister>(); },
                                        [this] { reg.reset(); }))
{
}

RegisterDesk::~RegisterDesk()
{
    closing->store(true);
    if (runId != 0) {
        const qint64 run = runId;
        post([run](SiteRegister &r) -> std::function<void()> {
            QString error;
            RegisterRuns(r).endRun(run, &error);
            return nullptr;
        });
    }
    queue.reset();
}

void RegisterDesk::post(const Work &job)
{
    // The answer is dropped with the desk: its posted call goes with it.
    queue->post([this, job] {
        std::function<void()> then = job(*reg);
        if (then)
            QMetaObject::invokeMethod(this, std::move(then), Qt::QueuedConnection);
    });
}

bool RegisterDesk::open(const Location &location, const RunInfo &run, QString *error)
{
    // A plan file as the register's older plans are looked for: its bytes'
    // hash, and the identity of its rows.
    const auto keysOf = [](const QString &path, QString *legacy, QString *identity) {
        QByteArray bytes;
        QString problem;
        if (!commissionplan::readFile(path, &bytes, &problem))
            return false;
        *legacy = legacyPlanHash(bytes);
        *identity = commissionplan::identity(bytes);
        return true;
    };
    bool opened = false;
    qint64 id = 0;
    queue->run([&] {
        opened = reg->open(location, error);
        QString ignored;
        // Older plans the register knows by their bytes: best effort, a
        // file gone is looked for again when its plan is run.
        if (opened)
            RegisterRuns(*reg).adoptPlans(keysOf, &ignored);
        if (opened)
            id = RegisterRuns(*reg).beginRun(run, error);
    });
    where = location.shown();
    plan = run.planHash;
    runId = opened ? id : 0;
    return runId != 0;
}

RunInfo RegisterDesk::planRun(const QString &tool, const QString &planPath,
                              const QByteArray &planBytes, const QString &record)
{
    RunInfo run = RunInfo::here(tool, planPath, commissionplan::identity(planBytes), record);
    run.legacyHash = legacyPlanHash(planBytes);
    return run;
}

void RegisterDesk::rowBegins()
{
    const int waitMs = rules.reconnectMs;
    const auto stop = closing;
    post([waitMs, stop](SiteRegister &r) -> std::function<void()> {
        QString error;
        r.reconnect(
            waitMs, [stop] { return stop->load(); }, &error);
        return nullptr;
    });
}

void RegisterDesk::claim(ClaimRequest request, const Claimed &done)
{
    request.run = runId;
    request.leaseMs = rules.leaseMs;
    const int waitMs = rules.reconnectMs;
    const auto stop = closing;
    post([request, done, waitMs, stop](SiteRegister &r) -> std::function<void()> {
        QString error;
        ClaimEntry claim;
        claim.planRow = request.planRow;
        claim.state = ClaimEntry::State::Failed;
        if (r.reconnect(
                waitMs, [stop] { return stop->load(); }, &error))
            claim = ClaimBook(r).claim(request, &error);
        return [done, claim, error] { done(claim, error); };
    });
}

void RegisterDesk::renew(const ClaimRequest &request, const Renewed &done)
{
    post([request, done](SiteRegister &r) -> std::function<void()> {
        QString error;
        bool takenOver = false;
        const bool ok = ClaimBook(r).renew(request, &error, &takenOver);
        return [done, ok, takenOver, error] { done(ok, takenOver, error); };
    });
}

void RegisterDesk::release(const ClaimRequest &request)
{
    post([request](SiteRegister &r) -> std::function<void()> {
        QString error;
        ClaimBook(r).release(request, &error);
        return nullptr;
    });
}

void RegisterDesk::admit(AdmissionRequest request, const Admitted &done)
{
    request.run = runId;
    request.rewrite = request.rewrite || rules.rewrite;
    request.namedModule = request.namedModule || rules.namedModule;
    request.addressMemoryDays = rules.addressMemoryDays;
    const QPointer<RegisterDesk> self(this);
    post([self, request, done](SiteRegister &r) -> std::function<void()> {
        const Admission a = siteregister::admit(r, request);
        return [self, request, done, a] {
            // The engineer decides where a rule of the register stops the
            // row: written anyway (the rewrite noted first), or stopped.
            if (!a.overrulable() || !self || !self->ask) {
                done(a);
                return;
            }
            self->ask(request.planRow, a.words, [self, request, done, a](bool write) {
                if (!write || !self) {
                    done(a);
                    return;
                }
                AdmissionRequest anyway = request;
                anyway.rewrite = true;
                self->post([anyway, done](SiteRegister &r2) -> std::function<void()> {
                    const Admission again = siteregister::admit(r2, anyway);
                    return [done, again] { done(again); };
                });
            });
        };
    });
}

void RegisterDesk::standing(const QList<PlannedRow> &rows, const Standing &done)
{
    const QString hash = plan;
    post([hash, rows, done](SiteRegister &r) -> std::function<void()> {
        QString error;
        QList<RowStanding> standing;
        siteStanding(r, hash, rows, &standing, &error);
        return [done, standing, error] { done(standing, error); };
    });
}

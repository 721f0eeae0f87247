#include "engine/commission/registerdesk.h"

#include "engine/commission/commissionplan.h"
#include "engine/platform/workqueue.h"
#include "engine/register/planstanding.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registerruns.h"
#include "engine/register/siteregister.h"

#include <QMutex>
#include <QMutexLocker>
#include <QPointer>

#include <atomic>

using namespace siteregister;

namespace
{

// A plan file as the register's older plans are looked for: its bytes'
// hash, and the identity of its rows.
bool planKeys(const QString &path, QString *legacy, QString *identity)
{
    QByteArray bytes;
    QString problem;
    if (!commissionplan::readFile(path, &bytes, &problem))
        return false;
    *legacy = legacyPlanHash(bytes);
    *identity = commissionplan::identity(bytes);
    return true;
}

} // namespace

struct RegisterDesk::Shared {
    std::unique_ptr<SiteRegister> reg; // made, used and closed on the queue's thread
    // Set as the desk goes: a reconnection waiting gives up.
    std::atomic_bool closing{false};
    // The desk answers go to; none once it is gone, or going.
    QMutex mutex;
    RegisterDesk *desk = nullptr;
};

RegisterDesk::RegisterDesk(QObject *parent) : QObject(parent), shared(std::make_shared<Shared>())
{
    shared->desk = this;
    queue = std::make_unique<WorkQueue>([s = shared] { s->reg = std::make_unique<SiteRegister>(); },
                                        [s = shared] { s->reg.reset(); });
}

RegisterDesk::~RegisterDesk()
{
    if (runId != 0) {
        const qint64 run = runId;
        post([run](SiteRegister &r) -> std::function<void()> {
            QString error;
            RegisterRuns(r).endRun(run, &error);
            return nullptr;
        });
    }
    {
        // From now on no answer is handed to this desk.
        const QMutexLocker lock(&shared->mutex);
        shared->desk = nullptr;
    }
    // A reconnection waiting for a server gives up.
    shared->closing.store(true);
    if (waitAtEnd)
        queue.reset();
    else
        // The thread ends the run and closes the register on its own.
        WorkQueue::letGo(std::move(queue));
}

bool RegisterDesk::settle(int ms)
{
    return WorkQueue::settle(ms);
}

void RegisterDesk::post(const Work &job)
{
    // The answer goes to the desk unless it is gone: looked at under the
    // lock the desk takes as it goes.
    queue->post([s = shared, job] {
        std::function<void()> then = job(*s->reg);
        if (!then)
            return;
        const QMutexLocker lock(&s->mutex);
        if (s->desk)
            QMetaObject::invokeMethod(s->desk, std::move(then), Qt::QueuedConnection);
    });
}

bool RegisterDesk::open(const Location &location, const RunInfo &run, QString *error)
{
    bool opened = false;
    qint64 id = 0;
    queue->run([&, s = shared] {
        opened = s->reg->open(location, error);
        QString ignored;
        // Older plans the register knows by their bytes: best effort, a
        // file gone is looked for again when its plan is run.
        if (opened)
            RegisterRuns(*s->reg).adoptPlans(planKeys, &ignored);
        if (opened)
            id = RegisterRuns(*s->reg).beginRun(run, error);
    });
    where = location.shown();
    plan = run.planHash;
    runId = opened ? id : 0;
    return runId != 0;
}

void RegisterDesk::open(const Location &location, const RunInfo &run, const Opened &done)
{
    where = location.shown();
    plan = run.planHash;
    post([this, location, run, done](SiteRegister &r) -> std::function<void()> {
        QString error;
        qint64 id = 0;
        QString ignored;
        if (r.open(location, &error)) {
            RegisterRuns(r).adoptPlans(planKeys, &ignored);
            id = RegisterRuns(r).beginRun(run, &error);
        }
        // On the desk's thread, where the desk still is.
        return [this, id, error, done] {
            runId = id;
            done(id != 0, error);
        };
    });
}

RunInfo RegisterDesk::planRun(const QString &tool, const QString &planPath,
                              const QByteArray &planBytes, const QString &record)
{
    RunInfo run = RunInfo::here(tool, planPath, commissionplan::identity(planBytes), record);
    run.legacyHash = legacyPlanHash(planBytes);
    return run;
}

QString RegisterDesk::planKey(SiteRegister &reg, const QByteArray &planBytes, QString *error)
{
    QString identity = commissionplan::identity(planBytes);
    const QString legacy = legacyPlanHash(planBytes);
    RegisterLookup lookup(reg);
    bool known = false;
    if (!lookup.planKnown(identity, &known, error))
        return QString();
    if (known)
        return identity;
    if (!lookup.planKnown(legacy, &known, error))
        return QString();
    return known ? legacy : identity;
}

void RegisterDesk::rowBegins()
{
    const int waitMs = rules.reconnectMs;
    const auto stop = shared;
    post([waitMs, stop](SiteRegister &r) -> std::function<void()> {
        QString error;
        r.reconnect(
            waitMs, [stop] { return stop->closing.load(); }, &error);
        return nullptr;
    });
}

void RegisterDesk::claim(ClaimRequest request, const Claimed &done)
{
    request.run = runId;
    request.leaseMs = rules.leaseMs;
    const int waitMs = rules.reconnectMs;
    const auto stop = shared;
    post([request, done, waitMs, stop](SiteRegister &r) -> std::function<void()> {
        QString error;
        ClaimEntry claim = ClaimBook(r).claim(request, &error);
        // A server's connection lost since the last row is opened again,
        // and the claim (rolled back) asked once more.
        if (claim.state == ClaimEntry::State::Failed &&
            r.reconnect(
                waitMs, [stop] { return stop->closing.load(); }, &error))
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

#include "engine/commission/registerdesk.h"

#include "engine/register/registerfacts.h"
#include "engine/register/siteregister.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QSemaphore>
#include <QThread>
#include <QWaitCondition>

using namespace siteregister;

namespace
{

using Answer = WriteJob::RegisterAnswer;
using Verdict = WriteJob::RegisterAnswer::Verdict;
using Ending = WriteResult::Ending;

Answer stop(Ending ending, const QString &text)
{
    Answer a;
    a.verdict = Verdict::Stop;
    a.stop = ending;
    a.text = text;
    return a;
}

Answer rewrite(const QString &text)
{
    Answer a;
    a.verdict = Verdict::Rewrite;
    a.text = text;
    return a;
}

// What the register's knowledge of the module `mac` lets a row that plans
// `planned` do, under `policy`: the decision of a row about to be written,
// and what the register notes when it is written anyway.
Answer verdictOf(SiteRegister &reg, const parameters::Values &planned, const QString &mac,
                 const QString &replaces, const RegisterDesk::Policy &policy, RewriteNote *note)
{
    QString error;
    ModuleEntry module;
    if (!reg.findModule(mac, &module, &error))
        return stop(Ending::RegisterUnavailable, error);
    if (!replaces.isEmpty() && parameters::normalMac(replaces) == mac)
        return stop(Ending::VerifiedElsewhere,
                    RegisterDesk::tr("this module, %1, is the one to replace: connect its "
                                     "replacement")
                        .arg(mac));
    RewriteNote was;
    was.was = module;
    switch (judgeModule(module, planned)) {
    case ModuleVerdict::HoldsRow:
        if (policy.rewrite) {
            *note = was;
            return rewrite(noteWords(was));
        }
        {
            Answer a;
            a.verdict = Verdict::Unchanged;
            a.text = verifiedAs(module);
            return a;
        }
    case ModuleVerdict::VerifiedElsewhere:
        // What a rewrite would note, when the engineer asks for one.
        *note = was;
        if (!policy.rewrite && !policy.namedModule)
            return stop(Ending::VerifiedElsewhere, alreadyVerifiedText(module));
        break;
    case ModuleVerdict::Unknown:
        break;
    }
    Answer go;
    if (judgeModule(module, planned) == ModuleVerdict::VerifiedElsewhere)
        go = rewrite(noteWords(was));
    // The planned address: another module's, verified there within the
    // register's memory and not replaced since (the module replaced here
    // is not another holder).
    const QString ip = planned.value(ModuleField::Ip);
    if (ip.isEmpty())
        return go;
    QList<ModuleEntry> holders;
    if (!reg.addressHolders(ip, mac, policy.addressMemoryDays, &holders, &error))
        return stop(Ending::RegisterUnavailable, error);
    for (const ModuleEntry &holder : qAsConst(holders)) {
        if (holder.mac == parameters::normalMac(replaces))
            continue;
        note->heldIp = ip;
        note->holder = holder;
        if (!policy.rewrite)
            return stop(Ending::AddressHeld, addressHeldText(ip, holder));
        return rewrite(noteWords(*note));
    }
    return go;
}

} // namespace

// The register's thread: its work in the order handed over, on one
// connection made, used and closed there. `post` hands work over, `finish`
// asks for the end after the work handed over; once `detached`, no answer
// goes to the desk any more (it is gone, or going).
struct RegisterDesk::Worker {
    QMutex mutex;
    QWaitCondition wake;
    QList<std::function<void(SiteRegister &)>> queue;
    bool stopping = false;
    bool detached = false;
    bool finished = false;

    void post(const std::function<void(SiteRegister &)> &task)
    {
        {
            const QMutexLocker lock(&mutex);
            queue.append(task);
        }
        wake.wakeAll();
    }
    void finish()
    {
        {
            const QMutexLocker lock(&mutex);
            stopping = true;
        }
        wake.wakeAll();
    }
    void run()
    {
        {
            SiteRegister reg;
            QMutexLocker lock(&mutex);
            for (;;) {
                while (queue.isEmpty() && !stopping)
                    wake.wait(&mutex);
                if (queue.isEmpty())
                    break;
                const std::function<void(SiteRegister &)> task = queue.takeFirst();
                lock.unlock();
                task(reg);
                lock.relock();
            }
        } // the connection closed
        const QMutexLocker lock(&mutex);
        finished = true;
        wake.wakeAll();
    }
};

namespace
{

// The threads of desks gone without waiting: each is deleted once it has
// ended, by the next desk that goes or by settle(); one still held up by
// its server when the program ends is left to it.
class DetachedThreads
{
public:
    void add(const std::shared_ptr<RegisterDesk::Worker> &worker, QThread *thread)
    {
        const QMutexLocker lock(&mutex);
        threads.append({worker, thread});
    }
    QList<std::shared_ptr<RegisterDesk::Worker>> workers()
    {
        QList<std::shared_ptr<RegisterDesk::Worker>> list;
        const QMutexLocker lock(&mutex);
        for (const Entry &e : qAsConst(threads))
            list << e.worker;
        return list;
    }
    // Deletes the threads that have ended; whether none is left.
    bool reap();

private:
    struct Entry {
        std::shared_ptr<RegisterDesk::Worker> worker;
        QThread *thread;
    };
    QMutex mutex;
    QList<Entry> threads;
};

DetachedThreads &detachedThreads()
{
    // Never destroyed: a thread the program ends with is not deleted under
    // itself while the program's statics go.
    static auto *threads = new DetachedThreads;
    return *threads;
}

} // namespace

RegisterDesk::RegisterDesk(QObject *parent) : QObject(parent), worker(std::make_shared<Worker>())
{
    thread = QThread::create([w = worker] { w->run(); });
    thread->start();
}

RegisterDesk::~RegisterDesk()
{
    if (runId != 0) {
        const qint64 run = runId;
        post([run](SiteRegister &r) -> std::function<void()> {
            QString error;
            r.endRun(run, &error);
            return nullptr;
        });
    }
    {
        // From now on no answer is handed to this desk.
        const QMutexLocker lock(&worker->mutex);
        worker->detached = true;
    }
    worker->finish();
    if (waitAtEnd) {
        thread->wait();
        delete thread;
        return;
    }
    // The thread ends on its own, after the work handed over.
    detachedThreads().add(worker, thread);
    detachedThreads().reap();
}

bool DetachedThreads::reap()
{
    const QMutexLocker lock(&mutex);
    for (auto it = threads.begin(); it != threads.end();) {
        bool ended = false;
        {
            const QMutexLocker done(&it->worker->mutex);
            ended = it->worker->finished;
        }
        // Its work done, the thread is at its very end: waited for, then
        // deleted.
        if (ended && it->thread->wait()) {
            delete it->thread;
            it = threads.erase(it);
        } else {
            ++it;
        }
    }
    return threads.isEmpty();
}

bool RegisterDesk::settle(int ms)
{
    QDeadlineTimer deadline(ms);
    for (const std::shared_ptr<Worker> &w : detachedThreads().workers()) {
        QMutexLocker lock(&w->mutex);
        while (!w->finished && w->wake.wait(&w->mutex, deadline)) {
        }
    }
    return detachedThreads().reap();
}

void RegisterDesk::post(const Work &job)
{
    // The answer goes to this desk unless it is gone: looked at under the
    // worker's lock, which the desk takes as it goes.
    const std::weak_ptr<Worker> weak = worker;
    worker->post([this, job, weak](SiteRegister &reg) {
        std::function<void()> then = job(reg);
        const std::shared_ptr<Worker> w = weak.lock();
        if (!then || !w)
            return;
        const QMutexLocker lock(&w->mutex);
        if (!w->detached)
            QMetaObject::invokeMethod(this, std::move(then), Qt::QueuedConnection);
    });
}

void RegisterDesk::wait(const std::function<void(SiteRegister &)> &job)
{
    QSemaphore done;
    worker->post([&job, &done](SiteRegister &reg) {
        job(reg);
        done.release();
    });
    done.acquire();
}

bool RegisterDesk::open(const Location &location, const RunInfo &run, QString *error)
{
    bool opened = false;
    qint64 id = 0;
    wait([&](SiteRegister &r) {
        opened = r.open(location, error);
        if (opened)
            id = r.beginRun(run, error);
    });
    where = location.shown();
    planHash = run.planHash;
    runId = opened ? id : 0;
    return runId != 0;
}

void RegisterDesk::open(const Location &location, const RunInfo &run, const Opened &done)
{
    where = location.shown();
    planHash = run.planHash;
    post([location, run, done, this](SiteRegister &r) -> std::function<void()> {
        QString error;
        qint64 id = 0;
        if (r.open(location, &error))
            id = r.beginRun(run, &error);
        // On the desk's thread, where the desk still is.
        return [this, id, error, done] {
            runId = id;
            done(id != 0, error);
        };
    });
}

void RegisterDesk::attach(WriteJob *job, int planRow, bool claimed, const QString &replaces)
{
    const QPointer<RegisterDesk> self(this);
    if (!job->isAudit()) {
        const parameters::Values planned = job->written();
        job->setRegisterGate([self, planned, planRow, replaces](
                                 const QString &mac, const WriteJob::RegisterAnswered &answered) {
            if (!self) {
                answered(stop(Ending::RegisterUnavailable, tr("the register was closed")));
                return;
            }
            const Policy policy = self->rules;
            const qint64 run = self->runId;
            self->post([self, planned, planRow, replaces, mac, answered, policy,
                        run](SiteRegister &r) -> std::function<void()> {
                RewriteNote note;
                Answer a = verdictOf(r, planned, mac, replaces, policy, &note);
                QString error;
                // A rewrite is noted before the module is written.
                if (a.verdict == Verdict::Rewrite &&
                    !r.noteRewrite(run, planRow, mac, note, &error))
                    a = stop(Ending::RegisterUnavailable, error);
                return [self, a, note, answered, planRow, mac] {
                    if (a.verdict != Verdict::Stop || a.stop == Ending::RegisterUnavailable ||
                        !self || !self->ask) {
                        answered(a);
                        return;
                    }
                    self->judge(planRow, mac, a, note, answered);
                };
            });
        });
    }
    const QString hash = claimed ? planHash : QString();
    job->setRegistrar(
        [self, hash, replaces](const RowOutcome &o, const WriteJob::RecordDone &done) {
            if (!self) {
                done(false, tr("the register was closed"));
                return;
            }
            RowEntry row;
            row.time = o.time;
            row.planRow = o.planRow;
            row.port = o.port;
            row.planned = o.planned;
            row.values = o.recordValues();
            row.result = o.recordResult();
            row.replaces = replaces;
            const qint64 run = self->runId;
            self->post([row, run, hash, done](SiteRegister &r) -> std::function<void()> {
                QString error;
                const bool kept = r.recordRow(run, row, &error, hash);
                return [done, kept, error] { done(kept, error); };
            });
        });
}

void RegisterDesk::judge(int planRow, const QString &mac, const WriteJob::RegisterAnswer &stopped,
                         const RewriteNote &note, const WriteJob::RegisterAnswered &answered)
{
    // The engineer decides: written anyway (noted first), or stopped.
    const QPointer<RegisterDesk> self(this);
    const qint64 run = runId;
    ask(planRow, stopped.text, [self, stopped, note, answered, run, planRow, mac](bool write) {
        if (!write || !self) {
            answered(stopped);
            return;
        }
        self->post([note, answered, run, planRow, mac](SiteRegister &r) -> std::function<void()> {
            QString error;
            const Answer a = r.noteRewrite(run, planRow, mac, note, &error)
                                 ? rewrite(noteWords(note))
                                 : stop(Ending::RegisterUnavailable, error);
            return [answered, a] { answered(a); };
        });
    });
}

void RegisterDesk::claim(int planRow, bool again, const Claimed &done)
{
    const qint64 run = runId;
    const QString hash = planHash;
    const int leaseMs = rules.leaseMs;
    post([=](SiteRegister &r) -> std::function<void()> {
        QString error;
        const ClaimEntry claim = r.claimRow(run, hash, planRow, leaseMs, again, &error);
        return [done, claim, error] { done(claim, error); };
    });
}

void RegisterDesk::renew(int planRow, const Renewed &done)
{
    const qint64 run = runId;
    const QString hash = planHash;
    const int leaseMs = rules.leaseMs;
    post([=](SiteRegister &r) -> std::function<void()> {
        QString error;
        bool takenOver = false;
        const bool ok = r.renewClaim(run, hash, planRow, leaseMs, &error, &takenOver);
        return [done, ok, takenOver, error] { done(ok, takenOver, error); };
    });
}

void RegisterDesk::release(int planRow)
{
    const qint64 run = runId;
    const QString hash = planHash;
    post([=](SiteRegister &r) -> std::function<void()> {
        QString error;
        r.releaseClaim(run, hash, planRow, false, QString(), &error);
        return nullptr;
    });
}

void RegisterDesk::claims(const ClaimList &done)
{
    const QString hash = planHash;
    post([=](SiteRegister &r) -> std::function<void()> {
        QString error;
        QList<ClaimEntry> list;
        r.claims(hash, &list, &error);
        return [done, list, error] { done(list, error); };
    });
}

#include "engine/platform/workqueue.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <memory>
#include <vector>

WorkQueue::WorkQueue(Work first, Work last)
    : first(std::move(first)), last(std::move(last)), thread(QThread::create([this] { loop(); }))
{
    thread->start();
}

namespace
{

// The queues let go, until their threads have ended. Never destroyed: a
// thread still at work as the program ends is not deleted under itself
// while the program's statics go.
struct LetGo {
    QMutex mutex;
    std::vector<std::unique_ptr<WorkQueue>> queues;
};

LetGo &letGone()
{
    static auto *gone = new LetGo;
    return *gone;
}

} // namespace

WorkQueue::~WorkQueue()
{
    stop();
    thread->wait();
}

void WorkQueue::stop()
{
    {
        const QMutexLocker lock(&mutex);
        stopping = true;
    }
    wake.wakeAll();
}

void WorkQueue::letGo(std::unique_ptr<WorkQueue> queue)
{
    queue->stop();
    LetGo &gone = letGone();
    const QMutexLocker lock(&gone.mutex);
    gone.queues.push_back(std::move(queue));
    // Those whose threads have ended meanwhile go now.
    gone.queues.erase(
        std::remove_if(gone.queues.begin(), gone.queues.end(),
                       [](const std::unique_ptr<WorkQueue> &q) { return q->thread->isFinished(); }),
        gone.queues.end());
}

bool WorkQueue::settle(int ms)
{
    LetGo &gone = letGone();
    const QDeadlineTimer deadline(ms);
    const QMutexLocker lock(&gone.mutex);
    for (const std::unique_ptr<WorkQueue> &q : gone.queues)
        q->thread->wait(deadline);
    gone.queues.erase(
        std::remove_if(gone.queues.begin(), gone.queues.end(),
                       [](const std::unique_ptr<WorkQueue> &q) { return q->thread->isFinished(); }),
        gone.queues.end());
    return gone.queues.empty();
}

void WorkQueue::post(Work work)
{
    {
        const QMutexLocker lock(&mutex);
        pending.push(std::move(work));
    }
    wake.wakeAll();
}

void WorkQueue::run(const Work &work)
{
    // Shared with the queue: nothing of this frame is left behind in it.
    const auto done = std::make_shared<QSemaphore>();
    post([work, done] {
        work();
        done->release();
    });
    done->acquire();
}

void WorkQueue::loop()
{
    if (first)
        first();
    QMutexLocker lock(&mutex);
    for (;;) {
        while (pending.empty() && !stopping)
            wake.wait(&mutex);
        // Stopping: what was handed over still runs, then no more.
        if (pending.empty())
            break;
        const Work work = std::move(pending.front());
        pending.pop();
        lock.unlock();
        work();
        lock.relock();
    }
    lock.unlock();
    if (last)
        last();
}

#include "engine/platform/workqueue.h"

#include <QMutexLocker>
#include <QSemaphore>
#include <QThread>

#include <memory>

WorkQueue::WorkQueue(Work first, Work last)
    : first(std::move(first)), last(std::move(last)), thread(QThread::create([this] { loop(); }))
{
    thread->start();
}

WorkQueue::~WorkQueue()
{
    {
        const QMutexLocker lock(&mutex);
        stopping = true;
    }
    wake.wakeAll();
    thread->wait();
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

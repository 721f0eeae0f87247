#ifndef WORKQUEUE_H
#define WORKQUEUE_H

#include <QMutex>
#include <QWaitCondition>

#include <functional>
#include <memory>
#include <queue>

class QThread;

// A thread of its own that runs the work handed to it, one piece after
// another in the order handed over: a slow disk or a stalled server holds
// up the caller's event loop no more than the time it takes to hand the
// work over. What a piece has to say back it says itself (through the
// caller's event loop: QMetaObject::invokeMethod with a queued call).
class WorkQueue
{
public:
    using Work = std::function<void()>;

    // `first` runs on the queue's thread before any work (what the work
    // needs of that thread: a database connection made there), `last`
    // after the last piece.
    explicit WorkQueue(Work first = Work(), Work last = Work());
    // Runs the work handed over still, then `last`, and ends the thread.
    ~WorkQueue();
    WorkQueue(const WorkQueue &) = delete;
    WorkQueue &operator=(const WorkQueue &) = delete;

    void post(Work work);
    // Runs `work` on the queue's thread after what was handed over before
    // it, and returns once it has run.
    void run(const Work &work);

    // Lets the queue end on its own: the work handed over still runs, then
    // `last`, and nobody waits for it (a stalled server holds up no
    // window). The queue is deleted once its thread has ended, by the next
    // one let go or by settle().
    static void letGo(std::unique_ptr<WorkQueue> queue);
    // Waits up to `ms` for the queues let go to end, as a program ends;
    // false when one is still at work.
    static bool settle(int ms);

private:
    void loop();
    void stop();

    Work first;
    Work last;
    QMutex mutex;
    QWaitCondition wake;
    std::queue<Work> pending;
    bool stopping = false;
    std::unique_ptr<QThread> thread;
};

#endif // WORKQUEUE_H

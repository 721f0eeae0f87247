#include "engine/gateway/busqueue.h"

#include <algorithm>
#include <utility>

void BusQueue::add(BusJob job, bool first)
{
    const quint64 client = job.request.client;
    auto queue = queues.find(client);
    if (queue == queues.end() || queue->second.empty())
        turns.push_back(client);
    if (first)
        queues[client].push_front(std::move(job));
    else
        queues[client].push_back(std::move(job));
    if (client != 0) {
        ++waiting;
        depth->grow();
    }
}

bool BusQueue::push(BusJob &job, qint64 limit)
{
    const auto queue = queues.find(job.request.client);
    const bool hasWaiting = queue != queues.end() && !queue->second.empty();
    if (hasWaiting && waiting >= limit)
        return false;
    add(std::move(job), false);
    return true;
}

void BusQueue::pushFront(BusJob job)
{
    add(std::move(job), true);
}

void BusQueue::pushProbe(BusJob job)
{
    add(std::move(job), false);
}

bool BusQueue::takeNext(BusJob *job, const std::function<qint64(quint8)> &heldUntil, qint64 nowMs,
                        qint64 *heldMs)
{
    qint64 held = -1; // when the first unit held back may be asked
    size_t pick = turns.size();
    for (size_t i = 0; i < turns.size() && pick == turns.size(); ++i) {
        const BusJob &head = queues[turns[i]].front();
        const qint64 until = head.request.unit == 0 ? 0 : heldUntil(head.request.unit);
        if (until <= nowMs)
            pick = i;
        else
            held = held < 0 ? until : qMin(held, until);
    }
    *heldMs = held;
    if (pick == turns.size())
        return false;
    const quint64 client = turns[pick];
    turns.erase(turns.begin() + qptrdiff(pick));
    std::deque<BusJob> &queue = queues[client];
    *job = std::move(queue.front());
    queue.pop_front();
    if (client != 0) {
        --waiting;
        depth->shrink();
    }
    if (queue.empty())
        queues.erase(client);
    else
        turns.push_back(client);
    return true;
}

void BusQueue::forget(quint64 client)
{
    const auto queue = queues.find(client);
    if (queue == queues.end())
        return;
    const qint64 dropped = qint64(queue->second.size());
    waiting -= dropped;
    depth->now = qMax<qint64>(0, depth->now - dropped);
    queues.erase(queue);
    turns.erase(std::remove(turns.begin(), turns.end(), client), turns.end());
}

std::vector<BusJob> BusQueue::takeUnit(quint8 unit)
{
    std::vector<BusJob> taken;
    for (auto it = queues.begin(); it != queues.end();) {
        std::deque<BusJob> &queue = it->second;
        for (auto job = queue.begin(); job != queue.end();) {
            if (job->request.unit != unit || it->first == 0) {
                ++job;
                continue;
            }
            taken.push_back(std::move(*job));
            job = queue.erase(job);
            --waiting;
            depth->shrink();
        }
        if (queue.empty()) {
            turns.erase(std::remove(turns.begin(), turns.end(), it->first), turns.end());
            it = queues.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

BusQueue::Jobs BusQueue::takeAll()
{
    Jobs taken;
    taken.swap(queues);
    turns.clear();
    waiting = 0;
    depth->now = 0;
    return taken;
}

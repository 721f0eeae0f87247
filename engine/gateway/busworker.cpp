#include "engine/gateway/busworker.h"

#include "engine/bus/mbapframe.h"
#include "engine/bus/replymatch.h"
#include "engine/bus/rtuframe.h"
#include "engine/platform/tracelog.h"

#include <QJsonArray>

#include <algorithm>
#include <utility>
#include <vector>

namespace
{

// What a probe asks a unit given up: read holding register 0 (a read,
// never a write); any answer, an exception included, proves it back.
const char probePdu[] = "\x03\x00\x00\x00\x01";
constexpr int probePduSize = 5;

QString codeText(quint8 code)
{
    return QStringLiteral("0x%1")
        .arg(code, 2, 16, QLatin1Char('0'))
        .toUpper()
        .replace(QLatin1String("0X"), QLatin1String("0x"));
}

QString unitState(int silentRun, bool dead, bool asked)
{
    if (dead)
        return QStringLiteral("given up");
    if (!asked)
        return QStringLiteral("not asked");
    return silentRun > 0 ? QStringLiteral("silent") : QStringLiteral("answers");
}

QString linkStateName(ModuleLink::State state)
{
    switch (state) {
    case ModuleLink::State::Connected:
        return QStringLiteral("connected");
    case ModuleLink::State::Connecting:
        return QStringLiteral("connecting");
    case ModuleLink::State::Waiting:
        return QStringLiteral("reconnecting");
    case ModuleLink::State::Stopped:
        return QStringLiteral("stopped");
    case ModuleLink::State::Idle:
        break;
    }
    return QStringLiteral("idle");
}

} // namespace

// The bus engine's matcher of one reply to one request (RTU framing).
struct BusWorker::Match {
    ReplyMatch rtu;
};

BusWorker::BusWorker(const GatewayBus &bus, const Settings &settings, QObject *parent)
    : QObject(parent), config(bus), settings(settings), link(bus.target),
      match(std::make_unique<Match>())
{
    clock.start();
    link.setTrace(settings.trace);
    connect(&link, &ModuleLink::connected, this, &BusWorker::onLinkConnected);
    connect(&link, &ModuleLink::notReached, this, &BusWorker::notReached);
    connect(&link, &ModuleLink::lost, this, &BusWorker::onLinkLost);
    connect(&link, &ModuleLink::refusing, this, &BusWorker::refusing);
    connect(&link, &ModuleLink::readyRead, this, &BusWorker::onReadable);
    answerTimer.setSingleShot(true);
    answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&answerTimer, &QTimer::timeout, this, &BusWorker::onAnswerTimeout);
    connect(&quietTimer, &GapTimer::timeout, this, [this] {
        if (line != Line::Quiet)
            return;
        line = Line::Idle;
        pump();
    });
    probeTimer.setSingleShot(true);
    connect(&probeTimer, &QTimer::timeout, this, [this] {
        const qint64 now = clock.elapsed();
        QList<quint8> due;
        for (auto it = probeDue.cbegin(); it != probeDue.cend(); ++it) {
            if (it.value() <= now)
                due << it.key();
        }
        for (const quint8 id : qAsConst(due))
            queueProbe(id);
        armProbes();
    });
    holdTimer.setSingleShot(true);
    holdTimer.setTimerType(Qt::PreciseTimer);
    connect(&holdTimer, &QTimer::timeout, this, &BusWorker::pump);
}

BusWorker::~BusWorker()
{
    stop();
}

void BusWorker::start()
{
    link.start();
}

void BusWorker::stop()
{
    answerTimer.stop();
    holdTimer.stop();
    quietTimer.stop();
    probeTimer.stop();
    if (line == Line::Asking) {
        line = Line::Idle;
        refuse(current, gatewayexception::noPath);
    }
    flushQueue(gatewayexception::noPath);
    link.stop();
}

void BusWorker::setBus(const GatewayBus &bus)
{
    config.row = bus.row;
    config.line = bus.line;
    config.units = bus.units;
}

BusWorker::Unit &BusWorker::unit(quint8 id)
{
    return units[id];
}

void BusWorker::traceEvent(const QString &text)
{
    if (settings.trace)
        settings.trace->event(config.target.text(), text);
}

void BusWorker::answer(Job &job, const QByteArray &pdu, bool fromDevice)
{
    Q_UNUSED(fromDevice);
    std::vector<GatewayAnswer> others = std::exchange(job.alsoAnswer, {});
    if (job.answer) {
        const GatewayAnswer done = std::exchange(job.answer, nullptr);
        done(pdu);
    }
    for (const GatewayAnswer &done : others)
        done(pdu);
}

void BusWorker::refuse(Job &job, quint8 code)
{
    Unit &u = unit(job.request.unit);
    count.bus.gatewayExceptions.add(code);
    u.counters.gatewayExceptions.add(code);
    if (job.request.client != 0) {
        QString why;
        switch (code) {
        case gatewayexception::noPath:
            why = QStringLiteral("the module is not connected");
            break;
        case gatewayexception::noResponse:
            why = u.dead ? QStringLiteral("unit %1 is given up").arg(job.request.unit)
                         : QStringLiteral("no answer in time");
            break;
        case gatewayexception::busy:
            why = QStringLiteral("the queue is full");
            break;
        default:
            break;
        }
        traceEvent(QStringLiteral("%1: unit %2 function %3 answered %4 (%5)")
                       .arg(job.who)
                       .arg(job.request.unit)
                       .arg(job.request.function())
                       .arg(codeText(code), why));
    }
    answer(job, exceptionPdu(job.request.function(), code), false);
}

void BusWorker::submit(Job job)
{
    Unit &u = unit(job.request.unit);
    u.everAsked = true;
    ++count.bus.requests;
    ++u.counters.requests;
    if (!isConnected()) {
        refuse(job, gatewayexception::noPath);
        return;
    }
    if (u.dead) {
        refuse(job, gatewayexception::noResponse);
        return;
    }
    if (settings.coalesce && line == Line::Asking && job.request.isRead() &&
        job.request.unit == current.request.unit && job.request.pdu == current.request.pdu) {
        ++count.coalesced;
        traceEvent(QStringLiteral("%1: the same read as %2's on the bus, answered with it")
                       .arg(job.who, current.who));
        current.alsoAnswer.push_back(std::move(job.answer));
        return;
    }
    enqueue(std::move(job));
}

void BusWorker::submitBroadcast(Job job)
{
    ++count.bus.requests;
    if (!isConnected()) {
        refuse(job, gatewayexception::noPath);
        return;
    }
    enqueue(std::move(job));
}

// Over the bound the queue takes no more, but a client's first request
// waiting here is always taken: one client's burst never locks another out.
void BusWorker::enqueue(Job job)
{
    const quint64 client = job.request.client;
    auto queue = queues.find(client);
    const bool hasWaiting = queue != queues.end() && !queue->second.empty();
    if (hasWaiting && waiting >= settings.queueLimit) {
        refuse(job, gatewayexception::busy);
        return;
    }
    if (!hasWaiting)
        turns.push_back(client);
    queues[client].push_back(std::move(job));
    ++waiting;
    count.queue.grow();
    pump();
}

void BusWorker::forget(quint64 client)
{
    if (line == Line::Asking && current.request.client == client)
        currentForgotten = true;
    const auto queue = queues.find(client);
    if (queue == queues.end())
        return;
    const qint64 dropped = qint64(queue->second.size());
    waiting -= dropped;
    count.queue.now = qMax<qint64>(0, count.queue.now - dropped);
    queues.erase(queue);
    turns.erase(std::remove(turns.begin(), turns.end(), client), turns.end());
}

void BusWorker::pump()
{
    if (line != Line::Idle)
        return;
    if (!isConnected()) {
        flushQueue(gatewayexception::noPath);
        return;
    }
    Job job;
    if (takeNext(&job))
        send(std::move(job));
}

// The next request, by turns. A unit that did not answer in time is not
// asked again until its late answer has come or one more answer time-out
// has passed: a late answer is never taken for the next request's. Others
// go meanwhile, so a healthy unit waits at most one time-out behind it.
bool BusWorker::takeNext(Job *job)
{
    const qint64 now = clock.elapsed();
    qint64 held = -1; // when the first unit held back may be asked
    size_t pick = turns.size();
    for (size_t i = 0; i < turns.size() && pick == turns.size(); ++i) {
        const Job &head = queues[turns[i]].front();
        const auto u = units.constFind(head.request.unit);
        if (head.request.unit == 0 || u == units.constEnd() || u->quietUntilMs <= now)
            pick = i;
        else
            held = held < 0 ? u->quietUntilMs : qMin(held, u->quietUntilMs);
    }
    if (pick == turns.size()) {
        if (held >= 0)
            holdTimer.start(int(qMax<qint64>(1, held - now)));
        return false;
    }
    const quint64 client = turns[pick];
    turns.erase(turns.begin() + qptrdiff(pick));
    std::deque<Job> &queue = queues[client];
    *job = std::move(queue.front());
    queue.pop_front();
    if (client != 0) {
        --waiting;
        count.queue.shrink();
    }
    if (queue.empty())
        queues.erase(client);
    else
        turns.push_back(client);
    return true;
}

void BusWorker::send(Job job)
{
    current = std::move(job);
    currentForgotten = false;
    const GatewayRequest &request = current.request;
    currentBroadcast = request.unit == 0;
    QByteArray frame;
    if (config.framing == BusFraming::Tcp) {
        ++transaction;
        frame.append(char(transaction >> 8));
        frame.append(char(transaction & 0xff));
        frame.append('\0');
        frame.append('\0');
        const int length = 1 + request.pdu.size();
        frame.append(char(length >> 8));
        frame.append(char(length & 0xff));
        frame.append(char(request.unit));
        frame.append(request.pdu);
    } else {
        frame.append(char(request.unit));
        frame.append(request.pdu);
        const quint16 crc = rtuframe::crc16(frame);
        frame.append(char(crc & 0xff));
        frame.append(char(crc >> 8));
    }
    matchBegin(frame, clock.nsecsElapsed());
    if (!link.send(frame)) {
        refuse(current, gatewayexception::noPath);
        QMetaObject::invokeMethod(this, &BusWorker::pump, Qt::QueuedConnection);
        return;
    }
    sentNs = clock.nsecsElapsed();
    sentGeneration = link.generation();
    Unit &u = unit(request.unit);
    ++count.bus.sent;
    ++u.counters.sent;
    if (current.tries > 0) {
        ++count.bus.retries;
        ++u.counters.retries;
    }
    if (settings.trace)
        settings.trace->sent(config.target.text() + QLatin1Char(' ') + current.who, frame);
    if (currentBroadcast) {
        ++count.bus.broadcasts;
        answer(current, request.writeAnswer(), false);
        // On the line for its length, then the devices' time to act on it.
        const qint64 quietUs =
            config.line.frameUs(frame.size()) +
            qMax<qint64>(qint64(settings.broadcastDelayMs) * 1000, config.line.gapUs());
        finish(quietUs);
        return;
    }
    line = Line::Asking;
    answerTimer.start(settings.answerTimeoutMs);
}

// The request is done: the line is quiet for `quietUs`, then the next goes.
void BusWorker::finish(qint64 quietUs)
{
    answerTimer.stop();
    if (quietUs <= 0) {
        line = Line::Idle;
        pump();
        return;
    }
    line = Line::Quiet;
    quietTimer.start(int(qMin<qint64>(quietUs, 600000000)));
}

void BusWorker::onReadable()
{
    const QByteArray bytes = link.read(link.bytesAvailable());
    if (!bytes.isEmpty())
        matchFeed(bytes, clock.nsecsElapsed());
}

void BusWorker::replied(const QByteArray &pdu, const QByteArray &frame, qint64 atNs)
{
    if (line != Line::Asking)
        return;
    answerTimer.stop();
    Unit &u = unit(current.request.unit);
    const qint64 us = (atNs - sentNs) / 1000;
    count.bus.latency.add(us);
    u.counters.latency.add(us);
    ++count.bus.replies;
    ++u.counters.replies;
    const bool exception = !pdu.isEmpty() && (quint8(pdu.at(0)) & 0x80);
    if (exception && pdu.size() >= 2) {
        count.bus.exceptions.add(quint8(pdu.at(1)));
        u.counters.exceptions.add(quint8(pdu.at(1)));
    }
    u.silentRun = 0;
    if (u.dead) {
        u.dead = false;
        probeDue.remove(current.request.unit);
        emit unitBack(current.request.unit);
    }
    if (current.request.client == 0)
        u.probeQueued = false;
    if (settings.trace)
        settings.trace->received(config.target.text() + QLatin1Char(' ') + current.who, frame);
    answer(current, pdu, true);
    // The module sent the answer once the line had been quiet for its
    // packet time-out: only what is missing of the gap is waited for.
    finish(qMax<qint64>(0, config.line.gapUs() - qint64(config.line.packetTimeoutMs) * 1000));
}

void BusWorker::notAnswer(bool crc, const QByteArray &frame)
{
    if (line != Line::Asking)
        return;
    Unit &u = unit(current.request.unit);
    if (crc) {
        ++count.bus.crcErrors;
        ++u.counters.crcErrors;
    } else {
        ++count.bus.wrongReplies;
        ++u.counters.wrongReplies;
    }
    if (settings.trace)
        settings.trace->received(
            config.target.text() + QLatin1Char(' ') + current.who +
                (crc ? QStringLiteral(" crc error") : QStringLiteral(" wrong reply")),
            frame);
    u.silentRun = 0; // something answered
    if (current.request.client == 0)
        u.probeQueued = false;
    refuse(current, gatewayexception::noResponse);
    finish(qMax<qint64>(0, config.line.gapUs() - qint64(config.line.packetTimeoutMs) * 1000));
}

void BusWorker::onAnswerTimeout()
{
    if (line != Line::Asking)
        return;
    // A reply begun and not ended by now is the matcher's CRC error.
    matchExpire(clock.nsecsElapsed());
    if (line != Line::Asking)
        return;
    const quint8 id = current.request.unit;
    Unit &u = unit(id);
    ++count.bus.timeouts;
    ++u.counters.timeouts;
    // A connection lost meanwhile says nothing of the device.
    const bool sameLink = isConnected() && link.generation() == sentGeneration;
    if (sameLink)
        ++u.silentRun;
    u.quietUntilMs = clock.elapsed() + settings.answerTimeoutMs;
    traceEvent(QStringLiteral("%1: unit %2 gave no answer within %3 ms")
                   .arg(current.who)
                   .arg(id)
                   .arg(settings.answerTimeoutMs));
    const bool givingUp = sameLink && !u.dead && u.silentRun >= settings.deadAfter;
    if (current.request.client == 0) {
        u.probeQueued = false;
        probeDue[id] = clock.elapsed() + settings.probeEveryMs;
        armProbes();
    } else if (current.request.isRead() && current.tries < settings.retries && sameLink &&
               !givingUp && !currentForgotten) {
        // Sent again in its client's next turn, first of its requests.
        ++current.tries;
        const quint64 client = current.request.client;
        auto queue = queues.find(client);
        if (queue == queues.end() || queue->second.empty())
            turns.push_back(client);
        queues[client].push_front(std::move(current));
        ++waiting;
        count.queue.grow();
    } else {
        refuse(current, gatewayexception::noResponse);
    }
    if (givingUp)
        giveUp(id);
    finish(config.line.gapUs());
}

void BusWorker::giveUp(quint8 id)
{
    Unit &u = unit(id);
    u.dead = true;
    emit unitGivenUp(id);
    traceEvent(QStringLiteral("unit %1 given up after %2 time-outs in a row; probed every %3 ms")
                   .arg(id)
                   .arg(u.silentRun)
                   .arg(settings.probeEveryMs));
    // What waits for it is answered now, once the queues are set right:
    // an answer may end its client, which changes them.
    std::vector<Job> taken;
    for (auto it = queues.begin(); it != queues.end();) {
        std::deque<Job> &queue = it->second;
        for (auto job = queue.begin(); job != queue.end();) {
            if (job->request.unit != id || it->first == 0) {
                ++job;
                continue;
            }
            taken.push_back(std::move(*job));
            job = queue.erase(job);
            --waiting;
            count.queue.shrink();
        }
        if (queue.empty()) {
            turns.erase(std::remove(turns.begin(), turns.end(), it->first), turns.end());
            it = queues.erase(it);
        } else {
            ++it;
        }
    }
    for (Job &job : taken)
        refuse(job, gatewayexception::noResponse);
    probeDue[id] = clock.elapsed() + settings.probeEveryMs;
    armProbes();
}

// The probe timer set for the next unit given up that is due.
void BusWorker::armProbes()
{
    if (probeDue.isEmpty()) {
        probeTimer.stop();
        return;
    }
    qint64 next = -1;
    for (const qint64 due : qAsConst(probeDue))
        next = next < 0 ? due : qMin(next, due);
    probeTimer.start(int(qMax<qint64>(0, next - clock.elapsed())));
}

void BusWorker::queueProbe(quint8 id)
{
    Unit &u = unit(id);
    probeDue.remove(id);
    if (!u.dead || u.probeQueued)
        return;
    if (!isConnected()) {
        // Probed again once there is a connection to probe on.
        probeDue[id] = clock.elapsed() + settings.probeEveryMs;
        armProbes();
        return;
    }
    u.probeQueued = true;
    ++count.probes;
    Job job;
    job.request.client = 0;
    job.request.unit = id;
    job.request.pdu = QByteArray(probePdu, probePduSize);
    job.request.takenNs = clock.nsecsElapsed();
    job.who = QStringLiteral("probe");
    auto queue = queues.find(0);
    if (queue == queues.end() || queue->second.empty())
        turns.push_back(0);
    queues[0].push_back(std::move(job));
    pump();
}

void BusWorker::flushQueue(quint8 code)
{
    std::map<quint64, std::deque<Job>> taken;
    taken.swap(queues);
    turns.clear();
    waiting = 0;
    count.queue.now = 0;
    for (auto &entry : taken) {
        for (Job &job : entry.second) {
            if (entry.first == 0) {
                Unit &u = unit(job.request.unit);
                u.probeQueued = false;
                probeDue[job.request.unit] = clock.elapsed() + settings.probeEveryMs;
                armProbes();
                continue;
            }
            refuse(job, code);
        }
    }
}

void BusWorker::onLinkConnected(qint64 downMs, qint64 refusals)
{
    emit connected(downMs, refusals);
    pump();
}

void BusWorker::onLinkLost(const QString &reason)
{
    // The request on the bus may have been carried out: it is answered as
    // one nothing answered, never sent again.
    if (line == Line::Asking) {
        answerTimer.stop();
        Unit &u = unit(current.request.unit);
        ++count.bus.timeouts;
        ++u.counters.timeouts;
        if (current.request.client == 0)
            u.probeQueued = false;
        refuse(current, gatewayexception::noResponse);
        line = Line::Idle;
    }
    flushQueue(gatewayexception::noPath);
    emit lost(reason);
}

// --- matching the module's bytes to the request on the bus ---

void BusWorker::matchBegin(const QByteArray &frame, qint64 atNs)
{
    if (config.framing == BusFraming::Tcp) {
        // What is left from before is nobody's answer.
        if (!tcpPending.isEmpty()) {
            count.strayBytes += tcpPending.size();
            tcpPending.clear();
        }
        lateTransaction = 0;
        return;
    }
    match->rtu.begin(frame, atNs / 1000000);
    drainMatch(atNs);
}

void BusWorker::matchFeed(const QByteArray &bytes, qint64 atNs)
{
    if (config.framing == BusFraming::Tcp) {
        tcpPending += bytes;
        for (;;) {
            const mbapframe::Scan scan = mbapframe::scan(tcpPending);
            if (scan.state == mbapframe::Scan::State::Incomplete)
                return;
            if (scan.state == mbapframe::Scan::State::Invalid) {
                count.strayBytes += tcpPending.size();
                if (settings.trace)
                    settings.trace->received(config.target.text() + QStringLiteral(" stray"),
                                             tcpPending);
                tcpPending.clear();
                return;
            }
            const QByteArray frame = tcpPending.left(scan.length);
            tcpPending.remove(0, scan.length);
            const QByteArray pdu = frame.mid(mbapframe::headerLength);
            if (line == Line::Asking && scan.transaction == transaction &&
                scan.unit == current.request.unit && !pdu.isEmpty() &&
                (quint8(pdu.at(0)) & 0x7f) == current.request.function()) {
                replied(pdu, frame, atNs);
            } else if (lateTransaction != 0 && scan.transaction == lateTransaction) {
                ++count.bus.late;
                ++unit(scan.unit).counters.late;
                unit(scan.unit).quietUntilMs = 0;
                lateTransaction = 0;
                if (settings.trace)
                    settings.trace->received(config.target.text() + QStringLiteral(" late"), frame);
            } else {
                ++count.strayFrames;
                count.strayBytes += frame.size();
                if (settings.trace)
                    settings.trace->received(config.target.text() + QStringLiteral(" stray"),
                                             frame);
            }
        }
    }
    match->rtu.feed(bytes, atNs / 1000000);
    drainMatch(atNs);
}

void BusWorker::matchExpire(qint64 nowNs)
{
    if (config.framing == BusFraming::Tcp) {
        lateTransaction = transaction;
        return;
    }
    match->rtu.timeUp(nowNs / 1000000);
    drainMatch(nowNs);
}

// What the matcher made of the module's bytes. The time of an answer is
// when its bytes were read here (the matcher counts in milliseconds).
void BusWorker::drainMatch(qint64 atNs)
{
    ReplyMatch::Event e;
    while (match->rtu.next(&e)) {
        switch (e.kind) {
        case ReplyMatch::Event::Kind::Reply:
            replied(e.frame.mid(1, e.frame.size() - 3), e.frame, atNs);
            break;
        case ReplyMatch::Event::Kind::CrcError:
            notAnswer(true, e.frame);
            break;
        case ReplyMatch::Event::Kind::WrongReply:
            notAnswer(false, e.frame);
            break;
        case ReplyMatch::Event::Kind::NoReply:
            break; // the answer timer says it
        case ReplyMatch::Event::Kind::Late:
            ++count.bus.late;
            ++unit(e.unit).counters.late;
            unit(e.unit).quietUntilMs = 0; // its late answer is in: it may be asked
            if (settings.trace)
                settings.trace->received(config.target.text() + QStringLiteral(" late"), e.frame);
            break;
        case ReplyMatch::Event::Kind::Stray:
            if (e.isFrame) {
                // Frames of one unit in a row come as one event.
                count.strayFrames += e.count;
                if (units.contains(e.unit))
                    unit(e.unit).quietUntilMs = 0;
            }
            count.strayBytes += e.size;
            traceEvent(e.isFrame ? QStringLiteral("stray frames from unit %1, function %2: %3, "
                                                  "%4 bytes")
                                       .arg(e.unit)
                                       .arg(e.function)
                                       .arg(e.count)
                                       .arg(e.size)
                                 : QStringLiteral("stray bytes, %1").arg(e.size));
            break;
        }
    }
}

QJsonObject BusWorker::json() const
{
    QJsonObject object = count.json();
    object.insert(QStringLiteral("target"), config.target.text());
    object.insert(QStringLiteral("row"), config.row > 0 ? QJsonValue(config.row) : QJsonValue());
    object.insert(QStringLiteral("framing"), config.framing == BusFraming::Tcp
                                                 ? QStringLiteral("tcp")
                                                 : QStringLiteral("rtu"));
    object.insert(QStringLiteral("line"), config.line.text());
    object.insert(QStringLiteral("state"), linkStateName(link.state()));
    const ModuleLink::Counters l = link.counters();
    object.insert(QStringLiteral("reconnects"), double(l.reconnects));
    object.insert(QStringLiteral("refusals"), double(l.refusals));
    object.insert(QStringLiteral("bytes_sent"), double(l.bytesSent));
    object.insert(QStringLiteral("bytes_received"), double(l.bytesReceived));
    QList<quint8> ids = units.keys();
    std::sort(ids.begin(), ids.end());
    QJsonArray list;
    for (const quint8 id : ids) {
        const Unit &u = units[id];
        if (!u.everAsked)
            continue;
        QJsonObject entry = u.counters.json();
        entry.insert(QStringLiteral("unit"), id);
        entry.insert(QStringLiteral("state"), unitState(u.silentRun, u.dead, u.everAsked));
        list.append(entry);
    }
    object.insert(QStringLiteral("units"), list);
    return object;
}

#include "engine/gateway/busworker.h"

#include "engine/platform/tracelog.h"

#include <utility>
#include <vector>

namespace
{

// What a probe asks a unit given up: read holding register 0 (a read,
// never a write); any answer, an exception included, proves it back.
const char probePdu[] = "\x03\x00\x00\x00\x01";
constexpr int probePduSize = 5;

} // namespace

BusWorker::BusWorker(const GatewayBus &bus, const Settings &settings, QObject *parent)
    : QObject(parent), config(bus), settings(settings), link(bus.target),
      units(&count.bus, &clock, [this](quint8 id) { queueProbe(id); }), queue(&count.queue),
      replies(bus.framing)
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
        enter(Line::Idle);
        pump();
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
    holdTimer.stop();
    units.stopProbes();
    const bool asking = line == Line::Asking;
    enter(Line::Idle);
    if (asking)
        refuse(current, gatewayexception::noPath);
    flushQueue(gatewayexception::noPath);
    link.stop();
}

void BusWorker::setBus(const GatewayBus &bus)
{
    config.row = bus.row;
    config.line = bus.line;
    config.units = bus.units;
}

// The one place the line's state changes: the timer of the state left
// stops.
void BusWorker::enter(Line next)
{
    switch (line) {
    case Line::Asking:
        answerTimer.stop();
        break;
    case Line::Quiet:
        quietTimer.stop();
        break;
    case Line::Idle:
        break;
    }
    line = next;
}

void BusWorker::traceEvent(const QString &text)
{
    if (settings.trace)
        settings.trace->event(config.target.text(), text);
}

void BusWorker::traceReceived(const QString &what, const QByteArray &frame)
{
    if (settings.trace)
        settings.trace->received(config.target.text() + QLatin1Char(' ') + what, frame);
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
    units.refused(job.request.unit, code);
    if (job.request.client != 0) {
        const QString why = code == gatewayexception::noResponse && units[job.request.unit].dead
                                ? QStringLiteral("unit %1 is given up").arg(job.request.unit)
                                : gatewayexception::reason(code);
        traceEvent(QStringLiteral("%1: unit %2 function %3 answered %4 (%5)")
                       .arg(job.who)
                       .arg(job.request.unit)
                       .arg(job.request.function())
                       .arg(gatewayexception::text(code), why));
    }
    answer(job, exceptionPdu(job.request.function(), code), false);
}

void BusWorker::submit(Job job)
{
    units.asked(job.request.unit);
    if (!isConnected()) {
        refuse(job, gatewayexception::noPath);
        return;
    }
    if (units[job.request.unit].dead) {
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

void BusWorker::enqueue(Job job)
{
    if (!queue.push(job, settings.queueLimit)) {
        refuse(job, gatewayexception::busy);
        return;
    }
    pump();
}

void BusWorker::forget(quint64 client)
{
    if (line == Line::Asking && current.request.client == client)
        currentForgotten = true;
    queue.forget(client);
}

void BusWorker::pump()
{
    if (line != Line::Idle)
        return;
    if (!isConnected()) {
        flushQueue(gatewayexception::noPath);
        return;
    }
    // A unit that did not answer in time is not asked again until its late
    // answer has come or one more answer time-out has passed: a late answer
    // is never taken for the next request's. Others go meanwhile, so a
    // healthy unit waits at most one time-out behind it.
    const auto heldUntil = [this](quint8 id) { return units.heldUntil(id); };
    Job job;
    qint64 held = -1;
    const qint64 now = clock.elapsed();
    if (queue.takeNext(&job, heldUntil, now, &held))
        send(std::move(job));
    else if (held >= 0)
        holdTimer.start(int(qMax<qint64>(1, held - now)));
}

void BusWorker::send(Job job)
{
    current = std::move(job);
    currentForgotten = false;
    const GatewayRequest &request = current.request;
    const QByteArray frame = replies.frame(request.unit, request.pdu);
    replies.begin(frame, request.unit, request.function(), clock.nsecsElapsed());
    drainReplies(clock.nsecsElapsed());
    if (!link.send(frame)) {
        refuse(current, gatewayexception::noPath);
        QMetaObject::invokeMethod(this, &BusWorker::pump, Qt::QueuedConnection);
        return;
    }
    sentNs = clock.nsecsElapsed();
    sentGeneration = link.generation();
    units.sent(request.unit, current.tries > 0);
    if (settings.trace)
        settings.trace->sent(config.target.text() + QLatin1Char(' ') + current.who, frame);
    if (request.unit == 0) { // a broadcast: no answer awaited
        ++count.bus.broadcasts;
        answer(current, request.writeAnswer(), false);
        // On the line for its length, then the devices' time to act on it.
        const qint64 quietUs =
            config.line.frameUs(frame.size()) +
            qMax<qint64>(qint64(settings.broadcastDelayMs) * 1000, config.line.gapUs());
        finish(quietUs);
        return;
    }
    enter(Line::Asking);
    answerTimer.start(settings.answerTimeoutMs);
}

// The request is done: the line is quiet for `quietUs`, then the next goes.
void BusWorker::finish(qint64 quietUs)
{
    if (quietUs <= 0) {
        enter(Line::Idle);
        pump();
        return;
    }
    enter(Line::Quiet);
    quietTimer.start(int(qMin<qint64>(quietUs, 600000000)));
}

void BusWorker::onReadable()
{
    const QByteArray bytes = link.read(link.bytesAvailable());
    if (bytes.isEmpty())
        return;
    const qint64 atNs = clock.nsecsElapsed();
    replies.feed(bytes, atNs, line == Line::Asking);
    drainReplies(atNs);
}

void BusWorker::replied(const QByteArray &pdu, const QByteArray &frame, qint64 atNs)
{
    if (line != Line::Asking)
        return;
    const quint8 id = current.request.unit;
    if (units.answered(id, (atNs - sentNs) / 1000, pdu, current.request.client == 0))
        emit unitBack(id);
    traceReceived(current.who, frame);
    answer(current, pdu, true);
    // The module sent the answer once the line had been quiet for its
    // packet time-out: only what is missing of the gap is waited for.
    finish(qMax<qint64>(0, config.line.gapUs() - qint64(config.line.packetTimeoutMs) * 1000));
}

void BusWorker::notAnswer(bool crc, const QByteArray &frame)
{
    if (line != Line::Asking)
        return;
    units.notAnswered(current.request.unit, crc, current.request.client == 0);
    traceReceived(
        current.who + (crc ? QStringLiteral(" crc error") : QStringLiteral(" wrong reply")), frame);
    refuse(current, gatewayexception::noResponse);
    finish(qMax<qint64>(0, config.line.gapUs() - qint64(config.line.packetTimeoutMs) * 1000));
}

void BusWorker::onAnswerTimeout()
{
    if (line != Line::Asking)
        return;
    // A reply begun and not ended by now is the matcher's CRC error.
    replies.expire(clock.nsecsElapsed());
    drainReplies(clock.nsecsElapsed());
    if (line != Line::Asking)
        return;
    const quint8 id = current.request.unit;
    // A connection lost meanwhile says nothing of the device.
    const bool sameLink = isConnected() && link.generation() == sentGeneration;
    const bool givingUp = units.timedOut(id, sameLink, clock.elapsed() + settings.answerTimeoutMs,
                                         settings.deadAfter);
    traceEvent(QStringLiteral("%1: unit %2 gave no answer within %3 ms")
                   .arg(current.who)
                   .arg(id)
                   .arg(settings.answerTimeoutMs));
    if (current.request.client == 0) {
        units.probeAgainIn(id, settings.probeEveryMs);
    } else if (current.request.isRead() && current.tries < settings.retries && sameLink &&
               !givingUp && !currentForgotten) {
        // Sent again in its client's next turn, first of its requests.
        ++current.tries;
        queue.pushFront(std::move(current));
    } else {
        refuse(current, gatewayexception::noResponse);
    }
    if (givingUp)
        giveUp(id);
    finish(config.line.gapUs());
}

void BusWorker::giveUp(quint8 id)
{
    BusUnits::Unit &u = units[id];
    u.dead = true;
    emit unitGivenUp(id);
    traceEvent(QStringLiteral("unit %1 given up after %2 time-outs in a row; probed every %3 ms")
                   .arg(id)
                   .arg(u.silentRun)
                   .arg(settings.probeEveryMs));
    // What waits for it is answered now, once the queues are set right:
    // an answer may end its client, which changes them.
    std::vector<Job> taken = queue.takeUnit(id);
    for (Job &job : taken)
        refuse(job, gatewayexception::noResponse);
    units.probeIn(id, settings.probeEveryMs);
}

void BusWorker::queueProbe(quint8 id)
{
    BusUnits::Unit &u = units[id];
    units.noProbe(id);
    if (!u.dead || u.probeQueued)
        return;
    if (!isConnected()) {
        // Probed again once there is a connection to probe on.
        units.probeIn(id, settings.probeEveryMs);
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
    queue.pushProbe(std::move(job));
    pump();
}

void BusWorker::flushQueue(quint8 code)
{
    BusQueue::Jobs taken = queue.takeAll();
    for (auto &entry : taken) {
        for (Job &job : entry.second) {
            if (entry.first == 0) {
                units.probeAgainIn(job.request.unit, settings.probeEveryMs);
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
        BusUnits::Unit &u = units[current.request.unit];
        ++count.bus.timeouts;
        ++u.counters.timeouts;
        if (current.request.client == 0)
            u.probeQueued = false;
        refuse(current, gatewayexception::noResponse);
        enter(Line::Idle);
    }
    flushQueue(gatewayexception::noPath);
    emit lost(reason);
}

// What the module's bytes came to. The time of an answer is when its
// bytes were read here.
void BusWorker::drainReplies(qint64 atNs)
{
    BusReplies::Event e;
    while (replies.next(&e)) {
        switch (e.kind) {
        case BusReplies::Event::Kind::Reply:
            replied(e.pdu, e.frame, atNs);
            break;
        case BusReplies::Event::Kind::CrcError:
            notAnswer(true, e.frame);
            break;
        case BusReplies::Event::Kind::WrongReply:
            notAnswer(false, e.frame);
            break;
        case BusReplies::Event::Kind::Late:
            units.late(e.unit); // its late answer is in: it may be asked
            traceReceived(QStringLiteral("late"), e.frame);
            break;
        case BusReplies::Event::Kind::Stray:
            if (e.isFrame) {
                count.strayFrames += e.count;
                if (e.releases && units.contains(e.unit))
                    units[e.unit].quietUntilMs = 0;
            }
            count.strayBytes += e.size;
            if (!e.traced)
                break;
            if (e.showFrame) {
                traceReceived(QStringLiteral("stray"), e.frame);
                break;
            }
            traceEvent(e.text());
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
    object.insert(QStringLiteral("state"), ModuleLink::stateName(link.state()));
    const ModuleLink::Counters l = link.counters();
    object.insert(QStringLiteral("reconnects"), double(l.reconnects));
    object.insert(QStringLiteral("refusals"), double(l.refusals));
    object.insert(QStringLiteral("bytes_sent"), double(l.bytesSent));
    object.insert(QStringLiteral("bytes_received"), double(l.bytesReceived));
    object.insert(QStringLiteral("units"), units.json());
    return object;
}

#include "engine/gateway/busunits.h"

#include <QJsonObject>

#include <algorithm>
#include <utility>

namespace
{

QString unitState(int silentRun, bool dead, bool asked)
{
    if (dead)
        return QStringLiteral("given up");
    if (!asked)
        return QStringLiteral("not asked");
    return silentRun > 0 ? QStringLiteral("silent") : QStringLiteral("answers");
}

} // namespace

BusUnits::BusUnits(BusCounters *bus, const QElapsedTimer *clock, std::function<void(quint8)> probe)
    : bus(bus), clock(clock), probe(std::move(probe))
{
    probeTimer.setSingleShot(true);
    QObject::connect(&probeTimer, &QTimer::timeout, [this] {
        QList<quint8> due;
        for (auto it = probeDue.cbegin(); it != probeDue.cend(); ++it) {
            if (it.value() <= this->clock->elapsed())
                due << it.key();
        }
        for (const quint8 id : qAsConst(due))
            this->probe(id);
        armProbes();
    });
}

qint64 BusUnits::heldUntil(quint8 id) const
{
    const auto u = units.constFind(id);
    return u == units.constEnd() ? 0 : u->quietUntilMs;
}

void BusUnits::asked(quint8 id)
{
    Unit &u = units[id];
    u.everAsked = true;
    ++bus->requests;
    ++u.counters.requests;
}

void BusUnits::sent(quint8 id, bool again)
{
    Unit &u = units[id];
    ++bus->sent;
    ++u.counters.sent;
    if (again) {
        ++bus->retries;
        ++u.counters.retries;
    }
}

void BusUnits::refused(quint8 id, quint8 code)
{
    bus->gatewayExceptions.add(code);
    units[id].counters.gatewayExceptions.add(code);
}

bool BusUnits::answered(quint8 id, qint64 us, const QByteArray &pdu, bool probe)
{
    Unit &u = units[id];
    bus->latency.add(us);
    u.counters.latency.add(us);
    ++bus->replies;
    ++u.counters.replies;
    const bool exception = !pdu.isEmpty() && (quint8(pdu.at(0)) & 0x80);
    if (exception && pdu.size() >= 2) {
        bus->exceptions.add(quint8(pdu.at(1)));
        u.counters.exceptions.add(quint8(pdu.at(1)));
    }
    u.silentRun = 0;
    if (probe)
        u.probeQueued = false;
    if (!u.dead)
        return false;
    u.dead = false;
    probeDue.remove(id);
    return true;
}

void BusUnits::notAnswered(quint8 id, bool crc, bool probe)
{
    Unit &u = units[id];
    if (crc) {
        ++bus->crcErrors;
        ++u.counters.crcErrors;
    } else {
        ++bus->wrongReplies;
        ++u.counters.wrongReplies;
    }
    u.silentRun = 0; // something answered
    if (probe)
        u.probeQueued = false;
}

bool BusUnits::timedOut(quint8 id, bool counts, qint64 heldUntilMs, int deadAfter)
{
    Unit &u = units[id];
    ++bus->timeouts;
    ++u.counters.timeouts;
    if (counts)
        ++u.silentRun;
    u.quietUntilMs = heldUntilMs;
    return counts && !u.dead && u.silentRun >= deadAfter;
}

void BusUnits::late(quint8 id)
{
    Unit &u = units[id];
    ++bus->late;
    ++u.counters.late;
    u.quietUntilMs = 0;
}

void BusUnits::probeIn(quint8 id, int inMs)
{
    probeDue[id] = clock->elapsed() + inMs;
    armProbes();
}

void BusUnits::noProbe(quint8 id)
{
    probeDue.remove(id);
}

// The probe timer set for the next unit given up that is due.
void BusUnits::armProbes()
{
    qint64 next = -1;
    for (const qint64 due : qAsConst(probeDue))
        next = next < 0 ? due : qMin(next, due);
    if (next < 0) {
        probeTimer.stop();
        return;
    }
    probeTimer.start(int(qMax<qint64>(0, next - clock->elapsed())));
}

QJsonArray BusUnits::json() const
{
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
    return list;
}

#ifndef BUSUNITS_H
#define BUSUNITS_H

#include "engine/gateway/gatewaycounters.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QTimer>

#include <functional>

// The units behind one bus of the gateway: what each was asked and how it
// answered (each count kept for the unit and for the whole bus), and its
// health: answering, silent (time-outs in a row), held back after a
// time-out until its late answer or one more time-out, given up and when
// it is probed next.
class BusUnits
{
public:
    struct Unit {
        BusCounters counters;
        int silentRun = 0; // time-outs in a row
        bool dead = false;
        bool probeQueued = false;
        bool everAsked = false;
        qint64 quietUntilMs = 0; // after a time-out: not asked again before
    };

    // `probe` is called for a unit given up when its probe is due, on
    // `clock`'s time.
    BusUnits(BusCounters *bus, const QElapsedTimer *clock, std::function<void(quint8)> probe);

    Unit &operator[](quint8 id) { return units[id]; }
    bool contains(quint8 id) const { return units.contains(id); }
    // Not asked again before this (ms); 0: it may be asked.
    qint64 heldUntil(quint8 id) const;

    void asked(quint8 id);
    void sent(quint8 id, bool again);
    void refused(quint8 id, quint8 code);
    // An answer in time (an exception too), `us` after it was sent. True
    // when the unit was given up and is back.
    bool answered(quint8 id, qint64 us, const QByteArray &pdu, bool probe);
    // A frame from it that is not the answer (`crc`: the answer with a
    // wrong CRC): it is there.
    void notAnswered(quint8 id, bool crc, bool probe);
    // Nothing in time; `counts`: the connection it went on is still up (a
    // connection lost meanwhile says nothing of the device). True when the
    // unit is to be given up now, after `deadAfter` in a row.
    bool timedOut(quint8 id, bool counts, qint64 heldUntilMs, int deadAfter);
    // Its late answer came: it may be asked again.
    void late(quint8 id);

    // Probes of the units given up: `id` is probed `inMs` from now, or not.
    void probeIn(quint8 id, int inMs);
    // Its probe is over (or was never sent): the next `inMs` from now.
    void probeAgainIn(quint8 id, int inMs)
    {
        units[id].probeQueued = false;
        probeIn(id, inMs);
    }
    void noProbe(quint8 id);
    void stopProbes() { probeTimer.stop(); }

    // The units asked, by address, with their counters and state.
    QJsonArray json() const;

private:
    QHash<quint8, Unit> units;
    void armProbes();

    QHash<quint8, qint64> probeDue; // a unit given up -> when it is probed next (ms)
    BusCounters *bus;
    const QElapsedTimer *clock;
    std::function<void(quint8)> probe;
    QTimer probeTimer;
};

#endif // BUSUNITS_H

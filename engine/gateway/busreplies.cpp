#include "engine/gateway/busreplies.h"

#include "engine/bus/mbapframe.h"
#include "engine/bus/rtuframe.h"

#include <utility>

QByteArray BusReplies::frame(quint8 unit, const QByteArray &pdu)
{
    QByteArray frame;
    if (framing == BusFraming::Tcp) {
        ++transaction;
        frame.append(char(transaction >> 8));
        frame.append(char(transaction & 0xff));
        frame.append('\0');
        frame.append('\0');
        const int length = 1 + pdu.size();
        frame.append(char(length >> 8));
        frame.append(char(length & 0xff));
        frame.append(char(unit));
        frame.append(pdu);
        return frame;
    }
    frame.append(char(unit));
    frame.append(pdu);
    const quint16 crc = rtuframe::crc16(frame);
    frame.append(char(crc & 0xff));
    frame.append(char(crc >> 8));
    return frame;
}

void BusReplies::begin(const QByteArray &frame, quint8 unit, quint8 function, qint64 atNs)
{
    if (framing == BusFraming::Tcp) {
        askedUnit = unit;
        askedFunction = function;
        // What is left from before is nobody's answer.
        if (!tcpPending.isEmpty()) {
            Event e;
            e.size = tcpPending.size();
            e.traced = false;
            tcpPending.clear();
            events.push_back(e);
        }
        lateTransaction = 0;
        return;
    }
    rtu.begin(frame, atNs / 1000000);
    drainRtu();
}

void BusReplies::feed(const QByteArray &bytes, qint64 atNs, bool asking)
{
    if (framing == BusFraming::Tcp) {
        tcpPending += bytes;
        feedTcp(atNs, asking);
        return;
    }
    rtu.feed(bytes, atNs / 1000000);
    drainRtu();
}

void BusReplies::feedTcp(qint64 atNs, bool asking)
{
    Q_UNUSED(atNs);
    for (;;) {
        const mbapframe::Scan scan = mbapframe::scan(tcpPending);
        if (scan.state == mbapframe::Scan::State::Incomplete)
            return;
        Event e;
        if (scan.state == mbapframe::Scan::State::Invalid) {
            e.size = tcpPending.size();
            e.frame = std::exchange(tcpPending, QByteArray());
            events.push_back(e);
            return;
        }
        e.frame = tcpPending.left(scan.length);
        tcpPending.remove(0, scan.length);
        e.unit = scan.unit;
        const QByteArray pdu = e.frame.mid(mbapframe::headerLength);
        if (asking && scan.transaction == transaction && scan.unit == askedUnit && !pdu.isEmpty() &&
            (quint8(pdu.at(0)) & 0x7f) == askedFunction) {
            e.kind = Event::Kind::Reply;
            e.pdu = pdu;
        } else if (lateTransaction != 0 && scan.transaction == lateTransaction) {
            e.kind = Event::Kind::Late;
            lateTransaction = 0;
        } else {
            e.isFrame = true;
            e.count = 1;
            e.size = e.frame.size();
        }
        events.push_back(e);
    }
}

void BusReplies::expire(qint64 nowNs)
{
    if (framing == BusFraming::Tcp) {
        lateTransaction = transaction;
        return;
    }
    rtu.timeUp(nowNs / 1000000);
    drainRtu();
}

// The matcher's events in the worker's words.
void BusReplies::drainRtu()
{
    ReplyMatch::Event m;
    while (rtu.next(&m)) {
        Event e;
        e.frame = m.frame;
        e.unit = m.unit;
        e.function = m.function;
        switch (m.kind) {
        case ReplyMatch::Event::Kind::Reply:
            e.kind = Event::Kind::Reply;
            e.pdu = m.frame.mid(1, m.frame.size() - 3);
            break;
        case ReplyMatch::Event::Kind::CrcError:
            e.kind = Event::Kind::CrcError;
            break;
        case ReplyMatch::Event::Kind::WrongReply:
            e.kind = Event::Kind::WrongReply;
            break;
        case ReplyMatch::Event::Kind::NoReply:
            continue; // the answer timer says it
        case ReplyMatch::Event::Kind::Late:
            e.kind = Event::Kind::Late;
            break;
        case ReplyMatch::Event::Kind::Stray:
            // Frames of one unit in a row come as one event.
            e.isFrame = m.isFrame;
            e.showFrame = false;
            e.releases = m.isFrame;
            e.count = m.count;
            e.size = m.size;
            break;
        }
        events.push_back(e);
    }
}

QString BusReplies::Event::text() const
{
    if (!isFrame)
        return QStringLiteral("stray bytes, %1").arg(size);
    return QStringLiteral("stray frames from unit %1, function %2: %3, %4 bytes")
        .arg(unit)
        .arg(function)
        .arg(count)
        .arg(size);
}

bool BusReplies::next(Event *event)
{
    if (events.empty())
        return false;
    *event = std::move(events.front());
    events.pop_front();
    return true;
}

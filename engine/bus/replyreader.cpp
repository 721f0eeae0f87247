#include "engine/bus/replyreader.h"

#include "engine/bus/mbapframe.h"
#include "engine/bus/rtuframe.h"

void ReplyReader::expect(quint8 unit, quint8 function)
{
    awaitedUnit = unit;
    awaitedFunction = quint8(function & 0x7f);
}

void ReplyReader::feed(const QByteArray &bytes)
{
    pending += bytes;
}

bool ReplyReader::next(Item *item)
{
    if (pending.isEmpty()) {
        flushing = false;
        return false;
    }
    return framing == BusFraming::Rtu ? nextRtu(item) : nextTcp(item);
}

ReplyReader::Item ReplyReader::take(Item::Kind kind, int length)
{
    Item item;
    item.kind = kind;
    item.bytes = pending.left(length);
    pending.remove(0, length);
    return item;
}

bool ReplyReader::nextRtu(Item *item)
{
    // The earliest offset where a frame stands whole (its CRC right, or
    // wrong in the reply awaited), and the earliest where one may still
    // come: bytes before both can start no frame.
    const int size = pending.size();
    int found = -1;
    rtuframe::Scan frame;
    int open = -1;
    for (int at = 0; at < size && found < 0; ++at) {
        const quint8 unit = quint8(pending.at(at));
        if (!rtuframe::isAnsweringUnit(unit))
            continue;
        const rtuframe::Scan s =
            rtuframe::scan(QByteArray::fromRawData(pending.constData() + at, size - at),
                           rtuframe::Direction::Response);
        const bool awaited = unit == awaitedUnit && awaitedFunction != 0 && at + 1 < size &&
                             quint8(pending.at(at + 1) & 0x7f) == awaitedFunction;
        if (s.state == rtuframe::Scan::State::Complete ||
            (s.state == rtuframe::Scan::State::BadCrc && awaited)) {
            found = at;
            frame = s;
        } else if (s.state == rtuframe::Scan::State::Incomplete && open < 0) {
            open = at;
        }
    }
    if (found > 0) {
        *item = take(Item::Kind::Noise, found);
        return true;
    }
    if (found == 0) {
        const bool good = frame.state == rtuframe::Scan::State::Complete;
        *item = take(good ? Item::Kind::Frame : Item::Kind::BadCrc, frame.length);
        item->unit = quint8(item->bytes.at(0));
        item->pdu = QModbusResponse(QModbusPdu::FunctionCode(quint8(item->bytes.at(1))),
                                    item->bytes.mid(2, frame.length - 4));
        return true;
    }
    const int settled = flushing || open < 0 ? size : open;
    if (settled == 0)
        return false;
    *item = take(Item::Kind::Noise, settled);
    return true;
}

bool ReplyReader::nextTcp(Item *item)
{
    const mbapframe::Scan s = mbapframe::scan(pending);
    switch (s.state) {
    case mbapframe::Scan::State::Complete:
        *item = take(Item::Kind::Frame, s.length);
        item->unit = s.unit;
        item->transaction = s.transaction;
        item->pdu = QModbusResponse(QModbusPdu::FunctionCode(quint8(item->bytes.at(7))),
                                    item->bytes.mid(mbapframe::headerLength + 1));
        return true;
    case mbapframe::Scan::State::Invalid:
        *item = take(Item::Kind::Noise, pending.size());
        return true;
    case mbapframe::Scan::State::Incomplete:
        break;
    }
    if (!flushing)
        return false;
    *item = take(Item::Kind::Noise, pending.size());
    return true;
}

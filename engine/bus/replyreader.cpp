#include "engine/bus/replyreader.h"

#include "engine/bus/mbapframe.h"

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

ReplyReader::Item ReplyReader::take(Item::Kind kind, int length)
{
    Item item;
    item.kind = kind;
    item.bytes = pending.left(length);
    pending.remove(0, length);
    return item;
}

#include "engine/gateway/mbapreader.h"

#include "engine/bus/mbapframe.h"

void MbapReader::feed(const QByteArray &bytes)
{
    if (broken || bytes.isEmpty())
        return;
    // What was taken goes before the buffer grows: it holds at most one
    // frame begun and the new bytes.
    if (offset > 0) {
        buffer.remove(0, offset);
        offset = 0;
    }
    buffer += bytes;
}

bool MbapReader::next(Request *request)
{
    if (broken || held() == 0)
        return false;
    const int rest = held();
    const mbapframe::Scan scan =
        mbapframe::scan(QByteArray::fromRawData(buffer.constData() + offset, rest));
    switch (scan.state) {
    case mbapframe::Scan::State::Incomplete:
        return false;
    case mbapframe::Scan::State::Invalid:
        broken = true;
        buffer.clear();
        offset = 0;
        return false;
    case mbapframe::Scan::State::Complete:
        break;
    }
    request->transaction = scan.transaction;
    request->unit = scan.unit;
    request->pdu =
        buffer.mid(offset + mbapframe::headerLength, scan.length - mbapframe::headerLength);
    offset += scan.length;
    if (offset == buffer.size()) {
        buffer.clear();
        offset = 0;
    }
    return true;
}

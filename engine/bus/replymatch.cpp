#include "engine/bus/replymatch.h"

#include "engine/bus/rtuframe.h"

#include <utility>

void ReplyMatch::reset()
{
    buffer.clear();
    head = 0;
    noiseFrom = -1;
    current = State::Idle;
    request.clear();
    unit = 0;
    function = 0;
    expected = 0;
    crcAt = -1;
    events.clear();
}

void ReplyMatch::begin(const QByteArray &requestFrame, qint64 sentAtMs)
{
    if (current == State::Awaiting)
        timeUp(sentAtMs);
    settleAllAsStray(sentAtMs);
    current = State::Idle;
    request = requestFrame;
    unit = requestFrame.size() >= 2 ? quint8(requestFrame.at(0)) : 0;
    function = requestFrame.size() >= 2 ? quint8(requestFrame.at(1) & 0x7f) : 0;
    expected = rtuframe::expectedReplyLength(requestFrame);
    sentAt = sentAtMs;
    crcAt = -1;
    if (rtuframe::isAnsweringUnit(unit) && function != 0)
        current = State::Awaiting;
}

void ReplyMatch::feed(const char *bytes, int size, qint64 atMs)
{
    if (size <= 0)
        return;
    // Settled bytes go once they are at least half the buffer: each byte is
    // moved at most once on average.
    if (head > 0 && head * 2 >= buffer.size()) {
        buffer.remove(0, head);
        if (crcAt >= 0)
            crcAt -= head;
        head = 0;
    }
    buffer.append(bytes, size);
    settle(atMs);
}

void ReplyMatch::timeUp(qint64 nowMs)
{
    if (current != State::Awaiting)
        return;
    // The reply has begun and not ended: what came of it is broken.
    for (int at = head; at + 1 < buffer.size(); ++at) {
        if (!isAwaitedStart(at))
            continue;
        if (noiseFrom < 0 && at > head)
            noiseFrom = head;
        head = at;
        const int length = buffer.size() - at;
        push(Event::Kind::CrcError, at, length, nowMs, true);
        head += length;
        return;
    }
    Event event;
    event.kind = Event::Kind::NoReply;
    event.unit = unit;
    event.function = function;
    event.atMs = nowMs;
    event.ms = nowMs - sentAt;
    event.endsRequest = true;
    events.push_back(std::move(event));
    current = State::TimedOut;
    crcAt = -1;
}

bool ReplyMatch::next(Event *event)
{
    if (events.empty())
        return false;
    *event = std::move(events.front());
    events.pop_front();
    return true;
}

bool ReplyMatch::isAwaitedStart(int at) const
{
    const char *data = buffer.constData();
    return at + 1 < buffer.size() && quint8(data[at]) == unit &&
           (quint8(data[at + 1]) & 0x7f) == function;
}

void ReplyMatch::settle(qint64 atMs)
{
    while (head < buffer.size()) {
        int length = 0;
        Try tried = Try::NotIt;
        if (current != State::Idle && isAwaitedStart(head))
            tried = tryAwaited(head, atMs, &length);
        if (tried == Try::NotIt)
            tried = tryOther(head, atMs, &length);
        if (tried == Try::Taken) {
            head += length;
            continue;
        }
        if (tried == Try::NeedMore) {
            // A frame may still end here; the reply must not wait behind it.
            const int at = lookAheadForAwaited(head + 1, atMs);
            if (at < 0)
                break;
            if (noiseFrom < 0)
                noiseFrom = head;
            head = at;
            continue;
        }
        if (noiseFrom < 0)
            noiseFrom = head;
        ++head;
    }
    flushNoise(atMs);
}

// The first offset from `from` where the reply awaited stands settled (its
// bytes there to say what it is); -1 when none.
int ReplyMatch::lookAheadForAwaited(int from, qint64 atMs)
{
    if (current == State::Idle)
        return -1;
    for (int at = from; at + 1 < buffer.size(); ++at) {
        if (!isAwaitedStart(at))
            continue;
        int length = 0;
        // A trial: the cached CRC belongs to the bytes at head.
        const int keptAt = std::exchange(crcAt, -1);
        const int keptLength = crcLength;
        const quint16 keptCrc = crcSoFar;
        dryRun = true;
        const Try tried = tryAwaited(at, atMs, &length);
        dryRun = false;
        crcAt = keptAt;
        crcLength = keptLength;
        crcSoFar = keptCrc;
        if (tried == Try::Taken)
            return at;
    }
    return -1;
}

int ReplyMatch::crcEnd(int at)
{
    if (crcAt != at) {
        crcAt = at;
        crcLength = 0;
        crcSoFar = 0xffff;
    }
    const char *data = buffer.constData() + at;
    const int available = buffer.size() - at;
    while (crcLength + 2 <= rtuframe::maxLength) {
        if (crcLength + 2 > available)
            return -1;
        if (crcLength >= 2 && quint8(data[crcLength]) == (crcSoFar & 0xff) &&
            quint8(data[crcLength + 1]) == (crcSoFar >> 8))
            return crcLength + 2;
        crcSoFar = rtuframe::crc16Step(crcSoFar, quint8(data[crcLength]));
        ++crcLength;
    }
    return 0;
}

ReplyMatch::Try ReplyMatch::tryAwaited(int at, qint64 atMs, int *length)
{
    const char *data = buffer.constData() + at;
    const int available = buffer.size() - at;
    const bool inTime = current == State::Awaiting;
    const Event::Kind answered = inTime ? Event::Kind::Reply : Event::Kind::Late;
    // An exception: always five bytes.
    if (quint8(data[1]) & 0x80) {
        if (available < rtuframe::exceptionLength)
            return Try::NeedMore;
        *length = rtuframe::exceptionLength;
        if (rtuframe::hasRightCrc(data, *length))
            return take(answered, at, *length, atMs);
        return inTime ? take(Event::Kind::CrcError, at, *length, atMs) : Try::NotIt;
    }
    if (expected == 0) {
        const int end = crcEnd(at);
        if (end < 0)
            return Try::NeedMore;
        if (end == 0) {
            // No CRC ends a frame within the largest one.
            *length = rtuframe::maxLength;
            return inTime ? take(Event::Kind::CrcError, at, *length, atMs) : Try::NotIt;
        }
        *length = end;
        return take(answered, at, end, atMs);
    }
    // The length the frame gives itself, against the one asked.
    const int own = rtuframe::knownReplyLength(data, available);
    if (own > 0 && own < expected && available >= own && rtuframe::hasRightCrc(data, own)) {
        *length = own;
        return inTime ? take(Event::Kind::WrongReply, at, own, atMs) : Try::NotIt;
    }
    if (available < expected)
        return Try::NeedMore;
    if (rtuframe::hasRightCrc(data, expected)) {
        *length = expected;
        if (echoesRequest(data))
            return take(answered, at, expected, atMs);
        return inTime ? take(Event::Kind::WrongReply, at, expected, atMs) : Try::NotIt;
    }
    if (!inTime)
        return Try::NotIt;
    if (own > expected && available >= own && rtuframe::hasRightCrc(data, own)) {
        *length = own;
        return take(Event::Kind::WrongReply, at, own, atMs);
    }
    *length = expected;
    return take(Event::Kind::CrcError, at, expected, atMs);
}

// What a well-formed reply of the expected length must say of its request:
// the byte count asked, or the echo of the address and value or quantity.
bool ReplyMatch::echoesRequest(const char *reply) const
{
    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        return quint8(reply[2]) == expected - 5;
    case 0x05:
    case 0x06:
    case 0x0f:
    case 0x10:
        return request.size() >= 6 && request.mid(2, 4) == QByteArray::fromRawData(reply + 2, 4);
    default:
        return true;
    }
}

ReplyMatch::Try ReplyMatch::tryOther(int at, qint64 atMs, int *length)
{
    const char *data = buffer.constData() + at;
    const int available = buffer.size() - at;
    if (!rtuframe::isAnsweringUnit(quint8(data[0])))
        return Try::NotIt;
    const int own = rtuframe::knownReplyLength(data, available);
    if (own < 0)
        return Try::NeedMore;
    if (own == 0)
        return Try::NotIt;
    if (available < own)
        return Try::NeedMore;
    if (!rtuframe::hasRightCrc(data, own))
        return Try::NotIt;
    *length = own;
    // The unit asked answering something else is a wrong reply; the others'
    // frames are stray.
    const bool wrong = current == State::Awaiting && quint8(data[0]) == unit;
    return take(wrong ? Event::Kind::WrongReply : Event::Kind::Stray, at, own, atMs);
}

ReplyMatch::Try ReplyMatch::take(Event::Kind kind, int at, int length, qint64 atMs)
{
    if (dryRun)
        return Try::Taken;
    const bool ends = kind != Event::Kind::Stray;
    push(kind, at, length, atMs, ends);
    return Try::Taken;
}

void ReplyMatch::push(Event::Kind kind, int at, int length, qint64 atMs, bool ends)
{
    flushNoise(atMs, at);
    const char *data = buffer.constData();
    const quint8 frameUnit = quint8(data[at]);
    const quint8 frameFunction = length >= 2 ? quint8(data[at + 1]) : 0;
    if (kind == Event::Kind::Stray && !events.empty()) {
        Event &last = events.back();
        if (last.kind == Event::Kind::Stray && last.isFrame && last.unit == frameUnit &&
            last.function == frameFunction) {
            ++last.count;
            last.size += length;
            last.atMs = atMs;
            return;
        }
    }
    Event event;
    event.kind = kind;
    event.unit = frameUnit;
    event.function = frameFunction;
    event.size = length;
    event.isFrame = kind != Event::Kind::CrcError;
    event.atMs = atMs;
    // Frames of others are only counted: a flood costs no copies.
    if (kind != Event::Kind::Stray) {
        event.frame = buffer.mid(at, length);
        if (event.isFrame && length >= rtuframe::minLength)
            event.pdu = QModbusResponse(QModbusPdu::FunctionCode(event.function),
                                        event.frame.mid(2, length - 4));
    }
    if (kind != Event::Kind::Stray)
        event.ms = atMs - sentAt;
    event.endsRequest = ends && kind != Event::Kind::Late;
    events.push_back(std::move(event));
    if (ends) {
        current = State::Idle;
        crcAt = -1;
    }
}

void ReplyMatch::flushNoise(qint64 atMs, int upTo)
{
    const int end = upTo < 0 ? head : upTo;
    if (noiseFrom < 0 || end <= noiseFrom) {
        noiseFrom = -1;
        return;
    }
    Event event;
    event.kind = Event::Kind::Stray;
    event.size = end - noiseFrom;
    event.atMs = atMs;
    events.push_back(std::move(event));
    noiseFrom = -1;
}

void ReplyMatch::settleAllAsStray(qint64 atMs)
{
    const State was = std::exchange(current, State::Idle);
    while (head < buffer.size()) {
        int length = 0;
        if (tryOther(head, atMs, &length) == Try::Taken) {
            head += length;
            continue;
        }
        if (noiseFrom < 0)
            noiseFrom = head;
        ++head;
    }
    flushNoise(atMs);
    current = was;
}

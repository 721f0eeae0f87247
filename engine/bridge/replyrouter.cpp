#include "engine/bridge/replyrouter.h"

#include "engine/bus/rtuframe.h"

namespace
{

using rtuframe::Direction;
using State = rtuframe::Scan::State;

quint8 byteAt(const QByteArray &bytes, int at)
{
    return quint8(bytes.at(at));
}

// The length of the answer a whole Modbus RTU request implies; 0 when its
// function does not say.
int answerLength(const QByteArray &request)
{
    const int quantity = request.size() >= 6 ? byteAt(request, 4) << 8 | byteAt(request, 5) : 0;
    switch (byteAt(request, 1)) {
    case 1:
    case 2:
        return 5 + (quantity + 7) / 8;
    case 3:
    case 4:
        return 5 + 2 * quantity;
    case 5:
    case 6:
    case 15:
    case 16:
        return 8;
    default:
        return 0;
    }
}

} // namespace

ReplyRouter::Fate ReplyRouter::fateOf(quint64 opening, quint64 open) const
{
    return opening == open && open != 0 ? Fate::Deliver : Fate::Stale;
}

void ReplyRouter::sent(quint64 opening, const QByteArray &request, qint64 nowUs)
{
    // An answer that is no whole frame has ended when the next request goes.
    if (answering)
        retire();
    Pending p;
    p.opening = opening;
    p.sentUs = nowUs;
    p.modbus = rtuframe::isWholeFrame(request, Direction::Request);
    if (p.modbus) {
        p.unit = byteAt(request, 0);
        if (p.unit == 0)
            return; // a broadcast: nobody answers
        p.function = byteAt(request, 1);
        p.length = answerLength(request);
    } else if (!pending.empty() && !pending.back().modbus && pending.back().opening == opening &&
               !(answering && pending.size() == 1)) {
        // Bytes of another kind sent in pieces, nothing come between: one
        // answer, whatever comes until the quiet.
        pending.back().sentUs = nowUs;
        return;
    }
    pending.push_back(p);
    while (pending.size() > size_t(mostWaiting))
        retire();
}

void ReplyRouter::clear()
{
    pending.clear();
    frame.clear();
    frameGiven = 0;
    answering = false;
}

// The first request waiting is answered, or answered no more.
void ReplyRouter::retire()
{
    if (!pending.empty())
        pending.pop_front();
    answering = false;
}

void ReplyRouter::expire(qint64 nowUs)
{
    while (!pending.empty() && !answering && frame.isEmpty() &&
           nowUs - pending.front().sentUs > patienceUs)
        retire();
}

// Which request waiting a whole response frame answers: the first it fits,
// else the first one (-1: none waits).
int ReplyRouter::answeredBy(const QByteArray &reply) const
{
    const quint8 unit = byteAt(reply, 0);
    const quint8 function = byteAt(reply, 1);
    for (size_t i = 0; i < pending.size(); ++i) {
        const Pending &p = pending[i];
        if (!p.modbus)
            break; // answers come in order: none past a request of another kind
        const bool exception = function == (p.function | 0x80) && reply.size() == 5;
        if (p.unit == unit &&
            (exception || (function == p.function && (p.length == 0 || p.length == reply.size()))))
            return int(i);
    }
    return pending.empty() ? -1 : 0;
}

QList<ReplyRouter::Part> ReplyRouter::received(const QByteArray &bytes, quint64 open, qint64 nowUs,
                                               qint64 gapUs)
{
    QList<Part> parts;
    if (wantsQuiet() && nowUs - lastByteUs >= gapUs)
        parts = quiet(open);
    lastByteUs = nowUs;
    expire(nowUs);
    QByteArray rest = bytes;
    while (!rest.isEmpty()) {
        if (pending.empty()) {
            parts.append(Part{open != 0 ? Fate::Deliver : Fate::NoProgram, rest, false});
            break;
        }
        const Pending &head = pending.front();
        const Fate fate = fateOf(head.opening, open);
        if (!head.modbus || (answering && frame.isEmpty())) {
            // An answer that is no whole frame: it lasts until the line
            // falls quiet.
            answering = true;
            parts.append(Part{fate, rest, false});
            break;
        }
        frame += rest;
        rest.clear();
        const rtuframe::Scan scan = rtuframe::scan(frame, Direction::Response);
        if (scan.state == State::Incomplete) {
            // Delivered as it comes unless it may answer an earlier opening.
            if (fate == Fate::Deliver) {
                parts.append(Part{fate, frame.mid(frameGiven), false});
                frameGiven = frame.size();
            }
            break;
        }
        if (scan.state != State::Complete) {
            // No frame: it answers the first request, to the quiet.
            parts.append(Part{fate, frame.mid(frameGiven), false});
            frame.clear();
            frameGiven = 0;
            answering = true;
            break;
        }
        const QByteArray reply = frame.left(scan.length);
        rest = frame.mid(scan.length);
        const int given = frameGiven;
        frame.clear();
        frameGiven = 0;
        const int by = answeredBy(reply);
        for (int i = 0; i < by; ++i)
            retire(); // went unanswered
        const Fate owner = fateOf(pending.front().opening, open);
        retire();
        parts.append(Part{owner, reply.mid(given), owner == Fate::Stale});
    }
    return parts;
}

QList<ReplyRouter::Part> ReplyRouter::quiet(quint64 open)
{
    QList<Part> parts;
    if (!frame.isEmpty() && !pending.empty()) {
        const Fate fate = fateOf(pending.front().opening, open);
        if (frame.size() > frameGiven)
            parts.append(Part{fate, frame.mid(frameGiven), fate == Fate::Stale});
        frame.clear();
        frameGiven = 0;
        retire();
    } else if (answering) {
        if (!pending.empty() && fateOf(pending.front().opening, open) == Fate::Stale)
            parts.append(Part{Fate::Stale, QByteArray(), true}); // a whole answer dropped
        retire();
    }
    return parts;
}

#ifndef REPLYROUTER_H
#define REPLYROUTER_H

#include <QByteArray>
#include <QList>

#include <deque>

// Which opening of the bridge's port the module's bytes answer, so that a
// reply reaches only the program that asked (openings: PtyPort).
//
// Each request sent to the module is noted with its opening. The module's
// bytes answer the requests in the order they were sent:
// - A whole Modbus RTU request expects a whole response frame of its unit,
//   with its function (or its exception), of the length the request implies
//   where it does (a byte count of 2 x quantity for functions 3 and 4,
//   quantity / 8 rounded up for 1 and 2, eight bytes for 5, 6, 15 and 16).
//   A frame that fits a later request than the first one waiting answers
//   that one: those before it went unanswered. A frame that fits none, or
//   bytes that are no frame, answer the first one waiting, until the line
//   has been quiet for the gap.
// - Anything else sent expects whatever comes until the line has been quiet
//   for the gap, or until the next request goes; pieces of it sent one
//   after the other with nothing come between expect one answer.
// - A request not answered within the patience is answered no more: what
//   comes later answers the next one, or nothing.
// - A request to unit 0 (broadcast) expects nothing.
// Bytes that answer a request of the opening that has the port open are
// delivered as they come. Bytes that answer an earlier opening's request
// are dropped (Stale), whole: the start of a frame that may answer either
// is held back until it is whole or the line has been quiet for the gap.
// Bytes that answer nothing go to the opening that has the port open, or
// are dropped when none has (NoProgram).
//
// A frame answering an earlier opening's request cannot be told from the
// answer to the same request sent again by the next opening: it is taken
// for the earlier one's, and dropped (the program times out once, and never
// takes the earlier answer for its own).
class ReplyRouter
{
public:
    enum class Fate { Deliver, Stale, NoProgram };
    struct Part {
        Fate fate = Fate::Deliver;
        QByteArray bytes;
        bool whole = false; // Stale: a whole answer ends with these bytes
    };
    static constexpr int mostWaiting = 256; // requests noted at most

    // How long a request is waited for, in microseconds.
    void setPatienceUs(qint64 us) { patienceUs = us; }

    // `request` sent by `opening` at `nowUs`.
    void sent(quint64 opening, const QByteArray &request, qint64 nowUs);
    // The module's bytes, come at `nowUs`; `open` is the opening that has
    // the port open now, 0 when none has; `gapUs` the quiet that ends a
    // reply that is no whole frame.
    QList<Part> received(const QByteArray &bytes, quint64 open, qint64 nowUs, qint64 gapUs);
    // The line has been quiet for the gap: what was held back goes, and the
    // reply under way has ended.
    QList<Part> quiet(quint64 open);
    // A reply is under way that ends when the line falls quiet.
    bool wantsQuiet() const { return !frame.isEmpty() || answering; }
    // A new connection: nothing sent before it is answered any more.
    void clear();
    // Requests waiting for an answer.
    int waiting() const { return int(pending.size()); }

private:
    struct Pending {
        quint64 opening = 0;
        bool modbus = false; // a whole Modbus RTU request
        quint8 unit = 0;
        quint8 function = 0;
        int length = 0; // of its answer; 0 when the request does not say
        qint64 sentUs = 0;
    };
    Fate fateOf(quint64 opening, quint64 open) const;
    void expire(qint64 nowUs);
    void retire();
    int answeredBy(const QByteArray &reply) const;

    std::deque<Pending> pending;
    qint64 patienceUs = 2000000;
    QByteArray frame;       // a reply frame under way: its bytes so far
    int frameGiven = 0;     // ... of which delivered already
    bool answering = false; // the first request waiting is being answered
    qint64 lastByteUs = 0;
};

#endif // REPLYROUTER_H

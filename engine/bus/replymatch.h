#ifndef REPLYMATCH_H
#define REPLYMATCH_H

#include <QByteArray>
#include <QModbusResponse>

#include <deque>

// One reply for one request on a Modbus RTU line, as a master sees it
// through a transparent module: what comes back is matched against the
// request it answers, by the request alone. No sockets, no timers: the
// caller says when a request was sent, feeds what came with its arrival
// time (ms of one monotonic clock), says when the time for an answer is up,
// and takes the events.
//
//     ReplyMatch match;
//     match.feed(alreadyRead, now());          // everything read so far
//     match.begin(requestFrame, now());        // right after writing it
//     ... match.feed(bytes, now());            // as they come
//     ... match.timeUp(now());                 // at the answer time-out
//     ReplyMatch::Event e;
//     while (match.next(&e)) ...
//
// The rules:
// - Whatever was fed before begin() and is still pending then (a frame in
//   transit, a reply that came after its request was given up) is stray:
//   set aside, counted with its unit, never taken as an answer.
// - The reply matches only when it comes after begin() and before timeUp(),
//   from the request's unit, with its function code or that code + 0x80
//   (an exception, always 5 bytes), and with the length the request implies
//   (rtuframe::expectedReplyLength): for functions 1-4 its byte count is the
//   one the quantity asks, for 5, 6, 15 and 16 it echoes the address and
//   the value or quantity. Any other function's reply (8, 17, 23, 43, a
//   vendor's) ends at its first complete CRC: no table of known functions.
// - Since the length comes from the request, a reply whose bytes are all
//   there at that length and whose CRC is wrong is a CRC error, a corrupted
//   byte count included. A well-formed frame from the request's unit that
//   breaks the rules (another function, a byte count not asked, an echo of
//   another address, a shorter frame whose CRC is right) is a wrong reply,
//   and ends the request; a longer one counts as such only when it is whole
//   by the time the expected length is there.
// - A well-formed frame from another unit is stray (another device's
//   traffic, a reply given up on), even while the answer is awaited.
// - After timeUp() a reply that matches is late, only until the next
//   begin(); a late exception keeps its code. A second copy of it, a
//   duplicate after the answer, anything after the request has ended is
//   stray.
// - Others' frames are told by the public function codes' lengths
//   (rtuframe::knownReplyLength); bytes that are no frame are stray with
//   unit 0, a run at a time. Stray frames of one unit and function in a row
//   are one event with their count.
// - A request to unit 0 (the broadcast) awaits nothing.
//
// The work is linear in what is fed: frames are taken off an internal
// buffer by offset, bytes that may still start a frame are held back at
// most one largest frame (256 bytes), and nothing is copied but the frames
// handed out in events.
class ReplyMatch
{
public:
    struct Event {
        enum class Kind {
            Reply,      // the reply to the request (an exception included)
            CrcError,   // the reply's bytes came, their CRC wrong (or the
                        // reply began and had not ended at timeUp())
            WrongReply, // a well-formed frame from the unit asked that is not
                        // the reply
            NoReply,    // timeUp() came and no reply had
            Late,       // the reply, after timeUp(), before the next begin()
            Stray,      // a frame or bytes that answer no request in hand
        };
        Kind kind = Kind::Stray;
        quint8 unit = 0;      // the frame's unit address; 0 for bytes no frame
        quint8 function = 0;  // its function code as on the line (0x80 for
                              // an exception); 0 for bytes no frame
        int size = 0;         // bytes
        bool isFrame = false; // Stray: a whole frame, its CRC right
        // Stray frames: how many came one after another from this unit with
        // this function code (`size` their bytes together), so that a flood
        // is a few events; 1 otherwise.
        int count = 1;
        // Reply, Late, WrongReply, CrcError: the bytes as they came (for
        // Stray, empty: only counted, so a flood costs no copies).
        QByteArray frame;
        // Reply, Late, WrongReply: the PDU (QModbusPdu::isException()).
        QModbusResponse pdu;
        qint64 atMs = 0; // when its last byte came (NoReply: the timeUp())
        qint64 ms = -1;  // from begin() to atMs; -1 for Stray
        // Whether this event ends the request in hand (Reply, CrcError,
        // WrongReply, NoReply).
        bool endsRequest = false;

        bool isException() const { return (function & 0x80) != 0; }
        // The exception's code; 0 when none.
        quint8 exceptionCode() const
        {
            return isException() && frame.size() >= 3 ? quint8(frame.at(2)) : 0;
        }
    };

    enum class State {
        Idle,     // no request in hand: whatever comes is stray
        Awaiting, // between begin() and the reply or timeUp()
        TimedOut, // after timeUp(), until the reply comes late or begin()
    };

    // The request, as written to the line (unit, PDU, CRC), sent at
    // `sentAtMs`. Settles what is pending as stray first; a request still
    // awaited gets its NoReply at `sentAtMs`.
    void begin(const QByteArray &requestFrame, qint64 sentAtMs);
    void feed(const QByteArray &bytes, qint64 atMs) { feed(bytes.constData(), bytes.size(), atMs); }
    void feed(const char *bytes, int size, qint64 atMs);
    // The answer time-out: NoReply, or a CrcError when the reply has begun
    // and not ended.
    void timeUp(qint64 nowMs);
    // The next event, oldest first; false when there is none.
    bool next(Event *event);
    bool hasEvents() const { return !events.empty(); }

    State state() const { return current; }
    // Bytes fed and not yet settled (a frame that may still come).
    int pendingSize() const { return buffer.size() - head; }
    // Forgets everything: the request, what is pending, the events.
    void reset();

private:
    enum class Try {
        NotIt,    // no such frame starts here
        NeedMore, // one may: more bytes are needed to tell
        Taken,    // settled, its event queued (none in a dry run)
    };
    void settle(qint64 atMs);
    void settleAllAsStray(qint64 atMs);
    bool isAwaitedStart(int at) const;
    Try tryAwaited(int at, qint64 atMs, int *length);
    Try tryOther(int at, qint64 atMs, int *length);
    Try take(Event::Kind kind, int at, int length, qint64 atMs);
    bool echoesRequest(const char *reply) const;
    int lookAheadForAwaited(int from, qint64 atMs);
    int crcEnd(int at);
    void push(Event::Kind kind, int at, int length, qint64 atMs, bool ends);
    void flushNoise(qint64 atMs, int upTo = -1);

    QByteArray buffer;
    int head = 0;       // first byte not settled
    int noiseFrom = -1; // a run of bytes that are no frame, from here to head

    State current = State::Idle;
    QByteArray request;
    quint8 unit = 0;
    quint8 function = 0;
    int expected = 0; // the normal reply's length; 0: it ends by its CRC
    qint64 sentAt = 0;

    // The reply that ends by its CRC, checked so far from `crcAt`.
    int crcAt = -1;
    int crcLength = 0;
    quint16 crcSoFar = 0xffff;
    bool dryRun = false; // a look ahead: tells, queues nothing

    std::deque<Event> events;
};

#endif // REPLYMATCH_H

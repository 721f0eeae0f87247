#ifndef SERIALBRIDGE_H
#define SERIALBRIDGE_H

#include "engine/bridge/gaptimer.h"
#include "engine/bridge/ptyport.h"
#include "engine/bridge/replyrouter.h"
#include "engine/link/hostport.h"
#include "engine/link/modulelink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

class TraceLog;

// A virtual serial port to the RS-485 bus behind a module, for programs that
// speak only serial (Modbus RTU masters, SCADA drivers). As ser2net keeps
// its two ends apart from the data between them, it is three parts: the
// port (PtyPort), the module link (ModuleLink), and this, the mover with its
// framing between them.
//
// From the port to the module, frames are kept whole:
// - What a program has written so far that is a whole Modbus RTU request
//   (its length follows from its function code, its CRC is right) goes at
//   once, in one write: no gap to wait (engine/bus/rtuframe reads it).
// - Anything else is gathered until the port has been quiet for the gap,
//   then sent in one write. The gap is the Modbus serial line's: 3.5
//   characters at the speed, parity and stop bits the program set, up to
//   19200 bit/s, and 1.75 ms above (and before a program sets a speed);
//   timed to the microsecond.
// - Bytes written while there is no connection, or across a loss, are
//   discarded and counted, never sent late: nothing goes twice or out of
//   order.
// - While more than moduleBacklogBound bytes wait for the module, the port
//   is not read: the program's writes wait in the pseudo-terminal.
// - A stalled module gets no more requests: when a Modbus request has gone
//   unanswered for the stall time (--stall) and the module has sent nothing
//   since, requests are not sent but counted, until the module sends a byte
//   or the connection is made anew; one every stall time still goes, to
//   find out whether a device answers again (a module whose bus merely has
//   nobody answering would otherwise never be asked again). What the
//   module's TCP stack has acknowledged before cannot be recalled: a module
//   that stalls with requests in hand may still put them on its bus late.
// From the module to the port, bytes go as they arrive, to the programs of
// the opening whose request they answer (ReplyRouter): an answer to an
// earlier opening's request is dropped and counted, even when a new program
// has opened the port since. Bytes that arrive while no program has the
// port open are dropped and counted, and so is what the last program left
// unread when it closed the port: the next program never takes a stale
// reply for its answer.
//
// The pseudo-terminal needs a POSIX system: elsewhere available() is false
// and openPort() fails.
class SerialBridge : public QObject
{
    Q_OBJECT

public:
    static constexpr int moduleBacklogBound = 64 * 1024;
    // Bytes streamed without a pause leave in pieces of this size: a frame
    // of a serial protocol is far smaller.
    static constexpr int largestFrame = 64 * 1024;
    // The gap above 19200 bit/s, fixed by the Modbus serial line rules.
    static constexpr int fastGapUs = 1750;
    static constexpr int defaultStallMs = 2000;

    struct Settings {
        HostPort target;
        QString link;                 // the path programs open as their serial port
        int gapUs = -1;               // quiet time that ends a frame; -1: the Modbus gap
        int giveUpMs = -1;            // without a connection this long, give up; -1: never
        int stallMs = defaultStallMs; // a request unanswered this long: stalled
        TraceLog *trace = nullptr;
    };
    struct Counters {
        qint64 bytesToModule = 0; // left for the module
        qint64 framesToModule = 0;
        qint64 wholeFrames = 0; // frames sent the moment they were whole Modbus RTU frames
        qint64 bytesFromModule = 0;
        qint64 droppedBytes = 0; // from the module, not given to a program: all of
        qint64 unreadBytes = 0;  // ... left unread when the last program closed the port
        qint64 staleBytes = 0;   // ... answering an earlier opening's requests
        qint64 staleReplies = 0; // ... those answers
        // (the rest came while no program had the port open)
        qint64 openings = 0;      // the port opened while no program had it open
        qint64 stalledFrames = 0; // not sent: the module had answered nothing
        qint64 stalledBytes = 0;
        qint64 reconnects = 0;     // connections kept again after a loss
        qint64 refusals = 0;       // connections the module closed at once
        qint64 discardedBytes = 0; // written while there was no connection
        qint64 discardedFrames = 0;
    };
    using State = ModuleLink::State;

    explicit SerialBridge(const Settings &settings, QObject *parent = nullptr);
    ~SerialBridge() override;
    SerialBridge(const SerialBridge &) = delete;
    SerialBridge &operator=(const SerialBridge &) = delete;

    // Whether this system has the pseudo-terminals the port needs.
    static bool available() { return PtyPort::available(); }
    // The gap of a character format, in microseconds: 3.5 characters of
    // `bitsPerCharacter` at `baud` up to 19200, fastGapUs above and for an
    // unknown speed (0).
    static int characterGapUs(int baud, int bitsPerCharacter);

    // Makes the port and its link. False with the reason, nothing left
    // behind.
    bool openPort(QString *problem);
    QString device() const { return port.device(); }
    QString target() const { return link.target(); }

    // Connects, and keeps connecting until stop() or the give-up time.
    void start();
    // Closes the connection and the port and removes the link. Safe to call
    // more than once.
    void stop();

    State state() const { return link.state(); }
    Counters counters() const;
    // The gap the next frame is gathered with, in microseconds.
    int currentGapUs();

signals:
    void connected(qint64 downMs, qint64 refusals);
    void notReached(const QString &reason);
    void lost(const QString &reason);
    void refusing();
    void gaveUp(const QString &reason);
    // The module has answered nothing for `silentMs`: requests are held back.
    void stalling(qint64 silentMs);
    // It answers again; `held` requests were not sent meanwhile.
    void answeringAgain(qint64 held);

private:
    void onPortReadable();
    void takePort(PtyPort::Reading reading = PtyPort::Reading::Everything);
    void gather(const QByteArray &bytes, quint64 opening);
    void endOpening(quint64 opening, qint64 unread);
    void send(const QByteArray &bytes, bool whole);
    bool heldBack(const QByteArray &bytes, qint64 nowUs);
    void onGap();
    void onModuleReadable();
    qint64 readModule(qint64 max);
    void route(const QList<ReplyRouter::Part> &parts);
    void onReplyQuiet();
    int replyGapUs() const;
    void awaitQuiet();
    void moduleSpoke();
    void updateReading();

    Settings settings;
    PtyPort port;
    ModuleLink link;
    ReplyRouter router;
    GapTimer gap;
    GapTimer replyQuiet; // the module's line quiet: a reply has ended
    QElapsedTimer clock;
    Counters own;                // the mover's part; the link adds its own
    QByteArray frame;            // gathered from the port, not yet sent
    quint64 frameGeneration = 0; // the connection the frame started under
    quint64 frameOpening = 0;    // the opening it was written in
    quint64 openNow = 0;         // the opening that has the port open; 0: none
    int lastGapUs = fastGapUs;
    qint64 lastModuleUs = 0;       // when the module's last bytes were read
    qint64 unansweredSinceUs = -1; // the first request sent since the module spoke
    qint64 lastSentUs = -1;
    bool stalled = false;
    qint64 heldInStall = 0; // requests not sent in this stall
    bool stopped = false;
};

#endif // SERIALBRIDGE_H

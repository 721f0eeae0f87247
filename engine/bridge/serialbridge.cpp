#include "engine/bridge/serialbridge.h"

#include "engine/bus/rtuframe.h"
#include "engine/platform/tracelog.h"

#include <cmath>

namespace
{

// What waits for the port at most while its program does not read: the
// module's bytes wait in the connection meanwhile.
constexpr int portBound = 64 * 1024;

QString hexOf(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.size() > 64 ? bytes.left(64).toHex() + "..." : bytes.toHex());
}

} // namespace

SerialBridge::SerialBridge(const Settings &settings, QObject *parent)
    : QObject(parent), settings(settings), link(settings.target)
{
    clock.start();
    router.setPatienceUs(qint64(settings.stallMs > 0 ? settings.stallMs : defaultStallMs) * 1000);
    link.setGiveUp(settings.giveUpMs);
    link.setTrace(settings.trace);
    connect(&link, &ModuleLink::connected, this, &SerialBridge::connected);
    connect(&link, &ModuleLink::notReached, this, &SerialBridge::notReached);
    connect(&link, &ModuleLink::lost, this, [this](const QString &reason) {
        // The connection made anew: what was sent on the old one is answered
        // no more, and the module gets requests again.
        router.clear();
        unansweredSinceUs = -1;
        stalled = false;
        emit lost(reason);
    });
    connect(&link, &ModuleLink::refusing, this, &SerialBridge::refusing);
    connect(&link, &ModuleLink::gaveUp, this, [this](const QString &reason) {
        stop();
        emit gaveUp(reason);
    });
    connect(&link, &ModuleLink::readyRead, this, &SerialBridge::onModuleReadable);
    connect(&link, &ModuleLink::drained, this, &SerialBridge::updateReading);
    connect(&port, &PtyPort::readyRead, this, &SerialBridge::onPortReadable);
    connect(&port, &PtyPort::drained, this, &SerialBridge::onModuleReadable);
    connect(&gap, &GapTimer::timeout, this, &SerialBridge::onGap);
    connect(&replyQuiet, &GapTimer::timeout, this, &SerialBridge::onReplyQuiet);
}

SerialBridge::~SerialBridge()
{
    stop();
}

int SerialBridge::characterGapUs(int baud, int bitsPerCharacter)
{
    if (baud <= 0 || baud > 19200)
        return fastGapUs;
    return int(std::ceil(3.5 * bitsPerCharacter * 1e6 / baud));
}

int SerialBridge::currentGapUs()
{
    if (settings.gapUs >= 0)
        return settings.gapUs;
    if (port.isOpen()) {
        const PtyPort::Format format = port.format();
        lastGapUs = characterGapUs(format.baud, format.bitsPerCharacter);
    }
    return lastGapUs; // the port closed: the gap it had
}

bool SerialBridge::openPort(QString *problem)
{
    if (!port.open(settings.link, problem))
        return false;
    if (settings.trace)
        settings.trace->event(settings.link, QStringLiteral("port %1").arg(port.device()));
    return true;
}

void SerialBridge::start()
{
    link.start();
}

void SerialBridge::stop()
{
    if (stopped)
        return;
    stopped = true;
    gap.stop();
    replyQuiet.stop();
    // A frame gathered while connected still goes (best effort: the
    // connection closes next); otherwise it is counted as discarded.
    if (!frame.isEmpty())
        send(std::exchange(frame, QByteArray()), false);
    link.stop();
    port.close();
    if (settings.trace)
        settings.trace->event(target(), QStringLiteral("stopped"));
}

SerialBridge::Counters SerialBridge::counters() const
{
    const ModuleLink::Counters l = link.counters();
    Counters c = own;
    c.bytesToModule = l.bytesSent;
    c.framesToModule = l.framesSent;
    c.bytesFromModule = l.bytesReceived;
    c.reconnects = l.reconnects;
    c.refusals = l.refusals;
    c.discardedBytes += l.bytesLost;
    c.discardedFrames += l.framesLost;
    return c;
}

void SerialBridge::onPortReadable()
{
    if (!stopped)
        takePort();
}

// What happened at the port, in order: openings begun and ended, and what
// the programs wrote in them.
void SerialBridge::takePort(PtyPort::Reading reading)
{
    for (const PtyPort::Event &event : port.take(reading)) {
        switch (event.kind) {
        case PtyPort::Event::Kind::Opened:
            openNow = event.opening;
            ++own.openings;
            if (settings.trace)
                settings.trace->event(settings.link,
                                      QStringLiteral("opened (opening %1)").arg(event.opening));
            break;
        case PtyPort::Event::Kind::Bytes:
            gather(event.bytes, event.opening);
            break;
        case PtyPort::Event::Kind::Closed:
            endOpening(event.opening, event.unread);
            break;
        }
    }
}

void SerialBridge::gather(const QByteArray &bytes, quint64 opening)
{
    // A frame begun in another opening is that opening's: it goes now.
    if (!frame.isEmpty() && frameOpening != opening) {
        gap.stop();
        send(std::exchange(frame, QByteArray()), false);
    }
    if (frame.isEmpty()) {
        frameGeneration = link.state() == State::Connected ? link.generation() : 0;
        frameOpening = opening;
    }
    frame += bytes;
    // Whole Modbus RTU requests leave at once, each in its own write.
    for (;;) {
        const rtuframe::Scan scan = rtuframe::scan(frame, rtuframe::Direction::Request);
        if (scan.state != rtuframe::Scan::State::Complete)
            break;
        send(frame.left(scan.length), true);
        frame.remove(0, scan.length);
    }
    while (frame.size() >= largestFrame) {
        send(frame.left(largestFrame), false);
        frame.remove(0, largestFrame);
    }
    if (frame.isEmpty()) {
        gap.stop();
        return;
    }
    const int gapUs = currentGapUs();
    if (gapUs == 0)
        send(std::exchange(frame, QByteArray()), false);
    else
        gap.start(gapUs);
}

// No program has the port open any more. What they wrote last goes now; what
// the module sent that still waits in the connection was meant for them, and
// is dropped with what they left unread in the port.
void SerialBridge::endOpening(quint64 opening, qint64 unread)
{
    if (!frame.isEmpty() && frameOpening == opening) {
        gap.stop();
        send(std::exchange(frame, QByteArray()), false);
    }
    openNow = 0;
    qint64 dropped = unread;
    while (link.bytesAvailable() > 0) {
        const QByteArray bytes = link.read(link.bytesAvailable());
        if (bytes.isEmpty())
            break;
        moduleSpoke();
        for (const ReplyRouter::Part &part :
             router.received(bytes, 0, clock.nsecsElapsed() / 1000, replyGapUs())) {
            dropped += part.bytes.size();
            own.staleReplies += part.whole;
        }
    }
    own.unreadBytes += dropped;
    own.droppedBytes += dropped;
    awaitQuiet();
    if (settings.trace)
        settings.trace->event(settings.link,
                              QStringLiteral("closed by every program (opening %1); %2 bytes "
                                             "unread dropped")
                                  .arg(opening)
                                  .arg(dropped));
}

// Bytes that came while the gap ran out belong to the frame: the gap counts
// from the last bytes the bridge saw.
void SerialBridge::onGap()
{
    takePort();
    if (gap.isActive())
        return; // more came: the gap starts again
    if (!frame.isEmpty())
        send(std::exchange(frame, QByteArray()), false);
}

// Not sent while the module is stalled (see the class comment), but one
// request every stall time.
bool SerialBridge::heldBack(const QByteArray &bytes, qint64 nowUs)
{
    const qint64 stallUs = qint64(settings.stallMs) * 1000;
    if (settings.stallMs <= 0 || unansweredSinceUs < 0 || nowUs - unansweredSinceUs <= stallUs)
        return false;
    if (!stalled) {
        stalled = true;
        heldInStall = 0;
        if (settings.trace)
            settings.trace->event(target(), QStringLiteral("answers nothing: requests held back"));
        emit stalling((nowUs - unansweredSinceUs) / 1000);
    }
    if (nowUs - lastSentUs >= stallUs)
        return false; // the one that finds out
    ++heldInStall;
    ++own.stalledFrames;
    own.stalledBytes += bytes.size();
    if (settings.trace)
        settings.trace->event(target(), QStringLiteral("not sent (the module answers nothing): ") +
                                            hexOf(bytes));
    return true;
}

// Sent only on the connection it was written under: bytes written while
// there was none, or across a loss, would arrive late.
void SerialBridge::send(const QByteArray &bytes, bool whole)
{
    const qint64 nowUs = clock.nsecsElapsed() / 1000;
    // A whole request to a unit expects an answer; other bytes may not.
    const bool request = whole && !bytes.isEmpty() && bytes.at(0) != 0;
    if (link.state() == State::Connected && frameGeneration == link.generation() &&
        heldBack(bytes, nowUs))
        return;
    if (link.state() != State::Connected || frameGeneration != link.generation() ||
        !link.send(bytes)) {
        own.discardedBytes += bytes.size();
        ++own.discardedFrames;
        if (settings.trace)
            settings.trace->event(target(),
                                  QStringLiteral("discarded (no connection): ") + hexOf(bytes));
        return;
    }
    lastSentUs = nowUs;
    if (request && unansweredSinceUs < 0)
        unansweredSinceUs = nowUs;
    router.sent(frameOpening, bytes, nowUs);
    if (whole)
        ++own.wholeFrames;
    if (settings.trace)
        settings.trace->sent(target(), bytes);
    updateReading();
}

void SerialBridge::updateReading()
{
    if (stopped)
        return;
    const bool room = link.backlog() <= moduleBacklogBound;
    if (room == port.isReading())
        return;
    port.setReading(room);
    if (room)
        onPortReadable(); // what waited meanwhile
}

void SerialBridge::moduleSpoke()
{
    unansweredSinceUs = -1;
    if (!stalled)
        return;
    stalled = false;
    if (settings.trace)
        settings.trace->event(target(), QStringLiteral("answers again"));
    emit answeringAgain(heldInStall);
}

void SerialBridge::onModuleReadable()
{
    if (stopped)
        return;
    // The port's openings first: a reply goes to the opening that has it
    // open now.
    takePort(PtyPort::Reading::OpeningsOnly);
    while (link.bytesAvailable() > 0 && port.waiting() < portBound) {
        const QByteArray bytes = link.read(portBound - port.waiting());
        if (bytes.isEmpty())
            break;
        moduleSpoke();
        lastModuleUs = clock.nsecsElapsed() / 1000;
        route(router.received(bytes, openNow, lastModuleUs, replyGapUs()));
    }
    awaitQuiet();
}

// The gap that ends a module's reply that is no whole frame: the port's, as
// last worked out.
int SerialBridge::replyGapUs() const
{
    return settings.gapUs >= 0 ? settings.gapUs : lastGapUs;
}

// While a reply is under way, the quiet that ends it is timed: from the
// module's last bytes, one timer however many come.
void SerialBridge::awaitQuiet()
{
    if (router.wantsQuiet() && !replyQuiet.isActive())
        replyQuiet.start(replyGapUs());
}

void SerialBridge::route(const QList<ReplyRouter::Part> &parts)
{
    for (const ReplyRouter::Part &part : parts) {
        switch (part.fate) {
        case ReplyRouter::Fate::Deliver:
            if (settings.trace)
                settings.trace->received(target(), part.bytes);
            port.write(part.bytes);
            break;
        case ReplyRouter::Fate::Stale:
            own.droppedBytes += part.bytes.size();
            own.staleBytes += part.bytes.size();
            own.staleReplies += part.whole;
            if (settings.trace && !part.bytes.isEmpty())
                settings.trace->event(target(), QStringLiteral("dropped (the answer to an "
                                                               "earlier opening's request): ") +
                                                    hexOf(part.bytes));
            break;
        case ReplyRouter::Fate::NoProgram:
            own.droppedBytes += part.bytes.size();
            if (settings.trace)
                settings.trace->event(target(),
                                      QStringLiteral("dropped (no program has the port open): ") +
                                          hexOf(part.bytes));
            break;
        }
    }
}

// The module's line has been quiet for the gap: a reply under way has ended.
void SerialBridge::onReplyQuiet()
{
    if (stopped)
        return;
    if (link.bytesAvailable() > 0) {
        onModuleReadable(); // not quiet: bytes wait to be read
        return;
    }
    const qint64 quietUs = clock.nsecsElapsed() / 1000 - lastModuleUs;
    if (quietUs < replyGapUs()) {
        replyQuiet.start(int(replyGapUs() - quietUs)); // bytes came meanwhile
        return;
    }
    takePort(PtyPort::Reading::OpeningsOnly);
    route(router.quiet(openNow));
}

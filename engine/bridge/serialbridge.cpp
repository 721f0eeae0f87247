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
    link.setGiveUp(settings.giveUpMs);
    link.setTrace(settings.trace);
    connect(&link, &ModuleLink::connected, this, &SerialBridge::connected);
    connect(&link, &ModuleLink::notReached, this, &SerialBridge::notReached);
    connect(&link, &ModuleLink::lost, this, &SerialBridge::lost);
    connect(&link, &ModuleLink::refusing, this, &SerialBridge::refusing);
    connect(&link, &ModuleLink::gaveUp, this, [this](const QString &reason) {
        stop();
        emit gaveUp(reason);
    });
    connect(&link, &ModuleLink::readyRead, this, &SerialBridge::onModuleReadable);
    connect(&link, &ModuleLink::drained, this, &SerialBridge::updateReading);
    connect(&port, &PtyPort::readyRead, this, &SerialBridge::onPortReadable);
    connect(&port, &PtyPort::drained, this, &SerialBridge::onModuleReadable);
    connect(&port, &PtyPort::closedByAll, this, [this](qint64 dropped) {
        // What the module sent that still waits in the connection was meant
        // for the program that left too.
        dropped += link.read(link.bytesAvailable()).size();
        own.droppedBytes += dropped;
        if (this->settings.trace)
            this->settings.trace->event(
                this->settings.link,
                QStringLiteral("closed by every program; %1 bytes unread dropped").arg(dropped));
    });
    connect(&gap, &GapTimer::timeout, this, &SerialBridge::onGap);
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
    if (stopped)
        return;
    const QByteArray bytes = port.take();
    if (!bytes.isEmpty())
        gather(bytes);
}

void SerialBridge::gather(const QByteArray &bytes)
{
    if (frame.isEmpty())
        frameGeneration = link.state() == State::Connected ? link.generation() : 0;
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

// Bytes that came while the gap ran out belong to the frame: the gap counts
// from the last bytes the bridge saw.
void SerialBridge::onGap()
{
    const QByteArray more = port.take();
    if (!more.isEmpty()) {
        gather(more);
        return;
    }
    if (!frame.isEmpty())
        send(std::exchange(frame, QByteArray()), false);
}

// Sent only on the connection it was written under: bytes written while
// there was none, or across a loss, would arrive late.
void SerialBridge::send(const QByteArray &bytes, bool whole)
{
    if (link.state() != State::Connected || frameGeneration != link.generation() ||
        !link.send(bytes)) {
        own.discardedBytes += bytes.size();
        ++own.discardedFrames;
        if (settings.trace)
            settings.trace->event(target(),
                                  QStringLiteral("discarded (no connection): ") + hexOf(bytes));
        return;
    }
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

void SerialBridge::onModuleReadable()
{
    if (stopped)
        return;
    if (port.programs() == 0) {
        const QByteArray stale = link.read(link.bytesAvailable());
        if (stale.isEmpty())
            return;
        own.droppedBytes += stale.size();
        if (settings.trace)
            settings.trace->event(target(),
                                  QStringLiteral("dropped (no program has the port open): ") +
                                      hexOf(stale));
        return;
    }
    while (port.waiting() < portBound && link.bytesAvailable() > 0) {
        const QByteArray bytes = link.read(portBound - port.waiting());
        if (bytes.isEmpty())
            break;
        if (settings.trace)
            settings.trace->received(target(), bytes);
        port.write(bytes);
    }
}

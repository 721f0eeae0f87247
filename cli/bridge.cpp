// ordan-cli bridge HOST:PORT --link PATH: its arguments and what it prints.
// The bridge itself is the engine's SerialBridge.
#include "cli/output.h"
#include "cli/run.h"
#include "engine/bridge/serialbridge.h"
#include "engine/platform/interruptwatch.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace
{

constexpr int linkExit = 3;
constexpr int longestGapMs = 10000;

QString stateName(SerialBridge::State state)
{
    switch (state) {
    case SerialBridge::State::Connected:
        return QStringLiteral("connected");
    case SerialBridge::State::Stopped:
        return QStringLiteral("stopped");
    case SerialBridge::State::Idle:
    case SerialBridge::State::Connecting:
    case SerialBridge::State::Waiting:
        break;
    }
    return QStringLiteral("disconnected");
}

void printCounters(SerialBridge &bridge, const QString &link, bool json)
{
    const SerialBridge::Counters c = bridge.counters();
    const double gapMs = bridge.currentGapUs() / 1000.0;
    if (json) {
        const QJsonObject object{{QStringLiteral("link"), link},
                                 {QStringLiteral("target"), bridge.target()},
                                 {QStringLiteral("state"), stateName(bridge.state())},
                                 {QStringLiteral("bytes_to_module"), c.bytesToModule},
                                 {QStringLiteral("frames_to_module"), c.framesToModule},
                                 {QStringLiteral("whole_frames"), c.wholeFrames},
                                 {QStringLiteral("bytes_from_module"), c.bytesFromModule},
                                 {QStringLiteral("dropped_bytes"), c.droppedBytes},
                                 {QStringLiteral("unread_bytes"), c.unreadBytes},
                                 {QStringLiteral("stale_bytes"), c.staleBytes},
                                 {QStringLiteral("stale_replies"), c.staleReplies},
                                 {QStringLiteral("openings"), c.openings},
                                 {QStringLiteral("stalled_frames"), c.stalledFrames},
                                 {QStringLiteral("stalled_bytes"), c.stalledBytes},
                                 {QStringLiteral("reconnects"), c.reconnects},
                                 {QStringLiteral("refusals"), c.refusals},
                                 {QStringLiteral("discarded_bytes"), c.discardedBytes},
                                 {QStringLiteral("discarded_frames"), c.discardedFrames},
                                 {QStringLiteral("gap_ms"), gapMs}};
        // One object a line: SIGUSR1 may print several.
        const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
        fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        // Printing: a reader that is gone has nowhere else to be told.
        (void)fflush(stdout);
        return;
    }
    const auto n = [](qint64 value) { return QString::number(value); };
    QStringList lines{
        QStringLiteral("%1 <-> %2 (%3)").arg(link, bridge.target(), stateName(bridge.state()))};
    lines += cliout::table(
        {{QStringLiteral("to the module"),
          n(c.bytesToModule) + QStringLiteral(" bytes in ") + n(c.framesToModule) +
              QStringLiteral(" frames (%1 sent as soon as they were whole)").arg(c.wholeFrames)},
         {QStringLiteral("from the module"),
          n(c.bytesFromModule) + QStringLiteral(" bytes, ") + n(c.droppedBytes) +
              QStringLiteral(" of them dropped: %1 left unread when the last program closed the "
                             "port, %2 answering an earlier opening's requests (%3 answers), the "
                             "rest while no program had the port open")
                  .arg(c.unreadBytes)
                  .arg(c.staleBytes)
                  .arg(c.staleReplies)},
         {QStringLiteral("openings"), n(c.openings)},
         {QStringLiteral("reconnects"), n(c.reconnects)},
         {QStringLiteral("refusals"),
          n(c.refusals) + QStringLiteral(" (connections the module closed at once)")},
         {QStringLiteral("discarded"),
          n(c.discardedBytes) + QStringLiteral(" bytes in ") + n(c.discardedFrames) +
              QStringLiteral(" frames (written without a connection)")},
         {QStringLiteral("not sent"),
          n(c.stalledBytes) + QStringLiteral(" bytes in ") + n(c.stalledFrames) +
              QStringLiteral(" frames (the module had answered nothing for --stall)")},
         {QStringLiteral("gap"), QString::number(gapMs) + QStringLiteral(" ms")}});
    cliout::out(lines);
}

// A link the service makes must lie in its own directory: elsewhere it
// could not make it, or (under its private /tmp) no other program would
// see it.
bool linkInside(const QString &link, const QString &dir, QString *problem)
{
    const QString parent = QDir::cleanPath(QFileInfo(link).absolutePath());
    const QString within = QDir::cleanPath(QDir(dir).absolutePath());
    if (QFileInfo(link).isAbsolute() && parent == within)
        return true;
    *problem = QStringLiteral("--link %1 is not in %2, the only place this bridge may make its "
                              "link where other programs see it")
                   .arg(link, within);
    return false;
}

} // namespace

int commandBridge(Run &run)
{
    if (run.ports.size() != 1)
        return usage(QStringLiteral("bridge needs exactly one HOST:PORT"));
    SerialBridge::Settings settings;
    QString problem;
    if (!HostPort::parse(run.ports.first(), HostPort::Hosts::NamesToo, &settings.target, &problem))
        return usage(problem);
    settings.link = run.parser.value(QStringLiteral("link"));
    if (settings.link.isEmpty())
        return usage(QStringLiteral("bridge needs --link PATH, the port programs open (not an "
                                    "empty text)"));
    const QString linkDir = run.parser.value(QStringLiteral("link-dir"));
    if (run.parser.isSet(QStringLiteral("link-dir")) &&
        !linkInside(settings.link, linkDir, &problem))
        return usage(problem);
    // "auto" (the service's default) or nothing is the Modbus gap of the
    // port's format.
    int gapMs = -1;
    const QString gap = run.parser.value(QStringLiteral("gap"));
    if (!gap.isEmpty() && gap != QLatin1String("auto") &&
        !intOption(run, "gap", 0, &gapMs, &problem))
        return usage(problem);
    if (gapMs > longestGapMs)
        return usage(QStringLiteral("--gap %1: at most %2 ms").arg(gapMs).arg(longestGapMs));
    settings.gapUs = gapMs < 0 ? -1 : gapMs * 1000;
    if (!secondsOption(run, "give-up", &settings.giveUpMs, &problem) ||
        !secondsOption(run, "stall", &settings.stallMs, &problem))
        return usage(problem);
    if (!SerialBridge::available())
        return usage(QStringLiteral("bridge is not available on this system: it needs "
                                    "pseudo-terminals"));
    settings.trace = run.trace.isOpen() ? &run.trace : nullptr;

    SerialBridge bridge(settings);
    if (!bridge.openPort(&problem)) {
        cliout::error(QString(), problem);
        return linkExit;
    }
    const QString where = bridge.target();
    cliout::error(settings.link,
                  QStringLiteral("the port (%1), bridged to %2; frames end when they are whole "
                                 "Modbus RTU frames, or after %3")
                      .arg(bridge.device(), where,
                           gapMs < 0 ? QStringLiteral("3.5 characters of quiet (1.75 ms above "
                                                      "19200 bit/s)")
                                     : QStringLiteral("%1 ms of quiet").arg(gapMs)));

    QEventLoop loop;
    int exitCode = 0;
    QObject::connect(&bridge, &SerialBridge::connected, [&](qint64 downMs, qint64 refusals) {
        QString line = downMs < 0 ? QStringLiteral("connected")
                                  : QStringLiteral("back after ") + cliout::seconds(downMs);
        if (refusals > 0)
            line += QStringLiteral(" (the module had closed %1 connection%2 at once)")
                        .arg(refusals)
                        .arg(refusals == 1 ? "" : "s");
        cliout::error(where, line);
    });
    QObject::connect(&bridge, &SerialBridge::notReached, [&](const QString &reason) {
        cliout::error(
            where, QStringLiteral("not reached (%1); trying again, up to every 2 s").arg(reason));
    });
    QObject::connect(&bridge, &SerialBridge::lost, [&](const QString &reason) {
        cliout::error(where,
                      QStringLiteral("lost (%1); reconnecting, the port stays open").arg(reason));
    });
    QObject::connect(&bridge, &SerialBridge::refusing, [&] {
        cliout::error(where, QStringLiteral("the module closes every connection at once: it may "
                                            "still hold an old one; trying every 2 s"));
    });
    QObject::connect(&bridge, &SerialBridge::stalling, [&](qint64 silentMs) {
        cliout::error(where,
                      QStringLiteral("has answered nothing for %1: requests are not sent "
                                     "until it answers (one every %2 is, to find out)")
                          .arg(cliout::seconds(silentMs), cliout::seconds(settings.stallMs)));
    });
    QObject::connect(&bridge, &SerialBridge::answeringAgain, [&](qint64 held) {
        cliout::error(where, QStringLiteral("answers again (%1 request%2 not sent meanwhile)")
                                 .arg(held)
                                 .arg(held == 1 ? "" : "s"));
    });
    QObject::connect(&bridge, &SerialBridge::gaveUp, [&](const QString &reason) {
        cliout::error(where, QStringLiteral("gave up: ") + reason);
        exitCode = gaveUpExit;
        loop.quit();
    });
    {
        // SIGQUIT ends a bridge as SIGTERM does (a service may be stopped
        // with it); a hang-up ignored at start (nohup) stays ignored.
        InterruptWatch watch(
            [&] {
                bridge.stop();
                loop.quit();
            },
            InterruptWatch::Kind::Stop, InterruptWatch::Also::Quit);
        InterruptWatch counters([&] { printCounters(bridge, settings.link, run.json); },
                                InterruptWatch::Kind::Report);
        QMetaObject::invokeMethod(
            &bridge, [&bridge] { bridge.start(); }, Qt::QueuedConnection);
        loop.exec();
    }
    bridge.stop();
    printCounters(bridge, settings.link, run.json);
    return exitCode;
}

// ordan-cli bridge HOST:PORT --link PATH: its arguments and what it prints.
// The bridge itself is the engine's SerialBridge.
#include "cli/output.h"
#include "cli/run.h"
#include "engine/net/serialbridge.h"
#include "engine/platform/interruptwatch.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace
{

constexpr int gaveUpExit = 4;
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

void printCounters(const SerialBridge &bridge, const QString &link, bool json)
{
    const SerialBridge::Counters c = bridge.counters();
    if (json) {
        const QJsonObject object{{QStringLiteral("link"), link},
                                 {QStringLiteral("target"), bridge.target()},
                                 {QStringLiteral("state"), stateName(bridge.state())},
                                 {QStringLiteral("bytes_to_module"), c.bytesToModule},
                                 {QStringLiteral("frames_to_module"), c.framesToModule},
                                 {QStringLiteral("bytes_from_module"), c.bytesFromModule},
                                 {QStringLiteral("reconnects"), c.reconnects},
                                 {QStringLiteral("discarded_bytes"), c.discardedBytes},
                                 {QStringLiteral("discarded_frames"), c.discardedFrames},
                                 {QStringLiteral("gap_ms"), bridge.currentGapUs() / 1000.0}};
        // One object a line: SIGUSR1 may print several.
        const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
        fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        fflush(stdout);
        return;
    }
    const auto n = [](qint64 value) { return QString::number(value); };
    QStringList lines{
        QStringLiteral("%1 <-> %2 (%3)").arg(link, bridge.target(), stateName(bridge.state()))};
    lines += cliout::table(
        {{QStringLiteral("to the module"), n(c.bytesToModule) + QStringLiteral(" bytes in ") +
                                               n(c.framesToModule) + QStringLiteral(" frames")},
         {QStringLiteral("from the module"), n(c.bytesFromModule) + QStringLiteral(" bytes")},
         {QStringLiteral("reconnects"), n(c.reconnects)},
         {QStringLiteral("discarded"),
          n(c.discardedBytes) + QStringLiteral(" bytes in ") + n(c.discardedFrames) +
              QStringLiteral(" frames (written without a connection)")},
         {QStringLiteral("gap"),
          QString::number(bridge.currentGapUs() / 1000.0) + QStringLiteral(" ms")}});
    cliout::out(lines);
}

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0, 'f', 1) + QStringLiteral(" s");
}

} // namespace

int commandBridge(Run &run)
{
    if (run.ports.size() != 1)
        return usage(QStringLiteral("bridge needs exactly one HOST:PORT"));
    SerialBridge::Settings settings;
    QString problem;
    if (!SerialBridge::parseTarget(run.ports.first(), &settings.host, &settings.port, &problem))
        return usage(problem);
    settings.link = run.parser.value(QStringLiteral("link"));
    if (settings.link.isEmpty())
        return usage(QStringLiteral("bridge needs --link PATH, the port programs open (not an "
                                    "empty text)"));
    // "auto" (the service's default) is the gap of the port's speed.
    int gapMs = -1;
    if (run.parser.value(QStringLiteral("gap")) != QLatin1String("auto") &&
        !intOption(run, "gap", 0, &gapMs, &problem))
        return usage(problem);
    if (gapMs > longestGapMs)
        return usage(QStringLiteral("--gap %1: at most %2 ms").arg(gapMs).arg(longestGapMs));
    settings.gapUs = gapMs < 0 ? -1 : gapMs * 1000;
    if (!secondsOption(run, "give-up", &settings.giveUpMs, &problem))
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
                  QStringLiteral("the port (%1), bridged to %2; frames end after %3")
                      .arg(bridge.device(), where,
                           gapMs < 0 ? QStringLiteral("3.5 characters at the port's speed")
                                     : QStringLiteral("%1 ms of quiet").arg(gapMs)));

    QEventLoop loop;
    int exitCode = 0;
    QObject::connect(&bridge, &SerialBridge::connected, [&](qint64 downMs) {
        cliout::error(where, downMs < 0 ? QStringLiteral("connected")
                                        : QStringLiteral("back after ") + seconds(downMs));
    });
    QObject::connect(&bridge, &SerialBridge::notReached, [&](const QString &reason) {
        cliout::error(where, QStringLiteral("not reached (%1); trying again").arg(reason));
    });
    QObject::connect(&bridge, &SerialBridge::lost, [&](const QString &reason) {
        cliout::error(where,
                      QStringLiteral("lost (%1); reconnecting, the port stays open").arg(reason));
    });
    QObject::connect(&bridge, &SerialBridge::gaveUp, [&](const QString &reason) {
        cliout::error(where, QStringLiteral("gave up: ") + reason);
        exitCode = gaveUpExit;
        loop.quit();
    });
    {
        InterruptWatch watch([&] {
            bridge.stop();
            loop.quit();
        });
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

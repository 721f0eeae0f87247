// ordan-module-sim: plays an Ordan-RS485-Ethernet module on a pseudo-terminal
// for the configurator to talk to. Prints the device path to open as the
// first line of stdout, traces the conversation on stderr, and removes its
// link on SIGTERM or SIGINT. With --network it also plays the module's
// network side: a TCP server at the address and port it runs with, bridged
// to an RS-485 bus (--bus).

#include "busdevices.h"
#include "busoptions.h"
#include "modulenetwork.h"
#include "modulesimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

namespace
{

int signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const int saved = errno;
    const char byte = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Shows control bytes so that a trace line is one line: "name:x\r\n" stays
// readable, a NUL shows as \x00.
QByteArray printable(const QByteArray &bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (uchar(c) < 0x20 || uchar(c) >= 0x7f)
            out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

bool intOption(const QCommandLineParser &parser, const QString &name, int min, int *value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    *value = parser.value(name).toInt(&ok);
    if (ok && *value >= min)
        return true;
    fprintf(stderr, "ordan-module-sim: --%s needs a number >= %d\n", qPrintable(name), min);
    return false;
}

// The value a query answers with, by the query's command.
bool setStateValue(ModuleState *state, const QString &query, const QString &value)
{
    const struct {
        const char *query;
        QString ModuleState::*member;
    } members[] = {
        {"name", &ModuleState::name},
        {"version", &ModuleState::version},
        {"MAC", &ModuleState::mac},
        {"ip", &ModuleState::ip},
        {"MASK", &ModuleState::mask},
        {"GATEWAY", &ModuleState::gateway},
        {"PORT TCP", &ModuleState::portTcp},
        {"parity", &ModuleState::parity},
        {"SPEED RS485", &ModuleState::speed},
        {"STOP BIT", &ModuleState::stopBit},
        {"timeout data", &ModuleState::timeout},
    };
    for (const auto &m : members) {
        if (query == QLatin1String(m.query)) {
            state->*m.member = value;
            return true;
        }
    }
    return false;
}

// The module's memory as JSON, keys as ordan-cli names the parameters; what
// it runs with ("running"); and the commands received, oldest first.
QJsonObject stateJson(const ModuleState &state)
{
    return {
        {QStringLiteral("name"), state.name},
        {QStringLiteral("version"), state.version},
        {QStringLiteral("mac"), state.mac},
        {QStringLiteral("ip"), state.ip},
        {QStringLiteral("mask"), state.mask},
        {QStringLiteral("gateway"), state.gateway},
        {QStringLiteral("tcp_port"), state.portTcp},
        {QStringLiteral("parity"), state.parity},
        {QStringLiteral("speed"), state.speed},
        {QStringLiteral("stop_bits"), state.stopBit},
        {QStringLiteral("packet_timeout"), state.timeout},
    };
}

// The segments over TCP: each one's size and its first bytes in hex.
QJsonArray segmentsJson(const QList<ModuleNetwork::Segment> &segments)
{
    QJsonArray array;
    for (const ModuleNetwork::Segment &segment : segments) {
        array.append(
            QJsonObject{{QStringLiteral("bytes"), double(segment.size)},
                        {QStringLiteral("hex"), QString::fromLatin1(segment.head.toHex())}});
    }
    return array;
}

QJsonObject trafficJson(const ModuleNetwork::Traffic &traffic)
{
    return {
        {QStringLiteral("accepted"), traffic.accepted},
        {QStringLiteral("refused"), traffic.refused},
        {QStringLiteral("received"), segmentsJson(traffic.received)},
        {QStringLiteral("sent"), segmentsJson(traffic.sent)},
        {QStringLiteral("received_segments"), double(traffic.receivedSegments)},
        {QStringLiteral("received_bytes"), double(traffic.receivedBytes)},
        {QStringLiteral("sent_segments"), double(traffic.sentSegments)},
        {QStringLiteral("sent_bytes"), double(traffic.sentBytes)},
    };
}

bool writeStateFile(const QString &path, const ModuleSimulator &sim, const ModuleNetwork *network)
{
    QJsonObject object = stateJson(sim.state());
    object.insert(QStringLiteral("running"), stateJson(sim.runningState()));
    QJsonArray received;
    for (const QByteArray &command : sim.received())
        received.append(QString::fromLatin1(command));
    object.insert(QStringLiteral("received"), received);
    if (network)
        object.insert(QStringLiteral("tcp"), trafficJson(network->traffic()));
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) > 0 &&
           file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ordan-module-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays an Ordan-RS485-Ethernet module on a pseudo-terminal. "
                       "Prints the device path to open as its first line."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("link"),
         QStringLiteral("Keep the device symlink at PATH (default: a private temporary "
                        "directory)."),
         QStringLiteral("PATH")},
        {QStringLiteral("silent"), QStringLiteral("Answer nothing.")},
        {QStringLiteral("delay"), QStringLiteral("Answer MS milliseconds late."),
         QStringLiteral("MS")},
        {QStringLiteral("chunks"), QStringLiteral("Deliver each reply in N pieces."),
         QStringLiteral("N")},
        {QStringLiteral("chunk-gap"),
         QStringLiteral("Pause MS milliseconds between pieces (default 10)."),
         QStringLiteral("MS")},
        {QStringLiteral("wrong-ack"), QStringLiteral("Acknowledge writes with OK, not ok.")},
        {QStringLiteral("refuse"),
         QStringLiteral("Refuse commands equal to or starting with CMD (repeatable)."),
         QStringLiteral("CMD")},
        {QStringLiteral("restart-delay"),
         QStringLiteral("Come back MS milliseconds after a restart (default 500)."),
         QStringLiteral("MS")},
        {QStringLiteral("name"),
         QStringLiteral("Report TEXT as the module's name (any bytes but NUL, escapes "
                        "included)."),
         QStringLiteral("TEXT")},
        {QStringLiteral("mac"), QStringLiteral("Report TEXT as the MAC address."),
         QStringLiteral("TEXT")},
        {QStringLiteral("set"),
         QStringLiteral("Hold VALUE for a query's answer, KEY one of name, version, MAC, ip, "
                        "MASK, GATEWAY, PORT TCP, parity, SPEED RS485, STOP BIT, timeout data "
                        "(repeatable; e.g. --set parity=NONE)."),
         QStringLiteral("KEY=VALUE")},
        {QStringLiteral("no-apply"),
         QStringLiteral("Acknowledge writes with ok but keep the old values.")},
        {QStringLiteral("apply-at-restart"),
         QStringLiteral("Keep written values aside until the next restart (queries answer the "
                        "old ones meanwhile).")},
        {QStringLiteral("ignore-restart"),
         QStringLiteral("Take no notice of reset, RESET and LOAD SETTING:DEFAULT: no answer, no "
                        "restart.")},
        {QStringLiteral("lose-after-reset"),
         QStringLiteral("With --ignore-restart: lose the N replies that follow each ignored "
                        "restart command on the line (not sent)."),
         QStringLiteral("N")},
        {QStringLiteral("keep-link"),
         QStringLiteral("Keep the pseudo-terminal and its path through a restart, as an adapter "
                        "that is not the module's own does: no hang-up; quiet for the restart "
                        "delay (commands recorded, not answered, not applied), then answering "
                        "with what it runs with after the restart.")},
        {QStringLiteral("return-as"),
         QStringLiteral("Come back from the next restart as another module with this MAC "
                        "(values kept)."),
         QStringLiteral("MAC")},
        {QStringLiteral("drop-mac"),
         QStringLiteral("Leave the N-th answer to MAC out (from 1; repeatable)."),
         QStringLiteral("N")},
        {QStringLiteral("garble-mac"),
         QStringLiteral("Garble the N-th answer to MAC into another well-formed MAC (from 1; "
                        "repeatable)."),
         QStringLiteral("N")},
        {QStringLiteral("ack"),
         QStringLiteral("Answer write commands starting with PREFIX with TEXT instead of ok "
                        "(repeatable; e.g. --ack \"change timeout data:=error\")."),
         QStringLiteral("PREFIX=TEXT")},
        {QStringLiteral("drop-link-at-write"),
         QStringLiteral("Drop the link at the N-th write command (not taken, not answered); "
                        "back after the restart delay."),
         QStringLiteral("N")},
        {QStringLiteral("network"),
         QStringLiteral("Play the network side too: listen on the IP address and TCP port the "
                        "module runs with (after each start and restart), one client at a time; "
                        "no listener when the address is on no interface of this machine.")},
        {QStringLiteral("bus"),
         QStringLiteral("With --network: the RS-485 bus, a pseudo-terminal kept at PATH (a "
                        "symlink) for a program that plays the devices on the bus, or \"echo\" "
                        "(every frame comes back). Without it the client's bytes are dropped."),
         QStringLiteral("PATH|echo")},
        {QStringLiteral("no-pacing"),
         QStringLiteral("With --network: put the client's bytes on the bus at once, not at the "
                        "speed, parity and stop bits the module runs with.")},
        {QStringLiteral("state-file"),
         QStringLiteral("On leaving, write the module's memory, what it runs with and every "
                        "command received to PATH as JSON; with --network also the TCP "
                        "segments received and sent and the connections."),
         QStringLiteral("PATH")},
        {QStringLiteral("exit-with-parent"),
         QStringLiteral("Leave when the program that started the simulator ends.")},
    });
    busoptions::add(&parser);
    parser.process(app);

    int delay = 0;
    int chunks = 1;
    int chunkGap = 10;
    int restartDelay = ModuleSimulator::defaultRestartDelayMs;
    if (!intOption(parser, QStringLiteral("delay"), 0, &delay) ||
        !intOption(parser, QStringLiteral("chunks"), 1, &chunks) ||
        !intOption(parser, QStringLiteral("chunk-gap"), 0, &chunkGap) ||
        !intOption(parser, QStringLiteral("restart-delay"), 0, &restartDelay))
        return 2;

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("ordan-module-sim: pipe");
        return 1;
    }
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &sa, nullptr) != 0 || sigaction(SIGINT, &sa, nullptr) != 0) {
        perror("ordan-module-sim: sigaction");
        return 1;
    }
    // A demo killed outright must not leave its module running.
    if (parser.isSet(QStringLiteral("exit-with-parent"))) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            return 0;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        const int saved = errno;
        char byte = 0;
        const ssize_t n = ::read(signalPipe[0], &byte, 1);
        if (n == 1)
            fprintf(stderr, "ordan-module-sim: signal %d, leaving\n", int(byte));
        errno = saved;
        QCoreApplication::quit();
    });

    ModuleSimulator sim;
    sim.setSilent(parser.isSet(QStringLiteral("silent")));
    sim.setReplyDelay(delay);
    sim.setChunking(chunks, chunkGap);
    sim.setWrongAck(parser.isSet(QStringLiteral("wrong-ack")));
    sim.setRestartDelay(restartDelay);
    sim.setIgnoreWrites(parser.isSet(QStringLiteral("no-apply")));
    ModuleState state = ModuleSimulator::factoryState();
    for (const QString &assignment : parser.values(QStringLiteral("set"))) {
        const QString key = assignment.section(QLatin1Char('='), 0, 0);
        const QString value = assignment.section(QLatin1Char('='), 1);
        if (!setStateValue(&state, key, value)) {
            fprintf(stderr, "ordan-module-sim: --set: unknown query \"%s\"\n", qPrintable(key));
            return 2;
        }
    }
    if (parser.isSet(QStringLiteral("name")))
        state.name = parser.value(QStringLiteral("name"));
    if (parser.isSet(QStringLiteral("mac")))
        state.mac = parser.value(QStringLiteral("mac"));
    sim.setState(state);
    for (const QString &cmd : parser.values(QStringLiteral("refuse")))
        sim.refuseCommand(cmd.toUtf8());
    sim.setApplyAtRestart(parser.isSet(QStringLiteral("apply-at-restart")));
    sim.setIgnoreRestart(parser.isSet(QStringLiteral("ignore-restart")));
    sim.setReturnAs(parser.value(QStringLiteral("return-as")));
    for (const char *name : {"drop-mac", "garble-mac"}) {
        for (const QString &text : parser.values(QLatin1String(name))) {
            bool ok = false;
            const int n = text.toInt(&ok);
            if (!ok || n < 1) {
                fprintf(stderr, "ordan-module-sim: --%s needs a number >= 1\n", name);
                return 2;
            }
            if (qstrcmp(name, "drop-mac") == 0)
                sim.dropMacAnswer(n);
            else
                sim.garbleMacAnswer(n);
        }
    }
    for (const QString &ack : parser.values(QStringLiteral("ack"))) {
        const int equals = ack.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            fprintf(stderr, "ordan-module-sim: --ack needs PREFIX=TEXT\n");
            return 2;
        }
        sim.setAcknowledgement(ack.left(equals).toUtf8(), ack.mid(equals + 1).toUtf8());
    }
    int dropLinkAt = 0;
    int loseAfterReset = 0;
    if (!intOption(parser, QStringLiteral("drop-link-at-write"), 1, &dropLinkAt) ||
        !intOption(parser, QStringLiteral("lose-after-reset"), 0, &loseAfterReset))
        return 2;
    sim.setDropLinkAtWrite(dropLinkAt);
    sim.setLoseRepliesAfterIgnoredReset(loseAfterReset);
    sim.setKeepLinkOnRestart(parser.isSet(QStringLiteral("keep-link")));

    QObject::connect(&sim, &ModuleSimulator::commandReceived, [](const QByteArray &cmd) {
        fprintf(stderr, "<- %s\n", printable(cmd).constData());
    });
    QObject::connect(&sim, &ModuleSimulator::bytesSent, [](const QByteArray &bytes) {
        fprintf(stderr, "-> %s\n", printable(bytes).constData());
    });
    QObject::connect(&sim, &ModuleSimulator::linkDropped,
                     [] { fprintf(stderr, "-- link dropped\n"); });
    QObject::connect(&sim, &ModuleSimulator::clientCountChanged, [](int count) {
        fprintf(stderr, "-- %s\n", count ? "client opened the device" : "no client");
    });
    QObject::connect(&sim, &ModuleSimulator::linkRestored, [&sim] {
        fprintf(stderr, "-- link back on %s\n", qPrintable(sim.ptyPath()));
    });
    QObject::connect(&sim, &ModuleSimulator::upChanged,
                     [](bool up) { fprintf(stderr, "-- module %s\n", up ? "up" : "down"); });

    std::unique_ptr<BusDevices> devices;
    std::unique_ptr<ModuleNetwork> network;
    if (parser.isSet(QStringLiteral("network"))) {
        network = std::make_unique<ModuleNetwork>(&sim);
        network->setBus(parser.value(QStringLiteral("bus")));
        network->setModbusTcp(parser.isSet(QStringLiteral("modbus-tcp")));
        if (busoptions::anyGiven(parser)) {
            QString problem;
            devices = busoptions::devices(parser, &problem);
            if (!devices) {
                fprintf(stderr, "ordan-module-sim: %s\n", qPrintable(problem));
                return 2;
            }
            network->setDevices(devices.get());
            devices->start();
        }
        network->setPacing(!parser.isSet(QStringLiteral("no-pacing")));
        QObject::connect(
            network.get(), &ModuleNetwork::listening, [](const QString &address, quint16 port) {
                fprintf(stderr, "-- listening on %s:%u\n", qPrintable(address), unsigned(port));
            });
        QObject::connect(network.get(), &ModuleNetwork::notListening, [](const QString &why) {
            fprintf(stderr, "ordan-module-sim: %s\n", qPrintable(why));
        });
        QObject::connect(network.get(), &ModuleNetwork::clientAccepted, [](const QString &peer) {
            fprintf(stderr, "-- tcp client %s\n", qPrintable(peer));
        });
        QObject::connect(network.get(), &ModuleNetwork::clientRefused, [](const QString &peer) {
            fprintf(stderr, "-- tcp client %s closed: one client at a time\n", qPrintable(peer));
        });
        QObject::connect(network.get(), &ModuleNetwork::clientGone,
                         [] { fprintf(stderr, "-- tcp client gone\n"); });
        if (!network->start()) {
            fprintf(stderr, "ordan-module-sim: bus: %s\n", qPrintable(network->errorString()));
            return 1;
        }
        if (!network->busPath().isEmpty()) {
            fprintf(stderr, "ordan-module-sim: bus %s -> %s\n", qPrintable(network->busPath()),
                    qPrintable(network->busPtyPath()));
        }
    } else {
        for (const char *name : {"bus", "no-pacing", "modbus-tcp"}) {
            if (parser.isSet(QLatin1String(name))) {
                fprintf(stderr, "ordan-module-sim: --%s needs --network\n", name);
                return 2;
            }
        }
        if (busoptions::anyGiven(parser)) {
            fprintf(stderr, "ordan-module-sim: the bus's devices need --network\n");
            return 2;
        }
    }

    if (!sim.start(parser.value(QStringLiteral("link")))) {
        fprintf(stderr, "ordan-module-sim: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    printf("%s\n", qPrintable(sim.devicePath()));
    // Without a reader the path is still on stderr, and the module serves.
    (void)fflush(stdout);
    fprintf(stderr, "ordan-module-sim: %s -> %s\n", qPrintable(sim.devicePath()),
            qPrintable(sim.ptyPath()));

    const int rc = app.exec();
    sim.stop();
    if (network)
        network->stop();
    if (devices)
        devices->stop();
    const QString stateFile = parser.value(QStringLiteral("state-file"));
    if (!stateFile.isEmpty() && !writeStateFile(stateFile, sim, network.get())) {
        fprintf(stderr, "ordan-module-sim: cannot write %s\n", qPrintable(stateFile));
        return 1;
    }
    return rc;
}

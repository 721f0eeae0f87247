// The simulated module's network side (ModuleNetwork, ordan-module-sim
// --network) as a client on the network sees it.
//
// These tests listen on and connect to a site's address, so the whole
// program runs in a network namespace of its own: main() re-executes this
// binary through scripts/netns.sh with the site's address on lo (siteCidr),
// and the program stops before any test if any interface but lo is visible.
// No packet leaves the machine; 10.20.0.31 here is only the namespace's lo.

#include "cliprocess.h"
#include "modulenetwork.h"
#include "modulesimulator.h"
#include "privatenetwork.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <vector>

namespace
{

const char siteCidr[] = "10.20.0.31/24";
const char site[] = "10.20.0.31";

// A TCP client: connected, or refused or unreachable, within a generous bound.
std::unique_ptr<QTcpSocket> connectTo(const QString &address, quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress(address), port);
    (void)QTest::qWaitFor(
        [&] {
            return socket->state() == QAbstractSocket::ConnectedState ||
                   socket->state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    return socket;
}

bool isConnected(const std::unique_ptr<QTcpSocket> &socket)
{
    return socket->state() == QAbstractSocket::ConnectedState;
}

// Reads until n bytes have come (or the bound runs out).
QByteArray readBytes(QTcpSocket *socket, int n, int timeoutMs = 10000)
{
    QByteArray got;
    (void)QTest::qWaitFor(
        [&] {
            got += socket->readAll();
            return got.size() >= n;
        },
        timeoutMs);
    return got;
}

} // namespace

class tst_ModuleNet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void listensWhereItRuns_data();
    void listensWhereItRuns();
    void oneClientAtATime_data();
    void oneClientAtATime();
    void busDeviceAnswerGathered_data();
    void busDeviceAnswerGathered();
    void pacing_data();
    void pacing();
    void restartMovesListener_data();
    void restartMovesListener();
    void noListenerSaysSo_data();
    void noListenerSaysSo();
    void echoGatheredInStateFile_data();
    void echoGatheredInStateFile();
    void busTakesEverySetting_data();
    void busTakesEverySetting();

private:
    // The module and its network side in this process, up with `state`.
    void startModule(const ModuleState &state, const QString &bus = QStringLiteral("echo"),
                     bool pacing = true);

    std::unique_ptr<ModuleSimulator> sim;
    std::unique_ptr<ModuleNetwork> net;
};

static ModuleState moduleAt(const QString &ip, const QString &port)
{
    ModuleState state = ModuleSimulator::factoryState();
    state.ip = ip;
    state.portTcp = port;
    return state;
}

void tst_ModuleNet::initTestCase()
{
    QVERIFY(QNetworkInterface::allAddresses().contains(QHostAddress(QLatin1String(site))));
}

void tst_ModuleNet::cleanup()
{
    net.reset();
    sim.reset();
}

void tst_ModuleNet::startModule(const ModuleState &state, const QString &bus, bool pacing)
{
    sim = std::make_unique<ModuleSimulator>();
    sim->setState(state);
    sim->setRestartDelay(300);
    net = std::make_unique<ModuleNetwork>(sim.get());
    net->setBus(bus);
    net->setPacing(pacing);
    QVERIFY2(net->start(), qPrintable(net->errorString()));
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
}

void tst_ModuleNet::listensWhereItRuns_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("why"); // empty: it listens
    QTest::newRow("site address") << site << "502" << QString();
    QTest::newRow("loopback") << "127.0.0.1"
                              << "10001" << QString();
    QTest::newRow("telnet port") << site << "23" << QString();
    QTest::newRow("no interface")
        << "10.30.0.7"
        << "502" << QStringLiteral("10.30.0.7 is on no interface of this machine: not listening");
}

void tst_ModuleNet::listensWhereItRuns()
{
    QFETCH(QString, ip);
    QFETCH(QString, port);
    QFETCH(QString, why);
    sim = std::make_unique<ModuleSimulator>();
    sim->setState(moduleAt(ip, port));
    net = std::make_unique<ModuleNetwork>(sim.get());
    QStringList said;
    connect(net.get(), &ModuleNetwork::notListening, this,
            [&said](const QString &text) { said << text; });
    QVERIFY(net->start());
    QVERIFY(!net->isListening()); // the module is not up yet
    QVERIFY(sim->start());

    QCOMPARE(net->isListening(), why.isEmpty());
    QCOMPARE(said, why.isEmpty() ? QStringList() : QStringList{why});
    const auto client = connectTo(ip, quint16(port.toUInt()));
    QCOMPARE(isConnected(client), why.isEmpty());
    if (why.isEmpty())
        QTRY_VERIFY(net->hasClient());
}

void tst_ModuleNet::oneClientAtATime_data()
{
    QTest::addColumn<int>("clients");
    QTest::newRow("two") << 2;
    QTest::newRow("four") << 4;
}

void tst_ModuleNet::oneClientAtATime()
{
    QFETCH(int, clients);
    startModule(moduleAt(site, QStringLiteral("502")), QStringLiteral("echo"), false);
    if (QTest::currentTestFailed())
        return;
    const auto first = connectTo(site, 502);
    QVERIFY(isConnected(first));
    QTRY_VERIFY(net->hasClient());
    for (int i = 1; i < clients; ++i) {
        const auto next = connectTo(site, 502);
        // Accepted and closed at once.
        QTRY_COMPARE(next->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(next->error(), QAbstractSocket::RemoteHostClosedError);
    }
    QCOMPARE(net->traffic().accepted, 1);
    QCOMPARE(net->traffic().refused, clients - 1);
    first->write("still served");
    QCOMPARE(readBytes(first.get(), 12), QByteArray("still served"));
}

void tst_ModuleNet::busDeviceAnswerGathered_data()
{
    QTest::addColumn<QString>("timeout"); // the module's packet time-out, ms
    QTest::addColumn<int>("gapMs");       // between the device's pieces
    QTest::addColumn<int>("segments");    // written to the client
    QTest::newRow("gaps under the time-out") << "200" << 10 << 1;
    QTest::newRow("gaps over the time-out") << "50" << 400 << 3;
}

// The devices on the bus played through the bus's pseudo-terminal, as a
// Modbus slave program would.
void tst_ModuleNet::busDeviceAnswerGathered()
{
    QFETCH(QString, timeout);
    QFETCH(int, gapMs);
    QFETCH(int, segments);
    QTemporaryDir dir;
    ModuleState state = moduleAt(site, QStringLiteral("502"));
    state.timeout = timeout;
    state.speed = QStringLiteral("115200");
    startModule(state, dir.filePath(QStringLiteral("ttyBUS")));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(QFileInfo(net->busPath()).symLinkTarget(), net->busPtyPath());
    QSerialPort device(net->busPath());
    QVERIFY(device.open(QIODevice::ReadWrite));
    const auto client = connectTo(site, 502);
    QVERIFY(isConnected(client));

    client->write("\x01\x03\x00\x00\x00\x02", 6);
    QByteArray request;
    QTRY_VERIFY((request += device.readAll()).size() >= 6);
    QCOMPARE(request, QByteArray("\x01\x03\x00\x00\x00\x02", 6));
    const QByteArray answer("\x01\x03\x04\x00\x2a\x00\x07", 7);
    for (int i = 0; i < 3; ++i) {
        device.write(answer.mid(i * 3, 3));
        device.flush();
        QTest::qWait(gapMs);
    }
    QCOMPARE(readBytes(client.get(), answer.size()), answer);
    QTRY_COMPARE(net->traffic().sentSegments, qint64(segments));
    QCOMPARE(net->traffic().sent.first().head, segments == 1 ? answer : answer.left(3));
}

void tst_ModuleNet::pacing_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<bool>("paced");
    QTest::addColumn<double>("minSeconds"); // half the line's time, or none
    QTest::addColumn<double>("maxSeconds");
    // 960 characters: 10 bits each at 8N1, 12 at 8E2.
    QTest::newRow("9600 8N1: 1 s") << "9600"
                                   << "none"
                                   << "1" << true << 0.5 << 30.0;
    QTest::newRow("19200 8E2: 0.6 s") << "19200"
                                      << "even"
                                      << "2" << true << 0.3 << 30.0;
    QTest::newRow("no pacing") << "9600"
                               << "none"
                               << "1" << false << 0.0 << 0.5;
}

void tst_ModuleNet::pacing()
{
    QFETCH(QString, speed);
    QFETCH(QString, parity);
    QFETCH(QString, stopBits);
    QFETCH(bool, paced);
    QFETCH(double, minSeconds);
    QFETCH(double, maxSeconds);
    ModuleState state = moduleAt(QStringLiteral("127.0.0.1"), QStringLiteral("10002"));
    state.speed = speed;
    state.parity = parity;
    state.stopBit = stopBits;
    state.timeout = QStringLiteral("5");
    startModule(state, QStringLiteral("echo"), paced);
    if (QTest::currentTestFailed())
        return;
    const auto client = connectTo(QStringLiteral("127.0.0.1"), 10002);
    QVERIFY(isConnected(client));
    const QByteArray burst(960, 'U');
    QElapsedTimer clock;
    clock.start();
    client->write(burst);
    QCOMPARE(readBytes(client.get(), burst.size(), 30000), burst);
    const double seconds = clock.elapsed() / 1000.0;
    QVERIFY2(seconds >= minSeconds && seconds <= maxSeconds, qPrintable(QString::number(seconds)));
}

void tst_ModuleNet::restartMovesListener_data()
{
    QTest::addColumn<bool>("keepLink");
    QTest::newRow("link dropped") << false;
    QTest::newRow("link kept") << true;
}

void tst_ModuleNet::restartMovesListener()
{
    QFETCH(bool, keepLink);
    QStringList args = {"--network", "--set",           "ip=10.20.0.31",   "--bus", "echo",
                        "--set",     "timeout data=20", "--restart-delay", "300"};
    if (keepLink)
        args << QStringLiteral("--keep-link");
    cliprocess::Simulator module(args);
    QVERIFY(!module.path.isEmpty());
    auto trace = [&module] { return module.trace += module.process.readAllStandardError(); };
    QTRY_VERIFY(trace().contains("-- listening on 10.20.0.31:502"));
    const auto client = connectTo(site, 502);
    QVERIFY(isConnected(client));

    QSerialPort console(module.path);
    QVERIFY(console.open(QIODevice::ReadWrite));
    QByteArray replies;
    connect(&console, &QSerialPort::readyRead, this, [&] { replies += console.readAll(); });
    console.write("CHANGE PORT TCP:10001");
    QTRY_COMPARE(replies, QByteArray("ok\r\n"));
    // Written, not yet in effect: the old port still serves.
    QVERIFY(!isConnected(connectTo(site, 10001)));
    client->write("ping");
    QCOMPARE(readBytes(client.get(), 4), QByteArray("ping"));

    console.write("reset");
    QVERIFY(console.waitForBytesWritten(5000));
    if (!keepLink)
        console.close();                                              // its line hangs up now
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState); // closed by the restart
    QTRY_VERIFY(trace().contains("-- listening on 10.20.0.31:10001"));
    QVERIFY(!isConnected(connectTo(site, 502)));
    const auto again = connectTo(site, 10001);
    QVERIFY(isConnected(again));
    again->write("pong");
    QCOMPARE(readBytes(again.get(), 4), QByteArray("pong"));
    if (keepLink) { // the console answers on the same line
        replies.clear();
        console.write("PORT TCP");
        QTRY_COMPARE(replies, QByteArray("PORT TCP:10001\r\n"));
    }
}

void tst_ModuleNet::noListenerSaysSo_data()
{
    QTest::addColumn<QString>("ip");
    QTest::newRow("another subnet") << "10.30.0.7";
    QTest::newRow("the factory's address") << "192.168.0.1";
}

void tst_ModuleNet::noListenerSaysSo()
{
    QFETCH(QString, ip);
    cliprocess::Simulator module({"--network", "--set", "ip=" + ip});
    QVERIFY(!module.path.isEmpty());
    const QByteArray line =
        "ordan-module-sim: " + ip.toLatin1() + " is on no interface of this machine: not listening";
    QTRY_VERIFY((module.trace += module.process.readAllStandardError()).contains(line));
    QVERIFY(!module.trace.contains("-- listening"));
    QVERIFY(!isConnected(connectTo(ip, 502))); // unreachable from here, as in the field
}

void tst_ModuleNet::echoGatheredInStateFile_data()
{
    QTest::addColumn<int>("gapMs"); // between the client's pieces; the time-out is 50 ms
    QTest::addColumn<int>("segments");
    QTest::newRow("gaps under the time-out: one segment") << 10 << 1;
    QTest::newRow("gaps over the time-out: one each") << 400 << 3;
}

void tst_ModuleNet::echoGatheredInStateFile()
{
    QFETCH(int, gapMs);
    QFETCH(int, segments);
    QTemporaryDir dir;
    const QString stateFile = dir.filePath(QStringLiteral("state.json"));
    cliprocess::Simulator module({"--network", "--set", "ip=10.20.0.31", "--set", "timeout data=50",
                                  "--set", "SPEED RS485=115200", "--bus", "echo", "--state-file",
                                  stateFile});
    QVERIFY(!module.path.isEmpty());
    QTRY_VERIFY((module.trace += module.process.readAllStandardError()).contains("-- listening"));
    const auto client = connectTo(site, 502);
    QVERIFY(isConnected(client));
    const QList<QByteArray> pieces = {QByteArray::fromHex("011000"), QByteArray::fromHex("050001"),
                                      QByteArray::fromHex("021234")};
    for (const QByteArray &piece : pieces) {
        client->write(piece);
        client->flush();
        QTest::qWait(gapMs);
    }
    const QByteArray burst = pieces.join();
    QCOMPARE(readBytes(client.get(), burst.size()), burst);
    client->close();
    module.stop();

    QFile file(stateFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject tcp =
        QJsonDocument::fromJson(file.readAll()).object().value("tcp").toObject();
    QCOMPARE(tcp.value("accepted").toInt(), 1);
    QCOMPARE(tcp.value("refused").toInt(), 0);
    QCOMPARE(tcp.value("received_bytes").toInt(), burst.size());
    const QJsonArray sent = tcp.value("sent").toArray();
    QCOMPARE(sent.size(), segments);
    QByteArray hex;
    for (const QJsonValue &segment : sent) {
        QCOMPARE(segment.toObject().value("bytes").toInt(), burst.size() / segments);
        hex += segment.toObject().value("hex").toString().toLatin1();
    }
    QCOMPARE(hex, burst.toHex());
}

void tst_ModuleNet::busTakesEverySetting_data()
{
    QTest::addColumn<QStringList>("line"); // the slave's speed and parity
    QTest::newRow("19200 8E1") << QStringList{"--speed", "19200", "--parity", "E"};
    QTest::newRow("9600 8O1") << QStringList{"--speed", "9600", "--parity", "O"};
    QTest::newRow("19200 8N1") << QStringList{"--speed", "19200", "--parity", "N"};
}

// A libmodbus slave started again and again on the bus, each killed without
// putting the line back: each one's setting is taken (glibc refuses one that
// changes nothing a pseudo-terminal keeps, such as the parity alone).
void tst_ModuleNet::busTakesEverySetting()
{
    QFETCH(QStringList, line);
    if (QStringLiteral(ORDAN_MODBUS_SLAVE_PATH).isEmpty())
        QSKIP("needs libmodbus (scripts/install-deps.sh installs it)");
    QTemporaryDir dir;
    startModule(moduleAt(site, QStringLiteral("502")), dir.filePath(QStringLiteral("ttyBUS")));
    if (QTest::currentTestFailed())
        return;
    for (int start = 1; start <= 4; ++start) {
        QProcess slave;
        slave.start(QStringLiteral(ORDAN_MODBUS_SLAVE_PATH), QStringList{net->busPath()} + line);
        QVERIFY(QTest::qWaitFor(
            [&] { return slave.canReadLine() || slave.state() == QProcess::NotRunning; }, 10000));
        QVERIFY2(slave.readLine() == "ready\n",
                 qPrintable(QStringLiteral("start %1: ").arg(start) +
                            QString::fromLocal8Bit(slave.readAllStandardError())));
        slave.kill(); // no chance to put the line back
        QVERIFY(slave.waitForFinished(5000));
    }
}

ORDAN_PRIVATE_NETWORK_MAIN(tst_ModuleNet, QCoreApplication, "--addr", QLatin1String(siteCidr))

#include "tst_modulenet.moc"

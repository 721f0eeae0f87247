// ordan-cli gateway between real programs: simulated modules
// (ordan-module-sim --network) whose devices are paced as UARTs are, and
// behind the gateway mbpoll, Modbus TCP clients on Debian's libmodbus
// (ordan-gateway-clients) and raw Modbus TCP from this test. The modules'
// addresses are a site's, so the whole test runs in a network namespace of
// its own (main()).
#include "cliprocess.h"
#include "gatewayharness.h"
#include "privatenetwork.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace gatewayharness;

namespace
{

const char siteA[] = "10.20.0.31";
const char siteB[] = "10.20.0.32";
const char listen[] = "127.0.0.1:1502";
constexpr quint16 listenPort = 1502;

// The "name=value" lines of ordan-gateway-clients.
QMap<QString, QString> valuesOf(const QByteArray &output)
{
    QMap<QString, QString> values;
    for (const QByteArray &line : output.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromLatin1(line.left(equals)),
                          QString::fromLatin1(line.mid(equals + 1)));
    }
    return values;
}

// ordan-gateway-clients run to its end.
QMap<QString, QString> runClients(const QStringList &arguments, int timeoutMs = 180000)
{
    QProcess clients;
    clients.start(QStringLiteral(ORDAN_GATEWAY_CLIENTS_PATH),
                  QStringList{QStringLiteral("127.0.0.1"), QString::number(listenPort)} +
                      arguments);
    clients.waitForFinished(timeoutMs);
    return valuesOf(clients.readAllStandardOutput());
}

bool haveClients()
{
    return !QStringLiteral(ORDAN_GATEWAY_CLIENTS_PATH).isEmpty();
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

} // namespace

class GatewayTest : public QObject
{
    Q_OBJECT

private slots:
    // Each gateway's control socket in a folder of this test's own: the
    // gateways of tests running beside it have the same names.
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path())); }
    void refused_data();
    void refused();
    void cannotListenNamesTheHolder();
    void mbpollAndRouting();
    void eightClientsNoCrossedReply();
    void exceptionsAndDeadUnits();
    void healthyUnitBesideADeadOne();
    void functionsPassOnce();
    void lateAnswersDropped();
    void retriesReadsOnly();
    void queueOverItsBound();
    void burstStarvesNoOne();
    void coalesceSameReads_data();
    void coalesceSameReads();
    void broadcast();
    void moduleRestartsUnderLoad();
    void reloadKeepsClients();
    void stalledHalfHeaderDropped();
    void clientsRefusedAndDropped();
    void listenerForEachRow();
    void gapBetweenFrames();
    void crcErrorsAnsweredAtOnce();
    void unitGivenUpComesBack();
    void clientsLeaveNoDescriptors();
    void modbusTcpFraming();
    void givesUp();

private:
    QTemporaryDir runtime;
};

void GatewayTest::refused_data()
{
    // PLAN: a plan with a unit on two buses; GOOD: a plan without.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("reasons");
    QTest::newRow("no --listen") << QStringList{"10.20.0.31:502"} << 2
                                 << QStringList{"gateway needs --listen"};
    QTest::newRow("no module") << QStringList{"--listen", "1502"} << 2
                               << QStringList{"HOST:PORT, or a site's plan"};
    QTest::newRow("a module and a plan")
        << QStringList{"10.20.0.31:502", "--plan", "GOOD", "--listen", "1502"} << 2
        << QStringList{"give one"};
    QTest::newRow("listen 0502") << QStringList{"10.20.0.31:502", "--listen", "0502"} << 2
                                 << QStringList{"without leading zeros"};
    QTest::newRow("listen on a name")
        << QStringList{"10.20.0.31:502", "--listen", "plc:502"} << 2 << QStringList{"IPv4 address"};
    QTest::newRow("module 300.1.1.1") << QStringList{"300.1.1.1:502", "--listen", "1502"} << 2
                                      << QStringList{"\"300.1.1.1\" is not an IPv4 address"};
    QTest::newRow("--listen-base without a plan")
        << QStringList{"10.20.0.31:502", "--listen-base", "1502"} << 2
        << QStringList{"goes with --plan"};
    QTest::newRow("--unit-map without a plan")
        << QStringList{"10.20.0.31:502", "--listen", "1502", "--unit-map", "2:1=101"} << 2
        << QStringList{"goes with --plan"};
    QTest::newRow("--unit-map malformed")
        << QStringList{"--plan", "GOOD", "--listen", "1502", "--unit-map", "2:1"} << 2
        << QStringList{"ROW:UNIT=ID"};
    QTest::newRow("--answer-timeout 0")
        << QStringList{"10.20.0.31:502", "--listen", "1502", "--answer-timeout", "0"} << 2
        << QStringList{"--answer-timeout"};
    QTest::newRow("--retries 9") << QStringList{"10.20.0.31:502", "--listen", "1502", "--retries",
                                                "9"}
                                 << 2 << QStringList{"--retries is at most 5"};
    QTest::newRow("--speed 1234") << QStringList{"10.20.0.31:502", "--listen", "1502", "--speed",
                                                 "1234"}
                                  << 2 << QStringList{"--speed \"1234\""};
    QTest::newRow("--framing ascii")
        << QStringList{"10.20.0.31:502", "--listen", "1502", "--framing", "ascii"} << 2
        << QStringList{"--framing \"ascii\""};
    QTest::newRow("an option of another command")
        << QStringList{"10.20.0.31:502", "--listen", "1502", "--link", "/tmp/x"} << 2
        << QStringList{"does not go with gateway"};
    QTest::newRow("a unit on two buses, both rows named")
        << QStringList{"--plan", "PLAN", "--listen", "1502"} << 2
        << QStringList{"unit 5 is on two buses: row 2 (10.20.0.31:502) and row 3 "
                       "(10.20.0.32:502)",
                       "--unit-map 3:5=ID", "nothing was started"};
    QTest::newRow("--unit-map naming a unit not in the row")
        << QStringList{"--plan", "PLAN", "--listen", "1502", "--unit-map", "3:7=107"} << 2
        << QStringList{"unit 7 is not in row 3's bus_ids"};
}

// Refused with the reason before anything listens or connects.
void GatewayTest::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, reasons);
    QTemporaryDir dir;
    const QString plan = dir.filePath("plan.csv");
    const QString good = dir.filePath("good.csv");
    writeFile(plan, "port,ip,tcp_port,bus_ids\n/dev/ttyA,10.20.0.31,502,\"1,5\"\n"
                    "/dev/ttyB,10.20.0.32,502,\"2,5\"\n");
    writeFile(good, "port,ip,tcp_port,bus_ids\n/dev/ttyA,10.20.0.31,502,1\n");
    arguments.replaceInStrings(QStringLiteral("GOOD"), good);
    arguments.replaceInStrings(QStringLiteral("PLAN"), plan);
    const cliprocess::Result r = cliprocess::runCli(QStringList{"gateway"} + arguments, 10000);
    QCOMPARE(r.exitCode, exitCode);
    for (const QString &reason : reasons)
        QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
}

// Exit 3, naming the program that holds the port.
void GatewayTest::cannotListenNamesTheHolder()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, listenPort));
    const cliprocess::Result r =
        cliprocess::runCli({"gateway", "10.20.0.31:502", "--listen", listen}, 10000);
    QCOMPARE(r.exitCode, 3);
    QVERIFY2(r.err.contains(QStringLiteral("cannot listen on 127.0.0.1:1502: the port is in use "
                                           "by tst_gateway (process %1)")
                                .arg(::getpid())
                                .toUtf8()),
             r.err.constData());
}

// mbpoll reads a simulated device through the gateway, and the libmodbus
// slave on another module's bus, its unit 1 served as 101 (--unit-map);
// a unit on no bus is 0x0A.
void GatewayTest::mbpollAndRouting()
{
    const QString mbpoll = QStringLiteral(ORDAN_MBPOLL_PATH);
    const QString slavePath = QStringLiteral(ORDAN_MODBUS_SLAVE_PATH);
    if (mbpoll.isEmpty() || slavePath.isEmpty())
        QSKIP("mbpoll or the libmodbus slave is missing (scripts/install-deps.sh)");
    QTemporaryDir dir;
    Module a(dir.path(), siteA, "1,2@19200/8E1");
    const QString bus = dir.filePath("ttyBUS");
    Module b(dir.path(), siteB, QString(), {"--bus", bus});
    QProcess slave;
    slave.start(slavePath, {bus});
    QVERIFY(slave.waitForReadyRead(10000));
    const QString plan = dir.filePath("plan.csv");
    writeFile(plan, "port,ip,tcp_port,speed,parity,packet_timeout,bus_ids\n"
                    "/dev/ttyA,10.20.0.31,502,19200,even,2,\"1,2\"\n"
                    "/dev/ttyB,10.20.0.32,502,19200,even,2,1\n");
    GatewayProcess gateway({"--plan", plan, "--listen", listen, "--unit-map", "3:1=101"});
    QVERIFY2(gateway.ready(2), gateway.err.constData());
    const auto poll = [&mbpoll](int unit) {
        QProcess p;
        p.start(mbpoll, {"-m", "tcp", "-a", QString::number(unit), "-r", "1", "-c", "5", "-1", "-p",
                         QString::number(listenPort), "127.0.0.1"});
        p.waitForFinished(20000);
        return QString::fromLatin1(p.readAllStandardOutput() + p.readAllStandardError());
    };
    const QString one = poll(1);
    QVERIFY2(one.contains("[1]: \t1000") && one.contains("[5]: \t1004"), qPrintable(one));
    const QString two = poll(2);
    QVERIFY2(two.contains("[1]: \t2000") && two.contains("[5]: \t2004"), qPrintable(two));
    const QString libmodbus = poll(101);
    QVERIFY2(libmodbus.contains("[1]: \t1000") && libmodbus.contains("[5]: \t1004"),
             qPrintable(libmodbus));
    // Unit 1 of row 3 is 101 only; unit 9 is on no bus: 0x0A at once.
    RawClient raw;
    QVERIFY(raw.connected());
    const RawClient::Answer none = raw.ask(9, readRegisters(0, 1));
    QCOMPARE(none.pdu, exceptionOf(3, 0x0a));
    QVERIFY(none.ms < 500);
    QCOMPARE(a.heardFunction(3), 2);
    slave.terminate();
    slave.waitForFinished(5000);
}

// 8 libmodbus clients, 500 requests each, all at once: every answer is the
// one asked (the values say their unit and address), each request went on
// the bus once.
void GatewayTest::eightClientsNoCrossedReply()
{
    if (!haveClients())
        QSKIP("ordan-gateway-clients is not built (no libmodbus)");
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1,2,5@115200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "115200", "--parity",
                            "even", "--packet-timeout", "2"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    const auto result = runClients({"--clients", "8", "--requests", "500", "--units", "1,2,5"});
    QCOMPARE(result.value("requests"), QStringLiteral("4000"));
    QCOMPARE(result.value("ok"), QStringLiteral("4000"));
    QCOMPARE(result.value("crossed"), QStringLiteral("0"));
    QCOMPARE(module.heardFunction(3), 4000);
    const QJsonObject status = gateway.status();
    const QJsonObject m = status.value("modules").toArray().at(0).toObject();
    QCOMPARE(m.value("sent").toInt(), 4000);
    QCOMPARE(m.value("replies").toInt(), 4000);
    QCOMPARE(m.value("late").toInt(), 0);
    QCOMPARE(m.value("queue").toObject().value("now").toInt(), 0);
    QVERIFY(m.value("queue").toObject().value("high").toInt() >= 1);
    const QJsonArray units = m.value("units").toArray();
    QCOMPARE(units.size(), 3);
    for (const QJsonValue &u : units)
        QVERIFY(u.toObject().value("replies").toInt() > 1000);
    QCOMPARE(status.value("clients_accepted").toInt(), 8);
    QCOMPARE(gateway.stop(SIGTERM), 0);
    // The counters once more at the exit.
    const QJsonObject last =
        QJsonDocument::fromJson(gateway.process.readAllStandardOutput()).object();
    QCOMPARE(last.value("modules").toArray().at(0).toObject().value("sent").toInt(), 4000);
}

// A device's exception comes back as it arrives, not after a normal reply's
// time; an absent unit is 0x0B within the answer time-out + 50 ms, and
// after --dead-after time-outs in a row at once.
void GatewayTest::exceptionsAndDeadUnits()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--packet-timeout", "2", "--answer-timeout", "300",
                            "--dead-after", "3", "--probe-every", "60"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    QList<qint64> normal, exception;
    for (int i = 0; i < 5; ++i) {
        const RawClient::Answer n = raw.ask(1, readRegisters(0, 10));
        QCOMPARE(n.pdu.size(), 22);
        normal << n.ms;
        const RawClient::Answer e = raw.ask(1, readRegisters(200, 10));
        QCOMPARE(e.pdu, exceptionOf(3, 2));
        exception << e.ms;
    }
    QVERIFY2(median(exception) <= median(normal) + 5,
             qPrintable(QStringLiteral("exception %1 ms, reply %2 ms")
                            .arg(median(exception))
                            .arg(median(normal))));
    // The first within the time-out + 50 ms; the next wait one more
    // time-out first, for a late answer that would otherwise be taken for
    // theirs.
    for (int i = 0; i < 3; ++i) {
        const RawClient::Answer silent = raw.ask(9, readRegisters(0, 1));
        QCOMPARE(silent.pdu, exceptionOf(3, 0x0b));
        const int wait = i == 0 ? 300 : 600;
        QVERIFY2(silent.ms >= wait - 5 && silent.ms <= wait + 50,
                 qPrintable(QString::number(silent.ms)));
    }
    QVERIFY(gateway.waitForErr("unit 9 given up after 3 time-outs in a row"));
    const RawClient::Answer given = raw.ask(9, readRegisters(0, 1));
    QCOMPARE(given.pdu, exceptionOf(3, 0x0b));
    QVERIFY2(given.ms < 100, qPrintable(QString::number(given.ms)));
    QCOMPARE(module.heard().size(), 10 + 3);
    const QJsonObject m = gateway.status().value("modules").toArray().at(0).toObject();
    QCOMPARE(m.value("exceptions").toObject().value("2").toInt(), 5);
    QCOMPARE(m.value("gateway_exceptions").toObject().value("11").toInt(), 4);
    QCOMPARE(m.value("timeouts").toInt(), 3);
}

// Clients reading a healthy unit while another hammers an absent one,
// given up and probed meanwhile: the healthy one waits at most one answer
// time-out behind the dead one.
void GatewayTest::healthyUnitBesideADeadOne()
{
    if (!haveClients())
        QSKIP("ordan-gateway-clients is not built (no libmodbus)");
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1");
    const int timeoutMs = 600;
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--packet-timeout", "2", "--answer-timeout",
                            QString::number(timeoutMs), "--dead-after", "3", "--probe-every", "1"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    QProcess dead;
    dead.start(QStringLiteral(ORDAN_GATEWAY_CLIENTS_PATH),
               {"127.0.0.1", QString::number(listenPort), "--clients", "2", "--seconds", "5",
                "--units", "9", "--count", "1", "--timeout-ms", "3000"});
    const auto healthy = runClients({"--clients", "2", "--seconds", "5", "--units", "1"});
    dead.waitForFinished(20000);
    QCOMPARE(healthy.value("crossed"), QStringLiteral("0"));
    QVERIFY2(healthy.value("ok") == healthy.value("requests"),
             qPrintable(QStringLiteral("%1 of %2 answered, %3 broken")
                            .arg(healthy.value("ok"), healthy.value("requests"),
                                 healthy.value("broken"))));
    // One time-out behind the dead unit at most, then its own time (twice,
    // for a busy machine), and 200 ms for the scheduler: two time-outs in
    // a row would be over.
    const double own = healthy.value("median_ms").toDouble();
    QVERIFY2(healthy.value("max_ms").toDouble() <= timeoutMs + 2 * own + 200,
             qPrintable(QStringLiteral("max %1 ms, median %2 ms")
                            .arg(healthy.value("max_ms"), healthy.value("median_ms"))));
    const QJsonObject m = gateway.status().value("modules").toArray().at(0).toObject();
    QVERIFY(m.value("probes").toInt() >= 1);
}

// Functions 8, 17, 23, 43 and a vendor's pass, each sent once: the
// write-and-read is applied once.
void GatewayTest::functionsPassOnce()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1");
    const QString trace = dir.filePath("gateway.log");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--log", trace});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    const QByteArray echo = QByteArray::fromHex("08000012ab");
    QCOMPARE(raw.ask(1, echo).pdu, echo);
    const RawClient::Answer identity = raw.ask(1, QByteArray::fromHex("2b0e0100"));
    QVERIFY2(identity.pdu.startsWith(QByteArray::fromHex("2b0e0101000003")) &&
                 identity.pdu.contains("Ordan") && identity.pdu.contains("SIM-1"),
             identity.pdu.toHex().constData());
    const RawClient::Answer vendor = raw.ask(1, QByteArray::fromHex("41010203"));
    QCOMPARE(vendor.pdu, QByteArray::fromHex("41030201"));
    if (haveClients()) {
        QProcess functions;
        functions.start(QStringLiteral(ORDAN_GATEWAY_CLIENTS_PATH),
                        {"127.0.0.1", QString::number(listenPort), "--functions", "1"});
        QVERIFY(functions.waitForFinished(20000));
        const QByteArray out = functions.readAllStandardOutput();
        QVERIFY2(out.contains("function_17=" + QByteArray("SIM-1").toHex() + "ff"),
                 out.constData());
        QVERIFY2(out.contains("function_23=1005,1006,4321,1008,1009"), out.constData());
        QCOMPARE(functions.exitCode(), 0);
        QCOMPARE(module.heardFunction(17), 1);
        QCOMPARE(module.heardFunction(23), 1);
    } else {
        // Write 4321 to register 7, read 5-9: the same through this test.
        QCOMPARE(raw.ask(1, QByteArray::fromHex("1700050005000700010210e1")).pdu,
                 QByteArray::fromHex("170a03ed03ee10e103f003f1"));
        QCOMPARE(module.heardFunction(23), 1);
    }
    QCOMPARE(raw.ask(1, readRegisters(7, 1)).pdu, QByteArray::fromHex("030210e1"));
    QCOMPARE(module.heardFunction(8), 1);
    QCOMPARE(module.heardFunction(0x2b), 1);
    QCOMPARE(module.heardFunction(0x41), 1);
    // The trace: each request and its answer with its client, escaped.
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray traced = file.readAll();
    QVERIFY2(traced.contains("10.20.0.31:502 client 1 > \\x01\\x08\\x00\\x00\\x12\\xab") &&
                 traced.contains("10.20.0.31:502 client 1 < \\x01A\\x03\\x02\\x01"),
             traced.constData());
}

// A device slower than the answer time-out: every request 0x0B, every
// reply late, dropped and counted, none given to the next request.
void GatewayTest::lateAnswersDropped()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1", {"--device-delay", "200"});
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--answer-timeout", "150", "--dead-after", "100"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    for (int i = 0; i < 5; ++i)
        QCOMPARE(raw.ask(1, readRegisters(i, 2)).pdu, exceptionOf(3, 0x0b));
    QTest::qWait(300);
    const QJsonObject m = gateway.status().value("modules").toArray().at(0).toObject();
    QVERIFY2(m.value("late").toInt() + m.value("stray_frames").toInt() == 5,
             QJsonDocument(m).toJson().constData());
    QVERIFY(m.value("late").toInt() >= 1);
    QCOMPARE(m.value("replies").toInt(), 0);
}

// --retries sends a read again after a time-out; a write never.
void GatewayTest::retriesReadsOnly()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--answer-timeout", "100", "--retries", "2", "--dead-after",
                            "50"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    // The simulated bus has no unit 9; its log holds what reached the line.
    QCOMPARE(raw.ask(9, readRegisters(0, 1)).pdu, exceptionOf(3, 0x0b));
    QCOMPARE(raw.ask(9, QByteArray::fromHex("0600010007")).pdu, exceptionOf(6, 0x0b));
    const QJsonObject m = gateway.status().value("modules").toArray().at(0).toObject();
    QCOMPARE(m.value("sent").toInt(), 3 + 1);
    QCOMPARE(m.value("retries").toInt(), 2);
    QCOMPARE(module.heardFunction(3), 3);
    QCOMPARE(module.heardFunction(6), 1);
}

// Over --queue the bus takes no more (0x06), but a client's first request
// waiting there is always taken; answers come in the order asked.
void GatewayTest::queueOverItsBound()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--queue", "2"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    QByteArray burst;
    for (quint16 t = 1; t <= 6; ++t)
        burst += RawClient::frame(t, 1, readRegisters(t, 1));
    raw.send(burst);
    QList<QByteArray> answers;
    for (quint16 t = 1; t <= 6; ++t) {
        const RawClient::Answer a = raw.next();
        QCOMPARE(a.transaction, t);
        answers << a.pdu;
    }
    QCOMPARE(answers.at(0), QByteArray::fromHex("030203e9"));
    QCOMPARE(answers.at(1), QByteArray::fromHex("030203ea"));
    QCOMPARE(answers.at(2), QByteArray::fromHex("030203eb"));
    for (int i = 3; i < 6; ++i)
        QCOMPARE(answers.at(i), exceptionOf(3, 0x06));
    // Another client's one request is taken while the queue is full.
    RawClient other;
    QVERIFY(other.connected());
    raw.send(burst);
    QCOMPARE(other.ask(1, readRegisters(9, 1)).pdu, QByteArray::fromHex("030203f1"));
    // Whether the other's request came before or after this burst is the
    // scheduler's: 3 or 4 of it are refused.
    int refused = 0;
    for (quint16 t = 1; t <= 6; ++t)
        refused += raw.next().pdu == exceptionOf(3, 0x06) ? 1 : 0;
    QVERIFY2(refused == 3 || refused == 4, qPrintable(QString::number(refused)));
    QCOMPARE(module.heardFunction(3), 3 + (6 - refused) + 1);
}

// One client's burst of pipelined requests starves no one: another
// client's request goes in the next turn, not after the whole burst.
void GatewayTest::burstStarvesNoOne()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1");
    GatewayProcess gateway(
        {"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity", "even"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient burst;
    RawClient single;
    QVERIFY(burst.connected() && single.connected());
    QByteArray requests;
    for (quint16 t = 1; t <= 30; ++t)
        requests += RawClient::frame(t, 1, readRegisters(t, 1));
    burst.send(requests);
    QTest::qWait(10);
    QCOMPARE(single.ask(1, readRegisters(50, 1)).pdu, QByteArray::fromHex("0302041a"));
    for (int i = 0; i < 30; ++i)
        QCOMPARE(burst.next().pdu.size(), 4);
    const QStringList heard = module.heard();
    const int at = int(std::find_if(heard.begin(), heard.end(),
                                    [](const QString &f) { return f.startsWith("010300320001"); }) -
                       heard.begin());
    QVERIFY2(at <= 6, qPrintable(QStringLiteral("sent after %1 of the burst").arg(at)));
}

void GatewayTest::coalesceSameReads_data()
{
    QTest::addColumn<bool>("coalesce");
    QTest::newRow("--coalesce: sent once") << true;
    QTest::newRow("without: each sent") << false;
}

// --coalesce: the same read of another client, taken while the first is
// on the bus, gets its answer without going on the bus again.
void GatewayTest::coalesceSameReads()
{
    QFETCH(bool, coalesce);
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1", {"--device-delay", "150"});
    QStringList arguments{"10.20.0.31:502", "--listen", listen, "--speed",
                          "19200",          "--parity", "even"};
    if (coalesce)
        arguments << "--coalesce";
    GatewayProcess gateway(arguments);
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient first;
    RawClient second;
    QVERIFY(first.connected() && second.connected());
    first.send(RawClient::frame(7, 1, readRegisters(4, 2)));
    QTest::qWait(50);
    second.send(RawClient::frame(9, 1, readRegisters(4, 2)));
    const RawClient::Answer a = first.next();
    const RawClient::Answer b = second.next();
    QCOMPARE(a.pdu, QByteArray::fromHex("030403ec03ed"));
    QCOMPARE(b.pdu, a.pdu);
    QCOMPARE(a.transaction, quint16(7));
    QCOMPARE(b.transaction, quint16(9));
    QCOMPARE(module.heardFunction(3), coalesce ? 1 : 2);
    const QJsonObject m = gateway.status().value("modules").toArray().at(0).toObject();
    QCOMPARE(m.value("coalesced").toInt(), coalesce ? 1 : 0);
}

// Unit 0: a write goes out once with no answer awaited, every device
// takes it; --no-broadcast refuses it.
void GatewayTest::broadcast()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1,2@19200/8E1");
    {
        GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200",
                                "--parity", "even", "--broadcast-delay", "50"});
        QVERIFY2(gateway.ready(), gateway.err.constData());
        RawClient raw;
        QVERIFY(raw.connected());
        const QByteArray write = QByteArray::fromHex("0600030309");
        const RawClient::Answer a = raw.ask(0, write);
        QCOMPARE(a.pdu, write);
        QCOMPARE(a.unit, quint8(0));
        QCOMPARE(raw.ask(1, readRegisters(3, 1)).pdu, QByteArray::fromHex("03020309"));
        QCOMPARE(raw.ask(2, readRegisters(3, 1)).pdu, QByteArray::fromHex("03020309"));
        QCOMPARE(raw.ask(0, readRegisters(3, 1)).pdu, exceptionOf(3, 0x01));
        QVERIFY(module.heard().first().startsWith(QStringLiteral("000600030309")));
        QCOMPARE(module.heardFunction(6), 1);
    }
    GatewayProcess refusing({"10.20.0.31:502", "--listen", listen, "--no-broadcast"});
    QVERIFY2(refusing.ready(), refusing.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    QCOMPARE(raw.ask(0, QByteArray::fromHex("0600030001")).pdu, exceptionOf(6, 0x01));
    QCOMPARE(module.heardFunction(6), 1);
}

// The module restarts under load: requests get 0x0A or 0x0B meanwhile,
// then succeed again, no client connecting again; none reaches the bus
// twice or after its answer.
void GatewayTest::moduleRestartsUnderLoad()
{
    if (!haveClients())
        QSKIP("ordan-gateway-clients is not built (no libmodbus)");
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1,2@115200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "115200", "--parity",
                            "even", "--packet-timeout", "2", "--answer-timeout", "200"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    QProcess load;
    load.start(QStringLiteral(ORDAN_GATEWAY_CLIENTS_PATH),
               {"127.0.0.1", QString::number(listenPort), "--clients", "4", "--seconds", "7",
                "--units", "1,2"});
    QTest::qWait(1500);
    const cliprocess::Result write =
        cliprocess::runCli({"write", module.console, "--packet-timeout", "3"}, 30000);
    QCOMPARE(write.exitCode, 0);
    QVERIFY2(gateway.waitForErr("back after", 10000), gateway.err.constData());
    QVERIFY(load.waitForFinished(30000));
    const QMap<QString, QString> result = valuesOf(load.readAllStandardOutput());
    QCOMPARE(result.value("crossed"), QStringLiteral("0"));
    QCOMPARE(result.value("broken"), QStringLiteral("0"));
    QCOMPARE(result.value("other"), QStringLiteral("0"));
    QCOMPARE(result.value("timeouts"), QStringLiteral("0"));
    const int ok = result.value("ok").toInt();
    const int noPath = result.value("exception_10").toInt();
    const int noAnswer = result.value("exception_11").toInt();
    QVERIFY2(noPath + noAnswer > 0, "the restart went unseen");
    QCOMPARE(ok + noPath + noAnswer, result.value("requests").toInt());
    // Each request that succeeded reached the bus once; one answered 0x0B
    // may have reached it; none answered 0x0A did.
    const int heard = module.heardFunction(3);
    QVERIFY2(
        heard >= ok && heard <= ok + noAnswer,
        qPrintable(QStringLiteral("heard %1, ok %2, 0x0B %3").arg(heard).arg(ok).arg(noAnswer)));
    const auto after = runClients({"--clients", "2", "--requests", "50", "--units", "1,2"});
    QCOMPARE(after.value("ok"), QStringLiteral("100"));
}

// SIGHUP reads the plan again: a client connected throughout reaches the
// new routes; a plan with problems is refused and the old one kept.
void GatewayTest::reloadKeepsClients()
{
    QTemporaryDir dir;
    Module a(dir.path(), siteA, "1,2@19200/8E1");
    Module b(dir.path(), siteB, "5@19200/8E1");
    const QString plan = dir.filePath("plan.csv");
    writeFile(plan, "port,ip,tcp_port,speed,parity,bus_ids\n/dev/ttyA,10.20.0.31,502,19200,even,"
                    "\"1,2\"\n");
    GatewayProcess gateway({"--plan", plan, "--listen", listen});
    QVERIFY2(gateway.ready(1), gateway.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    QCOMPARE(raw.ask(1, readRegisters(0, 1)).pdu, QByteArray::fromHex("030203e8"));
    QCOMPARE(raw.ask(5, readRegisters(0, 1)).pdu, exceptionOf(3, 0x0a));
    writeFile(plan, "port,ip,tcp_port,speed,parity,bus_ids\n/dev/ttyA,10.20.0.31,502,19200,even,"
                    "\"1,2\"\n/dev/ttyB,10.20.0.32,502,19200,even,5\n");
    ::kill(pid_t(gateway.process.processId()), SIGHUP);
    QVERIFY2(gateway.waitForErr("read again: 2 modules, every client kept"),
             gateway.err.constData());
    QVERIFY(gateway.waitForErr("row 3 (10.20.0.32:502): connected"));
    QCOMPARE(raw.ask(5, readRegisters(0, 1)).pdu, QByteArray::fromHex("03021388"));
    writeFile(plan, "port,ip,tcp_port,bus_ids\n/dev/ttyA,10.20.0.31,502,\"1,2\"\n"
                    "/dev/ttyB,10.20.0.32,502,\"2,5\"\n");
    ::kill(pid_t(gateway.process.processId()), SIGHUP);
    QVERIFY2(gateway.waitForErr("read again and refused; the plan in force stays"),
             gateway.err.constData());
    QVERIFY(gateway.waitForErr("unit 2 is on two buses"));
    QCOMPARE(raw.ask(2, readRegisters(0, 1)).pdu, QByteArray::fromHex("030207d0"));
    QCOMPARE(raw.ask(5, readRegisters(0, 1)).pdu, QByteArray::fromHex("03021388"));
    QCOMPARE(raw.socket.state(), QAbstractSocket::ConnectedState);
    const QJsonObject status = gateway.status();
    QCOMPARE(status.value("clients_accepted").toInt(), 1);
    QCOMPARE(status.value("modules").toArray().size(), 2);
    QCOMPARE(gateway.process.state(), QProcess::Running);
}

// A client that sends half a header and stops blocks nobody, and is
// dropped after --client-timeout.
void GatewayTest::stalledHalfHeaderDropped()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--client-timeout", "1"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient stalled;
    QVERIFY(stalled.connected());
    stalled.send(QByteArray::fromHex("000100"));
    RawClient other;
    QVERIFY(other.connected());
    for (int i = 0; i < 5; ++i)
        QCOMPARE(other.ask(1, readRegisters(i, 1)).pdu.size(), 4);
    QVERIFY(stalled.socket.state() == QAbstractSocket::ConnectedState);
    QVERIFY(waitFor(
        [&] {
            stalled.socket.waitForReadyRead(10);
            return stalled.socket.state() != QAbstractSocket::ConnectedState;
        },
        5000));
    QVERIFY(gateway.waitForErr("dropped: began a request and did not finish it within 1 s"));
    QCOMPARE(other.ask(1, readRegisters(0, 1)).pdu, QByteArray::fromHex("030203e8"));
}

// Over --max-clients a connection is closed at once; a client whose
// header is none is dropped; both said and counted.
void GatewayTest::clientsRefusedAndDropped()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--max-clients", "2"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient first;
    RawClient second;
    QVERIFY(first.connected() && second.connected());
    QCOMPARE(first.ask(1, readRegisters(0, 1)).pdu, QByteArray::fromHex("030203e8"));
    RawClient third;
    QVERIFY(waitFor(
        [&] {
            third.socket.waitForReadyRead(10);
            return third.socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000));
    QVERIFY(gateway.waitForErr("refused: 2 clients already (--max-clients)"));
    second.send(QByteArray::fromHex("00010001000601030000000a"));
    QVERIFY(waitFor(
        [&] {
            second.socket.waitForReadyRead(10);
            return second.socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000));
    QVERIFY(gateway.waitForErr("dropped: sent a header that is no Modbus TCP header"));
    QCOMPARE(first.ask(1, readRegisters(1, 1)).pdu, QByteArray::fromHex("030203e9"));
    const QJsonObject status = gateway.status();
    QCOMPARE(status.value("clients_refused").toInt(), 1);
    QCOMPARE(status.value("clients_dropped").toInt(), 1);
    QCOMPARE(status.value("clients").toArray().size(), 1);
    QCOMPARE(module.heardFunction(3), 2);
}

// --listen-base: each row on a listener of its own, port base + row - 1,
// with its bus_ids only.
void GatewayTest::listenerForEachRow()
{
    QTemporaryDir dir;
    Module a(dir.path(), siteA, "1,2@19200/8E1");
    Module b(dir.path(), siteB, "1,5@19200/8E1");
    const QString plan = dir.filePath("plan.csv");
    writeFile(plan, "port,ip,tcp_port,speed,parity,bus_ids\n/dev/ttyA,10.20.0.31,502,19200,even,"
                    "\"1,2\"\n/dev/ttyB,10.20.0.32,502,19200,even,\"1,5\"\n");
    GatewayProcess gateway({"--plan", plan, "--listen-base", "127.0.0.1:1510"});
    QVERIFY2(gateway.ready(2), gateway.err.constData());
    QVERIFY(gateway.err.contains("listening on 127.0.0.1:1511 for row 2 (10.20.0.31:502)"));
    RawClient rowTwo(1511);
    RawClient rowThree(1512);
    QVERIFY(rowTwo.connected() && rowThree.connected());
    QCOMPARE(rowTwo.ask(1, readRegisters(0, 1)).pdu, QByteArray::fromHex("030203e8"));
    QCOMPARE(rowThree.ask(1, readRegisters(1, 1)).pdu, QByteArray::fromHex("030203e9"));
    QCOMPARE(rowThree.ask(5, readRegisters(0, 1)).pdu, QByteArray::fromHex("03021388"));
    QCOMPARE(rowTwo.ask(5, readRegisters(0, 1)).pdu, exceptionOf(3, 0x0a));
    QCOMPARE(a.heardFunction(3), 1);
    QCOMPARE(b.heardFunction(3), 2);
}

// Between the end of a reply and the next request the line is quiet for
// at least 3.5 characters, the module's packet time-out counted in: at
// 19200 8E1 with a packet time-out of 1 ms the gateway waits the rest.
void GatewayTest::gapBetweenFrames()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1,2@19200/8E1", {"--set", "timeout data=1"});
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--packet-timeout", "1"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient one;
    RawClient two;
    QVERIFY(one.connected() && two.connected());
    QByteArray burst;
    for (quint16 t = 1; t <= 15; ++t)
        burst += RawClient::frame(t, quint8(1 + t % 2), readRegisters(t, 2));
    one.send(burst);
    two.send(burst);
    for (int i = 0; i < 15; ++i)
        QVERIFY(one.next().pdu.size() == 6 && two.next().pdu.size() == 6);
    const QList<Module::OnLine> line = module.line();
    QCOMPARE(line.size(), 60);
    const qint64 gapUs = 2005; // 3.5 characters of 11 bits at 19200 bit/s
    qint64 least = -1;
    for (int i = 1; i < line.size(); ++i) {
        if (line.at(i - 1).reply && !line.at(i).reply) {
            const qint64 quiet = line.at(i).start - line.at(i - 1).end;
            least = least < 0 ? quiet : qMin(least, quiet);
        }
    }
    QVERIFY2(least >= gapUs, qPrintable(QStringLiteral("%1 us of quiet").arg(least)));
}

// A reply with a wrong CRC is 0x0B at once, not after the time-out, and
// counted.
void GatewayTest::crcErrorsAnsweredAtOnce()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1", {"--crc-errors", "100"});
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--answer-timeout", "1000"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    for (int i = 0; i < 4; ++i) {
        const RawClient::Answer a = raw.ask(1, readRegisters(i, 10));
        QCOMPARE(a.pdu, exceptionOf(3, 0x0b));
        QVERIFY2(a.ms < 500, qPrintable(QString::number(a.ms)));
    }
    const QJsonObject m = gateway.status().value("modules").toArray().at(0).toObject();
    QCOMPARE(m.value("crc_errors").toInt(), 4);
    QCOMPARE(m.value("timeouts").toInt(), 0);
}

// A unit given up is probed in the background, and answers again once its
// device does.
void GatewayTest::unitGivenUpComesBack()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@19200/8E1", {"--devices-off", "4000"});
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "19200", "--parity",
                            "even", "--answer-timeout", "200", "--dead-after", "2", "--probe-every",
                            "0.3"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    RawClient raw;
    QVERIFY(raw.connected());
    QCOMPARE(raw.ask(1, readRegisters(0, 1)).pdu, exceptionOf(3, 0x0b));
    QCOMPARE(raw.ask(1, readRegisters(0, 1)).pdu, exceptionOf(3, 0x0b));
    QVERIFY(gateway.waitForErr("unit 1 given up after 2 time-outs in a row"));
    const RawClient::Answer given = raw.ask(1, readRegisters(0, 1));
    QCOMPARE(given.pdu, exceptionOf(3, 0x0b));
    QVERIFY(given.ms < 100);
    QVERIFY2(gateway.waitForErr("unit 1 answers again", 10000), gateway.err.constData());
    QCOMPARE(raw.ask(1, readRegisters(0, 1)).pdu, QByteArray::fromHex("030203e8"));
    const QJsonObject m = gateway.status().value("modules").toArray().at(0).toObject();
    QVERIFY(m.value("probes").toInt() >= 1);
}

// 200 clients connect, ask, and leave: the gateway ends with the
// descriptors it started with.
void GatewayTest::clientsLeaveNoDescriptors()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@115200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--speed", "115200", "--parity",
                            "even", "--max-clients", "64"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    const int before = gateway.descriptors();
    for (int round = 0; round < 4; ++round) {
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < 50; ++i) {
            clients.push_back(std::make_unique<RawClient>());
            QVERIFY(clients.back()->connected());
        }
        for (int i = 0; i < 50; ++i) {
            if (i % 2 == 0)
                clients[size_t(i)]->send(RawClient::frame(1, 1, readRegisters(i, 1)));
        }
        for (int i = 0; i < 50; i += 2)
            QCOMPARE(clients[size_t(i)]->next().pdu.size(), 4);
        clients.clear();
        // Gone before the next 50 come: at most --max-clients at once.
        QVERIFY(waitFor([&] { return gateway.descriptors() == before; }, 5000));
    }
    QVERIFY2(waitFor([&] { return gateway.descriptors() == before; }, 5000),
             qPrintable(QStringLiteral("%1 descriptors, %2 at the start")
                            .arg(gateway.descriptors())
                            .arg(before)));
    QCOMPARE(gateway.status().value("clients_accepted").toInt(), 200);
}

// A module that speaks Modbus TCP itself is shared, transaction ids
// remapped.
void GatewayTest::modbusTcpFraming()
{
    if (!haveClients())
        QSKIP("ordan-gateway-clients is not built (no libmodbus)");
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1,2@115200/8E1", {"--modbus-tcp"});
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listen, "--framing", "tcp"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    const auto result = runClients({"--clients", "4", "--requests", "50", "--units", "1,2"});
    QCOMPARE(result.value("ok"), QStringLiteral("200"));
    QCOMPARE(result.value("crossed"), QStringLiteral("0"));
    QCOMPARE(module.heardFunction(3), 200);
}

// No module connected for --give-up: exit 4, said.
void GatewayTest::givesUp()
{
    const cliprocess::Result r = cliprocess::runCli(
        {"gateway", "10.20.0.39:502", "--listen", listen, "--give-up", "1"}, 20000);
    QCOMPARE(r.exitCode, 4);
    QVERIFY2(r.err.contains("gave up: no module has had a connection for 1 s"), r.err.constData());
}

ORDAN_PRIVATE_NETWORK_MAIN(GatewayTest, QCoreApplication, "--addr", "10.20.0.31/24", "--addr",
                           "10.20.0.32/24")

#include "tst_gateway.moc"

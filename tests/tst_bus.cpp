// ordan-cli bus as a technician runs it: ordan-cli and the simulated module
// (ordan-module-sim --network) as processes, the devices played by the
// simulator (--devices), by this test on the bus's pseudo-terminal, or by a
// libmodbus slave (a real Modbus implementation).
//
// The module's address belongs to a site, so the whole program runs in a
// network namespace of its own (main() re-executes it through
// scripts/netns.sh with the address on lo); no packet leaves the machine.

#include "cliprocess.h"
#include "modulenetwork.h"
#include "modulesimulator.h"
#include "privatenetwork.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using cliprocess::Result;
using cliprocess::Simulator;

namespace
{

const char siteCidr[] = "10.20.0.31/24";
const char target[] = "10.20.0.31:502";

// A simulated module at the site's address, its packet time-out 10 ms (a
// Modbus setting), up with its network side; `extra` goes to it too.
std::unique_ptr<Simulator> moduleWith(const QStringList &extra)
{
    auto sim = std::make_unique<Simulator>(
        QStringList{"--network", "--set", "ip=10.20.0.31", "--set", "PORT TCP=502", "--set",
                    "timeout data=10", "--restart-delay", "100"} +
        extra);
    QElapsedTimer clock;
    clock.start();
    while (!sim->trace.contains("listening") && clock.elapsed() < 10000) {
        sim->process.waitForReadyRead(100);
        sim->trace += sim->process.readAllStandardError();
    }
    return sim;
}

QList<int> answered(const Result &r)
{
    QList<int> units;
    const QJsonArray array = QJsonDocument::fromJson(r.out).object().value("answered").toArray();
    for (const QJsonValue &unit : array)
        units << unit.toInt();
    return units;
}

QString says(const Result &r)
{
    return QString::fromUtf8(r.out + r.err);
}

// The module's speed and parity as its console reads them now.
QString consoleSettings(const QString &console)
{
    const Result r = cliprocess::runCli({"read", console, "--json"});
    const QJsonObject values = QJsonDocument::fromJson(r.out).object();
    return values.value("speed").toString() + QLatin1Char(' ') + values.value("parity").toString();
}

} // namespace

class BusTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scan_data();
    void scan();
    void replyFramed_data();
    void replyFramed();
    void findSettings_data();
    void findSettings();
    void libmodbusSlave();
    void afterReadBack_data();
    void afterReadBack();
};

void BusTest::initTestCase()
{
    QVERIFY(QNetworkInterface::allAddresses().contains(QHostAddress("10.20.0.31")));
}

void BusTest::scan_data()
{
    // The module's settings and the bus (simulator arguments), the
    // arguments after "bus HOST:PORT --json", the exit code, the units that
    // answer and words of the diagnosis.
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<int>>("units");
    QTest::addColumn<QString>("diagnosis");

    const QStringList at19200e{"--set", "SPEED RS485=19200", "--set", "parity=even"};
    const QStringList devices{"--devices", "1,2,5@19200/8E1"};
    QTest::newRow("1, 2 and 5 among 1-247")
        << at19200e + devices << QStringList{"--answer-timeout", "50"} << 0 << QList<int>{1, 2, 5}
        << "3 devices answer: 1, 2, 5";
    QTest::newRow("an exception proves a device")
        << at19200e + devices << QStringList{"--ids", "1-6", "--probe", "3:98:5"} << 0
        << QList<int>{1, 2, 5} << "3 devices answer: 1, 2, 5";
    QTest::newRow("an expected device missing")
        << at19200e + devices << QStringList{"--ids", "1-3", "--expect", "1,2,3"} << 6
        << QList<int>{1, 2} << "3 expected, does not answer; 2 devices answer: 1, 2";
    QTest::newRow("expected, and nothing answers: 6, the hint of 500 ms")
        << at19200e << QStringList{"--ids", "1-3", "--expect", "3", "--answer-timeout", "100"} << 6
        << QList<int>()
        << "3 expected, does not answer; nothing answers and the line is quiet: check A/B, "
           "termination, the devices' addresses, or try --find-settings; many devices ignore the "
           "line for up to 500 ms after a frame for another address: try --answer-timeout 500";
    QTest::newRow("Modbus TCP, the module in its Modbus TCP mode")
        << QStringList{"--devices", "1,2,5@9600/8N1", "--modbus-tcp"}
        << QStringList{"--ids", "1-6", "--framing", "tcp"} << 0 << QList<int>{1, 2, 5}
        << "3 devices answer: 1, 2, 5";
    QTest::newRow("wrong parity: nothing answers, the line quiet")
        << QStringList{"--set", "SPEED RS485=19200", "--set", "parity=odd"} + devices
        << QStringList{"--ids", "1-5"} << 4 << QList<int>()
        << "nothing answers and the line is quiet";
    // Bytes of no frame: in every address's time (noise), or only replies
    // with a wrong CRC (tst_busline has the rest).
    QTest::newRow("noise: bytes of no frame whatever is asked")
        << QStringList{"--devices", "1,2,5@19200/8E1", "--bus-noise", "200"}
        << QStringList{"--ids", "1-5"} << 4 << QList<int>()
        << "nothing answers, but bytes that are no valid frame arrive whatever address is asked: "
           "noise on the line";
    QTest::newRow("only replies with a wrong CRC: both named")
        << at19200e + QStringList{"--devices", "1@19200/8E1", "--crc-errors", "100"}
        << QStringList{"--ids", "1"} << 4 << QList<int>()
        << "nothing answers, but bytes arrive that are no valid frame: the bus runs at other "
           "settings than the module, or there is noise or another master on it";
    QTest::newRow("CRC errors at 5 % fail --min-quality 99")
        << at19200e + devices + QStringList{"--crc-errors", "5", "--seed", "3"}
        << QStringList{"--ids", "1", "--repeat", "150", "--min-quality", "99"} << 6 << QList<int>{1}
        << "1 device answers: 1";
    QTest::newRow("nothing listens at the port")
        << QStringList{"--set", "PORT TCP=10001"} << QStringList{"--ids", "1"} << 4 << QList<int>()
        << "cannot be reached at 10.20.0.31:502: refused";
}

void BusTest::scan()
{
    QFETCH(QStringList, sim);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QList<int>, units);
    QFETCH(QString, diagnosis);
    const auto module = moduleWith(sim);
    const Result r = cliprocess::runCli(QStringList{"bus", target, "--json"} + arguments, 120000);
    QVERIFY2(r.exitCode == exitCode, qPrintable(says(r)));
    QCOMPARE(answered(r), units);
    const QJsonObject json = QJsonDocument::fromJson(r.out).object();
    QVERIFY2(json.value("diagnosis").toString().contains(diagnosis), qPrintable(says(r)));
    if (exitCode == 6 && arguments.contains("--repeat"))
        QVERIFY(json.value("quality").toObject().value("crc_errors").toInt() > 0);
}

void BusTest::replyFramed_data()
{
    // The device's reply to "read holding registers 0, count 1" of unit 1,
    // as this test puts it on the bus: the pieces, each after the module's
    // packet time-out (so each its own TCP segment).
    QTest::addColumn<QList<QByteArray>>("pieces");
    const QByteArray reply("\x01\x03\x02\x03\xe8\xb8\xfa", 7);
    QTest::newRow("in three segments")
        << QList<QByteArray>{reply.left(2), reply.mid(2, 3), reply.mid(5)};
    QTest::newRow("after noise") << QList<QByteArray>{QByteArray("\xff\x07\x00\x13", 4) + reply};
}

// The devices played by this test on the bus's pseudo-terminal, through the
// simulated module in this process.
void BusTest::replyFramed()
{
    QFETCH(QList<QByteArray>, pieces);
    QTemporaryDir dir;
    ModuleSimulator sim;
    ModuleState state = ModuleSimulator::factoryState();
    state.ip = QStringLiteral("10.20.0.31");
    state.timeout = QStringLiteral("10");
    sim.setState(state);
    ModuleNetwork net(&sim);
    net.setBus(dir.filePath("ttyBUS"));
    QVERIFY(net.start());
    QVERIFY(sim.start());
    QSerialPort bus(net.busPath());
    QVERIFY(bus.open(QIODevice::ReadWrite));

    QProcess cli;
    cli.start(QStringLiteral(ORDAN_CLI_PATH), {"bus", target, "--ids", "1", "--json"});
    QByteArray request;
    QTRY_VERIFY_WITH_TIMEOUT((request += bus.readAll()).size() >= 8, 10000);
    QCOMPARE(request, QByteArray("\x01\x03\x00\x00\x00\x01\x84\x0a", 8));
    for (const QByteArray &piece : pieces) {
        bus.write(piece);
        QVERIFY(bus.waitForBytesWritten(1000));
        const qint64 sent = net.traffic().sentSegments;
        QTRY_COMPARE(net.traffic().sentSegments, sent + 1); // its own segment
    }
    QTRY_COMPARE_WITH_TIMEOUT(cli.state(), QProcess::NotRunning, 10000);
    const Result r{cli.exitCode(), cli.readAllStandardOutput(), cli.readAllStandardError()};
    QVERIFY2(r.exitCode == 0, qPrintable(says(r)));
    QCOMPARE(answered(r), QList<int>{1});
}

void BusTest::findSettings_data()
{
    // The devices on the bus (none: an empty list), the search's arguments,
    // the exit code, the module's speed and parity at the end, and the
    // conclusion. Each try where nothing came says so in search.tries[].
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("conclusion");
    const QStringList fiveAt100{"--ids", "1-5", "--answer-timeout", "100"};
    QTest::newRow("found at 19200 8E1, the 4th setting tried")
        << QStringList{"--devices", "1,2,5@19200/8E1"} << fiveAt100 << 0 << "19200 even"
        << "bus found at 19200 8E1 after 4 tries";
    // The search's time runs out after one try (each takes about as long as
    // the last, and the write back too).
    QTest::newRow("no devices, time up: written back, verified")
        << QStringList() << fiveAt100 + QStringList{"--find-timeout", "2"} << 4 << "9600 none"
        << "after 1 try: the module is back at 9600 8N1, verified";
    QTest::newRow("no devices, every setting: written back, verified")
        << QStringList() << QStringList{"--ids", "1", "--answer-timeout", "50"} << 4 << "9600 none"
        << "nothing answers at any setting: the module is back at 9600 8N1, verified";
}

void BusTest::findSettings()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, settings);
    QFETCH(QString, conclusion);
    const auto module = moduleWith(devices);
    QTemporaryDir dir;
    const QString record = dir.filePath("bus.csv");
    const Result r = cliprocess::runCli(QStringList{"bus", target, "--find-settings", "--console",
                                                    module->path, "--json", "--record", record} +
                                            arguments,
                                        240000);
    QVERIFY2(r.exitCode == exitCode, qPrintable(says(r)));
    const QJsonObject search = QJsonDocument::fromJson(r.out).object().value("search").toObject();
    QVERIFY2(search.value("conclusion").toString().contains(conclusion), qPrintable(says(r)));
    QCOMPARE(consoleSettings(module->path), settings);
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(file.readAll()).contains(conclusion));
    int quiet = 0;
    for (const QJsonValue t : search.value("tries").toArray()) {
        if (!t["answered"].toArray().isEmpty() || !t["verified"].toBool())
            continue;
        QCOMPARE(t["result"].toString(), QStringLiteral("nothing answers, the line quiet"));
        ++quiet;
    }
    QVERIFY(quiet > 0 || !devices.isEmpty());
}

// ordan-modbus-slave (libmodbus, unit 1) on the module's bus.
void BusTest::libmodbusSlave()
{
    const QString slavePath = QStringLiteral(ORDAN_MODBUS_SLAVE_PATH);
    if (slavePath.isEmpty())
        QSKIP("ordan-modbus-slave is not built (no libmodbus)");
    QTemporaryDir dir;
    const QString bus = dir.filePath("ttyBUS");
    const auto module =
        moduleWith({"--set", "SPEED RS485=19200", "--set", "parity=even", "--bus", bus});
    QProcess slave;
    slave.start(slavePath, {bus});
    QVERIFY(slave.waitForReadyRead(10000));
    QCOMPARE(slave.readLine().trimmed(), QByteArray("ready"));
    const Result r = cliprocess::runCli({"bus", target, "--ids", "1-4", "--json"});
    slave.terminate();
    slave.waitForFinished(5000);
    QVERIFY2(r.exitCode == 0, qPrintable(says(r)));
    QCOMPARE(answered(r), QList<int>{1});
}

void BusTest::afterReadBack_data()
{
    // Two modules on two ports, planned at 10.20.0.32 (bus_ids 1,2,5: its
    // devices 1, 2 and 5 answer) and 10.20.0.33 (bus_ids 1-3: only 1 and 2
    // are on its bus). The command (write: the first module alone, with
    // --bus-ids), whether the modules run with the plan's values already,
    // the exit code, and each row's status and missing devices.
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<bool>("preset");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QStringList>("missing");
    QTest::newRow("commission: a device missing fails that row only")
        << QStringList{"commission", "PLAN"} << false << 6 << QStringList{"verified", "failed"}
        << QStringList{"", "3"};
    QTest::newRow("audit: the same, nothing written")
        << QStringList{"audit", "PLAN"} << true << 6 << QStringList{"matches", "failed"}
        << QStringList{"", "3"};
    QTest::newRow("write --bus-ids naming a device that is not there")
        << QStringList{"write",     "A",         "--ip",      "10.20.0.32",
                       "--gateway", "10.20.0.1", "--bus-ids", "5,7"}
        << false << 6 << QStringList{"failed"} << QStringList{"7"};
}

void BusTest::afterReadBack()
{
    QFETCH(QStringList, command);
    QFETCH(bool, preset);
    QTemporaryDir dir;
    const QString ips[] = {"10.20.0.32", "10.20.0.33"};
    const QString devices[] = {"1,2,5@9600/8N1", "1,2@9600/8N1"};
    std::unique_ptr<Simulator> sims[2];
    for (int i : {0, 1}) {
        QStringList args{"--network",
                         "--restart-delay",
                         "100",
                         "--set",
                         "timeout data=10",
                         "--mac",
                         QStringLiteral("02:00:00:00:00:0%1").arg(i + 1),
                         "--devices",
                         devices[i]};
        if (preset)
            args << "--set"
                 << "ip=" + ips[i] << "--set"
                 << "GATEWAY=10.20.0.1";
        sims[i] = std::make_unique<Simulator>(args);
    }
    QFile plan(dir.filePath("plan.csv"));
    QVERIFY(plan.open(QIODevice::WriteOnly));
    plan.write("port,ip,gateway,bus_ids\n" + sims[0]->path.toUtf8() +
               ",10.20.0.32,10.20.0.1,\"1,2,5\"\n" + sims[1]->path.toUtf8() +
               ",10.20.0.33,10.20.0.1,1-3\n");
    plan.close();
    command.replaceInStrings(QRegularExpression("^PLAN$"), plan.fileName());
    command.replaceInStrings(QRegularExpression("^A$"), sims[0]->path);
    const QString record = dir.filePath("record.csv");
    const Result r =
        cliprocess::runCli(command + QStringList{"--bus", "--json", "--record", record}, 120000);
    QFETCH(int, exitCode);
    QVERIFY2(r.exitCode == exitCode, qPrintable(says(r)));

    // JSON and the record say the same of each row, in plan order.
    QFETCH(QStringList, statuses);
    QFETCH(QStringList, missing);
    const QJsonObject json = QJsonDocument::fromJson(r.out).object();
    const QJsonArray rows = command.first() == "write" ? QJsonArray{json} : json["rows"].toArray();
    QList<cliprocess::RecordRow> recorded = cliprocess::recordOf(record);
    std::sort(recorded.begin(), recorded.end(),
              [](const auto &a, const auto &b) { return a["row"] < b["row"]; });
    QCOMPARE(rows.size(), statuses.size());
    QCOMPARE(recorded.size(), statuses.size());
    for (int i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows.at(i).toObject();
        const QJsonObject bus = row["bus"].toObject();
        QStringList absent;
        for (const QJsonValue unit : bus["missing"].toArray())
            absent << QString::number(unit.toInt());
        QCOMPARE(absent.join(','), missing.at(i));
        if (command.first() != "write")
            QCOMPARE(row["status"].toString(), statuses.at(i));
        QCOMPARE(row["reach"]["result"].toString(), QStringLiteral("reachable"));
        QCOMPARE(bus["quality"].toDouble(), 100.0);
        const QString words =
            missing.at(i).isEmpty()
                ? QStringLiteral("1, 2, 5 answer")
                : QStringLiteral("%1 does not answer (%2 answer%3)")
                      .arg(missing.at(i), i == 0 ? "5" : "1, 2", i == 0 ? "s" : "");
        QCOMPARE(recorded.at(i)["bus"], words);
        if (missing.at(i).isEmpty()) {
            QCOMPARE(recorded.at(i)["result"], statuses.at(i));
            continue;
        }
        const QString said = QStringLiteral("%1 on the console, reachable, bus: ")
                                 .arg(command.first() == "audit" ? "matches" : "verified") +
                             words;
        QCOMPARE(row["error"].toString(), said);
        QCOMPARE(recorded.at(i)["result"], said);
        QVERIFY2(r.err.contains(said.toUtf8()), r.err.constData());
    }
    if (command.first() == "commission")
        QCOMPARE(recorded.at(1)["planned"], "ip=10.20.0.33;gateway=10.20.0.1;bus_ids=1-3");
}

ORDAN_PRIVATE_NETWORK_MAIN(BusTest, QCoreApplication, "--addr", QLatin1String(siteCidr), "--addr",
                           "10.20.0.32/24", "--addr", "10.20.0.33/24")
#include "tst_bus.moc"

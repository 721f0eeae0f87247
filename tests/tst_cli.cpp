// ordan-cli as an engineer runs it: the program as a process of its own,
// talking over pseudo-terminals to the module simulator, itself a process.
#include "cliprocess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using cliprocess::Result;
using cliprocess::runCli;
using cliprocess::Simulator;

namespace
{

// No control byte reaches the output raw: C0 other than the line ends
// `allowed`, DEL, and C1 (encoded in UTF-8 as C2 80 to C2 9F).
bool clean(const QByteArray &bytes, const QByteArray &allowed = "\n")
{
    for (int i = 0; i < bytes.size(); ++i) {
        const uchar c = uchar(bytes.at(i));
        if ((c < 0x20 && !allowed.contains(char(c))) || c == 0x7f)
            return false;
        if (c == 0xc2 && i + 1 < bytes.size() && uchar(bytes.at(i + 1)) >= 0x80 &&
            uchar(bytes.at(i + 1)) <= 0x9f)
            return false;
    }
    return true;
}

QStringList upToRestart(const QStringList &commands)
{
    QStringList before;
    for (const QString &c : commands) {
        before << c;
        if (c == QLatin1String("reset") || c == QLatin1String("RESET") ||
            c == QLatin1String("LOAD SETTING:DEFAULT"))
            break;
    }
    return before;
}

// A module is identified by its MAC read the same twice in a row.
const QStringList identify{"name", "version", "MAC", "MAC"};
// A write of the address alone reads the mask and gateway it keeps, to
// check the configuration the module would run.
const QStringList identifyForIp = identify + QStringList{"MASK", "GATEWAY"};

// A simulated module whose gateway sits on 10.0.0.0/24, where the writes
// below move it.
QStringList onTenNet(const QStringList &arguments)
{
    return QStringList{"--set", "GATEWAY=10.0.0.1"} + arguments;
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void commands_data();
    void commands();
    void faults_data();
    void faults();
    void refusedInput_data();
    void refusedInput();
    void unopenablePort_data();
    void unopenablePort();
    void threePortsAtOnce();
    void settingsFileFromOneModuleToAnother();
    void interruptedWriteSaysWhatWasSent();
    void untrustedText_data();
    void untrustedText();
};

void CliTest::read_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QString>("replyTimeout");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QStringList>("invalid");
    QTest::addColumn<QString>("relative"); // how the port is named: by a relative path

    QTest::newRow("well-behaved") << QStringList() << "1000" << 0 << "none" << QStringList()
                                  << QString();
    QTest::newRow("named from its folder (./tty)")
        << QStringList() << "1000" << 0 << "none" << QStringList() << "./";
    QTest::newRow("named from above its folder (as serial/by-id/... from /dev)")
        << QStringList() << "1000" << 0 << "none" << QStringList() << "folder/";
    QTest::newRow("split replies")
        << QStringList{"--chunks", "5"} << "1000" << 0 << "none" << QStringList() << QString();
    QTest::newRow("late replies") << QStringList{"--delay", "250"} << "1000" << 0 << "none"
                                  << QStringList() << QString();
    QTest::newRow("invalid values")
        << QStringList{"--set", "parity=NONE",  "--set", "SPEED RS485=9601",
                       "--set", "timeout data="}
        << "1000" << 0 << QString() << QStringList{"parity", "speed", "packet_timeout"}
        << QString();
    QTest::newRow("silent") << QStringList{"--silent"} << "150" << 4 << QString()
                            << QStringList{"name",  "version",   "mac",           "ip",
                                           "mask",  "gateway",   "tcp_port",      "parity",
                                           "speed", "stop_bits", "packet_timeout"}
                            << QString();
}

void CliTest::read()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, replyTimeout);
    QFETCH(QString, relative);
    Simulator sim(simulator);
    const QFileInfo link(sim.path);
    QString port = sim.path;
    QProcess cli;
    if (relative == "./") {
        port = "./" + link.fileName();
        cli.setWorkingDirectory(link.path());
    } else if (!relative.isEmpty()) {
        port = link.dir().dirName() + "/" + link.fileName();
        cli.setWorkingDirectory(QFileInfo(link.path()).path());
    }
    cli.start(QStringLiteral(ORDAN_CLI_PATH),
              {"read", port, "--json", "--reply-timeout", replyTimeout});
    const Result r = cliprocess::finish(cli);
    QFETCH(int, exitCode);
    QCOMPARE(r.exitCode, exitCode);
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(o.value("port").toString(), port);
    QFETCH(QString, parity);
    QCOMPARE(o.value("parity").toString(), parity);
    QFETCH(QStringList, invalid);
    QCOMPARE(o.value("invalid").toVariant().toStringList(), invalid);
    if (exitCode == 0) {
        QCOMPARE(o.value("ip").toString(), QStringLiteral("192.168.0.1"));
        QVERIFY(o.value("error").isNull());
        QVERIFY(r.err.isEmpty()); // not a terminal: no progress
    }
}

void CliTest::commands_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("sent"); // up to and with the restart command
    QTest::addColumn<QString>("output");

    const QStringList write{"write", "--ip",   "10.0.0.5",        "--parity",
                            "even",  "--json", "--reply-timeout", "300"};
    QTest::newRow("write verified")
        << QStringList() << write << 0
        << identifyForIp + QStringList{"CHANGE IP:10.0.0.5", "CHANGE PARITY:even", "reset"}
        << "\"verified\": true";
    QTest::newRow("acknowledged, not applied")
        << QStringList{"--no-apply"} << write << 6
        << identifyForIp + QStringList{"CHANGE IP:10.0.0.5", "CHANGE PARITY:even", "reset"}
        << "\"read\": \"192.168.0.1\"";
    QTest::newRow("not back in time")
        << QStringList{"--restart-delay", "3000"} << write + QStringList{"--restart-timeout", "1"}
        << 4 << identifyForIp + QStringList{"CHANGE IP:10.0.0.5", "CHANGE PARITY:even", "reset"}
        << "\"verified\": false";
    QTest::newRow("refusal") << QStringList{"--refuse", "CHANGE IP:"} << write << 5
                             << identifyForIp + QStringList{"CHANGE IP:10.0.0.5"}
                             << "\"verified\": null";
    QTest::newRow("silence") << QStringList{"--silent"} << write << 4
                             << QStringList(identify.mid(0, 3)) << "\"written\": {\n    }";
    QTest::newRow("bad values") << QStringList()
                                << QStringList{"write",       "--ip",       "10.0.0.5", "--mask",
                                               "255.0.255.0", "--tcp-port", "600"}
                                << 2 << QStringList() << QString();
    QTest::newRow("window's order and words") << QStringList()
                                              << QStringList{"write",
                                                             "--packet-timeout",
                                                             "20",
                                                             "--stop-bits",
                                                             "2",
                                                             "--speed",
                                                             "115200",
                                                             "--gateway",
                                                             "10.0.0.1",
                                                             "--no-verify",
                                                             "--allow-foreign-gateway"}
                                              << 0
                                              << identify + QStringList{"ip",
                                                                        "MASK",
                                                                        "CHANGE GATEWAY:10.0.0.1",
                                                                        "CHANGE SPEED RS485:115200",
                                                                        "CHANGE STOP BIT:2",
                                                                        "change timeout data:20",
                                                                        "reset"}
                                              << "unverified";
    QTest::newRow("an address read back that is none")
        << QStringList{"--set", "ip=10.0.0.031"}
        << QStringList{"write",  "--tcp-port",      "10001", "--reach",
                       "--json", "--reply-timeout", "300"}
        << 4 << identify + QStringList{"CHANGE PORT TCP:10001", "reset"}
        << "verified on the console, but its address and TCP port are not known";
    QTest::newRow("restart") << QStringList() << QStringList{"restart", "--wait"} << 0
                             << QStringList{"name", "MAC", "MAC", "RESET"}
                             << "back: Ordan-RS485-ETH (00:1A";
    QTest::newRow("restart refused") << QStringList{"--refuse", "RESET"} << QStringList{"restart"}
                                     << 5 << QStringList{"RESET"} << QString();
    QTest::newRow("restart ignored")
        << QStringList{"--ignore-restart"}
        << QStringList{"restart", "--wait", "--restart-timeout", "1"} << 4
        << QStringList{"name", "MAC", "MAC", "RESET"} << QString();
    QTest::newRow("factory reset unconfirmed")
        << QStringList() << QStringList{"factory-reset"} << 2 << QStringList() << QString();
    QTest::newRow("factory reset")
        << QStringList() << QStringList{"factory-reset", "--yes"} << 0
        << QStringList{"LOAD SETTING:DEFAULT"} << "LOAD SETTING:DEFAULT sent";
}

void CliTest::commands()
{
    QFETCH(QStringList, simulator);
    QFETCH(QStringList, arguments);
    Simulator sim(onTenNet(simulator));
    arguments.insert(1, sim.path);
    const Result r = runCli(arguments);
    QFETCH(int, exitCode);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    QFETCH(QStringList, sent);
    QCOMPARE(upToRestart(sim.commands()), sent);
    QFETCH(QString, output);
    QVERIFY2(r.out.contains(output.toUtf8()), r.out.constData());
}

void CliTest::faults_data()
{
    // Each misbehaviour of a module or its line, and what a write of the
    // address and TCP port over it comes to: the exit code, the record's
    // result, and whether any write command reached the module.
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("written");

    const QStringList none;
    QTest::newRow("well-behaved") << none << none << 0 << "verified" << true;
    QTest::newRow("applies writes at its restart")
        << QStringList{"--apply-at-restart"} << none << 0 << "verified" << true;
    QTest::newRow("answers reset with an error")
        << QStringList{"--refuse", "reset"} << none << 5 << "refused: reset" << true;
    QTest::newRow("ignores reset, writes taken at once")
        << QStringList{"--ignore-restart"} << none << 4 << "did not restart" << true;
    QTest::newRow("ignores reset, writes taken at the restart")
        << QStringList{"--ignore-restart", "--apply-at-restart"} << none << 4 << "did not restart"
        << true;
    QTest::newRow("another module after the restart")
        << QStringList{"--return-as", "02:00:00:00:00:99"} << none << 6
        << "different module: 02:00:00:00:00:99" << true;
    QTest::newRow("first MAC answer missing")
        << QStringList{"--drop-mac", "1"} << none << 4 << "not identified" << false;
    QTest::newRow("second MAC answer garbled")
        << QStringList{"--garble-mac", "2"} << none << 4 << "not identified" << false;
    QTest::newRow("MAC garbled after the restart")
        << QStringList{"--garble-mac", "3"} << none << 6 << "different module: " << true;
    QTest::newRow("no MAC at all")
        << QStringList{"--set", "MAC="} << none << 4 << "not identified" << false;
    QTest::newRow("all-zero MAC") << QStringList{"--mac", "00:00:00:00:00:00"} << none << 4
                                  << "not identified" << false;
    QTest::newRow("OK for ok") << QStringList{"--ack", "CHANGE PORT TCP:=OK"} << none << 5
                               << "refused: tcp_port" << true;
    QTest::newRow("time-out answered error, not verified")
        << QStringList{"--ack", "change timeout data:=error"}
        << QStringList{"--packet-timeout", "50", "--no-verify"} << 5 << "refused: packet_timeout"
        << true;
    QTest::newRow("time-out refused with ?")
        << QStringList{"--ack", "change timeout data:=?"} << QStringList{"--packet-timeout", "50"}
        << 5 << "refused: packet_timeout" << true;
    QTest::newRow("restart behind an adapter that keeps the link")
        << QStringList{"--keep-link", "--restart-delay", "2000"}
        << QStringList{"--restart-timeout", "6"} << 0 << "verified" << true;
    QTest::newRow("ignores reset behind a kept link, one reply lost")
        << QStringList{"--ignore-restart", "--keep-link", "--lose-after-reset", "1"} << none << 4
        << "did not restart" << true;
    QTest::newRow("link lost in the middle of the write")
        << QStringList{"--drop-link-at-write", "2"} << none << 4
        << "no answer after sending ip, tcp_port; no restart was sent" << true;
    QTest::newRow("gateway outside the new subnet")
        << none << QStringList{"--mask", "255.255.255.128"} << 2 << "invalid configuration"
        << false;
    QTest::newRow("gateway outside, allowed")
        << none << QStringList{"--mask", "255.255.255.128", "--allow-foreign-gateway"} << 0
        << "verified" << true;
}

void CliTest::faults()
{
    QFETCH(QStringList, simulator);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, result);
    QFETCH(bool, written);
    Simulator sim(QStringList{"--restart-delay", "200"} + simulator);
    QTemporaryDir dir;
    const QString record = dir.filePath("record.csv");
    const Result r = runCli(QStringList{"write", sim.path, "--ip", "192.168.0.20", "--tcp-port",
                                        "10001", "--record", record, "--restart-timeout", "1.5",
                                        "--reply-timeout", "300", "--json"} +
                            arguments);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    const QList<cliprocess::RecordRow> rows = cliprocess::recordOf(record);
    QCOMPARE(rows.size(), 1);
    QVERIFY2(rows.first()["result"].startsWith(result), qPrintable(rows.first()["result"]));
    // What was meant, whatever came of it: a write names no plan row.
    QCOMPARE(rows.first()["row"], QString());
    const QString planned = rows.first()["planned"];
    QVERIFY2(planned.startsWith("ip=192.168.0.20;") && planned.contains(";tcp_port=10001"),
             qPrintable(planned));
    QCOMPARE(QJsonDocument::fromJson(r.out)["verified"].toBool(),
             exitCode == 0 && result == "verified");
    QCOMPARE(!sim.commands().filter("CHANGE").isEmpty(), written);
    if (exitCode != 0)
        QVERIFY(!r.err.isEmpty());
}

void CliTest::refusedInput_data()
{
    // Refused before anything is sent (exit 2), each with its reason.
    QTest::addColumn<QStringList>("arguments"); // after "write PORT"
    QTest::addColumn<QString>("reason");

    QTest::newRow("octet with a leading zero")
        << QStringList{"--ip", "192.168.0.010"} << "without leading zeros";
    QTest::newRow("port with a leading zero") << QStringList{"--tcp-port", "0502"} << "\"0502\"";
    QTest::newRow("time-out with a leading zero")
        << QStringList{"--packet-timeout", "0100"} << "\"0100\"";
    QTest::newRow("loopback") << QStringList{"--ip", "127.0.0.1"} << "a module can have";
    QTest::newRow("multicast") << QStringList{"--ip", "224.0.0.9"} << "a module can have";
    QTest::newRow("unspecified") << QStringList{"--ip", "0.0.0.0"} << "a module can have";
    QTest::newRow("network address")
        << QStringList{"--ip", "10.1.0.0", "--mask", "255.255.0.0", "--gateway", "10.1.0.1"}
        << "network address of 10.1.0.0/16";
    QTest::newRow("broadcast gateway")
        << QStringList{"--ip", "10.1.0.5", "--mask", "255.255.255.0", "--gateway", "10.1.0.255"}
        << "broadcast address";
    QTest::newRow("address is its gateway")
        << QStringList{"--ip", "10.1.0.5", "--gateway", "10.1.0.5"} << "also its gateway";
    QTest::newRow("restart time-out nan")
        << QStringList{"--ip", "192.168.0.2", "--restart-timeout", "nan"} << "must be seconds";
    QTest::newRow("restart time-out negative")
        << QStringList{"--ip", "192.168.0.2", "--restart-timeout", "-1"} << "must be seconds";
    QTest::newRow("empty --from") << QStringList{"--ip", "192.168.0.2", "--from", ""}
                                  << "--from needs a file name";
    QTest::newRow("empty --record")
        << QStringList{"--ip", "192.168.0.2", "--record", ""} << "--record needs a file name";
    QTest::newRow("list position out of range")
        << QStringList{"--from", "PARITY=9"} << "position 9 is not in the parity list";
    QTest::newRow("no settings keys") << QStringList{"--from", "COLOUR=red"} << "none of the keys";
    QTest::newRow("--bus without the devices") << QStringList{"--ip", "192.168.0.2", "--bus"}
                                               << "write --bus asks the devices of --bus-ids";
    QTest::newRow("--bus-ids past 247")
        << QStringList{"--ip", "192.168.0.2", "--bus", "--bus-ids", "1,248"}
        << "unit addresses go from 1 to 247";
    QTest::newRow("--bus-ids without --bus")
        << QStringList{"--ip", "192.168.0.2", "--bus-ids", "1"} << "--bus-ids goes with --bus";
}

void CliTest::refusedInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    Simulator sim({});
    QTemporaryDir dir;
    // "--from KEY=VALUE" stands for a settings file holding that line.
    const int from = arguments.indexOf("--from");
    if (from >= 0 && arguments.at(from + 1).contains('=')) {
        QFile file(dir.filePath("base.TRset"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\n" + arguments.at(from + 1).toUtf8() + "\n");
        arguments[from + 1] = file.fileName();
    }
    const Result r = runCli(QStringList{"write", sim.path} + arguments);
    QVERIFY2(r.exitCode == 2, r.err.constData());
    QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
    QCOMPARE(sim.commands(), QStringList());
}

void CliTest::unopenablePort_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "/nonexistent/ttyUSB9"
                             << "No such file or directory";
    QTest::newRow("not a terminal") << QString(ORDAN_CLI_PATH) << "cannot open the port";
}

void CliTest::unopenablePort()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    for (const char *command : {"read", "restart"}) {
        const Result r = runCli({command, path});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
    }
}

void CliTest::threePortsAtOnce()
{
    // Each read takes about eleven late replies; one after another the three
    // would take three times as long.
    std::vector<std::unique_ptr<Simulator>> sims;
    QStringList arguments{"read", "--json"};
    for (int i = 0; i < 3; ++i) {
        sims.push_back(std::make_unique<Simulator>(QStringList{"--delay", "250"}));
        arguments << sims.back()->path;
    }
    QElapsedTimer clock;
    clock.start();
    const Result r = runCli(arguments);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(clock.elapsed() < qint64(2) * 11 * 250, qPrintable(QString::number(clock.elapsed())));
    const QJsonArray array = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(array.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(array.at(i)["port"].toString(), sims[i]->path);
        QCOMPARE(array.at(i)["name"].toString(), QStringLiteral("Ordan-RS485-ETH"));
    }
}

void CliTest::settingsFileFromOneModuleToAnother()
{
    Simulator source({"--set", "ip=10.1.2.3", "--set", "parity=odd", "--set", "timeout data=20"});
    Simulator target({});
    QTemporaryDir dir;
    const QString file = dir.filePath("site.TRset");
    QCOMPARE(runCli({"read", source.path, "--save", file}).exitCode, 0);
    const Result r = runCli({"write", target.path, "--from", file, "--gateway", "10.1.2.254"});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    const QStringList written{"CHANGE IP:10.1.2.3",        "CHANGE MASK:255.255.255.0",
                              "CHANGE GATEWAY:10.1.2.254", "CHANGE PORT TCP:502",
                              "CHANGE PARITY:odd",         "CHANGE SPEED RS485:9600",
                              "CHANGE STOP BIT:1",         "change timeout data:20"};
    QCOMPARE(upToRestart(target.commands()), identify + written + QStringList{"reset"});
}

void CliTest::interruptedWriteSaysWhatWasSent()
{
    Simulator sim(onTenNet({"--delay", "400"}));
    QProcess cli;
    cli.start(QStringLiteral(ORDAN_CLI_PATH),
              {"write", sim.path, "--ip", "10.0.0.5", "--mask", "255.0.0.0"});
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains("CHANGE IP:10.0.0.5"), 10000);
    cli.terminate();
    QVERIFY(cli.waitForFinished(5000));
    QCOMPARE(cli.exitCode(), 130);
    const QByteArray err = cli.readAllStandardError();
    QVERIFY2(err.contains("already sent to the module: --ip 10.0.0.5; no reset was sent"),
             err.constData());
    QVERIFY(!sim.commands().contains("reset"));
}

void CliTest::untrustedText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("shown");   // on the terminal
    QTest::addColumn<QString>("recordCell"); // the record's name column
    QTest::addColumn<QByteArray>("logged");  // in the log

    QTest::newRow("OSC and CSI") << "\x1b]0;owned\x07\x1b[2J"
                                 << QByteArray("\\x1b]0;owned\\x07\\x1b[2J")
                                 << QString("\\x1b]0;owned\\x07\\x1b[2J")
                                 << QByteArray("< name:\\x1b]0;owned\\x07\\x1b[2J\\r\\n");
    QTest::newRow("CR and LF") << "ok\rfake\nline" << QByteArray("okfakeline")
                               << QString("okfakeline")
                               << QByteArray("< name:ok\\rfake\\nline\\r\\n");
    QTest::newRow("formula") << "=HYPERLINK(\"x\")" << QByteArray("=HYPERLINK(\"x\")")
                             << QString("'=HYPERLINK(\"x\")")
                             << QByteArray("< name:=HYPERLINK(\"x\")\\r\\n");
}

void CliTest::untrustedText()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, shown);
    QFETCH(QString, recordCell);
    QFETCH(QByteArray, logged);
    // A module that takes no write: its name goes to the table, the error,
    // the record and the log.
    Simulator sim(onTenNet({"--name", name, "--no-apply"}));
    QTemporaryDir dir;
    const QString record = dir.filePath("record.csv");
    const QString log = dir.filePath("trace.log");
    const Result r =
        runCli({"write", sim.path, "--ip", "10.0.0.5", "--record", record, "--log", log});
    QCOMPARE(r.exitCode, 6);
    QFile recordFile(record);
    QFile logFile(log);
    QVERIFY(recordFile.open(QIODevice::ReadOnly) && logFile.open(QIODevice::ReadOnly));
    const QByteArray csv = recordFile.readAll();
    const QByteArray trace = logFile.readAll();

    QVERIFY2(r.out.contains(shown) && clean(r.out), r.out.constData());
    QVERIFY2(r.err.contains(shown) && clean(r.err), r.err.constData());
    QVERIFY2(clean(QByteArray(csv).replace("\r\n", "")), csv.constData());
    const QList<cliprocess::RecordRow> rows = cliprocess::recordOf(record);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first()["name"], recordCell);
    QVERIFY2(trace.contains(logged) && clean(trace), trace.constData());
    // Every line of the log is one of ours: it starts with a time stamp.
    const QRegularExpression stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )");
    for (const QByteArray &line : trace.trimmed().split('\n'))
        QVERIFY2(stamp.match(QString::fromUtf8(line)).hasMatch(), line.constData());
}

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"

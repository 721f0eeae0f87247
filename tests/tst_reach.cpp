// ordan-cli reach, and write and commission with --reach, as a technician
// runs them: ordan-cli and simulated modules (ordan-module-sim --network) as
// processes of their own.
//
// A site's addresses belong to real sites, so the whole program runs in a
// network namespace of its own: main() re-executes this binary through
// scripts/netns.sh with the site's addresses on lo (at its end), and
// the program stops before any test if any interface but lo is visible. No
// packet leaves the machine.
//
// The namespace's addresses and what each outcome is made of:
// - reachable: a simulated module listening at its address and TCP port;
// - refused: an address on lo where nothing listens at that port;
// - unreachable: 10.30.0.0/24, which the namespace has no route to (connect
//   fails at once: "Network unreachable"); and 10.99.0.0/24, a blackhole
//   route, where connect() fails at once too (the system says EINVAL, which
//   Qt reports as a refusal, but nothing went out: unreachable);
// - no answer: ordan-stalled-host, a listener whose backlog is full, so the
//   system drops every SYN and the connect runs into its time-out.

#include "cliprocess.h"
#include "privatenetwork.h"
#include "protocol/parameters.h"
#include "settings/setting_module.h"
#include "settings/settingsmapping.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>
#include <vector>

using cliprocess::Result;
using cliprocess::Simulator;

namespace
{

using Simulators = std::vector<std::unique_ptr<Simulator>>;

// A simulated module with its network side, up at IP:PORT (listening, or
// saying that it cannot). `extra` goes to the simulator too.
std::unique_ptr<Simulator> moduleAt(const QString &target, const QStringList &extra = {})
{
    const QStringList parts = target.split(QLatin1Char(':'));
    auto sim = std::make_unique<Simulator>(QStringList{"--network", "--set", "ip=" + parts.at(0),
                                                       "--set", "PORT TCP=" + parts.at(1),
                                                       "--restart-delay", "300"} +
                                           extra);
    QElapsedTimer clock;
    clock.start();
    while (!sim->trace.contains("listening") && clock.elapsed() < 10000) {
        sim->process.waitForReadyRead(100);
        sim->trace += sim->process.readAllStandardError();
    }
    return sim;
}

// ordan-stalled-host on the targets given, ready.
std::unique_ptr<QProcess> stalledHost(const QStringList &targets)
{
    auto host = std::make_unique<QProcess>();
    if (targets.isEmpty())
        return host;
    host->start(QStringLiteral(ORDAN_STALLED_HOST_PATH), targets);
    if (!host->waitForReadyRead(10000) || host->readLine() != "ready\n")
        qWarning("ordan-stalled-host: %s", host->readAllStandardError().constData());
    return host;
}

void stop(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    process->waitForFinished(3000);
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return file.fileName();
}

// A settings file holding a TCP port, as a site's base.
QString baseFile(const QTemporaryDir &dir, const QString &tcpPort)
{
    setting_module base;
    settingsmapping::toSettings({{ModuleField::PortTcp, tcpPort}}, &base);
    base.SaveNTSetting(dir.filePath("base.TRset"));
    return dir.filePath("base.TRset");
}

QJsonArray jsonRows(const Result &r)
{
    return QJsonDocument::fromJson(r.out).object().value("rows").toArray();
}

// What `reach --json` said of each target, in order.
QStringList words(const Result &r)
{
    QStringList list;
    for (const QJsonValue row : jsonRows(r))
        list << row["result"].toString();
    return list;
}

// The record's rows, header dropped; empty when it has no header.
QStringList recordRows(const QString &path, const QString &header)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    if (lines.takeFirst() != header)
        return {};
    lines.removeAll(QString());
    return lines;
}

bool awaitText(QProcess &cli, QByteArray *err, const QByteArray &text)
{
    QElapsedTimer clock;
    clock.start();
    while (!err->contains(text) && clock.elapsed() < 30000) {
        cli.waitForReadyRead(100);
        *err += cli.readAllStandardError();
    }
    return err->contains(text);
}

} // namespace

class ReachTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void outcomes_data();
    void outcomes();
    void badInputConnectsToNothing_data();
    void badInputConnectsToNothing();
    void manyAtOnce_data();
    void manyAtOnce();
    void afterWrite_data();
    void afterWrite();
    void commissionReach();
};

void ReachTest::initTestCase()
{
    QVERIFY(QNetworkInterface::allAddresses().contains(QHostAddress("10.20.0.31")));
}

void ReachTest::outcomes_data()
{
    // The modules listening (IP:PORT), the stalled host's listeners, a plan
    // (PLAN in the arguments; BASE is a settings file with tcp_port 10001),
    // the arguments after "reach", the exit code and each target's word.
    QTest::addColumn<QStringList>("modules");
    QTest::addColumn<QStringList>("stalled");
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected");

    const QStringList module{"10.20.0.31:10001"};
    QTest::newRow("reachable") << module << QStringList() << QByteArray()
                               << QStringList{"10.20.0.31:10001"} << 0 << QStringList{"reachable"};
    QTest::newRow("refused: the plan's tcp_port is not the module's")
        << module << QStringList()
        << QByteArray("port,ip,tcp_port\n/dev/nothere,10.20.0.31,10002\n") << QStringList{"PLAN"}
        << 6 << QStringList{"refused"};
    QTest::newRow("unreachable: the module is on a subnet the namespace has no route to")
        << QStringList{"10.30.0.7:502"} << QStringList() << QByteArray()
        << QStringList{"10.30.0.7:502"} << 4 << QStringList{"unreachable"};
    QTest::newRow("a blackhole route: connect() fails at once, so unreachable, not no answer")
        << QStringList() << QStringList() << QByteArray() << QStringList{"10.99.0.5:502"} << 4
        << QStringList{"unreachable"};
    QTest::newRow("no answer: a listener whose backlog is full drops the SYN")
        << QStringList() << QStringList{"10.20.0.31:10009"} << QByteArray()
        << QStringList{"10.20.0.31:10009", "--connect-timeout", "1"} << 4
        << QStringList{"no answer"};
    QTest::newRow("the plan's empty tcp_port from --from")
        << module << QStringList() << QByteArray("port;ip;tcp_port\n/dev/nothere;10.20.0.31;\n")
        << QStringList{"PLAN", "--from", "BASE"} << 0 << QStringList{"reachable"};
    QTest::newRow("no answer outweighs a refusal; plan rows and IP:PORT together")
        << module << QStringList{"10.20.0.31:10009"}
        << QByteArray("port,ip,tcp_port\n/dev/nothere,10.20.0.31,10001\n"
                      "/dev/nothere,10.20.0.42,10002\n")
        << QStringList{"PLAN", "10.20.0.31:10009", "--connect-timeout", "1"} << 4
        << QStringList{"reachable", "refused", "no answer"};
}

void ReachTest::outcomes()
{
    QFETCH(QStringList, modules);
    QFETCH(QStringList, stalled);
    QFETCH(QByteArray, plan);
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    Simulators sims;
    for (const QString &target : modules)
        sims.push_back(moduleAt(target));
    const auto host = stalledHost(stalled);
    arguments.replaceInStrings(QRegularExpression("^PLAN$"), writeFile(dir, "plan.csv", plan));
    arguments.replaceInStrings(QRegularExpression("^BASE$"), baseFile(dir, "10001"));
    const QString record = dir.filePath("record.csv");
    const Result r = cliprocess::runCli(QStringList{"reach"} + arguments +
                                        QStringList{"--json", "--record", record});
    stop(host.get());
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    QVERIFY2(r.exitCode == exitCode, (r.out + r.err).constData());
    QCOMPARE(words(r), expected);
    const QJsonObject first = jsonRows(r).at(0).toObject();
    QCOMPARE(first["ms"].isDouble(), expected.first() == "reachable");
    QCOMPARE(first["row"].isDouble(), !plan.isEmpty());
    // The record: time, row, ip, tcp_port, result, milliseconds.
    const QStringList rows = recordRows(record, "time,row,ip,tcp_port,result,milliseconds");
    QCOMPARE(rows.size(), expected.size());
    for (int i = 0; i < rows.size(); ++i) {
        const QStringList cells = rows.at(i).split(',');
        QCOMPARE(cells.size(), 6);
        QCOMPARE(cells.at(2) + ':' + cells.at(3),
                 jsonRows(r).at(i)["ip"].toString() + ':' +
                     QString::number(jsonRows(r).at(i)["tcp_port"].toInt()));
        QCOMPARE(cells.at(4), expected.at(i));
        QCOMPARE(cells.at(5).isEmpty(), expected.at(i) != "reachable");
    }
}

void ReachTest::badInputConnectsToNothing_data()
{
    // A listener at 10.20.0.31:10001 sees whether anything connected.
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("said");
    QTest::newRow("no TCP port") << QByteArray() << QStringList{"10.20.0.31:10001", "10.20.0.31"}
                                 << "\"10.20.0.31\" is not IP:PORT";
    QTest::newRow("port 0") << QByteArray() << QStringList{"10.20.0.31:10001", "10.20.0.31:0"}
                            << "\"0\" is not a TCP port";
    QTest::newRow("port 65536") << QByteArray() << QStringList{"10.20.0.31:65536"}
                                << "\"65536\" is not a TCP port";
    QTest::newRow("a leading zero") << QByteArray() << QStringList{"10.20.0.031:10001"}
                                    << "\"10.20.0.031\" is not an IPv4 address";
    QTest::newRow("a plan row with neither ip nor tcp_port")
        << QByteArray(
               "port,ip,tcp_port,parity\n/dev/nothere,10.20.0.31,10001,\n/dev/nothere,,,odd\n")
        << QStringList{"PLAN"}
        << "plan.csv row 3: no ip nor tcp_port, neither in the plan nor in --from";
    QTest::newRow("a plan with a bad value")
        << QByteArray("port,ip,tcp_port\n/dev/nothere,10.20.0.31,600\n") << QStringList{"PLAN"}
        << "plan.csv row 2, column tcp_port: \"600\" must be 23, 502 or 10000-65535";
    QTest::newRow("no such plan") << QByteArray() << QStringList{"10.20.0.31:10001", "site.csv"}
                                  << "cannot use the plan site.csv";
    QTest::newRow("a connect time-out of 0")
        << QByteArray() << QStringList{"10.20.0.31:10001", "--connect-timeout", "0"}
        << "--connect-timeout \"0\": must be seconds";
    QTest::newRow("no target") << QByteArray() << QStringList()
                               << "reach needs at least one TARGET";
}

void ReachTest::badInputConnectsToNothing()
{
    QFETCH(QByteArray, plan);
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress("10.20.0.31"), 10001));
    arguments.replaceInStrings(QRegularExpression("^PLAN$"), writeFile(dir, "plan.csv", plan));
    const Result r = cliprocess::runCli(QStringList{"reach"} + arguments);
    QVERIFY2(r.exitCode == 2, r.err.constData());
    QVERIFY2(r.err.contains(said.toUtf8()), r.err.constData());
    QVERIFY(r.out.isEmpty());
    QTest::qWait(100);
    QVERIFY(!listener.hasPendingConnections());
}

void ReachTest::manyAtOnce_data()
{
    // Modules at 10.20.0.31:10001 and on; targets that do not answer (one
    // listener, named again and again); the connect time-out; the exit
    // code; bounds on the time taken (seconds).
    QTest::addColumn<int>("modules");
    QTest::addColumn<int>("silent");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<double>("atLeast");
    QTest::addColumn<double>("atMost");
    QTest::newRow("16 modules at once") << 16 << 0 << 0 << 0.0 << 30.0;
    // One after another they would take 16 s.
    QTest::newRow("16 that do not answer: one time-out") << 0 << 16 << 4 << 1.0 << 8.0;
    // 32 at once at most: the last 8 wait for a free place.
    QTest::newRow("40 that do not answer: two time-outs") << 0 << 40 << 4 << 1.9 << 30.0;
}

void ReachTest::manyAtOnce()
{
    QFETCH(int, modules);
    QFETCH(int, silent);
    Simulators sims;
    QStringList targets;
    for (int i = 0; i < modules; ++i) {
        targets << QStringLiteral("10.20.0.31:%1").arg(10001 + i);
        sims.push_back(moduleAt(targets.last()));
    }
    const auto host = stalledHost(silent ? QStringList{"10.20.0.31:10009"} : QStringList());
    for (int i = 0; i < silent; ++i)
        targets << QStringLiteral("10.20.0.31:10009");
    QElapsedTimer clock;
    clock.start();
    const Result r = cliprocess::runCli(QStringList{"reach", "--connect-timeout", "1"} + targets);
    const double seconds = clock.elapsed() / 1000.0;
    stop(host.get());
    QFETCH(int, exitCode);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    // The table: a line per target, in the order given, then the counts.
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + targets.size() + 1);
    for (int i = 0; i < targets.size(); ++i) {
        const QString expected =
            i < modules ? QStringLiteral("reachable \\(\\d+ ms\\)$") : QStringLiteral("no answer$");
        QVERIFY2(lines.at(1 + i).contains(QRegularExpression(
                     "^-\\s+" + QString(targets.at(i)).replace(':', "\\s+").replace(".", "\\.") +
                     "\\s+" + expected)),
                 qPrintable(lines.at(1 + i)));
    }
    QCOMPARE(lines.last(), QStringLiteral("%1 reachable, 0 refused, %2 no answer, 0 unreachable")
                               .arg(modules)
                               .arg(silent));
    QFETCH(double, atLeast);
    QFETCH(double, atMost);
    QVERIFY2(seconds >= atLeast && seconds <= atMost, qPrintable(QString::number(seconds)));
}

void ReachTest::afterWrite_data()
{
    // The module runs at 10.20.0.31:502. The write's arguments (REC: a
    // record), its exit code and what it says; then `reach` of targets and
    // their words.
    QTest::addColumn<QStringList>("write");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("a new TCP port: found there, not at the old one")
        << QStringList{"--tcp-port", "10001"} << 0 << "verified"
        << QStringList{"10.20.0.31:10001", "10.20.0.31:502"} << QStringList{"reachable", "refused"};
    QTest::newRow("--reach: verified and reachable at the new port")
        << QStringList{"--tcp-port", "10001", "--reach", "--record", "REC"} << 0
        << "reachable at 10.20.0.31:10001 (" << QStringList{"10.20.0.31:10001", "10.20.0.31:502"}
        << QStringList{"reachable", "refused"};
    QTest::newRow("--reach: a subnet this computer has no route to")
        << QStringList{"--ip",     "10.30.0.9", "--gateway",       "10.30.0.1", "--reach",
                       "--record", "REC",       "--reach-timeout", "1.5"}
        << 4 << "verified on the console, not reachable at 10.30.0.9:502 (unreachable)"
        << QStringList{"10.30.0.9:502", "10.20.0.31:502"} << QStringList{"unreachable", "refused"};
}

void ReachTest::afterWrite()
{
    QFETCH(QStringList, write);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const auto sim = moduleAt("10.20.0.31:502");
    QVERIFY(sim->trace.contains("-- listening on 10.20.0.31:502"));
    const QString record = dir.filePath("record.csv");
    write.replaceInStrings(QRegularExpression("^REC$"), record);
    Result r = cliprocess::runCli(QStringList{"write", sim->path} + write);
    QVERIFY2(r.exitCode == exitCode, (r.out + r.err).constData());
    QVERIFY2((r.out + r.err).contains(said.toUtf8()), (r.out + r.err).constData());
    if (write.contains("--record")) {
        const QList<cliprocess::RecordRow> rows = cliprocess::recordOf(record);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first()["result"], exitCode ? said : QStringLiteral("verified"));
    }
    QFETCH(QStringList, targets);
    QFETCH(QStringList, expected);
    r = cliprocess::runCli(QStringList{"reach", "--json"} + targets);
    QCOMPARE(words(r), expected);
}

void ReachTest::commissionReach()
{
    // Four modules on two ports, the second of each port plugged in when
    // asked for. Row 4's module is planned on a subnet the namespace does
    // not hold: verified on its console, not reachable.
    struct Planned {
        const char *port; // A or B
        const char *ip;
        const char *gateway;
        const char *tcpPort;
        const char *status;
        const char *reach;
    };
    const Planned planned[] = {
        {"A", "10.20.0.41", "10.20.0.1", "10001", "verified", "reachable"},
        {"A", "10.20.0.42", "10.20.0.1", "10002", "verified", "reachable"},
        {"B", "10.30.0.44", "10.30.0.1", "10004", "failed", "unreachable"},
        {"B", "10.20.0.43", "10.20.0.1", "10003", "verified", "reachable"},
    };
    QTemporaryDir dir;
    const QString links[] = {dir.filePath("ttyA"), dir.filePath("ttyB")};
    QByteArray csv = "port,ip,gateway,tcp_port\n";
    for (const Planned &p : planned)
        csv += (p.port[0] == 'A' ? links[0] : links[1]).toUtf8() + ',' + p.ip + ',' + p.gateway +
               ',' + p.tcpPort + '\n';
    const QString plan = writeFile(dir, "plan.csv", csv);
    const auto plugIn = [&](int port, int n) {
        return std::make_unique<Simulator>(
            QStringList{"--link", links[port], "--network", "--restart-delay", "300", "--mac",
                        QStringLiteral("02:00:00:00:00:%1").arg(n, 2, 10, QLatin1Char('0'))});
    };
    std::unique_ptr<Simulator> onPort[] = {plugIn(0, 1), plugIn(1, 3)};
    const QString record = dir.filePath("record.csv");
    QProcess cli;
    cli.start(ORDAN_CLI_PATH, {"commission", plan, "--reach", "--reach-timeout", "2", "--record",
                               record, "--json"});
    QByteArray err;
    for (int port : {0, 1}) {
        QVERIFY2(awaitText(cli, &err, "connect the next module to " + links[port].toUtf8()),
                 err.constData());
        onPort[port].reset(); // unplugged
        onPort[port] = plugIn(port, port == 0 ? 2 : 4);
    }
    const Result r = cliprocess::finish(cli);
    err += r.err;
    QVERIFY2(r.exitCode == 4, err.constData());
    const QJsonArray rows = QJsonDocument::fromJson(r.out).object().value("rows").toArray();
    QCOMPARE(rows.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const QJsonObject row = rows.at(i).toObject();
        QCOMPARE(row["status"].toString(), QString(planned[i].status));
        QCOMPARE(row["verified"].toBool(), true); // on the console, every one
        QCOMPARE(row["reach"]["result"].toString(), QString(planned[i].reach));
        QCOMPARE(row["reach"]["ip"].toString(), QString(planned[i].ip));
    }
    const QByteArray reason =
        "verified on the console, not reachable at 10.30.0.44:10004 (unreachable)";
    QVERIFY2(rows.at(2)["error"].toString().toUtf8() == reason, r.out.constData());
    QVERIFY2(err.contains(reason), err.constData());
    // The record says the same, row by row.
    const QList<cliprocess::RecordRow> lines = cliprocess::recordOf(record);
    QCOMPARE(lines.size(), 4);
    for (const cliprocess::RecordRow &line : lines) {
        const int i = line["row"].toInt() - 2;
        QVERIFY(i >= 0 && i < 4);
        QCOMPARE(line["ip"], QString(planned[i].ip));
        QCOMPARE(line["result"], i == 2 ? QString(reason) : QStringLiteral("verified"));
    }
}

ORDAN_PRIVATE_NETWORK_MAIN(ReachTest, QCoreApplication, "--addr", "10.20.0.31/24", "--addr",
                           "10.20.0.41/24", "--addr", "10.20.0.42/24", "--addr", "10.20.0.43/24",
                           "--route", "blackhole 10.99.0.0/24")

#include "tst_reach.moc"

// ordan-cli commission as a technician runs it: a plan file, simulated
// modules as processes of their own on pseudo-terminals, modules swapped on
// a port by stopping one simulator and starting another under the same path.
#include "cliprocess.h"
#include "engine/commission/commissionrecord.h"
#include "engine/console/portlock.h"
#include "engine/jobs/recordwords.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/rowwording.h"
#include "engine/register/registerfacts.h"
#include "protocol/parameters.h"
#include "settings/setting_module.h"
#include "settings/settingsmapping.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using cliprocess::recordOf;
using cliprocess::Result;
using cliprocess::Simulator;

Q_DECLARE_METATYPE(WriteResult)

namespace
{

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return file.fileName();
}

// A plan "port,ip,gateway" with one row per port, on 10.0.0.0/24 (the
// simulated modules' mask).
QString plan(const QTemporaryDir &dir, const QStringList &ports)
{
    QByteArray csv = "port,ip,gateway\r\n";
    for (int i = 0; i < ports.size(); ++i)
        csv += ports.at(i).toUtf8() + ",10.0.0." + QByteArray::number(i + 1) + ",10.0.0.254\r\n";
    return writeFile(dir, QStringLiteral("plan.csv"), csv);
}

QJsonArray jsonRows(const Result &r)
{
    return QJsonDocument::fromJson(r.out).object().value("rows").toArray();
}

QStringList statuses(const Result &r)
{
    QStringList list;
    for (const QJsonValue row : jsonRows(r))
        list << row["status"].toString();
    return list;
}

// Waits until the running ordan-cli says `text` on stderr (by default: it
// asks for the next module).
bool awaitSwapPrompt(QProcess &cli, QByteArray *err,
                     const QByteArray &text = "connect the next module to")
{
    QElapsedTimer clock;
    clock.start();
    while (!err->contains(text) && clock.elapsed() < 20000) {
        cli.waitForReadyRead(100);
        *err += cli.readAllStandardError();
    }
    return err->contains(text);
}

} // namespace

class CommissionTest : public QObject
{
    Q_OBJECT

private slots:
    void planChecks_data();
    void planChecks();
    void portsAtOnceAFailedRowStopsNoOther();
    void swappedModuleOnOnePort_data();
    void swappedModuleOnOnePort();
    void moduleLeftInPlaceIsNotWrittenTwice();
    void moduleMetInTwoRowsIsWrittenOnce();
    void moduleDoneAndPluggedInAgainIsNotWrittenTwice();
    void portComesWithItsModule();
    void onePortOneRun_data();
    void onePortOneRun();
    void deviceHeldByAnotherProgram();
    void deviceHeldWhileWriting();
    void lockDirectoryChecked_data();
    void lockDirectoryChecked();
    void interruptedRunKeepsFinishedRows_data();
    void interruptedRunKeepsFinishedRows();
    void recordThatCannotTakeARow();
    void recordPathHoldsOnlyARecord_data();
    void recordPathHoldsOnlyARecord();
    void recordRowsSayWhatWasMeant_data();
    void recordRowsSayWhatWasMeant();
    void outcomeOfEachEnding_data();
    void outcomeOfEachEnding();
    void wordsOfFacts_data();
    void wordsOfFacts();
    void audit_data();
    void audit();
    void untrustedTextIsEscaped();
};

void CommissionTest::planChecks_data()
{
    // %1 stands for the simulated port, BASE for a settings file holding
    // mask 255.255.0.0 and parity even.
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("shown"); // on stdout or stderr

    const QStringList nothingSent{"nothing was sent"};
    QTest::newRow("bad value") << QByteArray("port,ip,tcp_port\n%1,10.0.0.1,502\n%1,10.0.0.2,600\n")
                               << QStringList() << 2
                               << nothingSent + QStringList{"plan.csv row 3, column tcp_port: "
                                                            "\"600\" must be 23, 502 or "
                                                            "10000-65535"};
    QTest::newRow("unknown column")
        << QByteArray("port,ip,colour\n%1,10.0.0.1,red\n") << QStringList() << 2
        << nothingSent + QStringList{"plan.csv row 1, column colour: unknown column"};
    QTest::newRow("duplicate address")
        << QByteArray("port;ip\n%1;10.0.0.7\n%1;10.0.0.8\n%1;10.0.0.7\n") << QStringList() << 2
        << nothingSent +
               QStringList{"plan.csv row 4, column ip: 10.0.0.7 is already planned in row 2"};
    QTest::newRow("all three, and a missing port")
        << QByteArray("port,ip,colour\n%1,10.0.0.1,\n,10.0.0.256,\n%1,10.0.0.1,\n") << QStringList()
        << 2
        << nothingSent + QStringList{"row 1, column colour: unknown column",
                                     "row 3, column port: no port given",
                                     "row 3, column ip: \"10.0.0.256\" must be an IPv4 address",
                                     "row 4, column ip: 10.0.0.1 is already planned in row 2"};
    QTest::newRow("bad value in the base file")
        << QByteArray("port,ip\n%1,10.0.0.1\n") << QStringList{"--from", "BAD"} << 2
        << nothingSent + QStringList{"bad.TRset (for mask): \"255.0.255.0\" must be a subnet mask"};
    QTest::newRow("addresses as numbers, an unsound row")
        << QByteArray("port,ip,mask,gateway\n%1,10.0.0.5,,\n%1,10.0.0.05,,\n"
                      "%1,10.0.1.0,255.255.255.0,10.0.1.1\n")
        << QStringList() << 2
        << nothingSent + QStringList{"row 3, column ip: \"10.0.0.05\" must be an IPv4 address",
                                     "without leading zeros",
                                     "row 4, column ip: the module's address 10.0.1.0 is the "
                                     "network address of 10.0.1.0/24"};
    QTest::newRow("a plan larger than 1 MiB")
        << QByteArray("port,ip\n") + QByteArray(1024 * 1024, '\n') << QStringList() << 2
        << QStringList{"larger than 1048576 bytes: not a plan"};
    QTest::newRow("dry run: BOM, semicolons, quotes, base values, a trailing separator")
        << QByteArray("\xef\xbb\xbf"
                      "Port;IP;parity;\r\n\"%1\";\"10.0.0.1\";;\r\n%1;10.0.0.2;odd;\r\n;;;\r\n")
        << QStringList{"--from", "BASE", "--dry-run"} << 0
        << QStringList{"2    %1  CHANGE IP:10.0.0.1", "CHANGE MASK:255.255.0.0",
                       "CHANGE PARITY:even",          "3    %1  CHANGE IP:10.0.0.2",
                       "CHANGE PARITY:odd",           "nothing was sent"};
}

void CommissionTest::planChecks()
{
    QFETCH(QByteArray, csv);
    QFETCH(QStringList, arguments);
    Simulator sim({});
    QTemporaryDir dir;
    setting_module base;
    const auto settingsFile = [&](const QString &name, const QString &mask) {
        settingsmapping::toSettings({{ModuleField::Mask, mask}, {ModuleField::Parity, "even"}},
                                    &base);
        base.SaveNTSetting(dir.filePath(name));
        return dir.filePath(name);
    };
    arguments.replaceInStrings(QRegularExpression("^BASE$"),
                               settingsFile("base.TRset", "255.255.0.0"));
    arguments.replaceInStrings(QRegularExpression("^BAD$"),
                               settingsFile("bad.TRset", "255.0.255.0"));
    const QString planFile =
        writeFile(dir, "plan.csv", QString::fromUtf8(csv).arg(sim.path).toUtf8());
    const Result r = cliprocess::runCli(QStringList{"commission", planFile} + arguments);
    QFETCH(int, exitCode);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    QFETCH(QStringList, shown);
    for (const QString &text : shown)
        QVERIFY2((r.out + r.err).contains(text.arg(sim.path).toUtf8()),
                 (text + "\n" + r.out + r.err).toUtf8().constData());
    QCOMPARE(sim.commands(), QStringList());
}

void CommissionTest::portsAtOnceAFailedRowStopsNoOther()
{
    QTemporaryDir dir;
    // One row alone, for the time of one module's write and verification.
    Simulator single({});
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(cliprocess::runCli({"commission", plan(dir, {single.path})}).exitCode, 0);
    const qint64 oneRow = clock.elapsed();

    // Three ports at once; the second module acknowledges but applies
    // nothing: its verification fails, the other two are verified.
    Simulator a({});
    Simulator b({"--no-apply", "--mac", "00:1A:2B:3C:4D:02"});
    Simulator c({"--mac", "00:1A:2B:3C:4D:03"});
    const QString record = dir.filePath("record.csv");
    clock.restart();
    const Result r = cliprocess::runCli(
        {"commission", plan(dir, {a.path, b.path, c.path}), "--record", record, "--json"});
    const qint64 threeRows = clock.elapsed();
    QVERIFY2(r.exitCode == 6, r.err.constData());
    QCOMPARE(statuses(r), (QStringList{"verified", "failed", "verified"}));
    QCOMPARE(jsonRows(r).at(1)["mismatches"].toArray().at(0)["parameter"].toString(),
             QStringLiteral("ip"));
    QVERIFY2(
        threeRows < 2 * oneRow,
        qPrintable(QStringLiteral("one row %1 ms, three rows %2 ms").arg(oneRow).arg(threeRows)));
    const QList<cliprocess::RecordRow> rows = recordOf(record);
    QCOMPARE(rows.size(), 3);
    for (const cliprocess::RecordRow &row : rows)
        QCOMPARE(row["result"],
                 row["mac"] == "00:1A:2B:3C:4D:02" ? "mismatch: ip, gateway" : "verified");
}

void CommissionTest::swappedModuleOnOnePort_data()
{
    QTest::addColumn<bool>("nohup");
    QTest::newRow("from a terminal") << false;
    // Started with nohup, the run outlives its terminal's hang-up.
    QTest::newRow("under nohup, the terminal hangs up meanwhile") << true;
}

void CommissionTest::swappedModuleOnOnePort()
{
    QFETCH(bool, nohup);
    QTemporaryDir dir;
    const QString link = dir.filePath("tty");
    auto first =
        std::make_unique<Simulator>(QStringList{"--link", link, "--mac", "02:00:00:00:00:01"});
    const QString record = dir.filePath("record.csv");
    const QStringList arguments{ORDAN_CLI_PATH, "commission", plan(dir, {link, link}),
                                "--record",     record,       "--json"};
    QProcess cli;
    if (nohup)
        cli.start("nohup", arguments);
    else
        cli.start(arguments.first(), arguments.mid(1));
    QByteArray err;
    QVERIFY(awaitSwapPrompt(cli, &err));
    if (nohup)
        ::kill(pid_t(cli.processId()), SIGHUP);
    QVERIFY2(
        err.contains(("connect the next module to " + link + " (row 3, ip 10.0.0.2)").toUtf8()),
        err.constData());
    QCOMPARE(first->commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.1"});
    first.reset(); // unplugged
    Simulator second({"--link", link, "--mac", "02:00:00:00:00:02"});
    const Result r = cliprocess::finish(cli);
    QVERIFY2(r.exitCode == 0, (err + r.err).constData());
    QCOMPARE(second.commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.2"});
    QCOMPARE(jsonRows(r).at(1)["mac"].toString(), QStringLiteral("02:00:00:00:00:02"));
    const QList<cliprocess::RecordRow> rows = recordOf(record);
    QCOMPARE(rows.size(), 2);
    for (int i : {0, 1}) {
        QCOMPARE(rows.at(i)["mac"], QStringLiteral("02:00:00:00:00:0%1").arg(i + 1));
        QCOMPARE(rows.at(i)["ip"], QStringLiteral("10.0.0.%1").arg(i + 1));
    }
}

void CommissionTest::moduleLeftInPlaceIsNotWrittenTwice()
{
    QTemporaryDir dir;
    Simulator sim({});
    const Result r = cliprocess::runCli(
        {"commission", plan(dir, {sim.path, sim.path}), "--swap-timeout", "2", "--json"});
    QVERIFY2(r.exitCode == 4, r.err.constData());
    QCOMPARE(statuses(r), (QStringList{"verified", "not reached"}));
    QVERIFY2(r.err.contains("row 3 not reached: no new module on the port within 2 s"),
             r.err.constData());
    const QStringList commands = sim.commands();
    QCOMPARE(commands.filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.1"});
    // Identity polled at most every 500 ms while waiting: the write's two
    // MAC queries, then at most one per half second of the 2 s.
    QVERIFY2(commands.count("MAC") <= 2 + 5, qPrintable(commands.join(", ")));
}

void CommissionTest::moduleMetInTwoRowsIsWrittenOnce()
{
    // Two ports answer with one MAC (a cloned module): whichever row meets
    // it second writes nothing and names the row that met it first.
    QTemporaryDir dir;
    Simulator a({"--mac", "02:00:00:00:00:07"});
    Simulator b({"--mac", "02:00:00:00:00:07"});
    const Result r = cliprocess::runCli({"commission", plan(dir, {a.path, b.path}), "--json"});
    QVERIFY2(r.exitCode == 4, r.err.constData());
    QStringList seen = statuses(r);
    seen.sort();
    QCOMPARE(seen, (QStringList{"failed", "verified"}));
    const QRegularExpression refusal(
        "the module 02:00:00:00:00:07 was already met in this run \\(row [23]\\); nothing was "
        "written");
    QVERIFY2(QString::fromUtf8(r.err).contains(refusal), r.err.constData());
    QCOMPARE(a.commands().filter("CHANGE IP:").size() + b.commands().filter("CHANGE IP:").size(),
             1);
}

void CommissionTest::moduleDoneAndPluggedInAgainIsNotWrittenTwice()
{
    // The module of row 2, done, is unplugged (its port goes with it) and
    // plugged in again where row 3's module was asked for: it is named as
    // done and not written; the next module is.
    QTemporaryDir dir;
    const QString link = dir.filePath("by-path-port");
    const QStringList first{"--link", link, "--mac", "02:00:00:00:00:01"};
    auto sim = std::make_unique<Simulator>(first);
    QProcess cli;
    cli.start(ORDAN_CLI_PATH, {"commission", plan(dir, {link, link}), "--json"});
    QByteArray err;
    QVERIFY(awaitSwapPrompt(cli, &err));
    sim.reset();           // unplugged: the port is away
    QTest::qWait(3 * 500); // a few of the run's looks at the port find none
    sim = std::make_unique<Simulator>(first + QStringList{"--set", "ip=10.0.0.1"});
    QVERIFY2(awaitSwapPrompt(cli, &err,
                             "this module, 02:00:00:00:00:01, was done in row 2: connect the "
                             "next one"),
             err.constData());
    QCOMPARE(sim->commands().filter(QRegularExpression("^(CHANGE|reset)")), QStringList());
    sim.reset();
    sim = std::make_unique<Simulator>(QStringList{"--link", link, "--mac", "02:00:00:00:00:02"});
    const Result r = cliprocess::finish(cli);
    QVERIFY2(r.exitCode == 0, (err + r.err).constData());
    QCOMPARE(sim->commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.2"});
    QCOMPARE(jsonRows(r).at(1)["mac"].toString(), QStringLiteral("02:00:00:00:00:02"));
}

void CommissionTest::portComesWithItsModule()
{
    // The module brings its own USB adapter: at the start its port is not
    // there. Row 2 waits for it, then row 3 for the next one.
    QTemporaryDir dir;
    const QString link = dir.filePath("by-id-port");
    QProcess cli;
    cli.start(ORDAN_CLI_PATH, {"commission", plan(dir, {link, link}), "--json"});
    QTest::qWait(2000);
    auto first =
        std::make_unique<Simulator>(QStringList{"--link", link, "--mac", "02:00:00:00:00:01"});
    QByteArray err;
    QVERIFY(awaitSwapPrompt(cli, &err));
    QVERIFY2(err.contains(("connect the module to " + link + " (row 2, ip 10.0.0.1)").toUtf8()),
             err.constData());
    QCOMPARE(first->commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.1"});
    first.reset();
    Simulator second({"--link", link, "--mac", "02:00:00:00:00:02"});
    const Result r = cliprocess::finish(cli);
    QVERIFY2(r.exitCode == 0, (err + r.err).constData());
    QCOMPARE(second.commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.2"});
}

void CommissionTest::onePortOneRun_data()
{
    // The first run is started from a desktop session (XDG_RUNTIME_DIR
    // set), the second from cron or ssh (none): the locks are the system's,
    // not the session's. What the second run is, and when it starts: while
    // the first one is writing its first module (0.3 s), or waits for its
    // next one.
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("duringSwap");
    QTest::newRow("the same plan, 0.3 s later") << "plan" << false;
    QTest::newRow("the same plan, during the swap") << "plan" << true;
    QTest::newRow("a read of the alias") << "alias" << true;
    QTest::newRow("a read of the device the alias leads to") << "device" << true;
    // Only the name's lock holds it then.
    QTest::newRow("a read of the alias, its module away") << "away" << true;
    QTest::newRow("a write with a record") << "write" << true;
}

void CommissionTest::onePortOneRun()
{
    QFETCH(QString, second);
    QFETCH(bool, duringSwap);
    QTemporaryDir dir;
    Simulator sim({"--mac", "02:00:00:00:00:01"});
    const QString planPath = plan(dir, {sim.path, sim.path});
    const QString record = dir.filePath("record.csv");
    QProcessEnvironment desktop = QProcessEnvironment::systemEnvironment();
    desktop.insert("XDG_RUNTIME_DIR", dir.path());
    QProcess first;
    first.setProcessEnvironment(desktop);
    first.start(ORDAN_CLI_PATH, {"commission", planPath, "--record", record, "--json"});
    QByteArray err;
    if (duringSwap)
        QVERIFY(awaitSwapPrompt(first, &err));
    else
        QTest::qWait(300);
    const QString device = QFileInfo(sim.path).canonicalFilePath();
    if (second == "away")
        sim.stop();
    QProcessEnvironment cron = QProcessEnvironment::systemEnvironment();
    cron.remove("XDG_RUNTIME_DIR");
    const QString secondRecord = dir.filePath("second-record.csv");
    QProcess secondRun;
    secondRun.setProcessEnvironment(cron);
    secondRun.start(
        ORDAN_CLI_PATH,
        second == "plan" ? QStringList{"commission", planPath, "--record", secondRecord}
        : second == "write"
            ? QStringList{"write", sim.path, "--ip", "10.0.0.9", "--record", secondRecord}
            : QStringList{"read", second == "device" ? device : sim.path});
    const Result r = cliprocess::finish(secondRun);
    QVERIFY2(r.exitCode == 3, r.err.constData());
    QVERIFY2(r.err.contains("is in use by another run (ordan-cli, process " +
                            QByteArray::number(first.processId()) + ")"),
             r.err.constData());
    QVERIFY2(!r.err.contains("dialout"), r.err.constData());
    QVERIFY(!QFile::exists(secondRecord)); // refused before it began: no record made
    // The first run goes on as if alone: its module holds its row 2.
    if (!duringSwap)
        QVERIFY(awaitSwapPrompt(first, &err));
    // Killed, it leaves its lock file behind (taken over below).
    ::kill(pid_t(first.processId()), second == "away" ? SIGTERM : SIGKILL);
    first.waitForFinished();
    QCOMPARE(sim.commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.1"});
    QCOMPARE(recordOf(record).size(), 1);
    QCOMPARE(recordOf(record).first()["result"], QStringLiteral("verified"));
    // A lock whose process is gone is taken over.
    if (second != "away")
        QCOMPARE(cliprocess::runCli({"read", sim.path}).exitCode, 0);
}

void CommissionTest::deviceHeldByAnotherProgram()
{
    // util-linux flock(1) holds the device as other serial programs do.
    Simulator sim({});
    QProcess holder;
    holder.start("flock", {"--no-fork", QFileInfo(sim.path).canonicalFilePath(), "sh", "-c",
                           "echo held; exec sleep 60"});
    QVERIFY(holder.waitForReadyRead(10000));
    const Result r = cliprocess::runCli({"write", sim.path, "--ip", "10.0.0.9"});
    QVERIFY2(r.exitCode == 3, r.err.constData());
    QVERIFY2(r.err.contains("is held by another program (sleep, process " +
                            QByteArray::number(holder.processId()) + ")"),
             r.err.constData());
    QVERIFY2(!r.err.contains("dialout"), r.err.constData());
    QCOMPARE(sim.commands(), QStringList());
    holder.kill();
    holder.waitForFinished();
}

// While ordan-cli writes a module, the device itself is held (flock on
// the open descriptor), not only the port's name: another program's
// flock(1) on the device fails.
void CommissionTest::deviceHeldWhileWriting()
{
    Simulator sim({"--delay", "400"});
    QProcess cli;
    cli.start(ORDAN_CLI_PATH, {"write", sim.path, "--ip", "192.168.0.9"});
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains("CHANGE IP:192.168.0.9"), 20000);
    QProcess other;
    other.start("flock", {"-n", QFileInfo(sim.path).canonicalFilePath(), "true"});
    QVERIFY(other.waitForFinished(10000));
    QCOMPARE(other.exitCode(), 1);
    const Result r = cliprocess::finish(cli);
    QVERIFY2(r.exitCode == 0, r.err.constData());
}

void CommissionTest::lockDirectoryChecked_data()
{
    // What is wrong with the lock directory or a lock file in it, and what
    // the refusal says.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("said");
    QTest::newRow("nothing") << ""
                             << "";
    QTest::newRow("the directory is a symbolic link") << "directory link"
                                                      << "is a symbolic link";
    QTest::newRow("the directory belongs to another user")
        << "directory owner"
        << "belongs to nobody, not to root or to you";
    QTest::newRow("others may write the directory, not sticky")
        << "directory mode"
        << "writable by them and not sticky";
    QTest::newRow("the lock file is a symbolic link") << "file link"
                                                      << "is a symbolic link";
    QTest::newRow("the lock file belongs to another user, not shared")
        << "file owner"
        << "belongs to nobody and others may not write it";
}

void CommissionTest::lockDirectoryChecked()
{
    QFETCH(QString, fault);
    if (fault.endsWith("owner") && ::geteuid() != 0)
        QSKIP("only root can give a file to another user");
    QTemporaryDir dir;
    Simulator sim({});
    const QString locks = dir.filePath("lock");
    QVERIFY(QDir().mkpath(locks));
    PortLock::setDirectory(locks);
    const auto restore = qScopeGuard([] { PortLock::setDirectory(QString()); });
    QString error;
    // The lock file's name, from a lock taken and let go.
    QString file;
    {
        PortLock lock;
        QVERIFY2(lock.acquire(sim.path, &error), qPrintable(error));
        file = QDir(locks).filePath(QDir(locks).entryList(QDir::Files).value(0));
    }
    QVERIFY(!QFile::exists(file));
    if (fault == "directory link") {
        QVERIFY(QFile::link(locks, dir.filePath("link")));
        PortLock::setDirectory(dir.filePath("link"));
    } else if (fault == "directory owner") {
        QCOMPARE(::chown(QFile::encodeName(locks).constData(), 65534, 65534), 0);
    } else if (fault == "directory mode") {
        QCOMPARE(::chmod(QFile::encodeName(locks).constData(), 0777), 0);
    } else if (fault == "file link") {
        QVERIFY(QFile::link(dir.filePath("elsewhere"), file));
    } else if (fault == "file owner") {
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QCOMPARE(::chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    }
    PortLock lock;
    QFETCH(QString, said);
    QCOMPARE(lock.acquire(sim.path, &error), said.isEmpty());
    QVERIFY2(error.contains(said), qPrintable(error));
    QVERIFY(!QFile::exists(dir.filePath("elsewhere")));
}

void CommissionTest::interruptedRunKeepsFinishedRows_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << int(SIGINT);
    QTest::newRow("terminal gone") << int(SIGHUP);
}

void CommissionTest::interruptedRunKeepsFinishedRows()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    Simulator sim({});
    const QString record = dir.filePath("record.csv");
    QProcess cli;
    cli.start(ORDAN_CLI_PATH, {"commission", plan(dir, {sim.path, sim.path}), "--record", record});
    QByteArray err;
    QVERIFY(awaitSwapPrompt(cli, &err));
    ::kill(pid_t(cli.processId()), signal);
    const Result r = cliprocess::finish(cli, 10000);
    QCOMPARE(r.exitCode, 130);
    QVERIFY2(r.out.contains("not reached: interrupted"), r.out.constData());
    const QList<cliprocess::RecordRow> rows = recordOf(record);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first()["ip"], QStringLiteral("10.0.0.1"));
    QCOMPARE(rows.first()["result"], QStringLiteral("verified"));
}

void CommissionTest::recordThatCannotTakeARow()
{
    // A verified module whose row the record cannot take fails the run:
    // the record and the screen must say the same.
    QTemporaryDir dir;
    Simulator sim({});
    const Result r = cliprocess::runCli(
        {"commission", plan(dir, {sim.path}), "--record", "/dev/full", "--json"});
    QVERIFY2(r.exitCode == 1, r.err.constData());
    const QJsonObject row = jsonRows(r).at(0).toObject();
    QCOMPARE(row["verified"].toBool(), true);
    QCOMPARE(row["recorded"].toBool(true), false);
    QCOMPARE(row["status"].toString(), QStringLiteral("failed"));
    QVERIFY2(r.err.contains("the record lacks row 2"), r.err.constData());
}

void CommissionTest::recordPathHoldsOnlyARecord_data()
{
    // What the file at the record's path holds (PLAN: the plan itself), the
    // command, its exit code and what it says.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    const QByteArray earlier =
        commissionrecord::header().section(",result", 0, 0).toUtf8() + ",result\r\n";
    const QString refused = "commission";
    QTest::newRow("the plan") << QByteArray("PLAN") << refused << 2
                              << "plan.csv is a plan, not a record";
    QTest::newRow("the plan, to a write")
        << QByteArray("PLAN") << "write" << 2 << "plan.csv is a plan, not a record";
    QTest::newRow("the plan, to a reach check")
        << QByteArray("PLAN") << "reach" << 2 << "plan.csv is a plan, not a record";
    QTest::newRow("a commissioning record, to a reach check")
        << (commissionrecord::header() + "\r\n").toUtf8() << "reach" << 2
        << "record.csv is a commissioning record, not a reach record";
    QTest::newRow("notes") << QByteArray("site notes: the key is at the gate\n") << refused << 2
                           << "record.csv is not a record: its first line is not a record's "
                              "header";
    QTest::newRow("a reach record")
        << QByteArray("time,row,ip,tcp_port,result,milliseconds\r\n") << refused << 2
        << "record.csv is a reach record, not a commissioning record";
    QTest::newRow("a binary file") << QByteArray("\x7f"
                                                 "ELF\x02\x01\x01\0\0",
                                                 9)
                                   << refused << 2 << "is not a record";
    QTest::newRow("an earlier version's record") << earlier << refused << 0 << "";
    QTest::newRow("a record whose last row was cut short")
        << (commissionrecord::header() + "\r\n2026-01-01T00:00:00.000+00:00,/dev/x,Ord").toUtf8()
        << refused << 0 << "";
    QTest::newRow("empty") << QByteArray() << refused << 0 << "";
}

void CommissionTest::recordPathHoldsOnlyARecord()
{
    // A record is only appended to: a plan or any other file named as the
    // record is refused before anything is sent, and stays as it was.
    QFETCH(QByteArray, file);
    QFETCH(QString, command);
    QTemporaryDir dir;
    Simulator sim({});
    const QString planPath = plan(dir, {sim.path});
    QFile planFile(planPath);
    QVERIFY(planFile.open(QIODevice::ReadOnly));
    const QByteArray planBytes = planFile.readAll();
    const QString record =
        file == "PLAN" ? planPath : writeFile(dir, QStringLiteral("record.csv"), file);
    const QStringList arguments = command == "write"
                                      ? QStringList{"write", sim.path, "--ip", "10.0.0.1"}
                                  : command == "reach" ? QStringList{"reach", "127.0.0.1:502"}
                                                       : QStringList{"commission", planPath};
    const Result r = cliprocess::runCli(arguments + QStringList{"--record", record});
    QFETCH(int, exitCode);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    QFETCH(QString, said);
    QVERIFY2(r.err.contains(said.toUtf8()), r.err.constData());
    QFile after(record);
    QVERIFY(after.open(QIODevice::ReadOnly));
    const QByteArray bytes = after.readAll();
    QFile planAfter(planPath);
    QVERIFY(planAfter.open(QIODevice::ReadOnly));
    if (file != "PLAN")
        QCOMPARE(planAfter.readAll(), planBytes);
    if (exitCode == 2) {
        QCOMPARE(sim.commands(), QStringList());
        QCOMPARE(bytes, file == "PLAN" ? planBytes : file);
        return;
    }
    // Appended to as it is, the new row on a line of its own after what
    // was there (a new file gets the header first).
    QVERIFY(bytes.startsWith(file));
    QByteArray rest = bytes.mid(file.size());
    const QByteArray start = file.isEmpty()        ? commissionrecord::header().toUtf8() + "\r\n"
                             : file.endsWith('\n') ? QByteArray()
                                                   : QByteArray("\r\n");
    QVERIFY2(rest.startsWith(start), bytes.constData());
    rest = rest.mid(start.size());
    QVERIFY2(rest.count("\r\n") == 1 && rest.endsWith("\r\n") && rest.contains(",verified,2,"),
             bytes.constData());
}

void CommissionTest::recordRowsSayWhatWasMeant_data()
{
    // A write stopped on its way: the simulator's flags, the exit code and
    // the start of the record's result, which names the commands sent.
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result");
    QTest::newRow("interrupted") << QStringList{"--delay", "400"} << 130
                                 << "interrupted after sending ip";
    QTest::newRow("refused") << QStringList{"--refuse", "CHANGE GATEWAY:"} << 5
                             << "refused: gateway after sending ip, gateway; no restart was sent";
    QTest::newRow("unplugged") << QStringList{"--drop-link-at-write", "2"} << 4
                               << "no answer after sending ip, gateway; no restart was sent";
}

void CommissionTest::recordRowsSayWhatWasMeant()
{
    QFETCH(QStringList, simulator);
    QFETCH(int, exitCode);
    QFETCH(QString, result);
    QTemporaryDir dir;
    Simulator sim(simulator);
    const QString record = dir.filePath("record.csv");
    QProcess cli;
    cli.start(ORDAN_CLI_PATH, {"commission", plan(dir, {sim.path}), "--record", record});
    if (exitCode == 130) {
        QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains("CHANGE IP:10.0.0.1"), 20000);
        ::kill(pid_t(cli.processId()), SIGTERM);
    }
    const Result r = cliprocess::finish(cli);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    const QList<cliprocess::RecordRow> rows = recordOf(record);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first()["row"], QStringLiteral("2"));
    QCOMPARE(rows.first()["planned"], QStringLiteral("ip=10.0.0.1;gateway=10.0.0.254"));
    QVERIFY2(rows.first()["result"].startsWith(result), qPrintable(rows.first()["result"]));
}

void CommissionTest::outcomeOfEachEnding_data()
{
    // A job's facts (or a row never begun: "not reached", "done already")
    // -> what the row came to: its status word, failure word, exit code,
    // "verified" in JSON (-1: none) and record words; then its short line
    // (the site window's state) in English and in Russian, and the record's
    // words as a Russian reader sees them. One row per ending at least.
    QTest::addColumn<QString>("begun");
    QTest::addColumn<WriteResult>("facts");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("verified");
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("shortLine");
    QTest::addColumn<QString>("shortLineRu");
    QTest::addColumn<QString>("recordRu");

    using E = WriteResult::Ending;
    // Every ending of a job has its row (checked at the end).
    QSet<int> covered;
    const auto facts = [&covered](E ending,
                                  const std::function<void(WriteResult &)> &more = nullptr) {
        covered << int(ending);
        WriteResult r;
        r.ending = ending;
        r.planned = {{ModuleField::Ip, "10.0.0.1"}, {ModuleField::Gateway, "10.0.0.254"}};
        r.identifiedMac = "02:00:00:00:00:01";
        r.field = ModuleField::Gateway;
        r.detail = "the reason found elsewhere";
        if (ending != E::PortInUse && ending != E::Silent && ending != E::Unsound) {
            r.sent = r.accepted = {ModuleField::Ip, ModuleField::Gateway};
            r.resetSent = ending != E::Refused && ending != E::NoReply && ending != E::Interrupted;
        }
        if (more)
            more(r);
        return r;
    };
    const auto audit = [](WriteResult &r) {
        r.audit = true;
        r.sent = r.accepted = {};
        r.resetSent = false;
    };
    const auto differs = [](WriteResult &r) {
        r.differences = {{ModuleField::Ip, "10.0.0.1", ""}};
    };
    const auto reached = [](ReachCheck::Outcome outcome) {
        return [outcome](WriteResult &r) {
            r.reachChecked = true;
            r.reachTarget = "10.0.0.1:502";
            r.reach.outcome = outcome;
        };
    };
    QTest::newRow("verified") << QString() << facts(E::Done) << "verified"
                              << "" << 0 << 1 << "verified"
                              << "verified"
                              << "проверено"
                              << "проверено";
    QTest::newRow("unverified, as asked")
        << QString() << facts(E::Done, [](WriteResult &r) { r.verify = false; }) << "unverified"
        << "" << 0 << -1 << "unverified"
        << "unverified"
        << "не проверено"
        << "не проверено";
    QTest::newRow("matches") << QString() << facts(E::Done, audit) << "matches"
                             << "" << 0 << 1 << "matches"
                             << "matches"
                             << "совпадает"
                             << "совпадает";
    using Keeper = WriteResult::Keeper;
    QTest::newRow("verified, the record lacks it")
        << QString()
        << facts(E::Done,
                 [](WriteResult &r) {
                     r.kept = {{Keeper::Record, false, "disk", false}};
                 })
        << "failed"
        << "not recorded" << 1 << 1 << "verified"
        << "failed: not recorded"
        << "ошибка: не записано в журнал"
        << "проверено";
    QTest::newRow("verified, the register lacks it")
        << QString()
        << facts(E::Done,
                 [](WriteResult &r) {
                     r.kept = {{Keeper::Register, false, "gone", false},
                               {Keeper::Record, true, "", false}};
                 })
        << "failed"
        << "register" << 3 << 0 << "verified, not in the register"
        << "failed: register"
        << "ошибка: реестр"
        << "проверено, нет в реестре";
    // The gate's refusals before anything is written, and a row taken over.
    using Refusal = WriteResult::Admission::Refusal;
    const auto refused = [](Refusal refusal) {
        return [refusal](WriteResult &r) {
            r.sent = r.accepted = {};
            r.resetSent = false;
            r.admission.verdict = WriteResult::Admission::Verdict::Stop;
            r.admission.refusal = refusal;
        };
    };
    QTest::newRow("met in another row")
        << QString() << facts(E::NotAdmitted, refused(Refusal::ByRun)) << "failed"
        << "no answer" << 4 << -1 << "not a new module"
        << "failed: no answer"
        << "ошибка: нет ответа"
        << "не новый модуль";
    QTest::newRow("verified elsewhere")
        << QString() << facts(E::NotAdmitted, refused(Refusal::Elsewhere)) << "failed"
        << "verified elsewhere" << 7 << -1 << "already verified"
        << "failed: verified elsewhere"
        << "ошибка: проверен в другом месте"
        << "уже проверен";
    QTest::newRow("address held") << QString() << facts(E::NotAdmitted, refused(Refusal::Held))
                                  << "failed"
                                  << "address held" << 7 << -1 << "address held"
                                  << "failed: address held"
                                  << "ошибка: адрес занят"
                                  << "адрес занят";
    QTest::newRow("register unavailable")
        << QString() << facts(E::NotAdmitted, refused(Refusal::Unanswered)) << "failed"
        << "register" << 3 << -1 << "register unavailable"
        << "failed: register"
        << "ошибка: реестр"
        << "реестр недоступен";
    QTest::newRow("taken over while writing")
        << QString() << facts(E::Abandoned, [](WriteResult &r) { r.resetSent = false; }) << "failed"
        << "taken over" << 3 << -1 << "claim lost after sending ip, gateway; no restart was sent"
        << "failed: taken over"
        << "ошибка: перехвачено"
        << "строка перехвачена после отправки: IP-адрес, шлюз; перезапуск не отправлен";
    QTest::newRow("read, not rewritten")
        << QString()
        << facts(E::Done,
                 [](WriteResult &r) {
                     r.sent = r.accepted = {};
                     r.resetSent = false;
                     r.admission.verdict = WriteResult::Admission::Verdict::Unchanged;
                 })
        << "verified"
        << "" << 0 << 1 << "verified, not rewritten"
        << "verified"
        << "проверено"
        << "проверено, не перезаписано";
    QTest::newRow("port in use") << QString() << facts(E::PortInUse) << "failed"
                                 << "port not opened" << 3 << -1 << "port in use"
                                 << "failed: port not opened"
                                 << "ошибка: порт не открыт"
                                 << "порт занят";
    QTest::newRow("silent") << QString() << facts(E::Silent) << "failed"
                            << "no answer" << 4 << -1 << "no answer"
                            << "failed: no answer"
                            << "ошибка: нет ответа"
                            << "нет ответа";
    QTest::newRow("unsound") << QString() << facts(E::Unsound) << "failed"
                             << "invalid configuration" << 2 << -1 << "invalid configuration"
                             << "failed: invalid configuration"
                             << "ошибка: недопустимая конфигурация"
                             << "недопустимая конфигурация";
    QTest::newRow("interrupted while writing")
        << QString() << facts(E::Interrupted, [](WriteResult &r) { r.sent = {ModuleField::Ip}; })
        << "failed"
        << "" << 130 << -1 << "interrupted after sending ip; no restart was sent"
        << "interrupted"
        << "прервано"
        << "прервано после отправки: IP-адрес; перезапуск не отправлен";
    QTest::newRow("interrupted after the restart")
        << QString() << facts(E::Interrupted, [](WriteResult &r) { r.resetSent = true; })
        << "failed"
        << "" << 130 << -1 << "interrupted after the restart command"
        << "interrupted"
        << "прервано"
        << "прервано после команды перезапуска";
    QTest::newRow("unplugged while writing")
        << QString() << facts(E::NoReply) << "failed"
        << "no answer" << 4 << -1 << "no answer after sending ip, gateway; no restart was sent"
        << "failed: no answer"
        << "ошибка: нет ответа"
        << "нет ответа после отправки: IP-адрес, шлюз; перезапуск не отправлен";
    QTest::newRow("refused")
        << QString() << facts(E::Refused) << "failed"
        << "refused" << 5 << -1 << "refused: gateway after sending ip, gateway; no restart was sent"
        << "failed: refused"
        << "ошибка: отказ"
        << "отказ: шлюз после отправки: IP-адрес, шлюз; перезапуск не отправлен";
    QTest::newRow("restart refused") << QString() << facts(E::RestartRefused) << "failed"
                                     << "refused" << 5 << -1 << "refused: reset"
                                     << "failed: refused"
                                     << "ошибка: отказ"
                                     << "отказ: перезапуск";
    QTest::newRow("not back") << QString() << facts(E::NotBack) << "failed"
                              << "no answer" << 4 << 0 << "no answer after restart"
                              << "failed: no answer"
                              << "ошибка: нет ответа"
                              << "нет ответа после перезапуска";
    QTest::newRow("another module")
        << QString()
        << facts(E::OtherModule,
                 [](WriteResult &r) {
                     r.readBack.values = {{ModuleField::Mac, "02:00:00:00:00:99"}};
                 })
        << "failed"
        << "another module" << 6 << 0 << "different module: 02:00:00:00:00:99"
        << "failed: another module"
        << "ошибка: другой модуль"
        << "другой модуль: 02:00:00:00:00:99";
    QTest::newRow("read back other values") << QString() << facts(E::Differs, differs) << "failed"
                                            << "" << 6 << 0 << "mismatch: ip"
                                            << "differs: ip"
                                            << "отличается: IP-адрес"
                                            << "не совпадает: IP-адрес";
    QTest::newRow("audit differs") << QString()
                                   << facts(E::Differs,
                                            [&](WriteResult &r) {
                                                audit(r);
                                                differs(r);
                                            })
                                   << "differs"
                                   << "" << 6 << 0 << "differs: ip"
                                   << "differs: ip"
                                   << "отличается: IP-адрес"
                                   << "отличается: IP-адрес";
    QTest::newRow("an address read back that is none")
        << QString() << facts(E::AddressNotKnown) << "failed"
        << "address not known" << 4 << 1 << "verified on the console, address not known"
        << "failed: address not known"
        << "ошибка: адрес неизвестен"
        << "проверено через консоль, адрес неизвестен";
    QTest::newRow("refused at its address")
        << QString() << facts(E::NotReachable, reached(ReachCheck::Outcome::Refused)) << "failed"
        << "not reachable" << 6 << 1
        << "verified on the console, not reachable at 10.0.0.1:502 (refused)"
        << "failed: not reachable"
        << "ошибка: недоступен в сети"
        << "проверено через консоль, недоступен по адресу 10.0.0.1:502 (отказ)";
    QTest::newRow("no answer at its address")
        << QString() << facts(E::NotReachable, reached(ReachCheck::Outcome::NoAnswer)) << "failed"
        << "not reachable" << 4 << 1
        << "verified on the console, not reachable at 10.0.0.1:502 (no answer)"
        << "failed: not reachable"
        << "ошибка: недоступен в сети"
        << "проверено через консоль, недоступен по адресу 10.0.0.1:502 (нет ответа)";
    // The plan's bus_ids 1, 2 and 5, asked once reachable; those answering.
    const auto onBus = [reached](const QList<int> &answering) {
        return [reached, answering](WriteResult &r) {
            reached(ReachCheck::Outcome::Reachable)(r);
            r.busUnits = {1, 2, 5};
            r.busChecked = true;
            r.bus.reached = true;
            r.bus.target = r.reachTarget;
            r.bus.expected = r.busUnits;
            for (const int unit : r.busUnits) {
                BusUnit u;
                u.unit = unit;
                u.state =
                    answering.contains(unit) ? BusUnit::State::Answers : BusUnit::State::Nothing;
                r.bus.units << u;
            }
        };
    };
    QTest::newRow("verified, every device on its bus answers")
        << QString() << facts(E::Done, onBus({1, 2, 5})) << "verified"
        << "" << 0 << 1 << "verified"
        << "verified"
        << "проверено"
        << "проверено";
    QTest::newRow("a device on its bus does not answer")
        << QString() << facts(E::BusIncomplete, onBus({1, 2})) << "failed"
        << "devices missing on the bus" << 6 << 1
        << "verified on the console, reachable, bus: 5 does not answer (1, 2 answer)"
        << "failed: devices missing on the bus"
        << "ошибка: не все устройства на шине"
        << "проверено через консоль, доступен в сети, шина: 5 не отвечает (1, 2 отвечают)";
    QTest::newRow("audit: nothing on its bus answers")
        << QString()
        << facts(E::BusIncomplete,
                 [&](WriteResult &r) {
                     audit(r);
                     onBus({})(r);
                 })
        << "failed"
        << "devices missing on the bus" << 6 << 1
        << "matches on the console, reachable, bus: 1, 2, 5 do not answer (nothing answers)"
        << "failed: devices missing on the bus"
        << "ошибка: не все устройства на шине"
        << "совпадает по консоли, доступен в сети, шина: 1, 2, 5 не отвечают (никто не отвечает)";
    // Stopped before anything was sent, or on the way back.
    const auto nothingSent = [](WriteResult &r) {
        r.sent = r.accepted = {};
        r.resetSent = false;
    };
    QTest::newRow("port not opened")
        << QString() << facts(E::PortNotOpened, nothingSent) << "failed"
        << "port not opened" << 3 << -1 << "port not opened"
        << "failed: port not opened"
        << "ошибка: порт не открыт"
        << "порт не открыт";
    QTest::newRow("not identified") << QString() << facts(E::NotIdentified, nothingSent) << "failed"
                                    << "no answer" << 4 << -1 << "not identified"
                                    << "failed: no answer"
                                    << "ошибка: нет ответа"
                                    << "не опознан";
    QTest::newRow("a held value not given")
        << QString() << facts(E::HeldValueMissing, nothingSent) << "failed"
        << "no answer" << 4 << -1 << "no answer"
        << "failed: no answer"
        << "ошибка: нет ответа"
        << "нет ответа";
    QTest::newRow("the link lost before the restart")
        << QString() << facts(E::LinkLost, [](WriteResult &r) { r.resetSent = false; }) << "failed"
        << "no answer" << 4 << -1 << "no answer after sending ip, gateway; no restart was sent"
        << "failed: no answer"
        << "ошибка: нет ответа"
        << "нет ответа после отправки: IP-адрес, шлюз; перезапуск не отправлен";
    QTest::newRow("did not restart") << QString() << facts(E::DidNotRestart) << "failed"
                                     << "no answer" << 4 << 0 << "did not restart"
                                     << "failed: no answer"
                                     << "ошибка: нет ответа"
                                     << "не перезапустился";
    QTest::newRow("silent after its restart") << QString() << facts(E::ReadBackSilent) << "failed"
                                              << "no answer" << 4 << 0 << "no answer after restart"
                                              << "failed: no answer"
                                              << "ошибка: нет ответа"
                                              << "нет ответа после перезапуска";
    QTest::newRow("audit: silent at its read")
        << QString() << facts(E::ReadBackSilent, audit) << "failed"
        << "no answer" << 4 << -1 << "no answer"
        << "failed: no answer"
        << "ошибка: нет ответа"
        << "нет ответа";
    QTest::newRow("not identified after its restart")
        << QString() << facts(E::ReadBackNotIdentified) << "failed"
        << "no answer" << 4 << 0 << "not identified after restart"
        << "failed: no answer"
        << "ошибка: нет ответа"
        << "не опознан после перезапуска";
    // Rows never begun.
    QTest::newRow("not reached") << "not reached" << facts(E::Interrupted, nothingSent)
                                 << "not reached"
                                 << "" << 4 << -1 << "not reached"
                                 << "not reached"
                                 << "не выполнено"
                                 << "не выполнено";
    QTest::newRow("done already") << "done already" << facts(E::Interrupted, nothingSent)
                                  << "done already"
                                  << "" << 0 << -1 << "done already"
                                  << "done already: verified by bench-2"
                                  << "уже сделано: verified by bench-2"
                                  << "уже сделано";
    for (int ending = int(E::Done); ending <= int(E::BusIncomplete); ++ending)
        QVERIFY2(covered.contains(ending), qPrintable(QString("no row for ending %1").arg(ending)));
}

void CommissionTest::outcomeOfEachEnding()
{
    QFETCH(QString, begun);
    QFETCH(WriteResult, facts);
    facts.port = "/dev/ttyUSB0";
    facts.planRow = 7;
    const RowOutcome outcome =
        begun == "not reached"
            ? RowOutcome::notReached(facts, {RowOutcome::NotBegun::Why::Interrupted, 0, QString()},
                                     4)
        : begun == "done already" ? RowOutcome::alreadyDone(facts, "verified by bench-2")
                                  : RowOutcome::of(facts);
    // The outcome holds the job's facts as they were: it judges them only.
    QCOMPARE(outcome.result().ending, facts.ending);
    QCOMPARE(outcome.result().planned, facts.planned);
    QTEST(RowWording::statusWord(outcome), "status");
    QTEST(RowWording::failureWord(outcome), "failure");
    QTEST(outcome.exitCode, "exitCode");
    QTEST(outcome.verified ? int(*outcome.verified) : -1, "verified");
    QTEST(outcome.recordResult(), "record");
    QTEST(RowWording::shortLine(outcome), "shortLine");
    // "verified" is what the module holds, where the register took it.
    const WriteResult::Kept *registered = facts.keptBy(WriteResult::Keeper::Register);
    QCOMPARE(outcome.verified.value_or(false),
             outcome.onModule.value_or(false) && !(registered && !registered->kept));
    // The register keeps the record's words as facts, and words them back.
    const siteregister::ResultFacts kept = siteregister::resultFacts(outcome.recordResult());
    QVERIFY2(kept.code != "text", qPrintable(outcome.recordResult()));
    QCOMPARE(siteregister::resultWords(kept, false), outcome.recordResult());
    // Every record word has its words for a reader in another language.
    QVERIFY2(recordwords::isKnown(outcome.recordResult()), qPrintable(outcome.recordResult()));
    QVERIFY(!facts.busChecked || recordwords::isKnownBus(outcome.busRecord()));
    QCOMPARE(outcome.isSuccess(), outcome.exitCode == 0 && outcome.result().verify &&
                                      outcome.status != RowOutcome::Status::AlreadyDone);
    // A row's reason is its failure's; the register's lack of a row is one.
    QCOMPARE(RowWording::reason(outcome).isEmpty(),
             begun.isEmpty() && facts.ending == WriteResult::Ending::Done &&
                 outcome.failure != RowOutcome::Failure::NotRegistered);
    // The record's row says what was meant, whatever came of it, in its
    // columns by name.
    const commissionrecord::Row row = commissionrecord::rowOf(outcome);
    const QStringList header = cliprocess::csvCells(commissionrecord::header());
    const QStringList cells = cliprocess::csvCells(commissionrecord::line(row));
    QCOMPARE(cells.size(), header.size());
    const auto cell = [&](const char *column) { return cells.value(header.indexOf(column)); };
    QCOMPARE(cell("result"), outcome.recordResult());
    QCOMPARE(cell("row"), QStringLiteral("7"));
    QCOMPARE(cell("port"), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(cell("planned"), "ip=10.0.0.1;gateway=10.0.0.254" +
                                  QString(facts.busUnits.isEmpty() ? "" : ";bus_ids=1,2,5"));
    QCOMPARE(cell("bus"), facts.busChecked ? facts.bus.outcomeWords() : QString());

    // The same words for a Russian reader: the window's state, the record.
    QTranslator russian;
    QVERIFY(russian.load(QStringLiteral(ORDAN_SITE_QM_RU)));
    QVERIFY(QCoreApplication::installTranslator(&russian));
    const auto english = qScopeGuard([&] { QCoreApplication::removeTranslator(&russian); });
    QTEST(RowWording::shortLine(outcome), "shortLineRu");
    QTEST(recordwords::shown(outcome.recordResult()), "recordRu");
}

void CommissionTest::wordsOfFacts_data()
{
    // Why a row was not begun, a module the run met before, a keeper
    // closed, kept as facts -> the row's line in English (ordan-cli's
    // summary) and in Russian (the site window's).
    QTest::addColumn<QString>("fact");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("lineRu");
    QTest::newRow("interrupted") << "interrupted"
                                 << "not reached: interrupted"
                                 << "не выполнено: прервано";
    QTest::newRow("no new module") << "no new module"
                                   << "not reached: no new module on the port within 2.5 s"
                                   << "не выполнено: за 2.5 с к порту не подключён новый модуль";
    QTest::newRow("port held") << "port held"
                               << "not reached: held by process 7"
                               << "не выполнено: held by process 7";
    QTest::newRow("met before in this run")
        << "met before"
        << "failed: the module 02:00:00:00:00:01 was already met in this run (row 3); nothing "
           "was written"
        << "ошибка: модуль 02:00:00:00:00:01 уже встречался в этом запуске (строка 3); ничего "
           "не записано";
    QTest::newRow("register closed before its word")
        << "register closed at admission"
        << "failed: the register was closed; nothing was written"
        << "ошибка: реестр закрыт; ничего не записано";
    QTest::newRow("register closed before the row")
        << "register closed"
        << "failed: verified on the module, but the register lacks its row: the register was "
           "closed"
        << "ошибка: на модуле — проверено, но в реестре нет его строки: реестр закрыт";
}

void CommissionTest::wordsOfFacts()
{
    QFETCH(QString, fact);
    using Why = RowOutcome::NotBegun::Why;
    using Admission = WriteResult::Admission;
    WriteResult facts;
    facts.identifiedMac = "02:00:00:00:00:01";
    facts.ending = WriteResult::Ending::NotAdmitted;
    facts.admission.verdict = Admission::Verdict::Stop;
    const auto notBegun = [&](Why why, int waitedMs, const QString &words) {
        return RowOutcome::notReached(facts, {why, waitedMs, words}, 4);
    };
    std::optional<RowOutcome> outcome;
    if (fact == "interrupted") {
        outcome.emplace(notBegun(Why::Interrupted, 0, QString()));
    } else if (fact == "no new module") {
        outcome.emplace(notBegun(Why::NoNewModule, 2500, QString()));
    } else if (fact == "port held") {
        outcome.emplace(notBegun(Why::PortHeld, 0, "held by process 7"));
    } else if (fact == "met before") {
        facts.admission.metAtRow = 3;
        outcome.emplace(RowOutcome::of(facts));
    } else if (fact == "register closed at admission") {
        facts.admission.refusal = Admission::Refusal::Closed;
        outcome.emplace(RowOutcome::of(facts));
        QCOMPARE(outcome->failure, RowOutcome::Failure::NoRegister);
    } else {
        facts.ending = WriteResult::Ending::Done;
        facts.kept = {{WriteResult::Keeper::Register, false, QString(), true}};
        outcome.emplace(RowOutcome::of(facts));
        QCOMPARE(RowWording::registerError(*outcome), QStringLiteral("the register was closed"));
    }
    QTEST(RowWording::line(*outcome), "line");
    QTranslator russian;
    QVERIFY(russian.load(QStringLiteral(ORDAN_SITE_QM_RU)));
    QVERIFY(QCoreApplication::installTranslator(&russian));
    const auto english = qScopeGuard([&] { QCoreApplication::removeTranslator(&russian); });
    QTEST(RowWording::line(*outcome), "lineRu");
}

void CommissionTest::audit_data()
{
    // The second module's simulator flags -> the audit's exit code and
    // that row's status and record result.
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("result");
    // Only the silent module is given a short time for each reply: the
    // others must not be taken for silent on a busy machine.
    QTest::addColumn<QString>("replyTimeout");
    QTest::newRow("matches") << QStringList{"--set", "ip=10.0.0.2"} << 0 << "matches"
                             << "matches"
                             << "2000";
    QTest::newRow("differs") << QStringList() << 6 << "differs"
                             << "differs: ip, gateway"
                             << "2000";
    QTest::newRow("silent") << QStringList{"--silent"} << 4 << "failed"
                            << "no answer"
                            << "200";
}

void CommissionTest::audit()
{
    QFETCH(QStringList, second);
    QFETCH(int, exitCode);
    QFETCH(QString, status);
    QFETCH(QString, result);
    QFETCH(QString, replyTimeout);
    QTemporaryDir dir;
    const QStringList onPlan{"--set", "GATEWAY=10.0.0.254"};
    Simulator a(onPlan + QStringList{"--set", "ip=10.0.0.1"});
    Simulator b(QStringList{"--mac", "02:00:00:00:00:02"} +
                (second.contains("--set") ? onPlan : QStringList()) + second);
    const QString record = dir.filePath("record.csv");
    const Result r = cliprocess::runCli({"audit", plan(dir, {a.path, b.path}), "--record", record,
                                         "--json", "--reply-timeout", replyTimeout});
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    QCOMPARE(statuses(r), (QStringList{"matches", status}));
    const QList<cliprocess::RecordRow> rows = recordOf(record);
    QCOMPARE(rows.size(), 2);
    const cliprocess::RecordRow row3 = rows.at(rows.at(0)["row"] == "3" ? 0 : 1);
    QCOMPARE(row3["row"], QStringLiteral("3"));
    QCOMPARE(row3["planned"], QStringLiteral("ip=10.0.0.2;gateway=10.0.0.254"));
    QCOMPARE(row3["mac"], status == "failed" ? QString() : QStringLiteral("02:00:00:00:00:02"));
    QCOMPARE(row3["result"], result);
    for (Simulator *sim : {&a, &b})
        QVERIFY(sim->commands().filter(QRegularExpression("^(CHANGE|change|reset)")).isEmpty());
}

void CommissionTest::untrustedTextIsEscaped()
{
    // A module naming itself with an escape sequence and a formula, and a
    // plan cell with one: none reaches the terminal or the record raw.
    QTemporaryDir dir;
    Simulator sim({"--name", "=cmd\x1b]0;owned\x07", "--no-apply"});
    const QString record = dir.filePath("record.csv");
    Result r = cliprocess::runCli({"commission", plan(dir, {sim.path}), "--record", record});
    QCOMPARE(r.exitCode, 6);
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    const QList<cliprocess::RecordRow> rows = recordOf(record);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first()["name"], QStringLiteral("'=cmd\\x1b]0;owned\\x07"));
    for (const QByteArray &bytes : {r.out, r.err, csv})
        QVERIFY2(!bytes.contains('\x1b') && !bytes.contains('\x07'), bytes.constData());
    QVERIFY2(r.out.contains("=cmd\\x1b]0;owned\\x07"), r.out.constData());

    const QString bad = writeFile(dir, "bad.csv", "port,ip\n" + sim.path.toUtf8() + ",\x1b[2J\n");
    r = cliprocess::runCli({"commission", bad});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains("column ip: \"\\x1b[2J\" must be") && !r.err.contains('\x1b'),
             r.err.constData());
}

QTEST_GUILESS_MAIN(CommissionTest)
#include "tst_commission.moc"

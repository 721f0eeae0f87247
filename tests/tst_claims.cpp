// The register's claims as two programs meet them: two ordan-cli processes
// started together (random offsets from a fixed seed) that want one
// address, one plan saved two ways, or one old module, on a SQLite file and
// on a PostgreSQL server of the test's own; the lease's floor; a server
// restarted between two rows; and "done already" as the register has it now.
#include "cliprocess.h"
#include "pgcluster.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <array>
#include <memory>

namespace
{

constexpr int rounds = 10;
// Every ordan-cli run here ends within this, or the test fails at once.
constexpr int runMs = 60000;

// The gateway of a module at `ip`: .254 of its /24.
QString gatewayOf(const QString &ip)
{
    return ip.section('.', 0, 2) + ".254";
}

// A plan of one row at `ip`, saved as a station might have it.
QByteArray planIn(const QString &form, const QString &ip)
{
    const QByteArray a = ip.toUtf8();
    const QByteArray g = gatewayOf(ip).toUtf8();
    if (form == "LF")
        return "port,ip,mask,gateway\n./port," + a + ",255.255.255.0," + g + "\n";
    if (form == "CRLF")
        return "port,ip,mask,gateway\r\n\"./port\"," + a + ",255.255.255.0," + g + "\r\n";
    if (form == "BOM")
        return "\xef\xbb\xbfport,ip,mask,gateway\n./port, " + a + " ,255.255.255.0," + g + "\n";
    // ";" as the separator, the columns in another order.
    return "gateway;mask;ip;port\r\n" + g + ";255.255.255.0;" + a + ";./port\r\n";
}

// One of the two: its folder (where ./port is its own module), its
// module, and its ordan-cli.
struct Side {
    QString dir;
    QString station;
    std::unique_ptr<cliprocess::Simulator> module;
    QProcess cli;
    cliprocess::Result result;

    void start(const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORDAN_STATION", station);
        cli.setProcessEnvironment(environment);
        cli.setWorkingDirectory(dir);
        cli.start(ORDAN_CLI_PATH, arguments);
    }
    QByteArray said() const { return result.out + result.err; }
};

std::unique_ptr<cliprocess::Simulator> moduleAt(const QString &dir, const QString &mac)
{
    QDir().mkpath(dir);
    return std::make_unique<cliprocess::Simulator>(
        QStringList{"--link", dir + "/port", "--mac", mac, "--restart-delay", "800"});
}

} // namespace

class TestClaims : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    pgcluster::Cluster postgres;
    bool postgresUp = false;

    // The register of a data row's kind; empty: skipped (no PostgreSQL).
    QString registerOf(const QString &kind) const
    {
        if (kind == "sqlite")
            return dir.filePath("register.sqlite");
        return postgresUp ? postgres.url() : QString();
    }
    static cliprocess::Result run(const QStringList &arguments, const QString &where = QString())
    {
        QProcess cli;
        if (!where.isEmpty())
            cli.setWorkingDirectory(where);
        cli.start(ORDAN_CLI_PATH, arguments);
        return cliprocess::finish(cli, runMs);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        postgresUp = postgres.start();
        if (!postgresUp && !postgres.missing())
            QFAIL(qPrintable(postgres.problem()));
        if (postgres.missing())
            qWarning("PostgreSQL tests skipped: %s", qPrintable(postgres.problem()));
    }

    void twoAtOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("command");
        for (const char *kind : {"sqlite", "postgresql"}) {
            for (const char *command : {"write", "commission", "replace"})
                QTest::addRow("%s, %s", command, kind) << kind << command;
        }
    }
    // Ten rounds of two processes started 0-300 ms apart that want the
    // same: never two modules at one address; the one that did not write
    // names the one that did and sent its module nothing.
    void twoAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(QString, command);
        const QString reg = registerOf(kind);
        if (reg.isEmpty())
            QSKIP("no PostgreSQL server (see the warning above)");
        const int scenario = command == "write" ? 1 : command == "commission" ? 2 : 3;
        QRandomGenerator random(20261210 + scenario);
        const QStringList forms{"LF", "CRLF", "BOM", ";"};
        for (int round = 0; round < rounds; ++round) {
            const QString tag = QStringLiteral("%1-%2-%3").arg(kind, command).arg(round);
            const QString ip =
                QStringLiteral("10.%1.%2.1").arg(scenario + (kind == "sqlite" ? 0 : 10)).arg(round);
            const QString macs = QStringLiteral("02:%1:00:%2:00:")
                                     .arg(scenario + (kind == "sqlite" ? 0 : 10), 2, 10, QChar('0'))
                                     .arg(round, 2, 10, QChar('0'));
            std::array<Side, 2> sides;
            QStringList arguments[2];
            QString old;
            if (command == "replace") {
                // The module to replace, verified at the address first.
                old = macs + "0F";
                const auto dying = moduleAt(dir.filePath(tag + "/old"), old);
                const cliprocess::Result first =
                    run({"write", "./port", "--ip", ip, "--mask", "255.255.255.0", "--gateway",
                         gatewayOf(ip), "--register", reg},
                        dir.filePath(tag + "/old"));
                QVERIFY2(first.exitCode == 0, first.err.constData());
            }
            for (int s = 0; s < 2; ++s) {
                Side &side = sides.at(size_t(s));
                side.dir = dir.filePath(tag + (s == 0 ? "/a" : "/b"));
                side.station = s == 0 ? "station-a" : "station-b";
                side.module = moduleAt(side.dir, macs + (s == 0 ? "0A" : "0B"));
                if (command == "write") {
                    arguments[s] =
                        QStringList{"write",  "./port",        "--ip",      ip,
                                    "--mask", "255.255.255.0", "--gateway", gatewayOf(ip)};
                } else if (command == "commission") {
                    // Two different savings of one plan.
                    const QString &form = forms.at((round + s * (1 + round % 3)) % 4);
                    QFile plan(side.dir + "/plan.csv");
                    QVERIFY(plan.open(QIODevice::WriteOnly));
                    plan.write(planIn(form, ip));
                    arguments[s] = QStringList{"commission", "plan.csv", "--swap-timeout", "20"};
                } else {
                    arguments[s] = QStringList{"replace", old, "--port", "./port"};
                }
                arguments[s] << "--register" << reg;
            }
            const int firstSide = int(random.bounded(2));
            const int offsetMs = int(random.bounded(301));
            sides.at(size_t(firstSide)).start(arguments[firstSide]);
            QThread::msleep(static_cast<unsigned long>(offsetMs));
            sides.at(size_t(1 - firstSide)).start(arguments[1 - firstSide]);
            for (Side &side : sides)
                side.result = cliprocess::finish(side.cli, runMs);

            const QString context =
                QStringLiteral("%1, side %2 first, %3 ms apart:\n%4\n--\n%5")
                    .arg(tag)
                    .arg(firstSide)
                    .arg(offsetMs)
                    .arg(QString::fromUtf8(sides[0].said()), QString::fromUtf8(sides[1].said()));
            int writer = -1;
            int writes = 0;
            for (int s = 0; s < 2; ++s) {
                const int n = int(sides.at(size_t(s)).module->commands().count("CHANGE IP:" + ip));
                writes += n;
                if (n > 0)
                    writer = s;
            }
            QVERIFY2(writes == 1 && writer >= 0, qPrintable(context));
            const Side &won = sides.at(size_t(writer));
            Side &lost = sides.at(size_t(1 - writer));
            QVERIFY2(won.result.exitCode == 0, qPrintable(context));
            QVERIFY2(lost.module->commands().isEmpty(), qPrintable(context));
            QVERIFY2(lost.said().contains(won.station.toUtf8()), qPrintable(context));
            if (command == "commission") {
                // The plan's row is the other station's: done already.
                QVERIFY2(lost.result.exitCode == 0 && lost.said().contains("done already"),
                         qPrintable(context));
            } else {
                QVERIFY2(
                    lost.result.exitCode == 7 &&
                        lost.result.err.contains(
                            (command == "write" ? " is claimed by " : " is being replaced by ") +
                            won.station.toUtf8() + " (process ") &&
                        lost.result.err.contains("nothing was written"),
                    qPrintable(context));
            }
            if (command == "replace") {
                const cliprocess::Result shown =
                    run({"register", "show", old, "--json", "--register", reg});
                QCOMPARE(QJsonDocument::fromJson(shown.out).object()["replaced_by"].toString(),
                         macs + (writer == 0 ? "0A" : "0B"));
            }
        }
    }

    void leaseFloor_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("refused");
        QTest::newRow("write, 50 ms")
            << QStringList{"write", "./none", "--ip", "10.1.0.1", "--claim-lease", "0.05"} << true;
        QTest::newRow("commission, 1.999 s")
            << QStringList{"commission", "plan.csv", "--claim-lease", "1.999"} << true;
        QTest::newRow("replace, 1 s")
            << QStringList{"replace", "02:00:00:00:00:01", "--port", "./none", "--claim-lease", "1"}
            << true;
        QTest::newRow("write, 2 s")
            << QStringList{"write", "./none", "--ip", "10.1.0.1", "--claim-lease", "2"} << false;
    }
    // A lease under 2 s would run out between two renewals: refused before
    // anything, as a usage error.
    void leaseFloor()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, refused);
        const QString here = dir.filePath("lease");
        QDir().mkpath(here);
        QFile plan(here + "/plan.csv");
        QVERIFY(plan.open(QIODevice::WriteOnly));
        plan.write(planIn("LF", "10.1.0.2"));
        plan.close();
        const cliprocess::Result r =
            run(arguments << "--register" << here + "/register.sqlite", here);
        QVERIFY2((r.exitCode == 2) == refused, r.err.constData());
        if (refused)
            QVERIFY2(r.err.contains("must be at least 2 seconds"), r.err.constData());
    }

    // A row that takes longer than its lease keeps its claim while it
    // runs (renewed every third of the lease): the other station, asking
    // again all the while, never takes it over.
    void leaseRenewedWhileTheRowRuns()
    {
        const QString here = dir.filePath("renewed");
        std::array<Side, 2> sides;
        for (int s = 0; s < 2; ++s) {
            Side &side = sides.at(size_t(s));
            side.dir = here + (s == 0 ? "/a" : "/b");
            side.station = s == 0 ? "station-a" : "station-b";
            QDir().mkpath(side.dir);
            side.module = std::make_unique<cliprocess::Simulator>(QStringList{
                "--link", side.dir + "/port", "--mac",
                s == 0 ? "02:50:00:00:00:0A" : "02:50:00:00:00:0B", "--restart-delay", "5000"});
            QFile plan(side.dir + "/plan.csv");
            QVERIFY(plan.open(QIODevice::WriteOnly));
            plan.write(planIn(s == 0 ? "LF" : "CRLF", "10.50.0.1"));
        }
        const QStringList arguments{"commission",     "plan.csv",
                                    "--claim-lease",  "2",
                                    "--register",     here + "/register.sqlite",
                                    "--swap-timeout", "30"};
        sides[0].start(arguments);
        QTRY_VERIFY_WITH_TIMEOUT(sides[0].module->commands().contains("CHANGE IP:10.50.0.1"),
                                 runMs);
        sides[1].start(arguments);
        for (Side &side : sides)
            side.result = cliprocess::finish(side.cli, runMs);
        QVERIFY2(sides[0].result.exitCode == 0 && sides[1].result.exitCode == 0 &&
                     sides[1].said().contains("done already: verified by station-a"),
                 (sides[0].said() + "\n--\n" + sides[1].said()).constData());
        QCOMPARE(sides[1].module->commands(), QStringList());
    }

    // The server restarted while a port waits for its next module: the
    // connection is made again before the next row, which is verified.
    void serverRestartedBetweenRows()
    {
        if (!postgresUp)
            QSKIP("no PostgreSQL server (see the warning above)");
        const QString here = dir.filePath("restart");
        QDir().mkpath(here);
        QFile plan(here + "/plan.csv");
        QVERIFY(plan.open(QIODevice::WriteOnly));
        plan.write("port,ip,mask,gateway\n./port,10.30.0.1,255.255.255.0,10.30.0.254\n"
                   "./port,10.30.0.2,255.255.255.0,10.30.0.254\n");
        plan.close();
        auto module = moduleAt(here, "02:30:00:00:00:01");
        QProcess cli;
        cli.setWorkingDirectory(here);
        cli.start(ORDAN_CLI_PATH, {"commission", "plan.csv", "--json", "--register", postgres.url(),
                                   "--swap-timeout", "60"});
        QByteArray err;
        QVERIFY(QTest::qWaitFor(
            [&] {
                err += cli.readAllStandardError();
                return err.contains("connect the next module to") ||
                       cli.state() == QProcess::NotRunning;
            },
            runMs));
        postgres.stop();
        QVERIFY(postgres.resume());
        module.reset();
        module = moduleAt(here, "02:30:00:00:00:02");
        const cliprocess::Result r = cliprocess::finish(cli, runMs);
        err += r.err;
        QVERIFY2(r.exitCode == 0, err.constData());
        QCOMPARE(QJsonDocument::fromJson(r.out).object()["verified"].toInt(), 2);
        QCOMPARE(module->commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.30.0.2"});
    }

    // A row done once and rewritten since (its module verified in another
    // plan with --rewrite) is not done already: commission, audit and
    // register site say the same.
    void doneAlreadyMeansNow()
    {
        const QString here = dir.filePath("stale");
        QDir().mkpath(here);
        const QString reg = here + "/register.sqlite";
        for (const char *name : {"mA", "mB"}) {
            QFile plan(here + "/" + name + ".csv");
            QVERIFY(plan.open(QIODevice::WriteOnly));
            plan.write(QByteArray("port,ip,mask,gateway\n./port,10.40.0.") +
                       (name == QLatin1String("mA") ? "91" : "92") +
                       ",255.255.255.0,10.40.0.254\n");
        }
        const auto module = moduleAt(here, "02:40:00:00:00:01");
        cliprocess::Result r = run({"commission", "mA.csv", "--register", reg}, here);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        r = run({"commission", "mB.csv", "--rewrite", "--register", reg}, here);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        r = run({"commission", "mA.csv", "--register", reg}, here);
        QVERIFY2(r.exitCode != 0 && !(r.out + r.err).contains("done already"),
                 (r.out + r.err).constData());
        r = run({"audit", "mA.csv", "--register", reg}, here);
        QVERIFY2(r.exitCode == 6, (r.out + r.err).constData());
        r = run({"register", "site", "mA.csv", "--register", reg}, here);
        QVERIFY2(r.exitCode != 0 && !r.out.contains("verified by"), r.out.constData());
        // Verified again as mA's row: done already, and said so by all.
        r = run({"commission", "mA.csv", "--rewrite", "--register", reg}, here);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        r = run({"commission", "mA.csv", "--register", reg}, here);
        QVERIFY2(r.exitCode == 0 && r.err.contains("done already"), r.err.constData());
        r = run({"register", "site", "mA.csv", "--register", reg}, here);
        QVERIFY2(r.exitCode == 0 && r.out.contains("verified by"), r.out.constData());
    }
};

QTEST_GUILESS_MAIN(TestClaims)
#include "tst_claims.moc"

// The site register: its API on a SQLite file and on a PostgreSQL server of
// the test's own (claims of two connections at once, a lease run out, the
// server gone), and ordan-cli register as a process.
#include "cliprocess.h"
#include "engine/register/claimbook.h"
#include "engine/register/registerfacts.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registerruns.h"
#include "engine/register/registerschema.h"
#include "engine/register/registerverdict.h"
#include "engine/register/siteregister.h"
#include "pgcluster.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

using namespace siteregister;

namespace
{

const QString macA = QStringLiteral("02:00:00:00:00:0A");
const QString macB = QStringLiteral("02:00:00:00:00:0B");

// A module's values read back after a row's write.
parameters::Values module(const QString &mac, const QString &ip)
{
    return {{ModuleField::Name, QStringLiteral("Ordan")},
            {ModuleField::Mac, mac},
            {ModuleField::Ip, ip},
            {ModuleField::Mask, QStringLiteral("255.255.255.0")},
            {ModuleField::PortTcp, QStringLiteral("10001")}};
}

RowEntry row(int planRow, const QString &mac, const QString &ip, const QString &result,
             const QString &time = QString())
{
    RowEntry r;
    r.time = time;
    r.planRow = planRow;
    r.port = QStringLiteral("/dev/ttyUSB%1").arg(planRow);
    r.planned = {{ModuleField::Ip, ip}, {ModuleField::PortTcp, QStringLiteral("10001")}};
    r.values = module(mac, ip);
    r.result = result;
    return r;
}

Location location(const QString &text)
{
    Location where;
    QString error;
    if (!parseLocation(text, &where, &error))
        qWarning() << error;
    return where;
}

QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return file.fileName();
}

const QByteArray header = "time,port,name,version,mac,ip,mask,gateway,tcp_port,parity,speed,"
                          "stop_bits,packet_timeout,result";

// The addresses written to a simulated module ("CHANGE IP:10.0.0.1").
QStringList writes(cliprocess::Simulator &sim)
{
    return sim.commands().filter("CHANGE IP:");
}

// Waits (events, not a sleep) until the simulator has been sent `command`.
bool awaitCommand(cliprocess::Simulator &sim, const QString &command)
{
    QElapsedTimer clock;
    clock.start();
    while (!sim.commands().contains(command) && clock.elapsed() < 30000)
        sim.process.waitForReadyRead(100);
    return sim.commands().contains(command);
}

// A station: ordan-cli commission run in a folder of its own, where the
// plan's port "./bench" is its own adapter, and the technician who puts
// the next module of its pile on it whenever it asks.
struct Station {
    QString dir;
    QStringList pile; // MACs, the first plugged in before the start
    QStringList extra;
    std::vector<std::unique_ptr<cliprocess::Simulator>> sims;
    QProcess cli;
    QByteArray err;
    int scanned = 0;

    ~Station()
    {
        QObject::disconnect(&cli, nullptr, nullptr, nullptr);
        cli.kill();
        cli.waitForFinished();
    }
    void plugNext()
    {
        if (!sims.empty())
            sims.back()->stop();
        if (sims.size() < size_t(pile.size()))
            sims.push_back(std::make_unique<cliprocess::Simulator>(
                QStringList{"--link", dir + "/bench", "--mac", pile.at(int(sims.size()))} + extra));
    }
    void start(const QString &name, const QStringList &arguments)
    {
        QDir().mkpath(dir);
        plugNext();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORDAN_STATION", name);
        cli.setProcessEnvironment(environment);
        cli.setWorkingDirectory(dir);
        // Each whole line that asks for the next module: the next one.
        QObject::connect(&cli, &QProcess::readyReadStandardError, [this] {
            err += cli.readAllStandardError();
            int end;
            while ((end = err.indexOf('\n', scanned)) >= 0) {
                if (err.mid(scanned, end - scanned).startsWith("connect the next module to"))
                    plugNext();
                scanned = end + 1;
            }
        });
        cli.start(ORDAN_CLI_PATH, arguments);
    }
    QStringList written()
    {
        QStringList all;
        for (const auto &sim : sims)
            all += writes(*sim);
        return all;
    }
};

} // namespace

class TestRegister : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    pgcluster::Cluster postgres;
    bool postgresUp = false;
    QString sqliteFile() const { return dir.filePath(QStringLiteral("register.sqlite")); }
    // The register of the data row's "kind": a fresh SQLite file, or the
    // test's PostgreSQL database (skipped without PostgreSQL).
    QString registerOf(const QString &kind)
    {
        static int files = 0;
        if (kind == QLatin1String("sqlite"))
            return dir.filePath(QStringLiteral("claims%1.sqlite").arg(++files));
        if (!postgresUp)
            return QString();
        return postgres.url();
    }
    cliprocess::Result cli(QStringList arguments)
    {
        return cliprocess::runCli(arguments << QStringLiteral("--register")
                                            << dir.filePath(QStringLiteral("records.sqlite")));
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

    void locations_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // empty: refused
        QTest::addColumn<QString>("reason");
        QTest::newRow("socket folder") << "postgresql://ordan@%2Frun%2Fpostgresql/site"
                                       << "postgresql://ordan@%2Frun%2Fpostgresql/site"
                                       << "";
        QTest::newRow("socket and port") << "postgres://ordan@%2frun%2Fpg:5433/site"
                                         << "postgresql://ordan@%2Frun%2Fpg:5433/site"
                                         << "";
        QTest::newRow("host and port") << "postgresql://team@db.site:5432/register"
                                       << "postgresql://team@db.site:5432/register"
                                       << "";
        QTest::newRow("options never shown")
            << "postgresql://team@10.1.2.3/r?sslmode=verify-full&connect_timeout=5&"
               "application_name=s3cret&target_session_attrs=read-write"
            << "postgresql://team@10.1.2.3/r"
            << "";
        QTest::newRow("ipv6") << "postgresql://team@[fd00::5]:5433/r"
                              << "postgresql://team@[fd00::5]:5433/r"
                              << "";
        QTest::newRow("sqlite") << "sqlite:/data/r.sqlite"
                                << "/data/r.sqlite"
                                << "";
        QTest::newRow("file") << "r.sqlite"
                              << "r.sqlite"
                              << "";
        QTest::newRow("password") << "postgresql://team:s3cret@db/register"
                                  << ""
                                  << "postgresql://team@.../...: it carries a password";
        QTest::newRow("password option") << "postgresql://team@db/register?password=s3cret"
                                         << ""
                                         << "postgresql://team@db/register: its query holds a "
                                            "password option";
        QTest::newRow("no database") << "postgresql://team@db"
                                     << ""
                                     << "name the database";
        QTest::newRow("no user") << "postgresql://db:5432/register"
                                 << ""
                                 << "postgresql://...@.../...: name the user";
        QTest::newRow("port 0502") << "postgresql://team@127.0.0.1:0502/db"
                                   << ""
                                   << "\"0502\" is not a TCP port";
        QTest::newRow("no name to look up") << "postgresql://team@300.1.1.1:5432/db"
                                            << ""
                                            << "\"300.1.1.1\" is not an IPv4 address";
        QTest::newRow("other scheme") << "mysql://team@db/register"
                                      << ""
                                      << "sqlite:FILE";
        QTest::newRow("unknown option") << "postgresql://team@db/r?user=x"
                                        << ""
                                        << "\"user\" is not one";
        QTest::newRow("old socket option") << "postgresql://team@db/r?host=/run/postgresql"
                                           << ""
                                           << "written %2Frun%2Fpostgresql";
        QTest::newRow("bad sslmode") << "postgresql://team@db/r?sslmode=s3cret"
                                     << ""
                                     << "sslmode is disable";
    }
    void locations()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, reason);
        Location where;
        QString error;
        QCOMPARE(parseLocation(text, &where, &error), !shown.isEmpty());
        if (shown.isEmpty()) {
            QVERIFY2(error.contains(reason), qPrintable(error));
            QVERIFY2(!error.contains(QLatin1String("s3cret")), qPrintable(error));
        } else {
            QCOMPARE(where.shown(), shown);
        }
    }

    // What a run asks before it writes a module, after rows of its own and
    // of an older record.
    void modulesAndAddresses()
    {
        SiteRegister reg;
        QString error;
        QVERIFY2(reg.open(location(sqliteFile()), &error), qPrintable(error));
        RegisterRuns runs(reg);
        RegisterLookup lookup(reg);
        const qint64 run = runs.beginRun(RunInfo::here(QStringLiteral("ordan-cli commission"),
                                                       QStringLiteral("/p/site.csv"), "rows:site"),
                                         &error);
        QVERIFY2(run > 0, qPrintable(error));
        const QString lastYear = timeText(QDateTime::currentMSecsSinceEpoch() - 400 * 86400000LL);
        QVERIFY(runs.recordRow(run, row(3, macA, "10.70.0.82", "verified"), &error));
        QVERIFY(runs.recordRow(run, row(4, macA, "10.70.0.99", "failed: refused"), &error));
        QVERIFY(runs.recordRow(run, row(5, macB, "10.70.0.90", "verified", lastYear), &error));
        RewriteNote note;
        QVERIFY(lookup.findModule(macA, &note.was, &error));
        QVERIFY(runs.noteRewrite(run, 4, macA, note, &error));
        QVERIFY2(runs.endRun(run, &error), qPrintable(error));

        ModuleEntry a;
        QVERIFY(lookup.findModule(macA.toLower(), &a, &error));
        QVERIFY(a.known() && a.verified());
        QCOMPARE(a.values.value(ModuleField::Ip), QStringLiteral("10.70.0.82"));
        QCOMPARE(a.planRow, 3);
        QCOMPARE(judgeModule(a, row(3, macA, "10.70.0.82", "").planned), ModuleVerdict::HoldsRow);
        QCOMPARE(judgeModule(a, row(7, macA, "10.70.0.87", "").planned),
                 ModuleVerdict::VerifiedElsewhere);
        QVERIFY2(alreadyVerifiedText(a).startsWith(
                     QLatin1String("this module, 02:00:00:00:00:0A, is already verified as "
                                   "10.70.0.82 (row 3 of site.csv, ")),
                 qPrintable(alreadyVerifiedText(a)));
        ModuleEntry unknown;
        QVERIFY(lookup.findModule(QStringLiteral("02:00:00:00:00:FF"), &unknown, &error));
        QCOMPARE(judgeModule(unknown, a.values), ModuleVerdict::Unknown);

        QList<ModuleEntry> holders;
        QVERIFY(lookup.addressHolders("10.70.0.82", macB, 365, &holders, &error));
        QCOMPARE(holders.size(), 1);
        QVERIFY(lookup.addressHolders("10.70.0.82", macA, 365, &holders, &error));
        QVERIFY(holders.isEmpty());
        // Beyond the address memory, an address is free again.
        QVERIFY(lookup.addressHolders("10.70.0.90", macA, 365, &holders, &error));
        QVERIFY(holders.isEmpty());
        QVERIFY(lookup.addressHolders("10.70.0.90", macA, 500, &holders, &error));
        QCOMPARE(holders.size(), 1);

        QList<HistoryEntry> history;
        QVERIFY(lookup.history(macA, &history, &error));
        QCOMPARE(history.size(), 3);
        QVERIFY(history.at(0).verified && !history.at(1).verified);
        QVERIFY(history.at(2).rewrite);
        QVERIFY2(
            noteWords(history.at(2).previous)
                .startsWith(QLatin1String("it was verified as 10.70.0.82 (row 3 of site.csv, ")),
            qPrintable(noteWords(history.at(2).previous)));
    }

    // A register whose tables' version this program cannot take is refused
    // with the reason.
    void versionRefused_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("reason");
        QTest::newRow("newer") << "99"
                               << QStringLiteral("has the version 99 of its tables, newer than "
                                                 "this program knows (%1)")
                                      .arg(schemaVersion);
        QTest::newRow("far newer") << "999999999999"
                                   << QStringLiteral("has the version 999999999999 of its tables, "
                                                     "newer than this program knows (%1)")
                                          .arg(schemaVersion);
        QTest::newRow("damaged") << "-3"
                                 << "is damaged: \"-3\" is not a version of its tables";
    }
    void versionRefused()
    {
        QFETCH(QString, stored);
        QFETCH(QString, reason);
        const QString file = dir.filePath(QTest::currentDataTag() + QStringLiteral(".sqlite"));
        {
            SiteRegister reg;
            QString error;
            QVERIFY2(reg.open(location(file), &error), qPrintable(error));
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "version");
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("UPDATE register_meta SET value = '" + stored +
                                       "' WHERE key = 'schema_version'"));
        }
        QSqlDatabase::removeDatabase("version");
        SiteRegister reg;
        QString error;
        QVERIFY(!reg.open(location(file), &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        const cliprocess::Result r = cliprocess::runCli(
            {"register", "show", macA, "--register", QStringLiteral("sqlite:") + file});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
    }

    void claims_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }
    // One station's claim, another's lease taken over, a done row; an
    // address another run holds, and a replaced module's one successor.
    void claims()
    {
        QFETCH(QString, kind);
        const QString where = registerOf(kind);
        if (where.isEmpty())
            QSKIP("no PostgreSQL server (see the warning above)");
        SiteRegister one;
        SiteRegister two;
        QString error;
        QVERIFY2(one.open(location(where), &error) && two.open(location(where), &error),
                 qPrintable(error));
        RunInfo info = RunInfo::here("ordan-cli commission", "/p/site.csv", "rows:claims" + kind);
        info.station = "station-1";
        const qint64 first = RegisterRuns(one).beginRun(info, &error);
        info.station = "station-2";
        const qint64 second = RegisterRuns(two).beginRun(info, &error);
        QVERIFY2(first && second, qPrintable(error));
        // Row 2 of the plan, at 10.9.0.2, as each station asks for it.
        const auto ask = [&info](qint64 run, int leaseMs, bool again = false) {
            ClaimRequest request;
            request.run = run;
            request.planHash = info.planHash;
            request.planRow = 2;
            request.port = "/dev/ttyUSB0";
            request.planned = {{ModuleField::Ip, "10.9.0.2"}};
            request.leaseMs = leaseMs;
            request.again = again;
            return request;
        };
        using S = ClaimEntry::State;
        QCOMPARE(ClaimBook(one).claim(ask(first, 300), &error).state, S::Claimed);
        const ClaimEntry held = ClaimBook(two).claim(ask(second, 60000), &error);
        QCOMPARE(held.state, S::HeldByOther);
        QCOMPARE(held.station, QStringLiteral("station-1"));
        // Station 1 stops renewing: its lease runs out and station 2 takes
        // the row over; station 1 learns it at its next renewal.
        ClaimEntry taken;
        QElapsedTimer clock;
        clock.start();
        while ((taken = ClaimBook(two).claim(ask(second, 60000), &error)).state == S::HeldByOther &&
               clock.elapsed() < 10000)
            QTest::qWait(50);
        QCOMPARE(taken.state, S::TakenOver);
        QCOMPARE(taken.previousStation, QStringLiteral("station-1"));
        bool takenOver = false;
        QVERIFY(!ClaimBook(one).renew(ask(first, 300), &error, &takenOver));
        QVERIFY2(takenOver && error.contains("taken over by station-2"), qPrintable(error));
        QVERIFY2(ClaimBook(two).renew(ask(second, 60000), &error, &takenOver), qPrintable(error));
        // Another run's row at the same address, while station 2 holds it:
        // refused, the holder named.
        ClaimRequest other = ask(second, 60000);
        other.planHash = "rows:another plan" + kind;
        other.run = RegisterRuns(one).beginRun(RunInfo::here("ordan-cli write"), &error);
        const ClaimEntry blocked = ClaimBook(one).claim(other, &error);
        QCOMPARE(blocked.state, S::Blocked);
        QVERIFY2(
            claimBlockedText(blocked).startsWith("10.9.0.2 is claimed by station-2 (process ") &&
                claimBlockedText(blocked).contains(", row 2 of site.csv) since "),
            qPrintable(claimBlockedText(blocked)));
        // Verified: the row is done now, and the address the module's.
        RowEntry done = row(2, macA, "10.9.0.2", "verified");
        done.planned = {{ModuleField::Ip, "10.9.0.2"}};
        const ClaimRequest own = ask(second, 60000);
        QVERIFY2(RegisterRuns(two).recordRow(second, done, &error, &own), qPrintable(error));
        const ClaimEntry doneNow = ClaimBook(one).claim(ask(first, 300), &error);
        QCOMPARE(doneNow.state, S::Done);
        QCOMPARE(doneNow.mac, macA);
        QCOMPARE(ClaimBook(one).claim(other, &error).state, S::Claimed);
        QVERIFY(ClaimBook(one).release(other, &error));
        QCOMPARE(ClaimBook(one).claim(ask(first, 300, true), &error).state, S::Claimed);
        QVERIFY(ClaimBook(one).release(ask(first, 300), &error));
        // Rewritten since (noted, the write not verified): done no more.
        RewriteNote note;
        QVERIFY(RegisterLookup(one).findModule(macA, &note.was, &error));
        QVERIFY(RegisterRuns(one).noteRewrite(first, 2, macA, note, &error));
        QCOMPARE(ClaimBook(two).claim(ask(second, 300), &error).state, S::Claimed);
        QVERIFY(ClaimBook(two).release(ask(second, 300), &error));
        // A module replaced has one successor.
        ClaimRequest replacement;
        replacement.run = second;
        replacement.replaces = macA;
        replacement.port = "/dev/ttyUSB1";
        replacement.leaseMs = 60000;
        QCOMPARE(ClaimBook(two).claim(replacement, &error).state, S::Claimed);
        replacement.run = first;
        const ClaimEntry second2 = ClaimBook(one).claim(replacement, &error);
        QCOMPARE(second2.state, S::Blocked);
        QVERIFY2(claimBlockedText(second2).startsWith(macA + " is being replaced by station-2"),
                 qPrintable(claimBlockedText(second2)));
    }

    void claimsAtOnce_data() { claims_data(); }
    // Two connections claim every row of an 8-row plan at the same time:
    // each row is claimed exactly once.
    void claimsAtOnce()
    {
        QFETCH(QString, kind);
        const QString where = registerOf(kind);
        if (where.isEmpty())
            QSKIP("no PostgreSQL server (see the warning above)");
        const QString plan = "rows:at once " + kind;
        QList<int> won[2];
        QString errors[2];
        std::unique_ptr<QThread> stations[2];
        for (int s = 0; s < 2; ++s) {
            stations[s].reset(QThread::create([&, s] {
                SiteRegister reg;
                if (!reg.open(location(where), &errors[s])) {
                    errors[s].prepend("open ");
                    return;
                }
                const qint64 run = RegisterRuns(reg).beginRun(RunInfo::here("station"), &errors[s]);
                if (!errors[s].isEmpty())
                    errors[s].prepend("beginRun ");
                for (int r = 2; r <= 9; ++r) {
                    ClaimRequest request;
                    request.run = run;
                    request.planHash = plan;
                    request.planRow = r;
                    request.leaseMs = 60000;
                    const ClaimEntry c = ClaimBook(reg).claim(request, &errors[s]);
                    if (c.state == ClaimEntry::State::Claimed)
                        won[s] << r;
                    else if (c.state != ClaimEntry::State::HeldByOther)
                        return;
                }
            }));
        }
        for (auto &station : stations)
            station->start();
        for (auto &station : stations)
            QVERIFY(station->wait(60000));
        QVERIFY2(errors[0].isEmpty() && errors[1].isEmpty(), qPrintable(errors[0] + errors[1]));
        QList<int> all = won[0] + won[1];
        std::sort(all.begin(), all.end());
        QCOMPARE(all, (QList<int>{2, 3, 4, 5, 6, 7, 8, 9}));
    }

    void postgresUnreachable()
    {
        if (!postgresUp)
            QSKIP("no PostgreSQL server (see the warning above)");
        SiteRegister reg;
        QString error;
        const QString nothing = QString(postgres.url()).replace("/register", "/nothing");
        QVERIFY(!reg.open(location(nothing), &error));
        QVERIFY2(error.contains("cannot open the register " + nothing) &&
                     error.contains("\"nothing\" does not exist"),
                 qPrintable(error));
    }

    // The server stopped while a run has the register open: the next write
    // fails with its reason.
    void postgresStoppedMidUse()
    {
        if (!postgresUp)
            QSKIP("no PostgreSQL server (see the warning above)");
        SiteRegister reg;
        QString error;
        QVERIFY2(reg.open(location(postgres.url()), &error), qPrintable(error));
        const qint64 run = RegisterRuns(reg).beginRun(RunInfo::here("ordan-cli write"), &error);
        QVERIFY(RegisterRuns(reg).recordRow(run, row(1, macB, "10.70.0.91", "verified"), &error));
        postgres.stop();
        QVERIFY(!RegisterRuns(reg).recordRow(run, row(2, macB, "10.70.0.92", "verified"), &error));
        QVERIFY2(error.startsWith(QStringLiteral("the register ") + postgres.url()) &&
                     error.size() > postgres.url().size() + 16,
                 qPrintable(error));
        QVERIFY(postgres.resume());
        ModuleEntry b;
        QVERIFY(reg.open(location(postgres.url()), &error));
        QVERIFY(RegisterLookup(reg).findModule(macB, &b, &error));
        QCOMPARE(b.values.value(ModuleField::Ip), QStringLiteral("10.70.0.91"));
    }

    // Three records backfilled, twice: the second import adds nothing;
    // then what ordan-cli register shows of them.
    void importAndShow()
    {
        const QString old = write(
            dir, "old.csv",
            header +
                "\r\n"
                "2026-01-10T09:00:00.000+03:00,/dev/ttyUSB0,Ordan,1.2," +
                macA.toUtf8() +
                ",10.70.0.81,255.255.255.0,10.70.0.1,10001,none,9600,1,50,verified\r\n"
                "2026-01-10T09:05:00.000+03:00,/dev/ttyUSB0,'=cmd,1.2," +
                macB.toUtf8() +
                ",10.70.0.82,255.255.255.0,10.70.0.1,10001,none,9600,1,50,failed: refused\r\n");
        const QString later =
            write(dir, "later.csv",
                  header +
                      ",row,planned\r\n"
                      "2026-02-01T10:00:00.000+03:00,/dev/ttyUSB1,Ordan,1.2," +
                      macA.toUtf8() +
                      ",10.70.0.83,255.255.255.0,10.70.0.1,10001,none,9600,1,50,verified,3,"
                      "ip=10.70.0.83;tcp_port=10001\r\n");
        const QString audit =
            write(dir, "audit.csv",
                  header +
                      ",row,planned\r\n"
                      "2026-03-01T10:00:00.000+03:00,/dev/ttyUSB1,Ordan,1.2," +
                      macB.toUtf8() +
                      ",10.70.0.84,255.255.255.0,10.70.0.1,10001,none,9600,1,50,matches,4,"
                      "ip=10.70.0.84\r\n");
        const QString plan = write(dir, "site.csv",
                                   "port,ip,tcp_port\r\n/dev/ttyUSB1,10.70.0.83,"
                                   "10001\r\n/dev/ttyUSB1,10.70.0.84,10002\r\n"
                                   "/dev/ttyUSB1,10.70.0.85,10001\r\n");
        const QStringList records{old, later, audit};
        cliprocess::Result r = cli(QStringList{"register", "import", "--json"} + records);
        QCOMPARE(r.exitCode, 0);
        QList<int> added;
        for (const QJsonValue v : QJsonDocument::fromJson(r.out).array())
            added << v["added"].toInt();
        QCOMPARE(added, (QList<int>{2, 1, 1}));
        r = cli(QStringList{"register", "import", "--json"} + records);
        added.clear();
        for (const QJsonValue v : QJsonDocument::fromJson(r.out).array())
            added << v["added"].toInt();
        QCOMPARE(added, (QList<int>{0, 0, 0}));
        // Not a record: nothing of the files is taken.
        r = cli({"register", "import", old, plan});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("no time, mac, result"), r.err.constData());

        r = cli({"register", "show", macA.toLower(), "--json"});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject a = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(a["values"]["ip"].toString(), QStringLiteral("10.70.0.83"));
        QCOMPARE(a["verified"]["row"].toInt(), 3);
        QCOMPARE(a["first_seen"].toString(), QStringLiteral("2026-01-10T09:00:00.000+03:00"));
        r = cli({"register", "show", "10.70.0.84"});
        QVERIFY2(r.out.startsWith("module " + macB.toUtf8()) && r.out.contains("Ordan"),
                 r.out.constData());
        r = cli({"register", "history", macB});
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(1).contains("failed: refused") && lines.at(2).contains("matches"));
        r = cli({"register", "site", plan});
        QCOMPARE(r.exitCode, 6);
        QVERIFY2(r.out.contains("verified by") && r.out.contains("differs: tcp_port") &&
                     r.out.contains("never verified"),
                 r.out.constData());
        r = cli({"register", "export", "--csv"});
        QCOMPARE(r.out.count('\n'), 3);
        QCOMPARE(cli({"register", "show", "02:00:00:00:00:FF"}).exitCode, 4);
        r = cli({"register", "show", "10.70.0.84", "--no-register"});
        QCOMPARE(r.exitCode, 2);
        // A password is refused before anything, the trace included, sees it.
        const QString trace = dir.filePath("trace.log");
        r = cliprocess::runCli({"register", "show", macA, "--log", trace, "--register",
                                "postgresql://team:s3cret@db/register"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("postgresql://team@.../...: it carries a password") &&
                     !r.err.contains("s3cret") && !QFile::exists(trace),
                 r.err.constData());
    }

    // ordan-cli commission, write and replace consult the register (a
    // SQLite file): two modules commissioned from a plan, then a second
    // command and what it may write.
    void runsConsultTheRegister_data()
    {
        QTest::addColumn<QString>("plan");    // the second run's addresses
        QTest::addColumn<QString>("command"); // commission, --rewrite, replace
        QTest::addColumn<bool>("newModule");  // a new module, C, on A's port
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");       // on stdout or stderr
        QTest::addColumn<QStringList>("writes"); // CHANGE IP sent meanwhile, A's then B's then C's
        QTest::newRow("a second run of one plan writes nothing")
            << "10.0.0.1,10.0.0.2"
            << "commission" << false << 0 << "row 2 done already: verified by" << QStringList();
        QTest::newRow("the modules swapped stop their rows")
            << "10.0.0.2,10.0.0.1"
            << "commission" << false << 7
            << "this module, 02:00:00:00:00:0A, is already verified as 10.0.0.1 (row 2 of "
               "plan1.csv, station-1, "
            << QStringList();
        QTest::newRow("--rewrite writes them, noted")
            << "10.0.0.2,10.0.0.1"
            << "--rewrite" << false << 0 << "rewritten: it was verified as 10.0.0.1"
            << QStringList{"CHANGE IP:10.0.0.2", "CHANGE IP:10.0.0.1"};
        QTest::newRow("the same values in another plan: read, not rewritten")
            << "10.0.0.1"
            << "commission" << false << 0 << "not rewritten: it already held the planned values"
            << QStringList();
        QTest::newRow("an address doubled across runs")
            << "10.0.0.2"
            << "commission" << true << 7
            << "10.0.0.2 is held by 02:00:00:00:00:0B, verified as 10.0.0.2" << QStringList();
        QTest::newRow("replace puts the old values on a new module")
            << ""
            << "replace" << true << 0 << "02:00:00:00:00:0C replaces 02:00:00:00:00:0A"
            << QStringList{"CHANGE IP:10.0.0.1"};
    }
    void runsConsultTheRegister()
    {
        QFETCH(QString, plan);
        QFETCH(QString, command);
        QFETCH(bool, newModule);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(QStringList, writes);
        QTemporaryDir work;
        const QString reg = work.filePath("register.sqlite");
        const QString ttyA = work.filePath("ttyA"), ttyB = work.filePath("ttyB");
        auto a = std::make_unique<cliprocess::Simulator>(
            QStringList{"--link", ttyA, "--mac", "02:00:00:00:00:0A"});
        cliprocess::Simulator b({"--link", ttyB, "--mac", "02:00:00:00:00:0B"});
        const QString plan1 = write(work, "plan1.csv",
                                    "port,ip,gateway\n" + ttyA.toUtf8() + ",10.0.0.1,10.0.0.254\n" +
                                        ttyB.toUtf8() + ",10.0.0.2,10.0.0.254\n");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORDAN_STATION", "station-1");
        environment.insert("ORDAN_REGISTER", reg);
        const auto run = [&environment](const QStringList &arguments) {
            QProcess cli;
            cli.setProcessEnvironment(environment);
            cli.start(ORDAN_CLI_PATH, arguments);
            return cliprocess::finish(cli);
        };
        cliprocess::Result r = run({"commission", plan1});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const int sentA = ::writes(*a).size(), sentB = ::writes(b).size();
        std::unique_ptr<cliprocess::Simulator> c;
        if (newModule) {
            a->stop();
            c = std::make_unique<cliprocess::Simulator>(
                QStringList{"--link", command == "replace" ? work.filePath("ttyC") : ttyA, "--mac",
                            "02:00:00:00:00:0C"});
        }
        // The second plan: its addresses on A's and B's ports in turn (the
        // first plan's own: the same file).
        QByteArray csv = "port,ip,gateway\n";
        const QStringList addresses = plan.split(',', Qt::SkipEmptyParts);
        for (int i = 0; i < addresses.size(); ++i)
            csv +=
                (i == 0 ? ttyA : ttyB).toUtf8() + "," + addresses.at(i).toUtf8() + ",10.0.0.254\n";
        const QString plan2 = plan == "10.0.0.1,10.0.0.2" ? plan1 : write(work, "plan2.csv", csv);
        if (command == "replace")
            r = run({"replace", "02:00:00:00:00:0A", "--port", work.filePath("ttyC")});
        else
            r = run(QStringList{"commission", plan2} +
                    (command == "--rewrite" ? QStringList{"--rewrite"} : QStringList()));
        QVERIFY2(r.exitCode == exitCode, (r.out + r.err).constData());
        QVERIFY2((r.out + r.err).contains(said.toUtf8()), (r.out + r.err).constData());
        QStringList sent = ::writes(*a).mid(sentA) + ::writes(b).mid(sentB);
        if (c)
            sent += ::writes(*c);
        QCOMPARE(sent, writes);
        if (command == "--rewrite") {
            r = run({"register", "history", "02:00:00:00:00:0A"});
            QVERIFY2(r.out.contains("rewritten: it was verified as 10.0.0.1"), r.out.constData());
        }
        if (command == "replace") {
            r = run({"register", "show", "02:00:00:00:00:0A"});
            QVERIFY2(r.out.contains("replaced by     02:00:00:00:00:0C"), r.out.constData());
            r = run({"register", "site", plan1});
            QVERIFY2(r.exitCode == 0 && r.out.contains("on 02:00:00:00:00:0C"), r.out.constData());
        }
    }

    // A register whose disk fills while a row is in hand: the row fails
    // with the reason, the record says so, and nothing of it is reported
    // verified. A small file system of its own in a mount namespace.
    void commissionOnAFullDisk()
    {
        QProcess probe;
        probe.start("unshare", {"-m", "-r", "true"});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("no mount namespace can be made here (unshare -m)");
        QTemporaryDir work;
        const QString tty = work.filePath("tty");
        cliprocess::Simulator sim(
            {"--link", tty, "--mac", "02:00:00:00:00:0D", "--restart-delay", "1500"});
        const QString plan =
            write(work, "plan.csv", "port,ip,gateway\n" + tty.toUtf8() + ",10.0.0.7,10.0.0.254\n");
        const QString disk = work.filePath("disk");
        QDir().mkpath(disk);
        // The run starts with room; once the module has its address the
        // disk is filled (the sim's trace file tells when).
        const QString script = QStringLiteral(R"(set -e; mount -t tmpfs -o size=512k tmpfs "$1"
ORDAN_REGISTER="$1/r.sqlite" "$2" commission "$3" --json --record "$4/record.csv" \
    >"$4/out.json" 2>"$4/err.txt" &
cli=$!
for i in $(seq 600); do [ -e "$4/changed" ] && break; sleep 0.05; done
dd if=/dev/zero of="$1/filler" bs=4k 2>/dev/null || true
set +e; wait $cli; echo "exit $?" >&2)");
        QProcess shell;
        shell.start("unshare", {"-m", "-r", "sh", "-c", script, "sh", disk, ORDAN_CLI_PATH, plan,
                                work.path()});
        QVERIFY(awaitCommand(sim, "CHANGE IP:10.0.0.7"));
        QFile(work.filePath("changed")).open(QIODevice::WriteOnly);
        const cliprocess::Result r = cliprocess::finish(shell);
        QFile out(work.filePath("out.json")), err(work.filePath("err.txt"));
        QVERIFY(out.open(QIODevice::ReadOnly) && err.open(QIODevice::ReadOnly));
        const QByteArray said = err.readAll();
        QVERIFY2(r.err.contains("exit 3") && said.contains("disk is full"),
                 (r.err + said).constData());
        const QJsonObject row =
            QJsonDocument::fromJson(out.readAll()).object()["rows"].toArray().first().toObject();
        QCOMPARE(row["status"].toString(), QStringLiteral("failed"));
        QCOMPARE(row["registered"].toBool(true), false);
        const QList<cliprocess::RecordRow> record =
            cliprocess::recordOf(work.filePath("record.csv"));
        QCOMPARE(record.size(), 1);
        QCOMPARE(record.first()["result"], QStringLiteral("verified, not in the register"));
    }

    // Two stations run one 8-row plan at once, each with its own adapter
    // and a pile of 4 modules: every row is written exactly once, and both
    // end with the whole plan verified.
    void twoStationsOnePlan()
    {
        if (!postgresUp)
            QSKIP("no PostgreSQL server (see the warning above)");
        QTemporaryDir work;
        QByteArray csv = "port,ip,gateway\n                         ";
        for (int i = 1; i <= 8; ++i)
            csv += "./bench,10.0.1." + QByteArray::number(i) +
                   ",10.0.1.254\n                                                ";
        const QString plan = write(work, "plan.csv", csv);
        Station stations[2];
        for (int s = 0; s < 2; ++s) {
            stations[s].dir = work.filePath(QStringLiteral("station%1").arg(s + 1));
            for (int m = 0; m < 4; ++m)
                stations[s].pile << QStringLiteral("02:00:00:00:0%1:0%2").arg(s + 1).arg(m);
        }
        for (int s = 0; s < 2; ++s)
            stations[s].start(QStringLiteral("station-%1").arg(s + 1),
                              {"commission", plan, "--json", "--register", postgres.url()});
        QStringList all;
        cliprocess::Result r[2];
        // Both technicians at work until both stations end.
        QVERIFY(QTest::qWaitFor(
            [&stations] {
                return stations[0].cli.state() == QProcess::NotRunning &&
                       stations[1].cli.state() == QProcess::NotRunning;
            },
            180000));
        for (int s = 0; s < 2; ++s)
            r[s] = cliprocess::finish(stations[s].cli, 0);
        for (int s = 0; s < 2; ++s) {
            Station &station = stations[s];
            QVERIFY2(r[s].exitCode == 0,
                     (stations[0].err + "\n--\n" + stations[1].err).constData());
            QCOMPARE(QJsonDocument::fromJson(r[s].out).object()["failed"].toInt(), 0);
            all += station.written();
        }
        all.sort();
        QStringList expected;
        for (int i = 1; i <= 8; ++i)
            expected << QStringLiteral("CHANGE IP:10.0.1.%1").arg(i);
        expected.sort();
        QCOMPARE(all, expected);
    }

    // A station killed in the middle of a row: the other one takes the
    // row over once the claim's lease has run out, and writes it.
    void stationKilledMidRow()
    {
        if (!postgresUp)
            QSKIP("no PostgreSQL server (see the warning above)");
        QTemporaryDir work;
        const QString plan = write(work, "plan.csv",
                                   "port,ip,gateway\n./bench,10.0.2.1,10.0.2.254\n"
                                   "./bench,10.0.2.2,10.0.2.254\n");
        const QStringList arguments{"commission", plan,         "--json",      "--claim-lease",
                                    "2",          "--register", postgres.url()};
        Station dying;
        dying.dir = work.filePath("dying");
        dying.pile << "02:00:00:00:0A:01";
        dying.extra << "--restart-delay"
                    << "4000";
        dying.start("station-a", arguments);
        QVERIFY(awaitCommand(*dying.sims.front(), "CHANGE IP:10.0.2.1"));
        dying.cli.kill();
        dying.cli.waitForFinished();
        Station other;
        other.dir = work.filePath("other");
        other.pile << "02:00:00:00:0B:01"
                   << "02:00:00:00:0B:02";
        other.start("station-b", arguments);
        QVERIFY(QTest::qWaitFor([&other] { return other.cli.state() == QProcess::NotRunning; },
                                120000));
        const cliprocess::Result r = cliprocess::finish(other.cli, 0);
        QVERIFY2(r.exitCode == 0, (other.err + r.err).constData());
        QStringList written = other.written();
        written.sort();
        QCOMPARE(written, (QStringList{"CHANGE IP:10.0.2.1", "CHANGE IP:10.0.2.2"}));
        const cliprocess::Result site =
            cliprocess::runCli({"register", "site", plan, "--register", postgres.url()});
        QVERIFY2(site.exitCode == 0 && site.out.count("verified by station-b") == 2,
                 site.out.constData());
    }

    // The server stopped while a row is in hand: the row fails with the
    // reason, and nothing is reported verified that is not in the
    // register.
    void serverStoppedMidRow()
    {
        if (!postgresUp)
            QSKIP("no PostgreSQL server (see the warning above)");
        QTemporaryDir work;
        const QString tty = work.filePath("tty");
        cliprocess::Simulator sim(
            {"--link", tty, "--mac", "02:00:00:00:0C:01", "--restart-delay", "1500"});
        const QString plan =
            write(work, "plan.csv", "port,ip,gateway\n" + tty.toUtf8() + ",10.0.3.1,10.0.3.254\n");
        QProcess cli;
        cli.start(ORDAN_CLI_PATH, {"commission", plan, "--json", "--record",
                                   work.filePath("record.csv"), "--register", postgres.url()});
        QVERIFY(awaitCommand(sim, "CHANGE IP:10.0.3.1"));
        postgres.stop();
        const cliprocess::Result r = cliprocess::finish(cli);
        QVERIFY(postgres.resume());
        QVERIFY2(r.exitCode == 3 &&
                     r.err.contains(
                         ("the register lacks its row: the register " + postgres.url()).toUtf8()),
                 r.err.constData());
        const QJsonObject summary = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(summary["verified"].toInt(), 0);
        QCOMPARE(cliprocess::recordOf(work.filePath("record.csv")).value(0)["result"],
                 QStringLiteral("verified, not in the register"));
        SiteRegister reg;
        ModuleEntry module;
        QString error;
        QVERIFY2(reg.open(location(postgres.url()), &error) &&
                     RegisterLookup(reg).findModule("02:00:00:00:0C:01", &module, &error),
                 qPrintable(error));
        QVERIFY(!module.verified());
    }

    // A register on a full disk: the import fails with the reason, and
    // nothing of it is taken. A small file system of its own in a mount
    // namespace of its own.
    void fullDisk()
    {
        QProcess probe;
        probe.start("unshare", {"-m", "-r", "true"});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("no mount namespace can be made here (unshare -m)");
        QByteArray many = header + "\r\n";
        for (int i = 0; i < 3000; ++i)
            many += "2026-01-10T09:00:00.000+03:00,/dev/ttyUSB" + QByteArray::number(i) +
                    ",Ordan,1.2,02:00:00:00:" + QByteArray::number(0x1000 + i, 16).insert(2, ':') +
                    ",10.70.0.1,255.255.255.0,10.70.0.1,10001,none,9600,1,50,verified\r\n";
        const QString record = write(dir, "many.csv", many);
        const QString disk = dir.filePath("disk");
        QDir().mkpath(disk);
        const QString script =
            "set -e; mount -t tmpfs -o size=512k tmpfs \"$1\"; cli=\"$2\"; reg=\"$1/r.sqlite\"; "
            "\"$cli\" register export --csv --register \"$reg\" >/dev/null; "
            "avail=$(df -k --output=avail \"$1\" | tail -1); "
            "dd if=/dev/zero of=\"$1/filler\" bs=1k count=$((avail - 96)) 2>/dev/null; "
            "if \"$cli\" register import \"$3\" --register \"$reg\"; then exit 10; else "
            "echo \"exit $?\" >&2; fi; rm \"$1/filler\"; \"$cli\" register export --csv --register "
            "\"$reg\"";
        QProcess shell;
        shell.start("unshare",
                    {"-m", "-r", "sh", "-c", script, "sh", disk, ORDAN_CLI_PATH, record});
        const cliprocess::Result r = cliprocess::finish(shell);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("disk is full") && r.err.contains("exit 3"), r.err.constData());
        QCOMPARE(r.out.count('\n'), 1); // the header only
    }
};

QTEST_GUILESS_MAIN(TestRegister)
#include "tst_register.moc"

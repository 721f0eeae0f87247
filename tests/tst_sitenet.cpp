// The site window on the network: "Check network" fills the network column
// for every row, with no module on a serial port; a run with "Check each
// module on the network after its read-back" fails a module that is
// verified on its console but does not answer at its address. "Check bus"
// fills the bus column from the devices of each row's bus_ids, and a run
// that checks each module's bus fails one whose devices do not all answer.
//
// A site's addresses belong to real sites: the program runs in a network
// namespace of its own (privatenetwork.h), with the addresses at its end on
// its lo; 10.30.0.0/24 has no route there.
#include "cliprocess.h"
#include "dialoghelpers.h"
#include "privatenetwork.h"
#include "site/planmodel.h"
#include "site/sitetranslation.h"
#include "site/sitewindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using cliprocess::Simulator;

namespace
{

QString writePlan(const QTemporaryDir &dir, const QByteArray &csv)
{
    QFile file(dir.filePath("plan.csv"));
    if (file.open(QIODevice::WriteOnly))
        file.write(csv);
    return file.fileName();
}

// A simulated module with its network side, listening at IP:502 when IP is
// on the namespace's lo.
std::unique_ptr<Simulator> module(const QStringList &extra)
{
    auto sim = std::make_unique<Simulator>(
        QStringList{"--network", "--restart-delay", "300", "--set", "GATEWAY=10.20.0.1"} + extra);
    QElapsedTimer clock;
    clock.start();
    while (!sim->trace.contains("module up") && clock.elapsed() < 10000) {
        sim->process.waitForReadyRead(100);
        sim->trace += sim->process.readAllStandardError();
    }
    return sim;
}

} // namespace

class SiteNetworkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void checkNetworkFillsTheColumn_data();
    void checkNetworkFillsTheColumn();
    void runChecksEachModuleOnTheNetwork();
    void checkBusFillsTheColumn_data();
    void checkBusFillsTheColumn();
    void runChecksEachModulesBus();
};

void SiteNetworkTest::checkNetworkFillsTheColumn_data()
{
    QTest::addColumn<QLocale>("language");
    QTest::addColumn<QStringList>("words"); // the title, then each row's outcome
    QTest::newRow("English") << QLocale(QLocale::English)
                             << QStringList{"network",   "reachable (", "refused",
                                            "no answer", "unreachable", "no address and TCP port"};
    QTest::newRow("Russian") << QLocale(QLocale::Russian)
                             << QStringList{"сеть",       "доступен (", "отказ",
                                            "нет ответа", "недоступен", "нет адреса и TCP-порта"};
}

void SiteNetworkTest::checkNetworkFillsTheColumn()
{
    QFETCH(QLocale, language);
    QFETCH(QStringList, words);
    installSiteTranslation(language);
    // One row of each outcome; the ports are not there: none is needed.
    auto listening = module({"--set", "ip=10.20.0.31", "--set", "PORT TCP=502"});
    QProcess stalled;
    stalled.start(QStringLiteral(ORDAN_STALLED_HOST_PATH), {"10.20.0.41:502"});
    QVERIFY(stalled.waitForReadyRead(10000));
    QTemporaryDir dir;
    SiteWindow window;
    window.show();
    QVERIFY(window.openPlan(writePlan(dir, "port,ip,tcp_port\n"
                                           "/dev/ttyUSB7,10.20.0.31,502\n"
                                           "/dev/ttyUSB7,10.20.0.42,502\n"
                                           "/dev/ttyUSB7,10.20.0.41,502\n"
                                           "/dev/ttyUSB7,10.30.0.5,502\n"
                                           "/dev/ttyUSB7,,\n")));
    QTableView *table = findNamed<QTableView>(window, "planTable");
    QVERIFY(table->isColumnHidden(PlanModel::NetworkColumn));
    QSignalSpy done(&window, &SiteWindow::networkChecked);
    QTest::mouseClick(findNamed<QPushButton>(window, "networkButton"), Qt::LeftButton);
    QVERIFY(done.wait(10000));
    QVERIFY(!table->isColumnHidden(PlanModel::NetworkColumn));
    QStringList column{
        window.planModel()->headerData(PlanModel::NetworkColumn, Qt::Horizontal).toString()};
    for (int row = 0; row < 5; ++row)
        column << window.planModel()->index(row, PlanModel::NetworkColumn).data().toString();
    QVERIFY2(column.at(1).startsWith(words.at(1)), qPrintable(column.join(" | ")));
    column[1] = words.at(1);
    QCOMPARE(column, words);
    removeSiteTranslation();
    stalled.terminate();
    stalled.waitForFinished();
}

void SiteNetworkTest::runChecksEachModuleOnTheNetwork()
{
    // Two modules on two ports: one planned where the namespace has it,
    // one on a subnet it has no route to.
    auto a = module({"--mac", "02:00:00:00:00:01"});
    auto b = module({"--mac", "02:00:00:00:00:02"});
    QTemporaryDir dir;
    SiteWindow window;
    window.show();
    QVERIFY(window.openPlan(writePlan(dir, "port,ip,gateway,tcp_port\n" + a->path.toUtf8() +
                                               ",10.20.0.33,10.20.0.1,502\n" + b->path.toUtf8() +
                                               ",10.30.0.7,10.30.0.1,502\n")));
    findNamed<QCheckBox>(window, "reachBox")->setChecked(true);
    QVERIFY(window.startRun());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning(), 60000);
    const PlanModel *model = window.planModel();
    QCOMPARE(model->stateText(0), QStringLiteral("verified"));
    QVERIFY(model->index(0, PlanModel::NetworkColumn).data().toString().startsWith("reachable ("));
    QCOMPARE(model->index(1, PlanModel::NetworkColumn).data().toString(),
             QStringLiteral("unreachable"));
    QVERIFY(model->stateText(1).startsWith("failed"));
    QVERIFY2(model->index(1, PlanModel::ResultColumn)
                 .data()
                 .toString()
                 .contains("verified on the console, not reachable at 10.30.0.7:502 (unreachable)"),
             qPrintable(model->index(1, PlanModel::ResultColumn).data().toString()));
    QCOMPARE(window.lastExitCode(), 4);
}

void SiteNetworkTest::checkBusFillsTheColumn_data()
{
    QTest::addColumn<QLocale>("language");
    QTest::addColumn<QStringList>("words"); // the title, then each row's outcome
    QTest::newRow("English") << QLocale(QLocale::English)
                             << QStringList{"bus", "1, 2, 5 answer",
                                            "3 does not answer (1, 2 answer)", ""};
    QTest::newRow("Russian") << QLocale(QLocale::Russian)
                             << QStringList{"шина", "1, 2, 5 отвечают",
                                            "3 не отвечает (1, 2 отвечают)", ""};
}

void SiteNetworkTest::checkBusFillsTheColumn()
{
    QFETCH(QLocale, language);
    QFETCH(QStringList, words);
    installSiteTranslation(language);
    // Two modules on the network with devices on their buses, none on a
    // serial port; the third row names no bus.
    auto a = module(
        {"--set", "ip=10.20.0.31", "--set", "timeout data=10", "--devices", "1,2,5@9600/8N1"});
    auto b =
        module({"--set", "ip=10.20.0.42", "--set", "timeout data=10", "--devices", "1,2@9600/8N1"});
    QTemporaryDir dir;
    SiteWindow window;
    window.show();
    QVERIFY(window.openPlan(writePlan(dir, "port,ip,tcp_port,packet_timeout,bus_ids\n"
                                           "/dev/ttyUSB7,10.20.0.31,502,10,\"1,2,5\"\n"
                                           "/dev/ttyUSB7,10.20.0.42,502,10,1-3\n"
                                           "/dev/ttyUSB7,10.20.0.43,502,10,\n")));
    QTableView *table = findNamed<QTableView>(window, "planTable");
    QVERIFY(table->isColumnHidden(PlanModel::BusColumn));
    QSignalSpy done(&window, &SiteWindow::busChecked);
    auto *action = window.findChild<QAction *>("busAction");
    QCOMPARE(action->shortcut(), QKeySequence(Qt::Key_F9));
    action->trigger();
    QVERIFY(window.isCheckingNetwork());
    QVERIFY(done.wait(20000));
    QVERIFY(!window.isCheckingNetwork());
    QVERIFY(!table->isColumnHidden(PlanModel::BusColumn));
    QStringList column{
        window.planModel()->headerData(PlanModel::BusColumn, Qt::Horizontal).toString()};
    for (int row = 0; row < 3; ++row)
        column << window.planModel()->index(row, PlanModel::BusColumn).data().toString();
    QCOMPARE(column, words);
    removeSiteTranslation();
}

void SiteNetworkTest::runChecksEachModulesBus()
{
    // Two modules on two ports: the first carries the devices its row
    // names, the second lacks one.
    auto a = module({"--mac", "02:00:00:00:00:01", "--devices", "1,2@9600/8N1"});
    auto b = module({"--mac", "02:00:00:00:00:02", "--devices", "1,2@9600/8N1"});
    QTemporaryDir dir;
    SiteWindow window;
    window.show();
    QVERIFY(
        window.openPlan(writePlan(dir, "port,ip,gateway,packet_timeout,bus_ids\n" +
                                           a->path.toUtf8() + ",10.20.0.33,10.20.0.1,10,1-2\n" +
                                           b->path.toUtf8() + ",10.20.0.41,10.20.0.1,10,1-3\n")));
    findNamed<QCheckBox>(window, "busBox")->setChecked(true);
    QVERIFY(window.startRun());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning(), 60000);
    const PlanModel *model = window.planModel();
    QCOMPARE(model->stateText(0), QStringLiteral("verified"));
    QCOMPARE(model->index(0, PlanModel::BusColumn).data().toString(),
             QStringLiteral("1, 2 answer"));
    QVERIFY(model->index(1, PlanModel::NetworkColumn).data().toString().startsWith("reachable ("));
    QCOMPARE(model->stateText(1), QStringLiteral("failed: devices missing on the bus"));
    QCOMPARE(model->index(1, PlanModel::ResultColumn).data().toString(),
             QStringLiteral("verified on the console, reachable, bus: 3 does not answer (1, 2 "
                            "answer)"));
    QCOMPARE(window.lastExitCode(), 6);
}

ORDAN_PRIVATE_NETWORK_MAIN(SiteNetworkTest, QApplication, "--addr", "10.20.0.31/24", "--addr",
                           "10.20.0.33/24", "--addr", "10.20.0.41/24", "--addr", "10.20.0.42/24")

#include "tst_sitenet.moc"

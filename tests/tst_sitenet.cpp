// The site window on the network: "Check network" fills the network column
// for every row, with no module on a serial port; a run with "Check each
// module on the network after its read-back" fails a module that is
// verified on its console but does not answer at its address.
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

ORDAN_PRIVATE_NETWORK_MAIN(SiteNetworkTest, QApplication, "--addr", "10.20.0.31/24", "--addr",
                           "10.20.0.33/24", "--addr", "10.20.0.41/24", "--addr", "10.20.0.42/24")

#include "tst_sitenet.moc"

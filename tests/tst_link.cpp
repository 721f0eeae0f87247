// The serial link and the command channel through the real path: the
// window's QSerialPort on a pseudo-terminal played by the module simulator.
#include "engine/console/hangup.h"
#include "engine/console/portcatalog.h"
#include "engine/console/replyframer.h"
#include "modulesimulator.h"
#include "protocol/protocol.h"
#include "windowharness.h"

#include <QProcess>
#include <QSerialPort>
#include <QtTest>

#include <sys/resource.h>

namespace
{

const QString connectCaption = QStringLiteral("Cоединиться");
const QString disconnectCaption = QStringLiteral("Отсоединиться");
// Long enough for a reply to cross the line and be framed.
constexpr int settleMs = 200;

// CPU seconds this process spends while the event loop runs for `ms`.
double cpuSecondsWhileIdle(int ms)
{
    const auto cpu = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double before = cpu();
    QTest::qWait(ms);
    return cpu() - before;
}

// The simulator as a program of its own, as an engineer runs it.
class SimulatorProcess
{
public:
    explicit SimulatorProcess(const QStringList &arguments = {})
    {
        process.start(QStringLiteral(ORDAN_MODULE_SIM_PATH), arguments);
        if (process.waitForStarted() && process.waitForReadyRead(10000))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~SimulatorProcess()
    {
        process.kill();
        process.waitForFinished();
        // A killed simulator cannot remove its private directory itself.
        const QDir dir = QFileInfo(path).dir();
        if (!path.isEmpty() && dir.dirName().startsWith(QLatin1String("ordan-sim-")))
            QDir(dir).removeRecursively();
    }
    QProcess process;
    QString path;
};

} // namespace

class LinkTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectAndDisconnect();
    void failedOpen_data();
    void failedOpen();
    void scanportRebuildsList();
    void queriesGoOutAsBareBytes();
    void replyCleanUp_data();
    void replyCleanUp();
    void chunkedReplyIsOneReply();
    void quietGapSeparatesReplies();
    void endlessStreamIsFramedWithinBounds_data();
    void endlessStreamIsFramedWithinBounds();
    void emptyReplyOpensOneBox();
    void otherPortErrorsIgnored_data();
    void otherPortErrorsIgnored();
    void hangUpOfSimulatorProcess_data();
    void hangUpOfSimulatorProcess();
    void restartIsQuietOnlyForItsConnection();
    void inProcessHangUp();
    void lostLinkRule_data();
    void lostLinkRule();

private:
    ModuleSimulator *sim = nullptr;
    WindowHarness *harness = nullptr;
};

void LinkTest::init()
{
    sim = new ModuleSimulator;
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    harness = new WindowHarness;
}

void LinkTest::cleanup()
{
    delete harness;
    harness = nullptr;
    delete sim;
    sim = nullptr;
}

void LinkTest::connectAndDisconnect()
{
    WindowHarness &h = *harness;
    QCOMPARE(h.status(), QString());
    QCOMPARE(h.enableStates(), WindowHarness::disconnectedStates());

    h.connectTo(sim->devicePath());
    QCOMPARE(h.button("connect")->text(), disconnectCaption);
    QCOMPARE(h.status(), QStringLiteral("Connected"));
    QCOMPARE(h.enableStates(), WindowHarness::connectedStates());
    QCOMPARE(h.boxes.count(), 0);

    h.click("connect");
    QCOMPARE(h.button("connect")->text(), connectCaption);
    QCOMPARE(h.status(), QStringLiteral("Disconnected"));
    QCOMPARE(h.enableStates(), WindowHarness::disconnectedStates());
    QVERIFY(!h.edit("lineEdit_MAC")->isEnabled());
    QVERIFY(!h.edit("lineEdit_version")->isEnabled());
    QVERIFY(!h.edit("lineEdit_name")->isEnabled());

    // The same port opens again.
    h.click("connect");
    QCOMPARE(h.status(), QStringLiteral("Connected"));
}

void LinkTest::failedOpen_data()
{
    QTest::addColumn<QString>("holder");
    QTest::newRow("missing device") << "";
    QTest::newRow("port held by another program") << "QSerialPort";
    QTest::newRow("device locked by another program") << "flock";
}

void LinkTest::failedOpen()
{
    QFETCH(QString, holder);
    WindowHarness &h = *harness;
    QSerialPort other(sim->devicePath());
    QProcess locker; // util-linux flock(1) on the device, as serial programs lock it
    QString path = QStringLiteral("/nonexistent/ttyORDAN");
    if (holder == "QSerialPort") {
        QVERIFY(other.open(QIODevice::ReadWrite));
        path = sim->devicePath();
    } else if (holder == "flock") {
        locker.start("flock",
                     {"--no-fork", sim->devicePath(), "sh", "-c", "echo held; exec sleep 60"});
        QVERIFY(locker.waitForReadyRead(10000));
        path = sim->devicePath();
    }
    h.connectTo(path);
    QTRY_COMPARE(h.boxes.count(), 1);
    QCOMPARE(h.boxes.last().title, QStringLiteral("Отказано в доступе"));
    QCOMPARE(h.boxes.last().text, QStringLiteral("Ошибка соединения"));
    QCOMPARE(h.boxes.last().icon, QMessageBox::Critical);
    QCOMPARE(h.boxes.last().buttons, QStringList{"OK"});
    QCOMPARE(h.status(), QStringLiteral("Порт отказано в доступе"));
    QCOMPARE(h.button("connect")->text(), connectCaption);
    QCOMPARE(h.enableStates(), WindowHarness::disconnectedStates());
    locker.kill();
    locker.waitForFinished();
}

void LinkTest::scanportRebuildsList()
{
    WindowHarness &h = *harness;
    QComboBox *ports = h.list("serialPortInfoListBox");
    PortCatalog::addDevicePath(QStringLiteral("/dev/ttyFIRST"));
    PortCatalog::addDevicePath(sim->devicePath());
    h.click("scanport");
    const int count = ports->count();
    QCOMPARE(ports->itemText(count - 1), sim->devicePath());
    ports->setCurrentIndex(count - 1);
    h.click("scanport");
    QCOMPARE(ports->count(), count);
    QCOMPARE(ports->currentIndex(), 0); // an earlier choice is not kept
    // The list's own API works on its entries, as on any list's.
    ports->addItem(QStringLiteral("ttyADDED"));
    ports->insertItem(0, QStringLiteral("ttyINSERTED"));
    QCOMPARE(ports->count(), count + 2);
    QCOMPARE(ports->itemText(0), QStringLiteral("ttyINSERTED"));
    QCOMPARE(ports->itemText(count + 1), QStringLiteral("ttyADDED"));
    ports->clear();
    QCOMPARE(ports->count(), 0);
    QCOMPARE(ports->currentText(), QString());
    h.click("scanport");
    QCOMPARE(ports->count(), count);
}

void LinkTest::queriesGoOutAsBareBytes()
{
    WindowHarness &h = *harness;
    h.connectTo(sim->devicePath());
    h.click("scan_parameters");
    h.holdTimer("timerScanAll");
    const QList<QByteArray> expected = {"name", "version", "MAC", "ip"};
    for (int tick = 1; tick <= expected.size(); ++tick) {
        h.invoke("scan_pa_modbus_all");
        QTRY_COMPARE(sim->received().size(), tick);
        QTest::qWait(settleMs);
    }
    QCOMPARE(sim->received(), expected);
    QCOMPARE(sim->received().at(3).size(), 2);
}

void LinkTest::replyCleanUp_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << QByteArray("name:ORDAN\r\n") << QStringLiteral("ORDAN");
    QTest::newRow("NUL cuts") << QByteArray("name:AB\0CD\r\n", 12) << QStringLiteral("AB");
    QTest::newRow("lines joined") << QByteArray("na\r\nme:\r\nXY\r\n") << QStringLiteral("XY");
}

void LinkTest::replyCleanUp()
{
    QFETCH(QByteArray, raw);
    WindowHarness &h = *harness;
    DebugLog log;
    h.connectTo(sim->devicePath());
    sim->setSilent(true);
    h.click("scan_parameters");
    h.holdTimer("timerScanAll");
    h.invoke("scan_pa_modbus_all"); // step 1: "name"
    QVERIFY(sim->sendRaw(raw));
    QTRY_COMPARE(h.edit("lineEdit_name")->styleSheet(),
                 QStringLiteral("background-color:  #90ee90;"));
    QTEST(h.edit("lineEdit_name")->text(), "name");
    const QString trace = QStringLiteral("\"data 2:") + cleanReply(raw) + "\"";
    QCOMPARE(log.count(trace), 2); // traced once on arrival and once before it is judged
}

void LinkTest::chunkedReplyIsOneReply()
{
    // A USB adapter at 9600 bit/s hands an answer over in pieces.
    WindowHarness &h = *harness;
    h.connectTo(sim->devicePath());
    sim->setChunking(4, 10);
    h.click("scan_parameters");
    h.holdTimer("timerScanAll");
    h.invoke("scan_pa_modbus_all");
    QTRY_COMPARE(h.edit("lineEdit_name")->text(), sim->state().name);
    QTest::qWait(settleMs);
    QCOMPARE(h.edit("lineEdit_name")->text(), sim->state().name);
    QCOMPARE(h.edit("lineEdit_name")->styleSheet(), QStringLiteral("background-color:  #90ee90;"));

    // A write acknowledged as "o" + "k" is still acknowledged.
    h.click("scan_parameters"); // stop the read-out
    h.edit("lineEdit_ip")->setText(QStringLiteral("192.168.0.10"));
    sim->setChunking(2, 10);
    h.click("applyButton");
    h.holdTimer("timerChangeModeTcp");
    for (int tick = 1; tick <= 3; ++tick)
        h.invoke("change_mode_TCP");
    QTRY_COMPARE(h.edit("lineEdit_ip")->styleSheet(),
                 QStringLiteral("background-color:  #90ee90;"));
    QTest::qWait(settleMs);
    QCOMPARE(h.boxes.count(), 0);
    QVERIFY(h.timer("timerChangeModeTcp")->isActive());
}

void LinkTest::quietGapSeparatesReplies()
{
    WindowHarness &h = *harness;
    DebugLog log;
    h.connectTo(sim->devicePath());
    QVERIFY(sim->sendRaw("ab"));
    // "cd" follows only once "ab" was taken as a reply of its own, after
    // the quiet gap: on a busy machine a fixed wait may end before the
    // window has even read "ab", and the two would come in one read.
    QTRY_COMPARE(log.count(QStringLiteral("\"data 2:ab\"")), 2);
    QVERIFY(sim->sendRaw("cd"));
    QTRY_COMPARE(log.count(QStringLiteral("\"data 2:cd\"")), 2);
    QCOMPARE(log.count(QStringLiteral("\"data 2:ab\"")), 2);
    QCOMPARE(log.count(QStringLiteral("\"data 2:abcd\"")), 0);
}

void LinkTest::endlessStreamIsFramedWithinBounds_data()
{
    QTest::addColumn<int>("burstBytes"); // written every 5 ms, never a quiet gap
    QTest::addColumn<bool>("closedBySize");
    QTest::newRow("slow noise: closed by time") << 8 << false;
    QTest::newRow("fast noise: closed by size") << 2000 << true;
}

void LinkTest::endlessStreamIsFramedWithinBounds()
{
    QFETCH(int, burstBytes);
    QFETCH(bool, closedBySize);
    QSerialPort port(sim->devicePath());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    ReplyFramer framer;
    QList<QByteArray> replies;
    int mostPending = 0;
    connect(&port, &QSerialPort::readyRead, &framer, [&] {
        framer.feed(port.readAll());
        mostPending = qMax(mostPending, framer.pendingSize());
    });
    connect(&framer, &ReplyFramer::replyFramed, this,
            [&](const QByteArray &bytes) { replies << bytes; });
    QTimer writer;
    connect(&writer, &QTimer::timeout, this, [&] { sim->sendRaw(QByteArray(burstBytes, 'x')); });
    writer.start(5);
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(replies.count() >= 2, 10000);
    writer.stop();
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(mostPending <= ReplyFramer::maxReplyBytes);
    // A stalled machine may still close one by the quiet gap; the bound
    // that applies shows in at least one reply.
    int full = 0;
    for (const QByteArray &reply : replies) {
        QVERIFY(reply.size() <= ReplyFramer::maxReplyBytes);
        full += reply.size() == ReplyFramer::maxReplyBytes;
    }
    QCOMPARE(full > 0, closedBySize);
}

void LinkTest::emptyReplyOpensOneBox()
{
    WindowHarness &h = *harness;
    DebugLog log;
    h.connectTo(sim->devicePath());
    int openWhileUp = -1;
    h.boxes.setWhileOpen([&](QMessageBox *) {
        for (int i = 0; i < 3; ++i) {
            QVERIFY(sim->sendRaw("\r\n"));
            QTest::qWait(settleMs);
        }
        openWhileUp = MessageBoxAnswerer::openBoxes().size();
    });
    QVERIFY(sim->sendRaw("\r\n"));
    QTRY_COMPARE(h.boxes.count(), 1);
    h.boxes.setWhileOpen(nullptr);
    QCOMPARE(openWhileUp, 1);
    QCOMPARE(log.count(QStringLiteral("\"data 2:\"")), 4); // every blank line is traced
    QCOMPARE(h.boxes.last().title, QStringLiteral("нет соединения с модуля"));
    QCOMPARE(h.boxes.last().text, QStringLiteral("Ошибка соединения"));
    QTRY_VERIFY(MessageBoxAnswerer::openBoxes().isEmpty());

    // Once it is closed, the next blank line is reported again.
    QVERIFY(sim->sendRaw("\r\n"));
    QTRY_COMPARE(h.boxes.count(), 2);
    QCOMPARE(h.status(), QStringLiteral("Connected"));
}

void LinkTest::otherPortErrorsIgnored_data()
{
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::newRow("read error on a live line") << QSerialPort::ReadError;
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) // Qt 6 dropped these two errors
    QTest::newRow("framing") << QSerialPort::FramingError;
    QTest::newRow("parity") << QSerialPort::ParityError;
#endif
    QTest::newRow("write") << QSerialPort::WriteError;
    QTest::newRow("timeout") << QSerialPort::TimeoutError;
    QTest::newRow("unknown") << QSerialPort::UnknownError;
}

void LinkTest::otherPortErrorsIgnored()
{
    QFETCH(QSerialPort::SerialPortError, error);
    WindowHarness &h = *harness;
    h.connectTo(sim->devicePath());
    h.click("scan_parameters");
    QVERIFY(QMetaObject::invokeMethod(&h.window, "handleError",
                                      Q_ARG(QSerialPort::SerialPortError, error)));
    QTest::qWait(50);
    QCOMPARE(h.boxes.count(), 0);
    QCOMPARE(h.button("connect")->text(), disconnectCaption);
    QCOMPARE(h.status(), QStringLiteral("Connected"));
    QCOMPARE(h.enableStates(), WindowHarness::connectedStates());
    QVERIFY(h.timer("timerScanAll")->isActive());
    QCOMPARE(h.button("scan_parameters")->text(), QStringLiteral("Стоп сканирования"));
}

void LinkTest::hangUpOfSimulatorProcess_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("simulator killed") << true;
    QTest::newRow("simulator stopped") << false;
}

void LinkTest::hangUpOfSimulatorProcess()
{
    // Pulling the module: Qt reports read errors, not the loss of the port.
    QFETCH(bool, killed);
    WindowHarness &h = *harness;
    SimulatorProcess module;
    QVERIFY(!module.path.isEmpty());
    h.connectTo(module.path);
    QCOMPARE(h.status(), QStringLiteral("Connected"));
    h.click("scan_parameters");
    h.edit("lineEdit_ip")->setStyleSheet(QStringLiteral("background-color:  #90ee90;"));
    h.edit("lineEdit_version")->setStyleSheet(QStringLiteral("background-color:  #90ee90;"));
    if (killed)
        module.process.kill();
    else
        module.process.terminate();
    QTRY_COMPARE(h.boxes.count(), 1);
    QCOMPARE(h.boxes.last().title, QStringLiteral("Critical Error"));
    QCOMPARE(h.boxes.last().text, QStringLiteral("Ошибка соединения"));
    QCOMPARE(h.button("connect")->text(), connectCaption);
    QCOMPARE(h.button("scan_parameters")->text(), QStringLiteral("Сканировать"));
    QCOMPARE(h.button("applyButton")->text(), QStringLiteral("Запись параметры"));
    QCOMPARE(h.status(), QStringLiteral("Disconnected"));
    QCOMPARE(h.enableStates(), WindowHarness::disconnectedStates());
    QVERIFY(!h.timer("timerScanAll")->isActive());
    QCOMPARE(h.edit("lineEdit_ip")->styleSheet(), QString());
    QCOMPARE(h.edit("lineEdit_version")->styleSheet(),
             QStringLiteral("background-color:  #90ee90;"));
    // The dead link is closed: no stream of errors keeps the CPU busy.
    QVERIFY(cpuSecondsWhileIdle(1000) < 0.3);
    QCOMPARE(h.boxes.count(), 1);
}

void LinkTest::restartIsQuietOnlyForItsConnection()
{
    WindowHarness &h = *harness;
    SimulatorProcess module({QStringLiteral("--restart-delay"), QStringLiteral("300")});
    QVERIFY(!module.path.isEmpty());
    h.connectTo(module.path);
    h.click("scan_parameters");
    h.click("Reset"); // the module restarts and drops the link
    QTRY_COMPARE(h.button("connect")->text(), connectCaption);
    QCOMPARE(h.status(), QStringLiteral("Disconnected"));
    QCOMPARE(h.boxes.count(), 0);
    QVERIFY(!h.timer("timerScanAll")->isActive());
    QCOMPARE(h.button("scan_parameters")->text(), QStringLiteral("Сканировать"));
    QVERIFY(cpuSecondsWhileIdle(500) < 0.3);

    // The module is back under the same path; an unplugged cable on this new
    // connection is reported, not taken as the old restart.
    QTRY_VERIFY(QFileInfo::exists(module.path));
    h.click("connect");
    QCOMPARE(h.status(), QStringLiteral("Connected"));
    module.process.kill();
    QTRY_COMPARE(h.boxes.count(), 1);
    QCOMPARE(h.boxes.last().title, QStringLiteral("Critical Error"));
    QCOMPARE(h.button("connect")->text(), connectCaption);
}

void LinkTest::inProcessHangUp()
{
    WindowHarness &h = *harness;
    h.connectTo(sim->devicePath());
    sim->hangUp();
    QTRY_COMPARE(h.boxes.count(), 1);
    QCOMPARE(h.boxes.last().title, QStringLiteral("Critical Error"));
    QCOMPARE(h.status(), QStringLiteral("Disconnected"));
    QVERIFY(cpuSecondsWhileIdle(500) < 0.3);
}

void LinkTest::lostLinkRule_data()
{
    // The one rule by which the window and the engine take a port's error
    // for the loss of the link.
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::addColumn<bool>("hungUp");
    QTest::addColumn<bool>("lost");
    QTest::newRow("resource, live line") << QSerialPort::ResourceError << false << true;
    QTest::newRow("resource, hung up") << QSerialPort::ResourceError << true << true;
    QTest::newRow("read, live line") << QSerialPort::ReadError << false << false;
    QTest::newRow("read, hung up") << QSerialPort::ReadError << true << true;
    QTest::newRow("write, live line") << QSerialPort::WriteError << false << false;
    QTest::newRow("write, hung up") << QSerialPort::WriteError << true << false;
    QTest::newRow("timeout, hung up") << QSerialPort::TimeoutError << true << false;
    QTest::newRow("unknown, hung up") << QSerialPort::UnknownError << true << false;
    QTest::newRow("no error, hung up") << QSerialPort::NoError << true << false;
}

void LinkTest::lostLinkRule()
{
    QFETCH(QSerialPort::SerialPortError, error);
    QFETCH(bool, hungUp);
    QSerialPort port(sim->devicePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    if (hungUp)
        sim->hangUp(); // no event loop runs: the port stays open, its line hung up
    QCOMPARE(portHungUp(port), hungUp);
    QTEST(portLost(port, error), "lost");
}

QTEST_MAIN(LinkTest)
#include "tst_link.moc"

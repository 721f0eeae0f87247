// The module simulator as the configurator sees it: through a QSerialPort
// opened on the simulator's stable symlink.

#include "modulesimulator.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_ModuleSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void queries_data();
    void queries();
    void writes_data();
    void writes();
    void misbehaviours_data();
    void misbehaviours();
    void silentModuleRecordsButAnswersNothing();
    void chunkedReplyArrivesInPieces();
    void rawBytesAndRecordedCommands();
    void restartDropsAndRestoresLink();
    void factoryResetRestoresValues();
    void hangUpUntilComeBack();
    void keptLinkQuietThroughRestart_data();
    void keptLinkQuietThroughRestart();
    void repliesLostAfterIgnoredReset_data();
    void repliesLostAfterIgnoredReset();
    void executablePrintsPathAndAnswers();

private:
    bool openPort(const QString &path);
    QByteArray ask(const QByteArray &command);

    std::unique_ptr<ModuleSimulator> sim;
    std::unique_ptr<QSerialPort> port;
    QByteArray got;
    int pieces = 0;
    QList<QSerialPort::SerialPortError> errors;
};

void tst_ModuleSim::init()
{
    sim = std::make_unique<ModuleSimulator>();
    sim->setRestartDelay(300);
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    QVERIFY(QFileInfo(sim->devicePath()).isSymLink());
    QCOMPARE(QFileInfo(sim->devicePath()).symLinkTarget(), sim->ptyPath());
    QVERIFY(openPort(sim->devicePath()));
}

void tst_ModuleSim::cleanup()
{
    port.reset();
    const QString link = sim->devicePath();
    sim.reset();
    if (!link.isEmpty()) // link and private directory are gone
        QVERIFY(!QFileInfo::exists(QFileInfo(link).absolutePath()));
}

bool tst_ModuleSim::openPort(const QString &path)
{
    port = std::make_unique<QSerialPort>(path);
    got.clear();
    pieces = 0;
    errors.clear();
    connect(port.get(), &QSerialPort::readyRead, this, [this] {
        got += port->readAll();
        ++pieces;
    });
    connect(port.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError || !port->isOpen())
            return;
        errors.append(e);
        // A hung-up line keeps reporting; leave it as the configurator would.
        if (e == QSerialPort::ReadError || e == QSerialPort::ResourceError)
            QTimer::singleShot(0, port.get(), [p = port.get()] { p->close(); });
    });
    return port->open(QIODevice::ReadWrite);
}

QByteArray tst_ModuleSim::ask(const QByteArray &command)
{
    got.clear();
    pieces = 0;
    port->write(command);
    if (!QTest::qWaitFor([this] { return got.endsWith("\r\n"); }, 5000))
        qWarning("no complete reply to %s: %s", command.constData(), got.constData());
    return got;
}

void tst_ModuleSim::queries_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<int>("valueAt");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("name") << QByteArray("name") << 5 << QByteArray("Ordan-RS485-ETH");
    QTest::newRow("version") << QByteArray("version") << 8 << QByteArray("1.0.3");
    QTest::newRow("MAC") << QByteArray("MAC") << 4 << QByteArray("00:1A:2B:3C:4D:5E");
    QTest::newRow("ip") << QByteArray("ip") << 3 << QByteArray("192.168.0.1");
    QTest::newRow("MASK") << QByteArray("MASK") << 5 << QByteArray("255.255.255.0");
    QTest::newRow("GATEWAY") << QByteArray("GATEWAY") << 8 << QByteArray("192.168.0.254");
    QTest::newRow("PORT TCP") << QByteArray("PORT TCP") << 9 << QByteArray("502");
    QTest::newRow("parity") << QByteArray("parity") << 7 << QByteArray("none");
    QTest::newRow("SPEED RS485") << QByteArray("SPEED RS485") << 12 << QByteArray("9600");
    QTest::newRow("STOP BIT") << QByteArray("STOP BIT") << 9 << QByteArray("1");
    QTest::newRow("timeout data") << QByteArray("timeout data") << 13 << QByteArray("1000");
    QTest::newRow("wrong case") << QByteArray("NAME") << 0 << QByteArray("unknown command");
    QTest::newRow("trailing CR") << QByteArray("ip\r") << 0 << QByteArray("unknown command");
}

void tst_ModuleSim::queries()
{
    QFETCH(QByteArray, query);
    QFETCH(int, valueAt);
    QFETCH(QByteArray, value);
    const QByteArray reply = ask(query);
    QVERIFY(reply.endsWith("\r\n"));
    QCOMPARE(reply.mid(valueAt).chopped(2), value);
    if (valueAt > 0)
        QCOMPARE(reply.left(valueAt), query + ':');
}

void tst_ModuleSim::writes_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("value"); // what the query reports afterwards
    auto row = [](const char *cmd, const char *reply, const char *query, const char *value) {
        QTest::newRow(cmd) << QByteArray(cmd) << QByteArray(reply) << QByteArray(query)
                           << QByteArray(value);
    };
    row("CHANGE IP:10.0.0.5", "ok", "ip", "10.0.0.5");
    row("CHANGE IP:10.0.0", "error", "ip", "192.168.0.1");
    row("CHANGE IP:10.0.0.256", "error", "ip", "192.168.0.1");
    row("CHANGE MASK:255.255.0.0", "ok", "MASK", "255.255.0.0");
    row("CHANGE GATEWAY:10.0.0.1", "ok", "GATEWAY", "10.0.0.1");
    row("CHANGE GATEWAY:gw", "error", "GATEWAY", "192.168.0.254");
    row("CHANGE PORT TCP:23", "ok", "PORT TCP", "23");
    row("CHANGE PORT TCP:10000", "ok", "PORT TCP", "10000");
    row("CHANGE PORT TCP:9999", "error", "PORT TCP", "502");
    row("CHANGE PORT TCP:65536", "error", "PORT TCP", "502");
    row("CHANGE PARITY:even", "ok", "parity", "even");
    row("CHANGE PARITY:mark", "error", "parity", "none");
    row("CHANGE SPEED RS485:256000", "ok", "SPEED RS485", "256000");
    row("CHANGE SPEED RS485:14400", "error", "SPEED RS485", "9600");
    row("CHANGE STOP BIT:2", "ok", "STOP BIT", "2");
    row("CHANGE STOP BIT:3", "error", "STOP BIT", "1");
    row("change timeout data:1", "ok", "timeout data", "1");
    row("change timeout data:10000", "ok", "timeout data", "10000");
    row("change timeout data:0", "?", "timeout data", "1000");
    row("change timeout data:10001", "?", "timeout data", "1000");
    row("CHANGE TIMEOUT DATA:5", "unknown command", "timeout data", "1000");
    row("CHANGE NAME:x", "unknown command", "name", "Ordan-RS485-ETH");
}

void tst_ModuleSim::writes()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, value);
    QCOMPARE(ask(command), reply + "\r\n");
    QCOMPARE(ask(query), query + ':' + value + "\r\n");
}

void tst_ModuleSim::misbehaviours_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("wrong ack") << "wrong-ack" << QByteArray("CHANGE PARITY:odd")
                               << QByteArray("OK\r\n");
    QTest::newRow("refused write")
        << "refuse CHANGE IP:" << QByteArray("CHANGE IP:10.0.0.1") << QByteArray("error\r\n");
    QTest::newRow("refused time-out")
        << "refuse change timeout data:" << QByteArray("change timeout data:50")
        << QByteArray("?\r\n");
    QTest::newRow("refused query")
        << "refuse name" << QByteArray("name") << QByteArray("error\r\n");
    QTest::newRow("late") << "delay" << QByteArray("version") << QByteArray("version:1.0.3\r\n");
}

void tst_ModuleSim::misbehaviours()
{
    QFETCH(QString, how);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    if (how == QLatin1String("wrong-ack"))
        sim->setWrongAck(true);
    else if (how.startsWith(QLatin1String("refuse ")))
        sim->refuseCommand(how.mid(7).toUtf8());
    else
        sim->setReplyDelay(300);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(ask(command), reply);
    if (how == QLatin1String("delay"))
        QVERIFY(clock.elapsed() >= 250);
}

void tst_ModuleSim::silentModuleRecordsButAnswersNothing()
{
    sim->setSilent(true);
    port->write("CHANGE IP:10.0.0.9");
    QTRY_COMPARE(sim->received().size(), 1);
    QTest::qWait(200);
    QVERIFY(got.isEmpty());
    QCOMPARE(sim->state(), ModuleSimulator::factoryState());
}

void tst_ModuleSim::chunkedReplyArrivesInPieces()
{
    QSignalSpy sent(sim.get(), &ModuleSimulator::bytesSent);
    sim->setChunking(4, 60);
    QCOMPARE(ask("SPEED RS485"), QByteArray("SPEED RS485:9600\r\n"));
    QCOMPARE(sent.size(), 4);
    QVERIFY2(pieces >= 2, qPrintable(QString::number(pieces)));
}

void tst_ModuleSim::rawBytesAndRecordedCommands()
{
    QCOMPARE(ask("name").left(5), QByteArray("name:"));
    QCOMPARE(ask("CHANGE STOP BIT:2"), QByteArray("ok\r\n"));
    QCOMPARE(sim->received(), (QList<QByteArray>{"name", "CHANGE STOP BIT:2"}));
    sim->clearReceived();
    QVERIFY(sim->received().isEmpty());

    got.clear();
    const QByteArray raw("ab\0cd", 5);
    QVERIFY(sim->sendRaw(raw));
    QTRY_COMPARE(got, raw);
    QCOMPARE(sim->clientCount(), 1);

    // Nobody listening: a late reply and raw bytes are lost, not kept for
    // the next client.
    sim->setReplyDelay(100);
    port->write("version");
    QTRY_COMPARE(sim->received().size(), 1);
    port->close();
    QTRY_COMPARE(sim->clientCount(), 0);
    QVERIFY(sim->sendRaw("stale"));
    QTest::qWait(200);
    QVERIFY(openPort(sim->devicePath()));
    QCOMPARE(ask("MAC"), QByteArray("MAC:00:1A:2B:3C:4D:5E\r\n"));
}

void tst_ModuleSim::restartDropsAndRestoresLink()
{
    QSignalSpy dropped(sim.get(), &ModuleSimulator::linkDropped);
    QSignalSpy restored(sim.get(), &ModuleSimulator::linkRestored);
    port->write("reset");
    QTRY_COMPARE(dropped.size(), 1);
    QCOMPARE(sim->received(), QList<QByteArray>{"reset"});
    QVERIFY(!sim->isLinked());
    QVERIFY(!QFileInfo(sim->devicePath()).isSymLink());
    QTRY_VERIFY(!errors.isEmpty());
    QVERIFY(errors.first() == QSerialPort::ReadError ||
            errors.first() == QSerialPort::ResourceError);
    QTRY_VERIFY(!port->isOpen());

    QTRY_COMPARE(restored.size(), 1);
    QCOMPARE(QFileInfo(sim->devicePath()).symLinkTarget(), sim->ptyPath());
    QVERIFY(openPort(sim->devicePath()));
    QCOMPARE(ask("ip"), QByteArray("ip:192.168.0.1\r\n"));
}

void tst_ModuleSim::factoryResetRestoresValues()
{
    ModuleState changed = sim->state();
    changed.ip = QStringLiteral("10.1.2.3");
    sim->setState(changed);
    QCOMPARE(ask("CHANGE PARITY:odd"), QByteArray("ok\r\n"));
    QCOMPARE(ask("ip"), QByteArray("ip:10.1.2.3\r\n"));

    QSignalSpy restored(sim.get(), &ModuleSimulator::linkRestored);
    port->write("LOAD SETTING:DEFAULT");
    QTRY_VERIFY(!port->isOpen());
    QTRY_COMPARE(restored.size(), 1);
    QCOMPARE(sim->state(), ModuleSimulator::factoryState());
    QVERIFY(openPort(sim->devicePath()));
    QCOMPARE(ask("ip"), QByteArray("ip:192.168.0.1\r\n"));
    QCOMPARE(ask("parity"), QByteArray("parity:none\r\n"));
}

void tst_ModuleSim::hangUpUntilComeBack()
{
    sim->hangUp();
    QTRY_VERIFY(!port->isOpen());
    QTest::qWait(sim->restartDelay() + 200);
    QVERIFY(!sim->isLinked());
    QVERIFY(!openPort(sim->devicePath()));
    QVERIFY(sim->comeBack());
    QVERIFY(openPort(sim->devicePath()));
    QCOMPARE(ask("STOP BIT"), QByteArray("STOP BIT:1\r\n"));
}

void tst_ModuleSim::keptLinkQuietThroughRestart_data()
{
    QTest::addColumn<QByteArray>("restart"); // empty: restartNow()
    QTest::addColumn<bool>("applyAtRestart");
    QTest::addColumn<QString>("returnAs");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("answer"); // after the restart
    QTest::newRow("reset") << QByteArray("reset") << false << QString() << QByteArray("ip")
                           << QByteArray("ip:10.0.0.5\r\n");
    QTest::newRow("RESET, applied at restart") << QByteArray("RESET") << true << QString()
                                               << QByteArray("ip") << QByteArray("ip:10.0.0.5\r\n");
    QTest::newRow("factory reset") << QByteArray("LOAD SETTING:DEFAULT") << false << QString()
                                   << QByteArray("ip") << QByteArray("ip:192.168.0.1\r\n");
    QTest::newRow("restartNow, back as another")
        << QByteArray() << false << QStringLiteral("02:00:00:00:00:07") << QByteArray("MAC")
        << QByteArray("MAC:02:00:00:00:00:07\r\n");
}

void tst_ModuleSim::keptLinkQuietThroughRestart()
{
    QFETCH(QByteArray, restart);
    QFETCH(bool, applyAtRestart);
    QFETCH(QString, returnAs);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, answer);
    sim->setKeepLinkOnRestart(true);
    sim->setApplyAtRestart(applyAtRestart);
    sim->setReturnAs(returnAs);
    sim->setRestartDelay(1000); // room for a command while it is quiet
    QSignalSpy up(sim.get(), &ModuleSimulator::upChanged);
    QSignalSpy dropped(sim.get(), &ModuleSimulator::linkDropped);
    const QString pty = sim->ptyPath();
    QCOMPARE(ask("CHANGE IP:10.0.0.5"), QByteArray("ok\r\n"));
    QCOMPARE(sim->runningState().ip, QStringLiteral("192.168.0.1"));

    got.clear();
    if (restart.isEmpty())
        sim->restartNow();
    else
        port->write(restart);
    QTRY_COMPARE(up.size(), 1);
    QCOMPARE(up.first().first().toBool(), false);
    // Quiet: recorded, neither answered nor taken.
    port->write("CHANGE PARITY:odd");
    QTRY_VERIFY(sim->received().endsWith("CHANGE PARITY:odd"));
    QTRY_COMPARE(up.size(), 2);
    QVERIFY(got.isEmpty());

    QCOMPARE(ask(query), answer);
    QCOMPARE(ask("parity"), QByteArray("parity:none\r\n"));
    QCOMPARE(sim->runningState(), sim->state());
    QCOMPARE(sim->ptyPath(), pty);
    QCOMPARE(QFileInfo(sim->devicePath()).symLinkTarget(), pty);
    QVERIFY(port->isOpen());
    QVERIFY(errors.isEmpty());
    QCOMPARE(dropped.size(), 0);
}

void tst_ModuleSim::repliesLostAfterIgnoredReset_data()
{
    QTest::addColumn<int>("lost");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("three") << 3;
}

void tst_ModuleSim::repliesLostAfterIgnoredReset()
{
    QFETCH(int, lost);
    sim->setIgnoreRestart(true);
    sim->setLoseRepliesAfterIgnoredReset(lost);
    const QList<QByteArray> queries = {"name", "version", "MAC", "ip", "MASK"};
    for (const QByteArray reset : {"reset", "RESET"}) { // each ignored restart loses as many
        sim->clearReceived();
        port->write(reset);
        QTRY_COMPARE(sim->received().size(), 1);
        got.clear();
        // The replies lost are never sent: the first to arrive is the
        // answer to query number lost + 1.
        for (int i = 0; i <= lost; ++i) {
            port->write(queries.at(i));
            QTRY_COMPARE(sim->received().size(), i + 2);
        }
        QTRY_VERIFY(got.endsWith("\r\n"));
        QCOMPARE(got.left(got.indexOf(':')), queries.at(lost));
        QCOMPARE(ask("STOP BIT"), QByteArray("STOP BIT:1\r\n"));
    }
    QVERIFY(sim->isLinked());
    QVERIFY(errors.isEmpty());
}

void tst_ModuleSim::executablePrintsPathAndAnswers()
{
#ifndef ORDAN_MODULE_SIM_PATH
    QSKIP("ordan-module-sim is not built");
#else
    QProcess proc;
    proc.start(QStringLiteral(ORDAN_MODULE_SIM_PATH),
               {"--wrong-ack", "--refuse", "MASK", "--chunks", "3", "--chunk-gap", "5"});
    QVERIFY(proc.waitForReadyRead(10000));
    const QString path = QString::fromLocal8Bit(proc.readLine()).trimmed();
    QVERIFY(QFileInfo(path).isSymLink());
    QVERIFY(openPort(path));
    QCOMPARE(ask("CHANGE STOP BIT:2"), QByteArray("OK\r\n"));
    QCOMPARE(ask("MASK"), QByteArray("error\r\n"));
    QCOMPARE(ask("STOP BIT"), QByteArray("STOP BIT:2\r\n"));
    port->close();

    proc.terminate();
    QVERIFY(proc.waitForFinished(10000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(QFileInfo(path).absolutePath()));
    QVERIFY(proc.readAllStandardError().contains("<- CHANGE STOP BIT:2"));
#endif
}

QTEST_GUILESS_MAIN(tst_ModuleSim)
#include "tst_modulesim.moc"

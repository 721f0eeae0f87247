// The read-out, the write, restart and factory reset, driven tick by tick
// (and once each in real time) against the module simulator.
#include "engine/console/portcatalog.h"
#include "modulesimulator.h"
#include "windowharness.h"

#include <QtTest>

namespace
{

const QString green = QStringLiteral("background-color:  #90ee90;");
const QString red = QStringLiteral("background-color: #FF2400");
const QString neutral = QStringLiteral("background-color:  #f5edff;");
const QString scanIdle = QStringLiteral("Сканировать");
const QString scanRunning = QStringLiteral("Стоп сканирования");
const QString writeIdle = QStringLiteral("Запись параметры");
const QString writeRunning = QStringLiteral("Остановить запись");
const QString connectCaption = QStringLiteral("Cоединиться");
const QString successText = QStringLiteral(
    "<FONT COLOR='#008000'>Изменение параметров Ordan-RS485-Ethernet было успешно</FONT>");
constexpr int settleMs = 200;

QStringList repeated(int count, const QString &text)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << text;
    return list;
}

} // namespace

class SequencesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readoutFillsEachField();
    void readoutMarksBadAnswersRed();
    void readoutStopKeepsValues();
    void readoutFailsCheckAtTick2();
    void readoutAbandonsWrite();
    void writeSendsEachTicksBytes();
    void writeSendsBarePrefixes();
    void writeAbortsOnWrongReply_data();
    void writeAbortsOnWrongReply();
    void writeCheckAtTick4Fails();
    void writeJudgesItsOwnAcknowledgement();
    void writeStopClick();
    void writeRefusedWhileReadoutRuns();
    void restartDuringWriteStopsIt();
    void restartSendsReset();
    void factoryReset_data();
    void factoryReset();
    void readoutInRealTime();
    void writeInRealTime();

private:
    void connectWindow() { h->connectTo(sim->devicePath()); }
    void tick(const char *slot)
    {
        h->invoke(slot);
        QTest::qWait(settleMs);
    }
    void startWrite()
    {
        h->click("applyButton");
        h->holdTimer("timerChangeModeTcp");
    }
    void fillForm();

    ModuleSimulator *sim = nullptr;
    WindowHarness *h = nullptr;
};

void SequencesTest::init()
{
    sim = new ModuleSimulator;
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    h = new WindowHarness;
}

void SequencesTest::cleanup()
{
    delete h;
    h = nullptr;
    delete sim;
    sim = nullptr;
}

void SequencesTest::fillForm()
{
    h->edit("lineEdit_ip")->setText(QStringLiteral("192.168.0.10"));
    h->edit("lineEdit_mask")->setText(QStringLiteral("255.255.0.0"));
    h->edit("lineEdit_gateway")->setText(QStringLiteral("192.168.0.1"));
    h->edit("lineEdit_portTCP")->setText(QStringLiteral("10001"));
    h->list("comboBox")->setCurrentIndex(2);
    h->list("comboBox_speed")->setCurrentIndex(8);
    h->list("comboBox_2")->setCurrentIndex(2);
    h->edit("lineEdit_timewait")->setText(QStringLiteral("500"));
}

void SequencesTest::readoutFillsEachField()
{
    connectWindow();
    h->edit("lineEdit_ip")->setText(QStringLiteral("stale"));
    h->list("comboBox")->setCurrentIndex(3);
    h->click("scan_parameters");
    h->holdTimer("timerScanAll");
    QCOMPARE(h->button("scan_parameters")->text(), scanRunning);
    QCOMPARE(h->edit("lineEdit_ip")->text(), QString()); // blanked at the start
    QCOMPARE(h->list("comboBox")->currentIndex(), 0);

    for (int step = 1; step <= 11; ++step)
        tick("scan_pa_modbus_all");
    const QList<QByteArray> queries = {"name",        "version",  "MAC",         "ip",
                                       "MASK",        "GATEWAY",  "PORT TCP",    "parity",
                                       "SPEED RS485", "STOP BIT", "timeout data"};
    QCOMPARE(sim->received(), queries);

    const ModuleState module = ModuleSimulator::factoryState();
    QCOMPARE(h->edit("lineEdit_name")->text(), module.name);
    QCOMPARE(h->edit("lineEdit_version")->text(), module.version);
    QCOMPARE(h->edit("lineEdit_MAC")->text(), module.mac);
    QCOMPARE(h->edit("lineEdit_ip")->text(), module.ip);
    QCOMPARE(h->edit("lineEdit_mask")->text(), module.mask);
    QCOMPARE(h->edit("lineEdit_gateway")->text(), module.gateway);
    QCOMPARE(h->edit("lineEdit_portTCP")->text(), module.portTcp);
    QCOMPARE(h->list("comboBox")->currentText(), QStringLiteral("без паритета"));
    QCOMPARE(h->list("comboBox_speed")->currentText(), module.speed);
    QCOMPARE(h->list("comboBox_2")->currentText(), module.stopBit);
    QCOMPARE(h->edit("lineEdit_timewait")->text(), module.timeout);
    QCOMPARE(h->fieldStyles(), repeated(11, green));

    tick("scan_pa_modbus_all"); // 12: the end
    QVERIFY(!h->timer("timerScanAll")->isActive());
    QCOMPARE(h->button("scan_parameters")->text(), scanIdle);
    QStringList endStyles = repeated(11, QString());
    endStyles[0] = endStyles[1] = endStyles[2] = neutral; // name, version, MAC
    QCOMPARE(h->fieldStyles(), endStyles);
    QCOMPARE(h->edit("lineEdit_ip")->text(), module.ip);
}

void SequencesTest::readoutMarksBadAnswersRed()
{
    ModuleState odd = ModuleSimulator::factoryState();
    odd.parity = QStringLiteral("NONE");
    odd.speed = QStringLiteral("14400");
    odd.stopBit = QStringLiteral("3");
    odd.timeout = QString();
    sim->setState(odd);
    connectWindow();
    h->click("scan_parameters");
    h->holdTimer("timerScanAll");
    for (int step = 1; step <= 11; ++step)
        tick("scan_pa_modbus_all");
    const QStringList styles = h->fieldStyles();
    QCOMPARE(styles.mid(0, 7), repeated(7, green));
    QCOMPARE(styles.mid(7), repeated(4, red));
    QCOMPARE(h->list("comboBox")->currentIndex(), 0);
    QCOMPARE(h->list("comboBox_speed")->currentIndex(), 0);
    QCOMPARE(h->list("comboBox_2")->currentIndex(), 0);
    QCOMPARE(h->boxes.count(), 0);
    tick("scan_pa_modbus_all"); // every mark goes at the end, red ones too
    QCOMPARE(h->fieldStyles().mid(3), repeated(8, QString()));
}

void SequencesTest::readoutStopKeepsValues()
{
    connectWindow();
    h->click("scan_parameters");
    h->holdTimer("timerScanAll");
    for (int step = 1; step <= 4; ++step)
        tick("scan_pa_modbus_all");
    h->click("scan_parameters");
    QCOMPARE(h->button("scan_parameters")->text(), scanIdle);
    QVERIFY(!h->timer("timerScanAll")->isActive());
    QCOMPARE(h->edit("lineEdit_ip")->text(), sim->state().ip);
    QCOMPARE(h->edit("lineEdit_ip")->styleSheet(), green);
    // A late answer after the stop changes nothing.
    QVERIFY(sim->sendRaw("MASK:1.2.3.4\r\n"));
    QTest::qWait(settleMs);
    QCOMPARE(h->edit("lineEdit_mask")->text(), QString());
}

void SequencesTest::readoutFailsCheckAtTick2()
{
    sim->setSilent(true); // nothing has ever answered this window
    connectWindow();
    h->click("scan_parameters");
    h->holdTimer("timerScanAll");
    tick("scan_pa_modbus_all");
    tick("scan_pa_modbus_all");
    QCOMPARE(h->boxes.count(), 1);
    QCOMPARE(h->boxes.last().title, QStringLiteral("Ошибка соединения"));
    QCOMPARE(h->boxes.last().text, QStringLiteral("нет соединения с модулем"));
    QCOMPARE(sim->received(), QList<QByteArray>{"name"});
    QVERIFY(!h->timer("timerScanAll")->isActive());
    QCOMPARE(h->status(), QStringLiteral("Disconnected"));
    QCOMPARE(h->button("connect")->text(), connectCaption);
    QCOMPARE(h->button("scan_parameters")->text(), scanIdle);
    QCOMPARE(h->enableStates(), WindowHarness::disconnectedStates());
}

void SequencesTest::readoutAbandonsWrite()
{
    connectWindow();
    startWrite();
    tick("change_mode_TCP");
    h->click("scan_parameters");
    QVERIFY(!h->timer("timerChangeModeTcp")->isActive());
    QVERIFY(h->timer("timerScanAll")->isActive());
    QCOMPARE(h->button("applyButton")->text(), writeIdle);
    QCOMPARE(h->button("scan_parameters")->text(), scanRunning);
}

void SequencesTest::writeSendsEachTicksBytes()
{
    connectWindow();
    fillForm();
    startWrite();
    QCOMPARE(h->button("applyButton")->text(), writeRunning);
    QStringList greenDuringWrite;
    h->boxes.setWhileOpen([&](QMessageBox *) { greenDuringWrite = h->fieldStyles(); });
    for (int t = 1; t <= 19; ++t) {
        tick("change_mode_TCP");
        if (t == 2)
            QVERIFY(sim->received().isEmpty()); // nothing before tick 3
    }
    const QList<QByteArray> expected = {
        "CHANGE IP:192.168.0.10", "CHANGE MASK:255.255.0.0", "CHANGE GATEWAY:192.168.0.1",
        "CHANGE PORT TCP:10001",  "CHANGE PARITY:odd",       "CHANGE SPEED RS485:115200",
        "CHANGE STOP BIT:2",      "change timeout data:500", "reset"};
    QCOMPARE(sim->received(), expected);
    QCOMPARE(sim->received().first().size(), 22);

    QTRY_COMPARE(h->boxes.count(), 1);
    QCOMPARE(h->boxes.last().title, QStringLiteral("Результы изменения"));
    QCOMPARE(h->boxes.last().text, successText);
    QCOMPARE(h->boxes.last().icon, QMessageBox::Information);
    // While the box was up the acknowledged fields were green.
    QCOMPARE(greenDuringWrite.mid(3), repeated(8, green));
    QCOMPARE(h->fieldStyles().mid(2), repeated(9, QString()));
    QCOMPARE(h->button("applyButton")->text(), writeIdle);
    QVERIFY(!h->timer("timerChangeModeTcp")->isActive());
    // The module restarts on "reset": the link goes without a word.
    QTRY_COMPARE(h->button("connect")->text(), connectCaption);
    QCOMPARE(h->status(), QStringLiteral("Disconnected"));
    QCOMPARE(h->boxes.count(), 1);
    QCOMPARE(sim->state().ip, QStringLiteral("192.168.0.10"));
}

void SequencesTest::writeSendsBarePrefixes()
{
    connectWindow();
    sim->setSilent(true);
    startWrite();
    for (int t = 1; t <= 3; ++t)
        tick("change_mode_TCP");
    QVERIFY(sim->sendRaw("ok\r\n")); // the IP write is acknowledged by hand
    QTest::qWait(settleMs);
    for (int t = 4; t <= 19; ++t)
        tick("change_mode_TCP");
    const QList<QByteArray> expected = {
        "CHANGE IP:",       "CHANGE MASK:",         "CHANGE GATEWAY:",
        "CHANGE PORT TCP:", "CHANGE PARITY:",       "CHANGE SPEED RS485:",
        "CHANGE STOP BIT:", "change timeout data:", "reset"};
    QCOMPARE(sim->received(), expected);
    // A silent module after tick 4 still ends in the success box.
    QTRY_COMPARE(h->boxes.count(), 1);
    QCOMPARE(h->boxes.last().text, successText);
}

void SequencesTest::writeAbortsOnWrongReply_data()
{
    QTest::addColumn<QByteArray>("refused");
    QTest::addColumn<bool>("wrongAck");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("commandsSent");
    QTest::addColumn<QString>("failureText");
    QTest::addColumn<bool>("aborts");
    const QString spaced = QStringLiteral("<FONT COLOR='#800000'> Ошибка записи </FONT>");
    const QString tight = QStringLiteral("<FONT COLOR='#800000'>Ошибка записи </FONT>");
    QTest::newRow("OK in capitals to the IP")
        << QByteArray() << true << "lineEdit_ip" << 1 << spaced << true;
    QTest::newRow("mask refused") << QByteArray("CHANGE MASK:") << false << "lineEdit_mask" << 2
                                  << spaced << true;
    QTest::newRow("port refused") << QByteArray("CHANGE PORT TCP:") << false << "lineEdit_portTCP"
                                  << 4 << tight << true;
    QTest::newRow("stop bits refused")
        << QByteArray("CHANGE STOP BIT:") << false << "comboBox_2" << 7 << tight << true;
    QTest::newRow("time-out refused with ?") << QByteArray("change timeout data:") << false
                                             << "lineEdit_timewait" << 8 << spaced << true;
}

void SequencesTest::writeAbortsOnWrongReply()
{
    QFETCH(QByteArray, refused);
    QFETCH(bool, wrongAck);
    QFETCH(QString, field);
    QFETCH(int, commandsSent);
    connectWindow();
    fillForm();
    if (!refused.isEmpty())
        sim->refuseCommand(refused);
    startWrite();
    // The IP acknowledgement must pass tick 4 unless it is the one refused.
    if (wrongAck) {
        sim->setWrongAck(true);
    }
    QString styleWhileOpen;
    h->boxes.setWhileOpen([&](QMessageBox *) {
        styleWhileOpen = h->find(field.toLatin1().constData())->styleSheet();
    });
    for (int t = 1; t <= 19 && h->timer("timerChangeModeTcp")->isActive(); ++t)
        tick("change_mode_TCP");
    QCOMPARE(h->boxes.count(), 1);
    QCOMPARE(h->boxes.last().title, QStringLiteral("Ошибка"));
    QTEST(h->boxes.last().text, "failureText");
    QCOMPARE(styleWhileOpen, red);
    QCOMPARE(sim->received().size(), commandsSent); // nothing after the refusal
    QVERIFY(!h->timer("timerChangeModeTcp")->isActive());
    QCOMPARE(h->button("applyButton")->text(), writeIdle);
    QCOMPARE(h->fieldStyles(), repeated(11, QString()));
    QCOMPARE(h->status(), QStringLiteral("Connected")); // the port stays open
}

void SequencesTest::writeCheckAtTick4Fails()
{
    connectWindow();
    sim->setSilent(true);
    startWrite();
    for (int t = 1; t <= 4; ++t)
        tick("change_mode_TCP");
    QCOMPARE(h->boxes.count(), 1);
    QCOMPARE(h->boxes.last().title, QStringLiteral("Ошибка соединения"));
    QCOMPARE(h->boxes.last().text, QStringLiteral("нет соединения с модулем"));
    QCOMPARE(sim->received(), QList<QByteArray>{"CHANGE IP:"});
    QCOMPARE(h->status(), QStringLiteral("Disconnected"));
    QCOMPARE(h->button("connect")->text(), connectCaption);
    QCOMPARE(h->button("scan_parameters")->text(), scanIdle);
    QCOMPARE(h->button("applyButton")->text(), writeIdle);
    QVERIFY(!h->timer("timerChangeModeTcp")->isActive());
}

void SequencesTest::writeJudgesItsOwnAcknowledgement()
{
    // One acknowledged write must not let a later one with a silent module
    // pass the check and end in the success box.
    connectWindow();
    fillForm();
    startWrite();
    for (int t = 1; t <= 4; ++t)
        tick("change_mode_TCP");
    QCOMPARE(h->edit("lineEdit_ip")->styleSheet(), green);
    h->click("applyButton"); // stop
    sim->setSilent(true);
    startWrite();
    for (int t = 1; t <= 4; ++t)
        tick("change_mode_TCP");
    QCOMPARE(h->boxes.count(), 1);
    QCOMPARE(h->boxes.last().text, QStringLiteral("нет соединения с модулем"));
    QCOMPARE(h->status(), QStringLiteral("Disconnected"));
}

void SequencesTest::writeStopClick()
{
    connectWindow();
    fillForm();
    startWrite();
    for (int t = 1; t <= 5; ++t)
        tick("change_mode_TCP");
    QCOMPARE(h->edit("lineEdit_mask")->styleSheet(), green);
    h->click("applyButton");
    QCOMPARE(h->button("applyButton")->text(), writeIdle);
    QVERIFY(!h->timer("timerChangeModeTcp")->isActive());
    QCOMPARE(h->fieldStyles(), repeated(11, QString()));
    // The next start begins again at tick 1.
    sim->clearReceived();
    startWrite();
    for (int t = 1; t <= 3; ++t)
        tick("change_mode_TCP");
    QCOMPARE(sim->received(), QList<QByteArray>{"CHANGE IP:192.168.0.10"});
}

void SequencesTest::writeRefusedWhileReadoutRuns()
{
    connectWindow();
    h->click("scan_parameters");
    h->click("applyButton");
    QCOMPARE(h->button("applyButton")->text(), writeIdle);
    QVERIFY(!h->timer("timerChangeModeTcp")->isActive());
}

void SequencesTest::restartDuringWriteStopsIt()
{
    // A restart during a write drops the link; the write must not tick on
    // against the closed port and report success.
    connectWindow();
    fillForm();
    startWrite();
    for (int t = 1; t <= 6; ++t)
        tick("change_mode_TCP");
    h->click("Reset");
    QTRY_COMPARE(h->button("connect")->text(), connectCaption);
    QVERIFY(!h->timer("timerChangeModeTcp")->isActive());
    QCOMPARE(h->button("applyButton")->text(), writeIdle);
    QCOMPARE(h->button("scan_parameters")->text(), scanIdle);
    QCOMPARE(h->boxes.count(), 0);
}

void SequencesTest::restartSendsReset()
{
    connectWindow();
    h->click("Reset");
    QTRY_COMPARE(sim->received(), QList<QByteArray>{"RESET"});
    QTRY_COMPARE(h->status(), QStringLiteral("Disconnected")); // quiet loss of the link
    QCOMPARE(h->boxes.count(), 0);
}

void SequencesTest::factoryReset_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("sent");
    QTest::newRow("yes") << QStringLiteral("Да") << true;
    QTest::newRow("no") << QStringLiteral("Нет") << false;
    QTest::newRow("escape") << QString() << false;
}

void SequencesTest::factoryReset()
{
    QFETCH(QString, answer);
    QFETCH(bool, sent);
    ModuleState changed = ModuleSimulator::factoryState();
    changed.ip = QStringLiteral("10.0.0.7");
    sim->setState(changed);
    connectWindow();
    h->edit("lineEdit_ip")->setText(QStringLiteral("kept"));
    h->boxes.answerNext(answer);
    h->click("reset_allparameters");
    QTRY_COMPARE(h->boxes.count(), 1);
    const MessageBoxAnswerer::Box box = h->boxes.last();
    QCOMPARE(box.title, QStringLiteral("Сброс"));
    QCOMPARE(box.text, QStringLiteral("Вы действительно хотите cбросить к заводским настройкам?"));
    QCOMPARE(box.text.at(24), QLatin1Char('c'));
    QCOMPARE(box.buttons, (QStringList{"Да", "Нет"}));
    QTest::qWait(settleMs);
    QCOMPARE(h->edit("lineEdit_ip")->text(), QStringLiteral("kept"));
    if (sent) {
        QCOMPARE(sim->received(), QList<QByteArray>{"LOAD SETTING:DEFAULT"});
        QTRY_COMPARE(h->status(), QStringLiteral("Disconnected"));
        QCOMPARE(h->boxes.count(), 1); // the loss of the link is expected
        QTRY_COMPARE(sim->state().ip, ModuleSimulator::factoryState().ip);
        return;
    }
    QVERIFY(sim->received().isEmpty());
    // No restart was commanded, so pulling the module now is reported.
    sim->hangUp();
    QTRY_COMPARE(h->boxes.count(), 2);
    QCOMPARE(h->boxes.last().title, QStringLiteral("Critical Error"));
}

void SequencesTest::readoutInRealTime()
{
    connectWindow();
    h->click("scan_parameters");
    QTRY_COMPARE_WITH_TIMEOUT(h->button("scan_parameters")->text(), scanIdle, 20000);
    QCOMPARE(sim->received().size(), 11);
    QCOMPARE(h->edit("lineEdit_timewait")->text(), sim->state().timeout);
    QCOMPARE(h->edit("lineEdit_name")->styleSheet(), neutral);
    QCOMPARE(h->boxes.count(), 0);
}

void SequencesTest::writeInRealTime()
{
    connectWindow();
    fillForm();
    h->click("applyButton");
    QTRY_COMPARE_WITH_TIMEOUT(h->boxes.count(), 1, 30000);
    QCOMPARE(h->boxes.last().text, successText);
    QTRY_COMPARE(sim->received().size(), 9);
    QCOMPARE(sim->received().last(), QByteArray("reset"));
    QTRY_COMPARE(h->button("connect")->text(), connectCaption);
    // Reconnect after the restart and read the new values back.
    QTRY_VERIFY(sim->isLinked());
    h->click("connect");
    QCOMPARE(h->status(), QStringLiteral("Connected"));
    h->click("scan_parameters");
    QTRY_COMPARE_WITH_TIMEOUT(h->button("scan_parameters")->text(), scanIdle, 20000);
    QCOMPARE(h->edit("lineEdit_ip")->text(), QStringLiteral("192.168.0.10"));
    QCOMPARE(h->list("comboBox_speed")->currentText(), QStringLiteral("115200"));
}

QTEST_MAIN(SequencesTest)
#include "tst_sequences.moc"

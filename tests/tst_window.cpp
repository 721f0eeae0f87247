// The window in the field: the sequences' progress bar, the port list's
// tool tips, the traffic log and the window program's command line.
#include "engine/console/portcatalog.h"
#include "engine/platform/textsafety.h"
#include "engine/platform/tracelog.h"
#include "modulesimulator.h"
#include "window/commandline.h"
#include "windowharness.h"

#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void progress_data();
    void progress();
    void portToolTips();
    void trafficLog();
    void commandLine_data();
    void commandLine();
    void portOption();

private:
    QProgressBar *bar() const { return h->find<QProgressBar>("sequenceProgress"); }

    ModuleSimulator *sim = nullptr;
    WindowHarness *h = nullptr;
};

void WindowTest::init()
{
    sim = new ModuleSimulator;
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    h = new WindowHarness;
}

void WindowTest::cleanup()
{
    delete h;
    h = nullptr;
    delete sim;
    sim = nullptr;
    PortCatalog::setSystemPortSource(nullptr);
    PortCatalog::setAliasDirectory(QString());
}

void WindowTest::progress_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("ticks"); // ticked before the end comes
    QTest::addColumn<QString>("end");
    QTest::newRow("read-out to its end") << false << 12 << "";
    QTest::newRow("read-out stopped") << false << 3 << "click scan_parameters";
    QTest::newRow("read-out, disconnected") << false << 3 << "click connect";
    QTest::newRow("read-out, module pulled") << false << 3 << "hang up";
    QTest::newRow("read-out, no answer") << false << 2 << "silent";
    QTest::newRow("write to its end") << true << 19 << "";
    QTest::newRow("write stopped") << true << 5 << "click applyButton";
    QTest::newRow("write refused") << true << 11 << "refuse";
    QTest::newRow("write, no acknowledgement") << true << 4 << "silent";
    QTest::newRow("write, module pulled") << true << 5 << "hang up";
}

void WindowTest::progress()
{
    QFETCH(bool, write);
    QFETCH(int, ticks);
    QFETCH(QString, end);
    const char *const slot = write ? "change_mode_TCP" : "scan_pa_modbus_all";
    const int total = write ? 19 : 12;

    QVERIFY(bar()->isHidden()); // at start
    QCOMPARE(h->window.statusBar(), bar()->parentWidget());
    h->connectTo(sim->devicePath());
    if (end == QLatin1String("silent"))
        sim->setSilent(true); // no answer to the read-out's first query, nor to the IP write
    if (end == QLatin1String("refuse"))
        sim->refuseCommand("CHANGE PARITY:"); // sent at tick 11
    const char *const edits[][2] = {{"lineEdit_ip", "10.0.0.2"},
                                    {"lineEdit_mask", "255.0.0.0"},
                                    {"lineEdit_gateway", "10.0.0.1"},
                                    {"lineEdit_portTCP", "502"},
                                    {"lineEdit_timewait", "100"}};
    for (const auto &edit : edits)
        h->edit(edit[0])->setText(QString::fromLatin1(edit[1]));
    for (const char *list : {"comboBox", "comboBox_speed", "comboBox_2"})
        h->list(list)->setCurrentIndex(1);
    h->click(write ? "applyButton" : "scan_parameters");
    h->holdTimer(write ? "timerChangeModeTcp" : "timerScanAll");
    QVERIFY(!bar()->isHidden());
    QCOMPARE(bar()->maximum(), total);
    QCOMPARE(bar()->value(), 0);

    // A reply is judged by the tick reached when it arrives: each one is let
    // in (its field marked) before the next tick, as a second apart would.
    const bool answers = end != QLatin1String("silent");
    for (int t = 1; t <= ticks; ++t) {
        h->invoke(slot);
        if (t == ticks)
            break; // the end may come with this tick's answer
        QTRY_COMPARE(bar()->value(), t);
        const int field = write ? (t >= 3 && t % 2 == 1 ? 3 + (t - 3) / 2 : -1) : t - 1;
        if (answers && field >= 0 && field < WindowHarness::fieldNames().size()) {
            const QByteArray name = WindowHarness::fieldNames().at(field).toLatin1();
            QTRY_VERIFY(!h->find(name.constData())->styleSheet().isEmpty());
        }
    }
    if (end.startsWith(QLatin1String("click ")))
        h->click(end.mid(6).toLatin1().constData());
    if (end == QLatin1String("hang up"))
        sim->hangUp();
    QTRY_VERIFY(bar()->isHidden());
    QVERIFY(h->boxes.count() <= 1);
}

void WindowTest::portToolTips()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Two adapters of one make, told apart by serial number and alias.
    const QString first = dir.filePath(QStringLiteral("ttyUSB0"));
    const QString second = dir.filePath(QStringLiteral("ttyUSB1"));
    for (const QString &device : {first, second}) {
        QFile node(device);
        QVERIFY(node.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("by-id"))));
    const QString alias = dir.filePath(QStringLiteral("by-id/usb-FTDI_FT232R_A50285BI-if00-port0"));
    QVERIFY(QFile::link(second, alias));
    PortCatalog::setAliasDirectory(dir.filePath(QStringLiteral("by-id")));
    PortCatalog::setSystemPortSource([&] {
        PortDetails a;
        a.name = QStringLiteral("ttyUSB0");
        a.systemLocation = first;
        a.description = QStringLiteral("FT232R USB UART");
        a.manufacturer = QStringLiteral("FTDI");
        a.serialNumber = QStringLiteral("A10K3X7Q");
        a.hasIds = true;
        a.vendorId = 0x0403;
        a.productId = 0x6001;
        PortDetails b = a;
        b.name = QStringLiteral("ttyUSB1");
        b.systemLocation = second;
        b.serialNumber = QStringLiteral("A50285BI\x1b[2J");
        PortDetails bare;
        bare.name = QStringLiteral("ttyS0");
        bare.systemLocation = QStringLiteral("/dev/ttyS0");
        return QList<PortDetails>{a, b, bare};
    });
    h->click("scanport");

    QComboBox *ports = h->list("serialPortInfoListBox");
    QCOMPARE(ports->count(), 3);
    QCOMPARE(ports->itemText(0), QStringLiteral("ttyUSB0"));
    QCOMPARE(ports->itemText(1), QStringLiteral("ttyUSB1"));
    QCOMPARE(ports->itemData(0, Qt::ToolTipRole).toString(),
             first + QStringLiteral("\nОписание: FT232R USB UART\nПроизводитель: FTDI\n"
                                    "Серийный номер: A10K3X7Q\nVID:PID: 0403:6001"));
    QCOMPARE(ports->itemData(1, Qt::ToolTipRole).toString(),
             second +
                 QStringLiteral("\nОписание: FT232R USB UART\nПроизводитель: FTDI\n"
                                "Серийный номер: A50285BI\\x1b[2J\nVID:PID: 0403:6001\n") +
                 alias);
    QCOMPARE(ports->itemData(2, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS0"));
    QVERIFY(!ports->itemData(0, Qt::UserRole).isValid());
    // The closed list shows the chosen adapter's tool tip.
    QCOMPARE(ports->toolTip(), ports->itemData(0, Qt::ToolTipRole).toString());
    ports->setCurrentIndex(1);
    QCOMPARE(ports->toolTip(), ports->itemData(1, Qt::ToolTipRole).toString());
}

void WindowTest::trafficLog()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("traffic.log"));
    QByteArray reply;
    connect(sim, &ModuleSimulator::bytesSent, this,
            [&](const QByteArray &bytes) { reply += bytes; });
    {
        TraceLog log;
        QVERIFY(log.open(path));
        h->window.setTraceLog(&log);
        h->connectTo(sim->devicePath());
        h->click("scan_parameters");
        h->holdTimer("timerScanAll");
        h->invoke("scan_pa_modbus_all"); // "name"
        QTRY_VERIFY(!h->edit("lineEdit_name")->text().isEmpty());
        h->click("connect"); // disconnect
        h->window.setTraceLog(nullptr);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    const QByteArray port = h->list("serialPortInfoListBox")->currentText().toUtf8();
    QVERIFY(!reply.isEmpty());
    const QList<QByteArray> expected = {port + " opened", port + " > name",
                                        port + " < " + textsafety::escapeBytes(reply),
                                        port + " closed", ""};
    QCOMPARE(lines.size(), expected.size());
    const QRegularExpression stamp(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) )"));
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]);
        const QRegularExpressionMatch match = stamp.match(line);
        QVERIFY2(match.hasMatch(), lines[i].constData());
        QCOMPARE(lines[i].mid(match.capturedLength()), expected[i]);
    }
}

void WindowTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("error");
    QTest::newRow("--version") << QStringList{"--version"} << 0
                               << QStringLiteral("ordan-configurator %1\n").arg(programVersion())
                               << QString();
    QTest::newRow("log that cannot be opened")
        << QStringList{"--log", "/nonexistent/directory/traffic.log"} << 2 << QString()
        << QStringLiteral("ordan-configurator: cannot open the log file "
                          "'/nonexistent/directory/traffic.log': No such file or directory\n");
    QTest::newRow("--port without a path")
        << QStringList{"--port", ""} << 2 << QString()
        << QStringLiteral("ordan-configurator: --port needs a device path\n"
                          "Try 'ordan-configurator --help'.\n");
}

void WindowTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QProcess program;
    program.start(QStringLiteral(ORDAN_CONFIGURATOR_PATH), arguments);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QTEST(program.exitCode(), "exitCode");
    QTEST(QString::fromUtf8(program.readAllStandardOutput()), "out");
    QTEST(QString::fromUtf8(program.readAllStandardError()), "error");
}

void WindowTest::portOption()
{
    // A pseudo-terminal the system does not list, given with --port: the
    // list offers it, and the window connects to it.
    TraceLog log;
    QCOMPARE(readOptions({"ordan-configurator", "--port", sim->devicePath()}, log), -1);
    h->click("scanport");
    QComboBox *ports = h->list("serialPortInfoListBox");
    const int entry = ports->findText(sim->devicePath());
    QVERIFY(entry >= 0);
    QCOMPARE(ports->itemData(entry, Qt::ToolTipRole).toString(), sim->devicePath());
    ports->setCurrentIndex(entry);
    h->click("connect");
    QCOMPARE(h->status(), QStringLiteral("Connected"));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"

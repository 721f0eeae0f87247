#include "window/mainwindow.h"

#include "engine/console/replyframer.h"
#include "engine/platform/tracelog.h"
#include "protocol/protocol.h"
#include "ui_mainwindow.h"
#include "window/formtexts.h"
#include "window/schedule.h"
#include "window/sequenceprogress.h"
#include "window/settingsdialog.h"

#include <QIcon>
#include <QTimer>

// The window icon lives in the library's resource bundle. The library is
// linked statically, so the bundle is registered by name: when the process
// starts, and unregistered when it ends.
static void registerResources()
{
    Q_INIT_RESOURCE(resources);
}

static void unregisterResources()
{
    Q_CLEANUP_RESOURCE(resources);
}

namespace
{
struct ResourceBundle {
    ResourceBundle() { registerResources(); }
    ~ResourceBundle() { unregisterResources(); }
};
const ResourceBundle resourceBundle;
} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    restartRequested = false;
    writeAcknowledged = false;
    ui->setupUi(this);

    const auto makeTimer = [this](const char *name) {
        auto *timer = new QTimer(this);
        timer->setObjectName(QLatin1String(name));
        return timer;
    };
    scanStep = 0;
    timerForScan = makeTimer("timerForScan");
    QObject::connect(timerForScan, SIGNAL(timeout()), this, SLOT(timerforScan()));
    timerForScan->setInterval(1000);
    changeParametersStep = 0;
    timerChangeParameters = makeTimer("timerChangeParameters");
    timerChangeParameters->setInterval(1000);
    scanAllStep = 0;
    timerScanAll = makeTimer("timerScanAll");
    QObject::connect(timerScanAll, SIGNAL(timeout()), this, SLOT(scan_pa_modbus_all()));
    timerScanAll->setInterval(1000);
    writeStep = 0;
    timerChangeModeTcp = makeTimer("timerChangeModeTcp");
    QObject::connect(timerChangeModeTcp, SIGNAL(timeout()), this, SLOT(change_mode_TCP()));
    timerChangeModeTcp->setInterval(1000);

    setWindowTitle(tr(Caption::windowTitle));
    setWindowIcon(QIcon(QLatin1String(windowIconPath)));

    ui->scan_parameters->setEnabled(false);
    ui->applyButton->setEnabled(false);
    ui->Reset->setEnabled(false);
    ui->serialPortInfoListBox->setEnabled(true);
    ui->lineEdit_MAC->setEnabled(false);
    ui->lineEdit_version->setEnabled(false);
    ui->reset_allparameters->setEnabled(false);
    ui->lineEdit_name->setEnabled(false);

    // The closed port list tells which adapter is chosen, as its entries do.
    QObject::connect(
        ui->serialPortInfoListBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
        [this](int index) {
            ui->serialPortInfoListBox->setToolTip(
                ui->serialPortInfoListBox->itemData(index, Qt::ToolTipRole).toString());
        });
    checkCustomDevicePathPolicy();
    // The settings file's own file commands ask with the window's dialog.
    installSettingsFileDialog();

    replyFramer = new ReplyFramer(this);
    QObject::connect(replyFramer, &ReplyFramer::replyFramed, this,
                     [this](const QByteArray &bytes) { handleReply(bytes); });
    QObject::connect(&serial, &QSerialPort::readyRead, this, &MainWindow::readData);
    QObject::connect(&serial, &QSerialPort::errorOccurred, this, &MainWindow::handleError);

    sequenceProgress =
        new SequenceProgress(ui->statusbar, {timerScanAll, &scanAllStep, readoutEndStep},
                             {timerChangeModeTcp, &writeStep, writeLastTick}, this);
    // A click may start a sequence; the button's own slot has run by then.
    for (QPushButton *start : {ui->scan_parameters, ui->applyButton})
        QObject::connect(start, &QPushButton::clicked, sequenceProgress,
                         &SequenceProgress::refresh);
}

MainWindow::~MainWindow()
{
    // The port reports nothing more to a window that is going away.
    QObject::disconnect(&serial, nullptr, this, nullptr);
    delete ui;
    ui = nullptr;
    if (serial.isOpen()) {
        tracePortEvent(QStringLiteral("closed"));
        serial.close();
        timerForScan->stop();
        timerChangeParameters->stop();
        timerChangeModeTcp->stop();
    }
}

void MainWindow::universal_show(int index)
{
    QWidget *const optional[] = {ui->label_modeTcp,     ui->lineEdit_version,
                                 ui->label_version,     ui->label_timewait,
                                 ui->lineEdit_timewait, ui->reset_allparameters};
    switch (index) {
    case 0:
    case 1:
        for (QWidget *widget : optional)
            widget->hide();
        setFixedSize(550, index == 0 ? 500 : 600);
        break;
    case 2:
        for (QWidget *widget : optional)
            widget->show();
        break;
    default:
        break;
    }
}

void MainWindow::styleclear()
{
    // Every parameter field but the version loses its mark.
    for (ModuleField field : allModuleFields) {
        if (field != ModuleField::Version)
            fieldWidget(field)->setStyleSheet(QString());
    }
}

void MainWindow::timerforScan() {}

void MainWindow::on_checkBox_clicked(bool checked)
{
    Q_UNUSED(checked);
}

void MainWindow::on_action_show_triggered() {}

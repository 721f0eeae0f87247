// The serial link: the port list, opening and closing the chosen port, the
// window's connection state and the reaction to a lost port.
#include "engine/console/hangup.h"
#include "engine/console/portcatalog.h"
#include "engine/console/portlistmodel.h"
#include "engine/console/portlock.h"
#include "engine/console/replyframer.h"
#include "engine/platform/tracelog.h"
#include "ui_mainwindow.h"
#include "window/formtexts.h"
#include "window/mainwindow.h"

#include <QMessageBox>
#include <QSignalBlocker>
#include <QTimer>

// While connected the module's buttons work and the port cannot be changed.
static void enableConnectedControls(Ui_MainWindow *ui, bool connected)
{
    ui->scan_parameters->setEnabled(connected);
    ui->applyButton->setEnabled(connected);
    ui->Reset->setEnabled(connected);
    ui->serialPortInfoListBox->setEnabled(!connected);
    ui->reset_allparameters->setEnabled(connected);
    ui->scanport->setEnabled(!connected);
}

void MainWindow::checkCustomDevicePathPolicy()
{
    // The list's own entries, filled from the port catalogue: the list's
    // API (addItem, insertItem, clear) works on them as on any list. Two
    // adapters of one kind are told apart by serial number or alias, in
    // each entry's tool tip. Adding to the emptied list makes the first
    // entry the chosen one.
    static const PortListModel::Labels words{QStringLiteral("Описание: %1"),
                                             QStringLiteral("Производитель: %1"),
                                             QStringLiteral("Серийный номер: %1")};
    QComboBox *list = ui->serialPortInfoListBox;
    list->clear();
    for (const PortDetails &port : PortCatalog::ports()) {
        list->addItem(port.name);
        list->setItemData(list->count() - 1, PortListModel::toolTip(port, words), Qt::ToolTipRole);
    }
    list->setToolTip(list->currentData(Qt::ToolTipRole).toString());
}

void MainWindow::on_scanport_clicked()
{
    checkCustomDevicePathPolicy();
}

void MainWindow::openport()
{
    serial.setPortName(ui->serialPortInfoListBox->currentText());
    QString held;
    if (serial.open(QIODevice::ReadWrite)) {
        // The device is this window's alone while it is open: no other
        // program or run writes to the module meanwhile.
        if (PortLock::holdDevice(int(serial.handle()), serial.portName(), &held)) {
            tracePortEvent(QStringLiteral("opened"));
            enableConnectedControls(ui, true);
            ui->statusbar->showMessage(tr(Status::connected));
            // Only a restart commanded during this connection makes the
            // loss of the link expected; an unplugged cable later must
            // still be reported.
            restartRequested = false;
            return;
        }
        const QSignalBlocker quiet(serial);
        serial.close();
    }
    tracePortEvent(QStringLiteral("open failed: ") +
                   (held.isEmpty() ? serial.errorString() : held));
    QMessageBox::critical(this, tr("Отказано в доступе"), QStringLiteral("Ошибка соединения"));
    ui->statusbar->showMessage(tr(Status::openRefused));
    timerForScan->stop();
    timerChangeParameters->stop();
    ui->connect->setText(QString::fromUtf8(Caption::connect));
}

void MainWindow::closeport()
{
    if (!serial.isOpen())
        return;
    {
        // Restoring the line settings of a device that hung up fails; that
        // is no news while the port is being closed anyway.
        const QSignalBlocker quiet(serial);
        serial.close();
    }
    tracePortEvent(QStringLiteral("closed"));
    replyFramer->clear();
    enableConnectedControls(ui, false);
    ui->statusbar->showMessage(tr(Status::disconnected));
    timerForScan->stop();
    scanStep = 0;
    timerChangeParameters->stop();
    changeParametersStep = 0;
}

void MainWindow::stopAllSequences()
{
    timerForScan->stop();
    timerChangeParameters->stop();
    timerChangeModeTcp->stop();
    timerScanAll->stop();
    scanStep = 0;
    changeParametersStep = 0;
    scanAllStep = 0;
    writeStep = 0;
}

void MainWindow::tracePortEvent(const QString &text)
{
    if (traceLog)
        traceLog->event(serial.portName(), text);
}

void MainWindow::on_connect_clicked()
{
    const QString caption = ui->connect->text();
    if (caption == QString::fromUtf8(Caption::connect)) {
        openport();
        if (serial.isOpen())
            ui->connect->setText(QString::fromUtf8(Caption::disconnect));
    } else if (caption == QString::fromUtf8(Caption::disconnect)) {
        ui->connect->setText(QString::fromUtf8(Caption::connect));
        closeport();
        stopAllSequences();
        ui->scan_parameters->setText(QString::fromUtf8(Caption::scanIdle));
        ui->applyButton->setText(QString::fromUtf8(Caption::writeIdle));
    }
}

void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    // Qt reports a device that hung up as read errors, again and again while
    // the port stays open; those are the loss of the port too (portLost()).
    if (!portLost(serial, error))
        return;
    tracePortEvent(QStringLiteral("lost: ") + serial.errorString() +
                   (restartRequested ? QStringLiteral(" (restart commanded)") : QString()));

    if (restartRequested) {
        // The module restarts on our command and takes its port with it.
        closeport();
        ui->connect->setText(QString::fromUtf8(Caption::connect));
        // A read-out or write must not tick on against the closed port.
        stopAllSequences();
        ui->scan_parameters->setText(QString::fromUtf8(Caption::scanIdle));
        ui->applyButton->setText(QString::fromUtf8(Caption::writeIdle));
        return;
    }

    closeport();
    stopAllSequences();
    QMessageBox::critical(this, tr("Critical Error"), QStringLiteral("Ошибка соединения"));
    ui->connect->setText(QString::fromUtf8(Caption::connect));
    ui->scan_parameters->setText(QString::fromUtf8(Caption::scanIdle));
    ui->applyButton->setText(QString::fromUtf8(Caption::writeIdle));
    styleclear();
}

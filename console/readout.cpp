// The parameter read-out: eleven queries, one a second, a connection check
// on the second tick and the end on the twelfth.
#include "app/formtexts.h"
#include "app/mainwindow.h"
#include "console/protocol.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QTimer>

void MainWindow::on_scan_parameters_clicked()
{
    const QString caption = ui->scan_parameters->text();
    if (caption == QString::fromUtf8(Caption::scanIdle)) {
        ui->scan_parameters->setText(QString::fromUtf8(Caption::scanRunning));
        ui->applyButton->setText(QString::fromUtf8(Caption::writeIdle));
        timerChangeModeTcp->stop();
        writeStep = 0;
        if (timerScanAll->isActive()) {
            timerScanAll->stop();
            scanAllStep = 0;
            return;
        }
        timerScanAll->start(1000);
        for (QLineEdit *edit : {ui->lineEdit_ip, ui->lineEdit_mask, ui->lineEdit_gateway,
                                ui->lineEdit_portTCP, ui->lineEdit_MAC, ui->lineEdit_name,
                                ui->lineEdit_version, ui->lineEdit_timewait}) {
            edit->clear();
            edit->setStyleSheet(QString());
        }
        for (QComboBox *list : {ui->comboBox_speed, ui->comboBox_2, ui->comboBox}) {
            list->setCurrentIndex(0);
            list->setStyleSheet(QString());
        }
    } else if (caption == QString::fromUtf8(Caption::scanRunning)) {
        ui->scan_parameters->setText(QString::fromUtf8(Caption::scanIdle));
        stopAllSequences();
    }
}

void MainWindow::scan_pa_modbus_all()
{
    ++scanAllStep;
    if (scanAllStep == 2 && replyText.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка соединения"),
                              QStringLiteral("нет соединения с модулем"));
        timerScanAll->stop();
        scanAllStep = 0;
        closeport();
        ui->connect->setText(QString::fromUtf8(Caption::connect));
        ui->scan_parameters->setText(QString::fromUtf8(Caption::scanIdle));
        return;
    }
    if (const QueryRow *query = queryForStep(scanAllStep)) {
        sendCommand(QByteArray(query->command));
        return;
    }
    if (scanAllStep == 12) {
        timerScanAll->stop();
        scanAllStep = 0;
        ui->scan_parameters->setText(QString::fromUtf8(Caption::scanIdle));
        for (QWidget *field : {static_cast<QWidget *>(ui->lineEdit_ip),
                               static_cast<QWidget *>(ui->comboBox),
                               static_cast<QWidget *>(ui->comboBox_2),
                               static_cast<QWidget *>(ui->comboBox_speed),
                               static_cast<QWidget *>(ui->lineEdit_mask),
                               static_cast<QWidget *>(ui->lineEdit_portTCP),
                               static_cast<QWidget *>(ui->lineEdit_gateway),
                               static_cast<QWidget *>(ui->lineEdit_timewait)})
            field->setStyleSheet(QString());
        for (QLineEdit *info : {ui->lineEdit_MAC, ui->lineEdit_name, ui->lineEdit_version})
            info->setStyleSheet(QString::fromUtf8(Mark::neutral));
    }
}

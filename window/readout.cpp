// The parameter read-out: eleven queries, one a second, a connection check
// on the second tick and the end on the twelfth.
#include "protocol/protocol.h"
#include "ui_mainwindow.h"
#include "window/formtexts.h"
#include "window/mainwindow.h"
#include "window/schedule.h"

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
        for (ModuleField field : allModuleFields) {
            QWidget *widget = fieldWidget(field);
            if (auto *list = qobject_cast<QComboBox *>(widget))
                list->setCurrentIndex(0);
            else if (auto *edit = qobject_cast<QLineEdit *>(widget))
                edit->clear();
            widget->setStyleSheet(QString());
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
    if (scanAllStep == readoutEndStep) {
        timerScanAll->stop();
        scanAllStep = 0;
        ui->scan_parameters->setText(QString::fromUtf8(Caption::scanIdle));
        // The validity colours give way to the neutral look of the fields
        // that only show what the module reports.
        for (ModuleField field : allModuleFields) {
            fieldWidget(field)->setStyleSheet(
                isInformationField(field) ? QString::fromUtf8(Mark::neutral) : QString());
        }
    }
}

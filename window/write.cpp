// The parameter write: one command every other second, the acknowledgement
// check at tick 4, "reset" and the success report at tick 19.
#include "protocol/protocol.h"
#include "ui_mainwindow.h"
#include "window/formtexts.h"
#include "window/mainwindow.h"
#include "window/schedule.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>

void MainWindow::on_applyButton_clicked()
{
    const QString caption = ui->applyButton->text();
    const bool mayStart = caption == QString::fromUtf8(Caption::writeIdle) &&
                          ui->scan_parameters->text() == QString::fromUtf8(Caption::scanIdle) &&
                          serial.isOpen();
    if (mayStart) {
        ui->applyButton->setText(QString::fromUtf8(Caption::writeRunning));
        if (timerChangeModeTcp->isActive()) {
            timerChangeModeTcp->stop();
            writeStep = 0;
            return;
        }
        writeStep = 0;
        // The check at tick 4 judges this write's acknowledgement, not one
        // from an earlier write.
        writeAcknowledged = false;
        timerChangeModeTcp->start(1000);
    } else if (caption == QString::fromUtf8(Caption::writeRunning)) {
        ui->applyButton->setText(QString::fromUtf8(Caption::writeIdle));
        timerForScan->stop();
        timerChangeParameters->stop();
        timerChangeModeTcp->stop();
        styleclear();
    }
}

void MainWindow::change_mode_TCP()
{
    timerForScan->stop();
    scanStep = 0;
    timerChangeParameters->stop();
    changeParametersStep = 0;
    timerScanAll->stop();
    scanAllStep = 0;

    ++writeStep;
    const WriteTick tick = writeTickAt(writeStep);
    if (tick.replyTrace)
        qDebug() << replyText << tick.replyTrace;

    switch (tick.action) {
    case WriteAction::Nothing:
        return;
    case WriteAction::Send: {
        QWidget *source = fieldWidget(tick.field);
        QByteArray command;
        if (auto *list = qobject_cast<QComboBox *>(source))
            command = writeCommandForChoice(tick.prefix, tick.field, list->currentIndex());
        else
            command = writeCommand(tick.prefix, qobject_cast<QLineEdit *>(source)->text());
        sendCommand(command);
        if (tick.commandTrace)
            qDebug() << tick.commandTrace << command;
        else if (tick.traceCommand)
            qDebug() << command;
        return;
    }
    case WriteAction::CheckAcknowledgement:
        if (writeAcknowledged)
            return;
        timerChangeModeTcp->stop();
        writeStep = 0;
        QMessageBox::critical(this, tr("Ошибка соединения"),
                              QStringLiteral("нет соединения с модулем"));
        closeport();
        ui->connect->setText(QString::fromUtf8(Caption::connect));
        ui->scan_parameters->setText(QString::fromUtf8(Caption::scanIdle));
        ui->applyButton->setText(QString::fromUtf8(Caption::writeIdle));
        return;
    case WriteAction::Finish:
        sendCommand(QByteArray(tick.prefix));
        timerChangeModeTcp->stop();
        writeStep = 0;
        restartRequested = true;
        ui->applyButton->setText(QString::fromUtf8(Caption::writeIdle));
        QMessageBox::information(
            this, tr("Результы изменения"),
            QStringLiteral("<FONT COLOR='#008000'>Изменение параметров Ordan-RS485-Ethernet было "
                           "успешно</FONT>"));
        // The name and the version keep the marks the read-out gave them.
        for (ModuleField field : allModuleFields) {
            if (field != ModuleField::Name && field != ModuleField::Version)
                fieldWidget(field)->setStyleSheet(QString());
        }
        return;
    }
}

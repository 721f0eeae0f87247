// The command channel: commands out, replies in, and the interpretation of
// each reply by the sequence that is running.
#include "engine/console/replyframer.h"
#include "engine/platform/tracelog.h"
#include "protocol/protocol.h"
#include "ui_mainwindow.h"
#include "window/formtexts.h"
#include "window/mainwindow.h"
#include "window/schedule.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>

void MainWindow::sendCommand(const QByteArray &command)
{
    // One write, no terminator; the module judges what it gets. A write to a
    // closed port sends nothing, and the sequences notice the silence.
    if (traceLog && serial.isOpen())
        traceLog->sent(serial.portName(), command);
    serial.write(command);
}

void MainWindow::readData()
{
    replyFramer->feed(serial.readAll());
}

void MainWindow::handleReply(const QByteArray &bytes)
{
    if (traceLog)
        traceLog->received(serial.portName(), bytes);
    replyText = cleanReply(bytes);
    qDebug() << QStringLiteral("data 2:") + replyText;
    if (replyText.isEmpty()) {
        // A module that keeps sending blank lines gets one box, not a pile
        // of nested ones.
        if (emptyReplyBoxOpen)
            return;
        emptyReplyBoxOpen = true;
        QMessageBox::critical(this, tr("нет соединения с модуля"),
                              QStringLiteral("Ошибка соединения"));
        emptyReplyBoxOpen = false;
        return;
    }
    qDebug() << QStringLiteral("data 2:") + replyText;
    if (timerChangeModeTcp->isActive())
        interpretWriteReply();
    else if (timerScanAll->isActive())
        interpretReadoutReply();
}

QWidget *MainWindow::fieldWidget(ModuleField field) const
{
    switch (field) {
    case ModuleField::Name:
        return ui->lineEdit_name;
    case ModuleField::Version:
        return ui->lineEdit_version;
    case ModuleField::Mac:
        return ui->lineEdit_MAC;
    case ModuleField::Ip:
        return ui->lineEdit_ip;
    case ModuleField::Mask:
        return ui->lineEdit_mask;
    case ModuleField::Gateway:
        return ui->lineEdit_gateway;
    case ModuleField::PortTcp:
        return ui->lineEdit_portTCP;
    case ModuleField::Parity:
        return ui->comboBox;
    case ModuleField::Speed:
        return ui->comboBox_speed;
    case ModuleField::StopBit:
        return ui->comboBox_2;
    case ModuleField::Timewait:
        return ui->lineEdit_timewait;
    }
    return nullptr;
}

void MainWindow::interpretReadoutReply()
{
    const ReadoutAnswer answer = interpretReadoutAnswer(scanAllStep, replyText);
    if (!answer.applies)
        return;
    QWidget *target = fieldWidget(answer.field);
    if (!answer.valid) {
        target->setStyleSheet(QString::fromUtf8(Mark::invalid));
        return;
    }
    target->setStyleSheet(QString::fromUtf8(Mark::valid));
    if (auto *list = qobject_cast<QComboBox *>(target))
        list->setCurrentIndex(answer.position);
    else if (auto *edit = qobject_cast<QLineEdit *>(target))
        edit->setText(answer.text);
}

void MainWindow::interpretWriteReply()
{
    const AckJudgement judgement = judgeAcknowledgement(writeStep, replyText);
    QWidget *target = fieldWidget(judgement.field);
    switch (judgement.verdict) {
    case AckVerdict::Ignore:
        return;
    case AckVerdict::Acknowledged:
        target->setStyleSheet(QString::fromUtf8(Mark::valid));
        if (judgement.acknowledgesIp)
            writeAcknowledged = true;
        return;
    case AckVerdict::Failed:
        target->setStyleSheet(QString::fromUtf8(Mark::invalid));
        timerChangeModeTcp->stop();
        QMessageBox::critical(this, tr("Ошибка"), judgement.failureText);
        ui->applyButton->setText(QString::fromUtf8(Caption::writeIdle));
        styleclear();
        return;
    }
}

// Restart and factory reset: one-shot commands after which the module drops
// the link; the loss that follows is expected.
#include "protocol/protocol.h"
#include "window/mainwindow.h"

#include <QDebug>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

void MainWindow::on_Reset_clicked()
{
    sendCommand(QByteArray(Command::restart));
    restartRequested = true;
}

void MainWindow::on_reset_allparameters_clicked()
{
    Reset_Default();
}

void MainWindow::Reset_Default()
{
    QMessageBox box;
    QPushButton *yes = box.addButton(tr("Да"), QMessageBox::YesRole);
    box.addButton(tr("Нет"), QMessageBox::NoRole);
    box.setWindowTitle(QStringLiteral("Сброс"));
    box.setWindowIcon(QIcon(QStringLiteral(":/images/TessmarRTUTCP.ico")));
    box.setText(tr("Вы действительно хотите cбросить к заводским настройкам?"));
    box.exec();
    if (box.clickedButton() != yes)
        return;
    sendCommand(QByteArray(Command::factoryReset));
    restartRequested = true;
    qDebug() << QStringLiteral("сброс параметры ") << replyText;
}

#include "app/mainwindow.h"

void MainWindow::checkCustomDevicePathPolicy() {}
void MainWindow::on_scanport_clicked() { checkCustomDevicePathPolicy(); }
void MainWindow::openport() {}
void MainWindow::closeport() {}
void MainWindow::on_connect_clicked() {}
void MainWindow::handleError(QSerialPort::SerialPortError error) { Q_UNUSED(error); }
void MainWindow::stopAllSequences() {}

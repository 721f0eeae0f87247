#include "app/mainwindow.h"
#include "console/replyframer.h"

void MainWindow::readData() {}
void MainWindow::sendCommand(const QByteArray &command) { serial.write(command); }
void MainWindow::handleReply(const QByteArray &bytes) { Q_UNUSED(bytes); }
void MainWindow::interpretReadoutReply() {}
void MainWindow::interpretWriteReply() {}
QWidget *MainWindow::fieldWidget(ModuleField) const { return nullptr; }
void MainWindow::on_scan_parameters_clicked() {}
void MainWindow::scan_pa_modbus_all() {}
void MainWindow::on_applyButton_clicked() {}
void MainWindow::change_mode_TCP() {}
void MainWindow::on_Reset_clicked() {}
void MainWindow::Reset_Default() {}
void MainWindow::on_reset_allparameters_clicked() { Reset_Default(); }

#include "settings/setting_module.h"
#include "ui_mainwindow.h"
#include "window/formtexts.h"
#include "window/mainwindow.h"
#include "window/settingsdialog.h"

#include <QDebug>
#include <QMessageBox>

void MainWindow::OnSaveSetting_File()
{
    auto *module = new setting_module;
    // Substitutes go into the file only; the form keeps its empty fields.
    const auto textOr = [](const QLineEdit *edit, const char *substitute) {
        return edit->text().isEmpty() ? QString::fromLatin1(substitute) : edit->text();
    };
    const auto positionOr = [](const QComboBox *list, int substitute) {
        return list->currentIndex() == 0 ? substitute : list->currentIndex();
    };
    module->ip_adress = textOr(ui->lineEdit_ip, "192.168.0.1");
    module->mask = textOr(ui->lineEdit_mask, "255.255.255.0");
    module->gateway = textOr(ui->lineEdit_gateway, "0.0.0.0");
    module->port_tcp = textOr(ui->lineEdit_portTCP, "502");
    module->parity = positionOr(ui->comboBox, 1);
    module->speed_rs485 = positionOr(ui->comboBox_speed, 4);
    module->stop_bit = positionOr(ui->comboBox_2, 1);
    module->timeout_response = textOr(ui->lineEdit_timewait, "1000");
    module->SaveNTSetting();
    const bool failed =
        !module->fileName.isEmpty() && module->outcome() != setting_module::Outcome::Done;
    module->deleteLater();
    if (failed)
        QMessageBox::critical(this, tr("Ошибка"), tr("Не удалось сохранить файл конфигурации"));
}

void MainWindow::on_action_open_2_triggered()
{
    settingsFileName = askForSettingsFile(this, QFileDialog::AcceptOpen);
    ui->action->setText(tr(Caption::currentFile) + QLatin1String(" (") + settingsFileName +
                        QLatin1Char(')'));
    if (settingsFileName.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Файл конфигурации не выбран"));
        return;
    }
    applySettingsFile(true);
}

void MainWindow::on_action_save_triggered()
{
    OnSaveSetting_File();
}

void MainWindow::on_action_triggered()
{
    if (settingsFileName.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Файл конфигурации не выбран"));
        return;
    }
    applySettingsFile(false);
}

void MainWindow::applySettingsFile(bool openVariant)
{
    auto *module = new setting_module;
    module->LoadNTSetting(settingsFileName);
    module->deleteLater();
    // A file that is gone, cannot be read or is refused leaves the form as it was.
    if (module->outcome() != setting_module::Outcome::Done) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Не удалось прочитать файл конфигурации"));
        return;
    }
    qDebug() << module->modul_name << "modul_name";
    ui->lineEdit_ip->setText(module->ip_adress);
    ui->lineEdit_mask->setText(module->mask);
    ui->lineEdit_gateway->setText(module->gateway);
    ui->lineEdit_portTCP->setText(module->port_tcp);
    // A position outside a list leaves it showing no entry.
    ui->comboBox->setCurrentIndex(module->parity);
    ui->comboBox_speed->setCurrentIndex(module->speed_rs485);
    if (openVariant)
        qDebug() << module->speed_rs485 << "SPERD_RS485";
    ui->comboBox_2->setCurrentIndex(module->stop_bit);
    if (openVariant)
        qDebug() << module->mode_tcp << "tcp -mode";
    ui->lineEdit_timewait->setText(module->timeout_response);
    // Fields that a file does not carry get the neutral mark.
    if (openVariant)
        ui->lineEdit_name->setStyleSheet(QLatin1String(Mark::neutral));
    ui->lineEdit_version->setStyleSheet(QLatin1String(Mark::neutral));
    ui->lineEdit_MAC->setStyleSheet(QLatin1String(Mark::neutralMac));
}

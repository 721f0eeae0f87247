// The settings file commands of the window: save the form to a file, open
// one into the form, apply the current file again.
#include "settings/setting_module.h"
#include "settings/settingsmapping.h"
#include "ui_mainwindow.h"
#include "window/formtexts.h"
#include "window/mainwindow.h"
#include "window/settingsdialog.h"

#include <QDebug>
#include <QMessageBox>

namespace
{

// What a saved file gets for a field the form leaves empty (a list on its
// empty entry): the module's factory values.
struct Substitute {
    ModuleField field;
    const char *value; // a text, or the word of a choice
};
const Substitute substitutes[] = {
    {ModuleField::Ip, "192.168.0.1"},  {ModuleField::Mask, "255.255.255.0"},
    {ModuleField::Gateway, "0.0.0.0"}, {ModuleField::PortTcp, "502"},
    {ModuleField::Parity, "none"},     {ModuleField::Speed, "9600"},
    {ModuleField::StopBit, "1"},       {ModuleField::Timewait, "1000"},
};

QString substituteFor(ModuleField field)
{
    for (const Substitute &row : substitutes) {
        if (row.field == field)
            return QString::fromLatin1(row.value);
    }
    return QString();
}

} // namespace

void MainWindow::OnSaveSetting_File()
{
    auto *module = new setting_module;
    // Substitutes go into the file only; the form keeps its empty fields.
    for (ModuleField field : settingsmapping::settingsFields()) {
        const QString substitute = substituteFor(field);
        QWidget *source = fieldWidget(field);
        if (auto *list = qobject_cast<QComboBox *>(source)) {
            const int position = list->currentIndex();
            settingsmapping::setSettingsPosition(
                module, field, position == 0 ? choicePosition(field, substitute) : position);
        } else if (auto *edit = qobject_cast<QLineEdit *>(source)) {
            settingsmapping::setSettingsText(module, field,
                                        edit->text().isEmpty() ? substitute : edit->text());
        }
    }
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
    for (ModuleField field : settingsmapping::settingsFields()) {
        QWidget *target = fieldWidget(field);
        if (auto *list = qobject_cast<QComboBox *>(target)) {
            // A position outside a list leaves it showing no entry.
            list->setCurrentIndex(settingsmapping::settingsPosition(*module, field));
        } else if (auto *edit = qobject_cast<QLineEdit *>(target)) {
            edit->setText(settingsmapping::settingsText(*module, field));
        }
        if (openVariant && field == ModuleField::Speed)
            qDebug() << module->speed_rs485 << "SPERD_RS485";
        if (openVariant && field == ModuleField::StopBit)
            qDebug() << module->mode_tcp << "tcp -mode";
    }
    // Fields that a file does not carry get the neutral mark.
    if (openVariant)
        ui->lineEdit_name->setStyleSheet(QLatin1String(Mark::neutral));
    ui->lineEdit_version->setStyleSheet(QLatin1String(Mark::neutral));
    ui->lineEdit_MAC->setStyleSheet(QLatin1String(Mark::neutralMac));
}

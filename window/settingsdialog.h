#ifndef SETTINGSDIALOG_H
#define SETTINGSDIALOG_H

#include <QFileDialog>
#include <QString>

class QWidget;

// Asks for a settings file with the file dialog captioned "Настройки" that
// lists *.TRset files; an empty path when the user cancels. A name typed into
// the save dialog without an extension receives ".TRset".
QString askForSettingsFile(QWidget *parent, QFileDialog::AcceptMode mode);

// Makes this dialog (without a parent) the file chooser of setting_module,
// whose LoadNTSetting() and SaveNTSetting() without a file name ask it. The
// window installs it when it is made; installing it again changes nothing.
void installSettingsFileDialog();

#endif // SETTINGSDIALOG_H

#include "window/settingsdialog.h"

#include "settings/setting_module.h"

#include <QFileSystemModel>

namespace
{
const char settingsPattern[] = "*.TRset";
}

QString askForSettingsFile(QWidget *parent, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, setting_module::tr("Настройки"), QString(),
                       setting_module::tr("TCP_RTU settings (*.TRset);"));
    dialog.setAcceptMode(mode);
    if (mode == QFileDialog::AcceptSave)
        dialog.setDefaultSuffix(QStringLiteral("TRset"));
    else
        dialog.setFileMode(QFileDialog::ExistingFile);
    // The filter's text ends with a semicolon behind its parenthesis, so the
    // dialog cannot take the pattern out of it and would list nothing: give
    // its file list the pattern itself, again whenever the filter is chosen.
    if (auto *files = dialog.findChild<QFileSystemModel *>()) {
        const auto listSettingsFiles = [files] {
            files->setNameFilters(QStringList(QLatin1String(settingsPattern)));
        };
        listSettingsFiles();
        QObject::connect(&dialog, &QFileDialog::filterSelected, files, listSettingsFiles);
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

void installSettingsFileDialog()
{
    setting_module::setFileChooser([](setting_module::FileAccess access) {
        return askForSettingsFile(nullptr, access == setting_module::FileAccess::Save
                                               ? QFileDialog::AcceptSave
                                               : QFileDialog::AcceptOpen);
    });
}

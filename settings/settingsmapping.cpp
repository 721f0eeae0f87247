#include "settings/settingsmapping.h"

#include "settings/setting_module.h"
#include "settings/settingsstore.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <memory>

namespace settingsmapping
{

namespace
{

// One row per parameter a file holds: its text or its list position.
struct FileField {
    ModuleField field;
    QString setting_module::*text;
    int setting_module::*position;
};

const FileField fileFields[] = {
    {ModuleField::Ip, &setting_module::ip_adress, nullptr},
    {ModuleField::Mask, &setting_module::mask, nullptr},
    {ModuleField::Gateway, &setting_module::gateway, nullptr},
    {ModuleField::PortTcp, &setting_module::port_tcp, nullptr},
    {ModuleField::Parity, nullptr, &setting_module::parity},
    {ModuleField::Speed, nullptr, &setting_module::speed_rs485},
    {ModuleField::StopBit, nullptr, &setting_module::stop_bit},
    {ModuleField::Timewait, &setting_module::timeout_response, nullptr},
};

const FileField *fileField(ModuleField field)
{
    for (const FileField &row : fileFields) {
        if (row.field == field)
            return &row;
    }
    return nullptr;
}

} // namespace

QList<ModuleField> settingsFields()
{
    QList<ModuleField> fields;
    for (const FileField &row : fileFields)
        fields << row.field;
    return fields;
}

QString settingsText(const setting_module &file, ModuleField field)
{
    const FileField *row = fileField(field);
    return row && row->text ? file.*(row->text) : QString();
}

int settingsPosition(const setting_module &file, ModuleField field)
{
    const FileField *row = fileField(field);
    return row && row->position ? file.*(row->position) : 0;
}

void setSettingsText(setting_module *file, ModuleField field, const QString &text)
{
    const FileField *row = fileField(field);
    if (row && row->text)
        file->*(row->text) = text;
}

void setSettingsPosition(setting_module *file, ModuleField field, int position)
{
    const FileField *row = fileField(field);
    if (row && row->position)
        file->*(row->position) = position;
}

Values fromSettings(const setting_module &file)
{
    Values values;
    for (const FileField &row : fileFields) {
        const QString value = row.position
                                  ? QString::fromLatin1(choiceWord(row.field, file.*(row.position)))
                                  : file.*(row.text);
        if (!value.isEmpty())
            values.insert(row.field, value);
    }
    return values;
}

void toSettings(const Values &values, setting_module *file)
{
    for (const FileField &row : fileFields) {
        const QString value = values.value(row.field);
        if (row.position)
            file->*(row.position) = qMax(0, choicePosition(row.field, value));
        else
            file->*(row.text) = value;
    }
}

bool loadSettingsFile(const QString &path, Values *values, QString *error)
{
    if (path.isEmpty()) {
        *error = QStringLiteral("no file name given");
        return false;
    }
    if (!QFileInfo(path).isFile()) {
        *error = QFileInfo::exists(path) ? QStringLiteral("not a regular file")
                                         : QStringLiteral("no such file");
        return false;
    }
    setting_module file;
    file.LoadNTSetting(path);
    if (file.outcome() != setting_module::Outcome::Done) {
        *error = QStringLiteral("not readable as a settings file");
        return false;
    }
    // A file without any of the keys reads as an empty parameter set, which
    // would silently write nothing.
    const std::unique_ptr<QSettings> store(settingsstore::openStore(path));
    bool anyKey = false;
    for (const QString &key : setting_module::keyNames())
        anyKey = anyKey || store->contains(key);
    if (!anyKey) {
        *error = QStringLiteral("holds none of the keys of a parameter set (%1)")
                     .arg(setting_module::keyNames().join(QLatin1String(", ")));
        return false;
    }
    // A position outside its list would silently write nothing for it.
    QStringList problems;
    for (const FileField &row : fileFields) {
        if (!row.position)
            continue;
        int count = 0;
        while (!choiceWord(row.field, count + 1).isEmpty())
            ++count;
        const int position = file.*(row.position);
        if (position < 0 || position > count)
            problems << QStringLiteral("position %1 is not in the %2 list (0 for none, 1-%3)")
                            .arg(position)
                            .arg(parameters::fieldKey(row.field))
                            .arg(count);
    }
    if (!problems.isEmpty()) {
        *error = problems.join(QLatin1String("; "));
        return false;
    }
    *values = fromSettings(file);
    return true;
}

} // namespace settingsmapping

#include "settings/settingsmapping.h"

#include "settings/setting_module.h"

namespace parameters
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

} // namespace parameters

#include "settings/settingsmapping.h"

#include "settings/setting_module.h"

namespace parameters
{

Values fromSettings(const setting_module &file)
{
    Values values;
    const auto text = [&values](ModuleField field, const QString &value) {
        if (!value.isEmpty())
            values.insert(field, value);
    };
    const auto choice = [&values](ModuleField field, int position) {
        const QByteArray word = choiceWord(field, position);
        if (!word.isEmpty())
            values.insert(field, QString::fromLatin1(word));
    };
    text(ModuleField::Ip, file.ip_adress);
    text(ModuleField::Mask, file.mask);
    text(ModuleField::Gateway, file.gateway);
    text(ModuleField::PortTcp, file.port_tcp);
    choice(ModuleField::Parity, file.parity);
    choice(ModuleField::Speed, file.speed_rs485);
    choice(ModuleField::StopBit, file.stop_bit);
    text(ModuleField::Timewait, file.timeout_response);
    return values;
}

void toSettings(const Values &values, setting_module *file)
{
    file->ip_adress = values.value(ModuleField::Ip);
    file->mask = values.value(ModuleField::Mask);
    file->gateway = values.value(ModuleField::Gateway);
    file->port_tcp = values.value(ModuleField::PortTcp);
    file->parity = qMax(0, choicePosition(ModuleField::Parity, values.value(ModuleField::Parity)));
    file->speed_rs485 =
        qMax(0, choicePosition(ModuleField::Speed, values.value(ModuleField::Speed)));
    file->stop_bit =
        qMax(0, choicePosition(ModuleField::StopBit, values.value(ModuleField::StopBit)));
    file->timeout_response = values.value(ModuleField::Timewait);
}

} // namespace parameters

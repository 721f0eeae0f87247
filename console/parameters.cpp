#include "console/parameters.h"

#include "settings/setting_module.h"

#include <QFileInfo>
#include <QStringList>

namespace parameters
{

namespace
{

// A decimal number of 1 to `maxDigits` digits, nothing else (no sign, no
// blank); its value in *number.
bool decimal(const QString &text, int maxDigits, int *number)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    *number = text.toInt();
    return true;
}

bool quad(const QString &text, quint32 *address)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    quint32 result = 0;
    for (const QString &part : parts) {
        int n = 0;
        if (!decimal(part, 3, &n) || n > 255)
            return false;
        result = (result << 8) | quint32(n);
    }
    *address = result;
    return true;
}

} // namespace

QString fieldKey(ModuleField field)
{
    switch (field) {
    case ModuleField::Name:
        return QStringLiteral("name");
    case ModuleField::Version:
        return QStringLiteral("version");
    case ModuleField::Mac:
        return QStringLiteral("mac");
    case ModuleField::Ip:
        return QStringLiteral("ip");
    case ModuleField::Mask:
        return QStringLiteral("mask");
    case ModuleField::Gateway:
        return QStringLiteral("gateway");
    case ModuleField::PortTcp:
        return QStringLiteral("tcp_port");
    case ModuleField::Parity:
        return QStringLiteral("parity");
    case ModuleField::Speed:
        return QStringLiteral("speed");
    case ModuleField::StopBit:
        return QStringLiteral("stop_bits");
    case ModuleField::Timewait:
        return QStringLiteral("packet_timeout");
    }
    return QString();
}

bool isIpv4(const QString &value)
{
    quint32 address = 0;
    return quad(value, &address);
}

bool isContiguousMask(const QString &value)
{
    quint32 mask = 0;
    if (!quad(value, &mask))
        return false;
    // Ones from the top, then only zeros: the inverse plus one is a power
    // of two (or zero for 255.255.255.255).
    const quint32 hostBits = ~mask;
    return (hostBits & (hostBits + 1)) == 0;
}

bool isTcpPort(const QString &value)
{
    int port = 0;
    return decimal(value, 5, &port) &&
           (port == 23 || port == 502 || (port >= 10000 && port <= 65535));
}

bool isPacketTimeout(const QString &value)
{
    int ms = 0;
    return decimal(value, 5, &ms) && ms >= 1 && ms <= 10000;
}

QString checkValue(ModuleField field, const QString &value)
{
    switch (field) {
    case ModuleField::Ip:
    case ModuleField::Gateway:
        return isIpv4(value) ? QString()
                             : QStringLiteral("an IPv4 address: four numbers 0-255 separated by "
                                              "dots");
    case ModuleField::Mask:
        return isContiguousMask(value)
                   ? QString()
                   : QStringLiteral("a subnet mask: an IPv4 address whose ones come first "
                                    "(255.255.255.0)");
    case ModuleField::PortTcp:
        return isTcpPort(value) ? QString() : QStringLiteral("23, 502 or 10000-65535");
    case ModuleField::Timewait:
        return isPacketTimeout(value) ? QString()
                                      : QStringLiteral("milliseconds, a whole number 1-10000");
    case ModuleField::Parity:
    case ModuleField::Speed:
    case ModuleField::StopBit: {
        if (choicePosition(field, value) > 0)
            return QString();
        QStringList words;
        for (int position = 1; !choiceWord(field, position).isEmpty(); ++position)
            words << QString::fromLatin1(choiceWord(field, position));
        return QStringLiteral("one of ") + words.join(QLatin1String(", "));
    }
    case ModuleField::Name:
    case ModuleField::Version:
    case ModuleField::Mac:
        return QStringLiteral("read from the module, never written");
    }
    return QString();
}

QList<ModuleField> writeOrder()
{
    QList<ModuleField> order;
    for (int tick = 1; tick <= writeLastTick; ++tick) {
        const WriteTick t = writeTickAt(tick);
        if (t.action == WriteAction::Send && t.hasValue)
            order << t.field;
    }
    return order;
}

QList<WriteStep> writeSteps(const Values &values)
{
    QList<WriteStep> steps;
    for (int tick = 1; tick <= writeLastTick; ++tick) {
        const WriteTick t = writeTickAt(tick);
        if (t.action != WriteAction::Send || !t.hasValue || !values.contains(t.field))
            continue;
        const QString value = values.value(t.field);
        const QByteArray command =
            isChoiceField(t.field)
                ? writeCommandForChoice(t.prefix, t.field, choicePosition(t.field, value))
                : writeCommand(t.prefix, value);
        steps.append({t.field, tick, command});
    }
    return steps;
}

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

bool loadSettingsFile(const QString &path, Values *values)
{
    setting_module file;
    file.LoadNTSetting(path);
    if (file.outcome() != setting_module::Outcome::Done || !QFileInfo(path).isFile())
        return false;
    *values = fromSettings(file);
    return true;
}

} // namespace parameters

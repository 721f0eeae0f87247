#include "protocol/parameters.h"

#include <QCoreApplication>
#include <QStringList>

namespace parameters
{

namespace
{

struct Text {
    Q_DECLARE_TR_FUNCTIONS(parameters)
};

// A decimal number of 1 to `maxDigits` digits, nothing else (no sign, no
// blank, no leading zero: "010" is octal to some firmware); its value in
// *number.
bool decimal(const QString &text, int maxDigits, int *number)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return false;
    if (text.size() > 1 && text.at(0) == QLatin1Char('0'))
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    *number = text.toInt();
    return true;
}

int prefixLength(quint32 mask)
{
    int bits = 0;
    while (bits < 32 && (mask & (0x80000000u >> bits)))
        ++bits;
    return bits;
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

bool parseIpv4(const QString &text, quint32 *address)
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

bool isIpv4(const QString &value)
{
    quint32 address = 0;
    return parseIpv4(value, &address);
}

bool isHostAddress(quint32 address)
{
    return address != 0 && (address >> 24) != 127 && address < 0xE0000000u;
}

bool isConnectableAddress(quint32 address)
{
    return address != 0 && address < 0xE0000000u;
}

QString ipv4Text(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xff)
        .arg((address >> 8) & 0xff)
        .arg(address & 0xff);
}

bool isWellFormedMac(const QString &mac)
{
    return !normalMac(mac).isEmpty();
}

QString normalMac(const QString &mac)
{
    if (mac.size() != 17)
        return QString();
    const QChar separator = mac.at(2);
    if (separator != QLatin1Char(':') && separator != QLatin1Char('-'))
        return QString();
    QString digits;
    for (int i = 0; i < 17; ++i) {
        const QChar c = mac.at(i);
        if (i % 3 == 2) {
            if (c != separator)
                return QString();
        } else if (QStringLiteral("0123456789abcdefABCDEF").contains(c)) {
            digits += c.toUpper();
        } else {
            return QString();
        }
    }
    if (digits == QString(12, QLatin1Char('0')) || digits == QString(12, QLatin1Char('F')))
        return QString();
    QString normal;
    for (int i = 0; i < 12; i += 2)
        normal += (i ? QStringLiteral(":") : QString()) + digits.mid(i, 2);
    return normal;
}

bool isContiguousMask(const QString &value)
{
    quint32 mask = 0;
    if (!parseIpv4(value, &mask))
        return false;
    // Ones from the top, then only zeros: the inverse plus one is a power
    // of two (or zero for 255.255.255.255).
    const quint32 hostBits = ~mask;
    return (hostBits & (hostBits + 1)) == 0;
}

bool isTcpPort(const QString &value)
{
    int port = 0;
    if (!decimal(value, 5, &port))
        return false;
    for (const int alone : tcpPortsAlone) {
        if (port == alone)
            return true;
    }
    return port >= tcpPortFirst && port <= tcpPortLast;
}

QString tcpPortRule()
{
    return Text::tr("%1, %2 or %3-%4")
        .arg(tcpPortsAlone[0])
        .arg(tcpPortsAlone[1])
        .arg(tcpPortFirst)
        .arg(tcpPortLast);
}

bool isPacketTimeout(const QString &value)
{
    int ms = 0;
    return decimal(value, 5, &ms) && ms >= 1 && ms <= 10000;
}

QString fieldKeys(const QList<ModuleField> &fields)
{
    QStringList keys;
    for (const ModuleField field : fields)
        keys << fieldKey(field);
    return keys.join(QLatin1String(", "));
}

QString checkValue(ModuleField field, const QString &value)
{
    switch (field) {
    case ModuleField::Ip:
    case ModuleField::Gateway: {
        quint32 address = 0;
        if (!parseIpv4(value, &address))
            return Text::tr("an IPv4 address: four numbers 0-255 separated by dots, without "
                            "leading zeros");
        if (field == ModuleField::Gateway && address == 0)
            return QString(); // no gateway
        if (!isHostAddress(address))
            return field == ModuleField::Gateway
                       ? Text::tr("an IPv4 address a module can have: not 0.0.0.0 (except as "
                                  "\"no gateway\"), 127.x.x.x, nor 224.0.0.0 and above "
                                  "(multicast, reserved, broadcast)")
                       : Text::tr("an IPv4 address a module can have: not 0.0.0.0, 127.x.x.x, nor "
                                  "224.0.0.0 and above (multicast, reserved, broadcast)");
        return QString();
    }
    case ModuleField::Mask:
        return isContiguousMask(value)
                   ? QString()
                   : Text::tr("a subnet mask: an IPv4 address whose ones come first "
                              "(255.255.255.0), without leading zeros");
    case ModuleField::PortTcp:
        return isTcpPort(value) ? QString()
                                : Text::tr("%1, without leading zeros").arg(tcpPortRule());
    case ModuleField::Timewait:
        return isPacketTimeout(value)
                   ? QString()
                   : Text::tr("milliseconds, a whole number 1-10000, without leading zeros");
    case ModuleField::Parity:
    case ModuleField::Speed:
    case ModuleField::StopBit: {
        if (choicePosition(field, value) > 0)
            return QString();
        QStringList words;
        for (int position = 1; !choiceWord(field, position).isEmpty(); ++position)
            words << QString::fromLatin1(choiceWord(field, position));
        return Text::tr("one of %1").arg(words.join(QLatin1String(", ")));
    }
    case ModuleField::Name:
    case ModuleField::Version:
    case ModuleField::Mac:
        return Text::tr("read from the module, never written");
    }
    return QString();
}

QList<ConfigProblem> checkConfiguration(const Values &values)
{
    QList<ConfigProblem> problems;
    const auto address = [&values](ModuleField field, quint32 *a) {
        return values.contains(field) && parseIpv4(values.value(field), a);
    };
    quint32 ip = 0;
    quint32 mask = 0;
    quint32 gateway = 0;
    const bool hasIp = address(ModuleField::Ip, &ip);
    const bool hasMask =
        address(ModuleField::Mask, &mask) && isContiguousMask(values.value(ModuleField::Mask));
    const bool hasGateway = address(ModuleField::Gateway, &gateway) && gateway != 0;
    if (hasIp && hasGateway && ip == gateway)
        problems.append(
            {ModuleField::Gateway,
             Text::tr("the module's address %1 is also its gateway").arg(ipv4Text(ip))});
    if (!hasMask)
        return problems;
    const int prefix = prefixLength(mask);
    // A /31 or /32 subnet has no network and broadcast address of its own.
    const bool hasEnds = prefix <= 30;
    const auto subnet = [&](quint32 a) {
        return QStringLiteral("%1/%2").arg(ipv4Text(a & mask)).arg(prefix);
    };
    // Whole sentences for each, so that a translation can inflect them.
    const auto ends = [&](ModuleField field, quint32 a, const QString &network,
                          const QString &broadcast) {
        if (!hasEnds)
            return;
        if (a == (a & mask))
            problems.append({field, network.arg(ipv4Text(a), subnet(a))});
        else if (a == (a | ~mask))
            problems.append({field, broadcast.arg(ipv4Text(a), subnet(a))});
    };
    if (hasIp)
        ends(ModuleField::Ip, ip, Text::tr("the module's address %1 is the network address of %2"),
             Text::tr("the module's address %1 is the broadcast address of %2"));
    if (hasGateway)
        ends(ModuleField::Gateway, gateway, Text::tr("the gateway %1 is the network address of %2"),
             Text::tr("the gateway %1 is the broadcast address of %2"));
    if (hasIp && hasGateway && (ip & mask) != (gateway & mask))
        problems.append({ModuleField::Gateway,
                         Text::tr("the gateway %1 is outside the module's subnet %2: the "
                                  "module could not reach it")
                             .arg(ipv4Text(gateway), subnet(ip)),
                         true});
    return problems;
}

QList<ModuleField> writeOrder()
{
    QList<ModuleField> order;
    for (const WriteCommandRow &command : writeCommandTable)
        order << command.field;
    return order;
}

QList<ModuleField> identityFields()
{
    return {ModuleField::Name, ModuleField::Version, ModuleField::Mac};
}

QList<WriteStep> writeSteps(const Values &values)
{
    QList<WriteStep> steps;
    for (const WriteCommandRow &command : writeCommandTable) {
        if (!values.contains(command.field))
            continue;
        const QString value = values.value(command.field);
        steps.append(
            {command.field, isChoiceField(command.field)
                                ? writeCommandForChoice(command.prefix, command.field,
                                                        choicePosition(command.field, value))
                                : writeCommand(command.prefix, value)});
    }
    return steps;
}

} // namespace parameters

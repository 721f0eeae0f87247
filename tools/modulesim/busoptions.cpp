#include "busoptions.h"

#include "busdevices.h"

#include <QCommandLineParser>

namespace busoptions
{

namespace
{

const char *const names[] = {"devices",    "device-delay", "bus-noise", "seed",
                             "crc-errors", "other-master", "bus-log",   "devices-off"};

bool number(const QCommandLineParser &parser, const char *name, int min, int max, int *value,
            QString *error)
{
    if (!parser.isSet(QLatin1String(name)))
        return true;
    bool ok = false;
    *value = parser.value(QLatin1String(name)).toInt(&ok);
    if (ok && *value >= min && *value <= max)
        return true;
    *error = QStringLiteral("--%1 needs a number %2-%3").arg(QLatin1String(name)).arg(min).arg(max);
    return false;
}

} // namespace

void add(QCommandLineParser *parser)
{
    parser->addOptions({
        {QStringLiteral("devices"),
         QStringLiteral("With --network: Modbus RTU devices on the module's bus at their "
                        "settings, as 1,2,5@19200/8E1 (repeatable, one group per settings). Each "
                        "holds holding registers 0-99 (address x 1000 + register) and hears the "
                        "module only at its speed and parity."),
         QStringLiteral("IDS@SETTINGS")},
        {QStringLiteral("device-delay"),
         QStringLiteral("With --devices: a device answers MS after the request (default 5)."),
         QStringLiteral("MS")},
        {QStringLiteral("bus-noise"),
         QStringLiteral("With --network: N random bytes a second on the bus."),
         QStringLiteral("N")},
        {QStringLiteral("seed"),
         QStringLiteral("The seed of the bus's noise, garbage and corrupted replies (default 1)."),
         QStringLiteral("N")},
        {QStringLiteral("crc-errors"),
         QStringLiteral("With --devices: corrupt P % of the replies."), QStringLiteral("P")},
        {QStringLiteral("modbus-tcp"),
         QStringLiteral("With --network: the module's Modbus TCP mode: Modbus TCP requests on its "
                        "TCP port go out on the bus as RTU frames, and the replies come back under "
                        "their header.")},
        {QStringLiteral("devices-off"),
         QStringLiteral("With --devices: the devices are off for the first MS after the start: "
                        "they answer nothing."),
         QStringLiteral("MS")},
        {QStringLiteral("bus-log"),
         QStringLiteral("With --devices: append each frame the devices take whole, for them or "
                        "not (\"heard HEX START END\"), and each reply (\"reply HEX START "
                        "END\") to PATH, a line each, with the microseconds its first character "
                        "began and its last ended on the line."),
         QStringLiteral("PATH")},
        {QStringLiteral("other-master"),
         QStringLiteral("With --network: another master polls the devices every MS at its "
                        "settings, as 500@9600/8N1."),
         QStringLiteral("MS@SETTINGS")},
    });
}

bool anyGiven(const QCommandLineParser &parser)
{
    for (const char *name : names) {
        if (parser.isSet(QLatin1String(name)))
            return true;
    }
    return false;
}

std::unique_ptr<BusDevices> devices(const QCommandLineParser &parser, QString *error)
{
    if (parser.isSet(QStringLiteral("bus"))) {
        *error = QStringLiteral("--bus and the simulated devices are two buses: give one");
        return nullptr;
    }
    auto bus = std::make_unique<BusDevices>();
    for (const QString &group : parser.values(QStringLiteral("devices"))) {
        if (!bus->addGroup(group, error))
            return nullptr;
    }
    if (parser.isSet(QStringLiteral("other-master")) &&
        !bus->setOtherMaster(parser.value(QStringLiteral("other-master")), error))
        return nullptr;
    int delay = 5;
    int noise = 0;
    int seed = 1;
    int crcErrors = 0;
    int off = 0;
    if (!number(parser, "device-delay", 0, 10000, &delay, error) ||
        !number(parser, "devices-off", 0, 3600000, &off, error) ||
        !number(parser, "bus-noise", 0, 100000, &noise, error) ||
        !number(parser, "seed", 0, 2147483647, &seed, error) ||
        !number(parser, "crc-errors", 0, 100, &crcErrors, error))
        return nullptr;
    if (parser.isSet(QStringLiteral("bus-log")) &&
        !bus->setLog(parser.value(QStringLiteral("bus-log")), error))
        return nullptr;
    bus->setDeviceDelay(delay);
    bus->setOffFor(off);
    bus->setNoise(noise);
    bus->setSeed(quint32(seed));
    bus->setCrcErrors(crcErrors);
    return bus;
}

} // namespace busoptions

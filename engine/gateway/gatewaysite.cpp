#include "engine/gateway/gatewaysite.h"

#include "engine/commission/commissionplan.h"

#include <QRegularExpression>

#include <cmath>

namespace
{

constexpr int fastGapUs = 1750; // above 19200 bit/s, fixed by the serial line's rules
constexpr int firstUnit = 1;
constexpr int lastUnit = 247;

// A port as a user writes it: 1-65535, no leading zero.
bool portNumber(const QString &text, quint16 *port)
{
    static const QRegularExpression format(QStringLiteral("^[1-9][0-9]{0,4}$"));
    if (!format.match(text).hasMatch() || text.toInt() > 65535)
        return false;
    *port = quint16(text.toInt());
    return true;
}

QString rowName(const GatewayBus &bus)
{
    return bus.name();
}

} // namespace

int LineFormat::gapUs() const
{
    if (baud > 19200)
        return fastGapUs;
    return int(std::ceil(3.5 * bitsPerCharacter() * 1e6 / qMax(1, baud)));
}

QString LineFormat::text() const
{
    return QStringLiteral("%1 8%2%3, ").arg(baud).arg(QLatin1Char(parity)).arg(stopBits) +
           (packetTimeoutMs > 0 ? QStringLiteral("packet time-out %1 ms").arg(packetTimeoutMs)
                                : QStringLiteral("packet time-out not known"));
}

LineFormat LineFormat::of(const parameters::Values &values)
{
    LineFormat line;
    const QString speed = values.value(ModuleField::Speed);
    if (!speed.isEmpty() && parameters::checkValue(ModuleField::Speed, speed).isEmpty())
        line.baud = speed.toInt();
    const QString parity = values.value(ModuleField::Parity).toLower();
    line.parity = parity == QLatin1String("even")  ? 'E'
                  : parity == QLatin1String("odd") ? 'O'
                                                   : 'N';
    line.stopBits = values.value(ModuleField::StopBit) == QLatin1String("2") ? 2 : 1;
    const QString timeout = values.value(ModuleField::Timewait);
    if (!timeout.isEmpty() && parameters::checkValue(ModuleField::Timewait, timeout).isEmpty())
        line.packetTimeoutMs = timeout.toInt();
    return line;
}

QString GatewayBus::key() const
{
    return target.text() + (framing == BusFraming::Tcp ? QStringLiteral(" tcp") : QString());
}

QString GatewayBus::name() const
{
    return row > 0 ? QStringLiteral("row %1 (%2)").arg(row).arg(target.text()) : target.text();
}

QString GatewayListener::text() const
{
    QString host = QStringLiteral("*");
    if (address != QHostAddress::Any && address != QHostAddress::AnyIPv4 &&
        address != QHostAddress::AnyIPv6)
        host = address.protocol() == QAbstractSocket::IPv6Protocol
                   ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                   : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

namespace gatewaysite
{

bool parseUnitMap(const QString &text, QList<UnitMapping> *mappings, QString *problem)
{
    static const QRegularExpression item(
        QStringLiteral("^([1-9][0-9]{0,5}):([1-9][0-9]{0,2})=([1-9][0-9]{0,2})$"));
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = item.match(part.trimmed());
        const int unit = m.captured(2).toInt();
        const int id = m.captured(3).toInt();
        if (!m.hasMatch() || unit > lastUnit || id > lastUnit) {
            *problem = QStringLiteral("--unit-map \"%1\": must be ROW:UNIT=ID, the unit of the "
                                      "plan's row served as ID, as 4:5=105 (units and ids "
                                      "1-247)")
                           .arg(part);
            return false;
        }
        mappings->append({m.captured(1).toInt(), unit, id});
    }
    return true;
}

bool parseListen(const QString &text, QHostAddress *address, quint16 *port, QString *problem)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    const QString portText = colon < 0 ? text : text.mid(colon + 1);
    QString host = colon < 0 ? QString() : text.left(colon);
    if (!portNumber(portText, port)) {
        *problem =
            QStringLiteral("\"%1\": the port must be 1-65535, without leading zeros").arg(text);
        return false;
    }
    if (host.isEmpty() && colon < 0) {
        *address = QHostAddress::Any;
        return true;
    }
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    quint32 v4 = 0;
    const QHostAddress parsed(host);
    if (!bracketed && parameters::parseIpv4(host, &v4)) {
        *address = QHostAddress(v4);
        return true;
    }
    if (bracketed && parsed.protocol() == QAbstractSocket::IPv6Protocol) {
        *address = parsed;
        return true;
    }
    *problem = QStringLiteral("\"%1\": the address must be an IPv4 address (four numbers 0-255 "
                              "without leading zeros) or an IPv6 address in brackets")
                   .arg(text);
    return false;
}

GatewaySite single(const HostPort &target, const LineFormat &line, const Options &options)
{
    GatewaySite site;
    GatewayBus bus;
    bus.target = target;
    bus.framing = options.framing;
    bus.line = line;
    site.buses << bus;
    GatewayListener listener;
    listener.address = options.listenAddress;
    listener.port = options.listenPort;
    for (int unit = firstUnit; unit <= lastUnit; ++unit)
        listener.routes[size_t(unit)] = {0, quint8(unit)};
    site.listeners << listener;
    return site;
}

bool fromPlan(const QByteArray &bytes, const QString &planName, const Options &options,
              GatewaySite *site, QStringList *problems)
{
    const int before = problems->size();
    const commissionplan::Plan plan =
        commissionplan::parse(bytes, options.base, options.allowForeignGateway);
    for (const commissionplan::Problem &p : plan.problems) {
        QString place = planName;
        if (p.row == 0 && !p.column.isEmpty())
            place = QStringLiteral("--from (for %1)").arg(p.column);
        else if (p.row > 0)
            place += QStringLiteral(" row %1").arg(p.row) +
                     (p.column.isEmpty() ? QString() : QStringLiteral(", column ") + p.column);
        *problems << place + QStringLiteral(": ") + p.message;
    }
    if (problems->size() > before)
        return false;

    GatewaySite made;
    for (const commissionplan::Row &row : plan.rows) {
        const QString place = QStringLiteral("%1 row %2").arg(planName).arg(row.row);
        QStringList missing;
        for (const ModuleField field : {ModuleField::Ip, ModuleField::PortTcp}) {
            if (row.values.value(field).isEmpty())
                missing << parameters::fieldKey(field);
        }
        if (!missing.isEmpty()) {
            *problems << QStringLiteral("%1: no %2, neither in the plan nor in --from")
                             .arg(place, missing.join(QLatin1String(" nor ")));
            continue;
        }
        GatewayBus bus;
        QString problem;
        if (!HostPort::parse(row.values.value(ModuleField::Ip),
                             row.values.value(ModuleField::PortTcp), HostPort::Hosts::Ipv4Only,
                             &bus.target, &problem)) {
            *problems << place + QStringLiteral(": ") + problem;
            continue;
        }
        bus.row = row.row;
        bus.framing = options.framing;
        bus.line = LineFormat::of(row.values);
        bus.units = row.busIds;
        made.buses << bus;
    }
    for (int i = 0; i < made.buses.size(); ++i) {
        for (int j = 0; j < i; ++j) {
            if (made.buses.at(i).key() == made.buses.at(j).key())
                *problems << QStringLiteral("%1 row %2: the module at %3 is row %4's already")
                                 .arg(planName)
                                 .arg(made.buses.at(i).row)
                                 .arg(made.buses.at(i).target.text())
                                 .arg(made.buses.at(j).row);
        }
    }
    // The mappings name a row of the plan and a unit of its bus_ids.
    const auto busOfRow = [&made](int row) {
        for (int i = 0; i < made.buses.size(); ++i) {
            if (made.buses.at(i).row == row)
                return i;
        }
        return -1;
    };
    for (const UnitMapping &m : options.unitMap) {
        const int bus = busOfRow(m.row);
        if (bus < 0)
            *problems << QStringLiteral("--unit-map %1:%2=%3: the plan has no module in row %1")
                             .arg(m.row)
                             .arg(m.unit)
                             .arg(m.id);
        else if (!made.buses.at(bus).units.contains(m.unit))
            *problems << QStringLiteral("--unit-map %1:%2=%3: unit %2 is not in row %1's "
                                        "bus_ids")
                             .arg(m.row)
                             .arg(m.unit)
                             .arg(m.id);
    }
    if (problems->size() > before)
        return false;

    if (options.listenBase) {
        for (int i = 0; i < made.buses.size(); ++i) {
            const GatewayBus &bus = made.buses.at(i);
            const int port = int(options.listenPort) + bus.row - 1;
            if (port > 65535) {
                *problems << QStringLiteral("%1 row %2: --listen-base %3 gives it port %4, past "
                                            "65535")
                                 .arg(planName)
                                 .arg(bus.row)
                                 .arg(options.listenPort)
                                 .arg(port);
                continue;
            }
            GatewayListener listener;
            listener.address = options.listenAddress;
            listener.port = quint16(port);
            listener.row = bus.row;
            for (int unit = firstUnit; unit <= lastUnit; ++unit) {
                if (bus.units.isEmpty() || bus.units.contains(unit))
                    listener.routes[size_t(unit)] = {i, quint8(unit)};
            }
            made.listeners << listener;
        }
    } else {
        GatewayListener listener;
        listener.address = options.listenAddress;
        listener.port = options.listenPort;
        // Each unit of each row under its own id, or the id --unit-map gives
        // it; an id claimed twice is refused with both rows named.
        std::array<int, 256> claimedBy{}; // the bus (+1) that holds an id
        for (int i = 0; i < made.buses.size(); ++i) {
            const GatewayBus &bus = made.buses.at(i);
            for (const int unit : bus.units) {
                int id = unit;
                for (const UnitMapping &m : options.unitMap) {
                    if (m.row == bus.row && m.unit == unit)
                        id = m.id;
                }
                const int other = claimedBy[size_t(id)] - 1;
                if (other >= 0) {
                    const GatewayBus &first = made.buses.at(other);
                    const GatewayRoute held = listener.routes[size_t(id)];
                    *problems << QStringLiteral(
                                     "unit %1 is on two buses: %2 and %3; give one of them "
                                     "another id with --unit-map ROW:UNIT=ID (as "
                                     "--unit-map %4:%5=ID)")
                                     .arg(id)
                                     .arg(rowName(first) +
                                              (held.unit != id
                                                   ? QStringLiteral(" (its unit %1)").arg(held.unit)
                                                   : QString()),
                                          rowName(bus) +
                                              (unit != id
                                                   ? QStringLiteral(" (its unit %1)").arg(unit)
                                                   : QString()))
                                     .arg(bus.row)
                                     .arg(unit);
                    continue;
                }
                claimedBy[size_t(id)] = i + 1;
                listener.routes[size_t(id)] = {i, quint8(unit)};
            }
        }
        made.listeners << listener;
    }
    if (problems->size() > before)
        return false;
    *site = made;
    return true;
}

} // namespace gatewaysite

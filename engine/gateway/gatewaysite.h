#ifndef GATEWAYSITE_H
#define GATEWAYSITE_H

#include "engine/bus/replyreader.h"
#include "engine/link/hostport.h"
#include "protocol/parameters.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

// What a gateway serves: the buses (one a module), the listeners, and for
// each listener the route of every unit id to a bus and the unit there.
// Read from one HOST:PORT or from a site's plan; every problem is found
// before anything starts (or, on a reload, before anything changes).

// The bus's character format and the module's packet time-out, for the
// quiet between two frames: 3.5 characters up to 19200 bit/s, 1.75 ms
// above. Not known: the module's factory 9600 8N1, and no packet time-out.
struct LineFormat {
    int baud = 9600;
    char parity = 'N'; // N, E or O
    int stopBits = 1;
    int packetTimeoutMs = 0; // 0: not known

    // Start bit, 8 data bits, the parity bit, the stop bits.
    int bitsPerCharacter() const { return 1 + 8 + (parity == 'N' ? 0 : 1) + stopBits; }
    int gapUs() const;
    // The time `bytes` take on the line.
    qint64 frameUs(int bytes) const
    {
        return qint64(bytes) * bitsPerCharacter() * 1000000 / qMax(1, baud);
    }
    // "19200 8E1, packet time-out 5 ms"
    QString text() const;
    // From a plan row's (or --from's) speed, parity, stop bits and packet
    // time-out; what they leave out keeps its default.
    static LineFormat of(const parameters::Values &values);
};

struct GatewayBus {
    int row = 0; // the plan's row (a spreadsheet's number); 0 for HOST:PORT
    HostPort target;
    BusFraming framing = BusFraming::Rtu;
    LineFormat line;
    QList<int> units; // the plan's bus_ids: the devices behind it

    // One bus, one key: a reload keeps the worker of a bus whose key stays.
    QString key() const;
    // "row 3 (10.20.0.33:502)" or "10.20.0.33:502"
    QString name() const;
};

// Where a unit id goes: the index of its bus and the unit there (a virtual
// id of --unit-map stands for another unit); bus -1: nowhere.
struct GatewayRoute {
    int bus = -1;
    quint8 unit = 0;
};

struct GatewayListener {
    QHostAddress address; // Any for every address
    quint16 port = 0;
    int row = 0; // --listen-base: the row it serves; 0: the whole site
    std::array<GatewayRoute, 256> routes{};
    QString text() const; // "*:502", "127.0.0.1:1502"
};

struct GatewaySite {
    QList<GatewayBus> buses;
    QList<GatewayListener> listeners;
};

namespace gatewaysite
{

// --unit-map ROW:UNIT=ID: the unit of that row is served as ID.
struct UnitMapping {
    int row = 0;
    int unit = 0;
    int id = 0;
};
// "3:5=105" (repeatable, comma-separated too); false with the problem.
bool parseUnitMap(const QString &text, QList<UnitMapping> *mappings, QString *problem);

// [ADDR:]PORT of --listen and --listen-base: a port 1-65535 without leading
// zeros, on every address of this machine when ADDR is left out; ADDR is an
// IPv4 address (0.0.0.0 too), or an IPv6 one in brackets.
bool parseListen(const QString &text, QHostAddress *address, quint16 *port, QString *problem);

struct Options {
    QHostAddress listenAddress = QHostAddress::Any;
    quint16 listenPort = 0; // with listenBase: the base
    bool listenBase = false;
    BusFraming framing = BusFraming::Rtu;
    QList<UnitMapping> unitMap;
    parameters::Values base; // --from: fills a row's empty cells
    bool allowForeignGateway = false;
};

// One module at `target`: every unit 1-247 goes to its bus.
GatewaySite single(const HostPort &target, const LineFormat &line, const Options &options);

// A site's plan: each row a module at its ip and tcp_port (from --from
// where the row leaves them empty), the units of its bus_ids routed to it.
// A unit on two rows' buses is refused, naming both, unless --unit-map
// gives one of them another id. With listenBase each row has a listener of
// its own on the base + row - 1, where every unit goes to that row's bus
// (only its bus_ids, when it has some). False with every problem, each one
// line naming its row.
bool fromPlan(const QByteArray &plan, const QString &planName, const Options &options,
              GatewaySite *site, QStringList *problems);

} // namespace gatewaysite

#endif // GATEWAYSITE_H

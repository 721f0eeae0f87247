// ordan-cli gateway's options read into what the engine's gateway takes.
#include "cli/gatewayoptions.h"

#include "cli/run.h"
#include "engine/gateway/controlsocket.h"
#include "engine/gateway/gatewaytls.h"

namespace
{

constexpr int mostClients = 4096;
constexpr int mostRetries = 5;
constexpr int longestBroadcastDelayMs = 10000;
constexpr int defaultClientTimeoutMs = 10000;

bool numbers(Run &run, GatewayOptions *o, QString *problem)
{
    Gateway::Settings &s = o->settings;
    s.server.clientTimeoutMs = defaultClientTimeoutMs;
    int probeMs = s.worker.probeEveryMs;
    if (!intOption(run, "max-clients", 1, &s.server.maxClients, problem) ||
        !secondsOption(run, "client-timeout", &s.server.clientTimeoutMs, problem) ||
        !intOption(run, "answer-timeout", 1, &s.worker.answerTimeoutMs, problem) ||
        !intOption(run, "queue", 1, &s.worker.queueLimit, problem) ||
        !intOption(run, "dead-after", 1, &s.worker.deadAfter, problem) ||
        !secondsOption(run, "probe-every", &probeMs, problem) ||
        !intOption(run, "retries", 0, &s.worker.retries, problem) ||
        !intOption(run, "broadcast-delay", 0, &s.worker.broadcastDelayMs, problem) ||
        !secondsOption(run, "give-up", &s.giveUpMs, problem))
        return false;
    s.worker.probeEveryMs = probeMs;
    const struct {
        const char *name;
        int value;
        int most;
        const char *unit;
    } bounds[] = {{"max-clients", s.server.maxClients, mostClients, ""},
                  {"answer-timeout", s.worker.answerTimeoutMs, longestAnswerTimeoutMs, " ms"},
                  {"retries", s.worker.retries, mostRetries, ""},
                  {"broadcast-delay", s.worker.broadcastDelayMs, longestBroadcastDelayMs, " ms"}};
    for (const auto &b : bounds) {
        if (b.value > b.most) {
            *problem = QStringLiteral("--%1 is at most %2%3")
                           .arg(QLatin1String(b.name))
                           .arg(b.most)
                           .arg(QLatin1String(b.unit));
            return false;
        }
    }
    s.broadcast = !run.parser.isSet(QStringLiteral("no-broadcast"));
    s.worker.coalesce = run.parser.isSet(QStringLiteral("coalesce"));
    return true;
}

bool where(Run &run, GatewayOptions *o, QString *problem)
{
    const QCommandLineParser &p = run.parser;
    const bool base = p.isSet(QStringLiteral("listen-base"));
    if (p.isSet(QStringLiteral("listen")) == base) {
        *problem = base ? QStringLiteral("--listen and --listen-base: give one")
                        : QStringLiteral("gateway needs --listen [ADDR:]PORT, where its clients "
                                         "connect (502 for Modbus TCP)");
        return false;
    }
    const QString listen = p.value(base ? QStringLiteral("listen-base") : QStringLiteral("listen"));
    QString why;
    if (!gatewaysite::parseListen(listen, &o->site.listenAddress, &o->site.listenPort, &why)) {
        *problem = (base ? QStringLiteral("--listen-base ") : QStringLiteral("--listen ")) + why;
        return false;
    }
    o->site.listenBase = base;
    o->plan = p.value(QStringLiteral("plan"));
    if (p.isSet(QStringLiteral("plan")) && o->plan.isEmpty()) {
        *problem = QStringLiteral("--plan needs a file name, not an empty text");
        return false;
    }
    const bool planned = p.isSet(QStringLiteral("plan"));
    if (planned == !run.ports.isEmpty() || run.ports.size() > 1) {
        *problem = QStringLiteral("gateway serves one module, HOST:PORT, or a site's plan, --plan "
                                  "PLAN.csv: give one");
        return false;
    }
    if (base && !planned) {
        *problem = QStringLiteral("--listen-base gives each row of a plan a listener: it goes "
                                  "with --plan");
        return false;
    }
    if (p.isSet(QStringLiteral("unit-map")) && (!planned || base)) {
        *problem = QStringLiteral("--unit-map gives a unit of a plan's row another id on the one "
                                  "listener: it goes with --plan and --listen");
        return false;
    }
    for (const QString &map : p.values(QStringLiteral("unit-map"))) {
        if (!gatewaysite::parseUnitMap(map, &o->site.unitMap, problem))
            return false;
    }
    const QString framing = p.value(QStringLiteral("framing"));
    if (p.isSet(QStringLiteral("framing")) && framing != QLatin1String("rtu") &&
        framing != QLatin1String("tcp")) {
        *problem = QStringLiteral("--framing \"%1\": rtu (a transparent module) or tcp (a module "
                                  "in a Modbus TCP mode)")
                       .arg(framing);
        return false;
    }
    o->site.framing = framing == QLatin1String("tcp") ? BusFraming::Tcp : BusFraming::Rtu;
    o->site.allowForeignGateway = run.settings.allowForeignGateway;
    return true;
}

// Who may ask (--allow), TLS (--tls-cert, --tls-key, --tls-ca) and the
// gateway's name (--name).
bool access(Run &run, GatewayOptions *o, QString *problem)
{
    const QCommandLineParser &p = run.parser;
    for (const QString &allow : p.values(QStringLiteral("allow"))) {
        if (!o->access.add(allow, problem))
            return false;
    }
    const QStringList tlsOptions{QStringLiteral("tls-cert"), QStringLiteral("tls-key"),
                                 QStringLiteral("tls-ca")};
    int given = 0;
    for (const QString &option : tlsOptions)
        given += p.isSet(option) ? 1 : 0;
    if (given > 0 && given < tlsOptions.size()) {
        *problem = QStringLiteral("TLS needs --tls-cert, --tls-key and --tls-ca together: the "
                                  "gateway's certificate, its key, and the CA that signs its "
                                  "clients' certificates");
        return false;
    }
    if (given > 0) {
#ifndef QT_NO_SSL
        gatewaytls::Files files;
        files.certificate = p.value(QStringLiteral("tls-cert"));
        files.key = p.value(QStringLiteral("tls-key"));
        files.ca = p.value(QStringLiteral("tls-ca"));
        if (!gatewaytls::configure(files, &o->settings.server.tls, problem))
            return false;
#else
        *problem = QStringLiteral("this ordan-cli was built without TLS");
        return false;
#endif
    }
    o->settings.name = p.isSet(QStringLiteral("name"))
                           ? p.value(QStringLiteral("name"))
                           : controlsocket::defaultName(o->site.listenAddress, o->site.listenPort);
    return controlsocket::checkName(o->settings.name, problem);
}

} // namespace

bool gatewayLineOptions(Run &run, GatewayOptions *o, QString *problem)
{
    parameters::Values values = o->site.base;
    const struct {
        const char *name;
        ModuleField field;
    } fields[] = {{"speed", ModuleField::Speed},
                  {"parity", ModuleField::Parity},
                  {"stop-bits", ModuleField::StopBit},
                  {"packet-timeout", ModuleField::Timewait}};
    for (const auto &f : fields) {
        const QString name = QLatin1String(f.name);
        if (!run.parser.isSet(name))
            continue;
        if (!o->plan.isEmpty()) {
            *problem = QStringLiteral("--%1: a plan gives each row's line in its columns (or "
                                      "--from)")
                           .arg(name);
            return false;
        }
        const QString value = run.parser.value(name);
        const QString rule = parameters::checkValue(f.field, value);
        if (!rule.isEmpty()) {
            *problem = QStringLiteral("--%1 \"%2\": %3").arg(name, value, rule);
            return false;
        }
        values.insert(f.field, value);
    }
    o->line = LineFormat::of(values);
    return true;
}

bool gatewayOptions(Run &run, GatewayOptions *o, QString *problem)
{
    return where(run, o, problem) && numbers(run, o, problem) && access(run, o, problem);
}

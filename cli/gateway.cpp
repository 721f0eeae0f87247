// ordan-cli gateway: its arguments and what it prints. The gateway itself
// is the engine's (engine/gateway).
#include "cli/gateway.h"

#include "cli/output.h"
#include "cli/run.h"
#include "engine/bus/busreport.h"
#include "engine/commission/commissionplan.h"
#include "engine/gateway/clientaccess.h"
#include "engine/gateway/controlsocket.h"
#include "engine/gateway/gateway.h"
#include "engine/gateway/gatewaytls.h"
#include "engine/gateway/servicenotify.h"
#include "engine/platform/interruptwatch.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace
{

constexpr int listenExit = 3;
constexpr int mostClients = 4096;
constexpr int mostRetries = 5;
constexpr int longestBroadcastDelayMs = 10000;
constexpr int defaultClientTimeoutMs = 10000;

// What the command line says the gateway is: its options, and where its
// site comes from.
struct GatewayOptions {
    Gateway::Settings settings;
    gatewaysite::Options site;
    QString plan;    // --plan; empty for HOST:PORT
    HostPort target; // HOST:PORT
    LineFormat line; // HOST:PORT: its bus's format
    ClientAccess access;
};

void printStatus(const Gateway &gateway)
{
    // One object a line: SIGUSR1 may print several.
    const QByteArray bytes = QJsonDocument(gateway.status()).toJson(QJsonDocument::Compact) + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    // Printing: a reader that is gone has nowhere else to be told.
    (void)fflush(stdout);
}

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

// The line of HOST:PORT: --from, then --speed, --parity, --stop-bits and
// --packet-timeout over it. A plan has them in its columns.
bool lineOptions(Run &run, GatewayOptions *o, QString *problem)
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

// The site of the plan as its file stands now; false with every problem.
bool readPlan(Run &run, const GatewayOptions &o, GatewaySite *site, QStringList *problems)
{
    parameters::Values base;
    int exitCode = 0;
    if (run.parser.isSet(QStringLiteral("from")) && !baseValues(run, &base, &exitCode)) {
        *problems << QStringLiteral("--from cannot be read");
        return false;
    }
    QByteArray bytes;
    QString problem;
    if (!commissionplan::readFile(o.plan, &bytes, &problem)) {
        *problems << QStringLiteral("cannot use the plan %1: %2").arg(o.plan, problem);
        return false;
    }
    gatewaysite::Options options = o.site;
    options.base = base;
    return gatewaysite::fromPlan(bytes, o.plan, options, site, problems);
}

QStringList siteLines(const GatewaySite &site)
{
    QStringList lines;
    for (const GatewayListener &listener : site.listeners) {
        QStringList served;
        for (const GatewayBus &bus : site.buses) {
            if (listener.row != 0 && bus.row != listener.row)
                continue;
            QList<int> ids;
            for (int id = 1; id < 248; ++id) {
                const GatewayRoute route = listener.routes[size_t(id)];
                if (route.bus >= 0 && site.buses.at(route.bus).key() == bus.key())
                    ids << id;
            }
            served << QStringLiteral("%1: units %2, %3")
                          .arg(bus.name(),
                               ids.isEmpty() ? QStringLiteral("none") : unitlist::compact(ids),
                               bus.line.text());
        }
        lines << QStringLiteral("listening on %1 for %2")
                     .arg(listener.text(), served.join(QStringLiteral("; ")));
    }
    return lines;
}

// Who may ask, said once it listens.
QString whoMayAsk(const GatewayOptions &o, bool tls)
{
    QString line = tls ? QStringLiteral("TLS: clients need a certificate the CA signed")
                       : QStringLiteral("Modbus TCP without TLS");
    if (o.access.isEmpty())
        return line + QStringLiteral("; every address may connect and write");
    QStringList writers;
    QStringList readers;
    for (const ClientAccess::Rule &rule : o.access.all())
        (rule.readOnly ? readers : writers)
            << rule.network.toString() + QLatin1Char('/') + QString::number(rule.prefix);
    QStringList who;
    if (!writers.isEmpty())
        who << QStringLiteral("from %1 may write").arg(writers.join(QStringLiteral(", ")));
    if (!readers.isEmpty())
        who << QStringLiteral("from %1 may only read").arg(readers.join(QStringLiteral(", ")));
    return line + QStringLiteral("; clients ") + who.join(QStringLiteral(", ")) +
           QStringLiteral(", any other is refused");
}

// systemd's one line on the gateway (systemctl status).
QString readyStatus(const Gateway &gateway)
{
    const QJsonObject status = gateway.status();
    QStringList listening;
    const QJsonArray listeners = status.value(QStringLiteral("listening")).toArray();
    for (const QJsonValue &l : listeners)
        listening << l.toString();
    const int modules = status.value(QStringLiteral("modules")).toArray().size();
    return QStringLiteral("listening on %1 for %2 module%3")
        .arg(listening.join(QStringLiteral(", ")))
        .arg(modules)
        .arg(modules == 1 ? "" : "s");
}

} // namespace

int commandGateway(Run &run)
{
    if (run.ports.value(0) == QLatin1String("status"))
        return commandGatewayStatus(run);
    GatewayOptions o;
    QString problem;
    if (!where(run, &o, &problem) || !numbers(run, &o, &problem) || !access(run, &o, &problem))
        return usage(problem);
    int exitCode = 0;
    if (o.plan.isEmpty() && !baseValues(run, &o.site.base, &exitCode))
        return exitCode;
    if (!lineOptions(run, &o, &problem))
        return usage(problem);
    GatewaySite site;
    if (o.plan.isEmpty()) {
        if (!HostPort::parse(run.ports.first(), HostPort::Hosts::NamesToo, &o.target, &problem))
            return usage(problem);
        site = gatewaysite::single(o.target, o.line, o.site);
    } else {
        QStringList problems;
        if (!readPlan(run, o, &site, &problems)) {
            for (const QString &p : qAsConst(problems))
                cliout::error(QString(), p);
            cliout::err({QStringLiteral("nothing was started")});
            return usageExit;
        }
    }
    o.settings.trace = run.trace.isOpen() ? &run.trace : nullptr;

    Gateway gateway(site, o.settings);
    if (!o.access.isEmpty())
        gateway.setPolicy(&o.access);
    ServiceNotify service;
    ControlServer control([&gateway] { return gateway.status(); });
    QEventLoop loop;
    int result = 0;
    QObject::connect(&gateway, &Gateway::moduleConnected,
                     [](const QString &module, qint64 downMs, qint64 refusals) {
                         QString line =
                             downMs < 0 ? QStringLiteral("connected")
                                        : QStringLiteral("back after ") + cliout::seconds(downMs);
                         if (refusals > 0)
                             line += QStringLiteral(" (the module had closed %1 connection%2 at "
                                                    "once)")
                                         .arg(refusals)
                                         .arg(refusals == 1 ? "" : "s");
                         cliout::error(module, line);
                     });
    QObject::connect(&gateway, &Gateway::moduleNotReached,
                     [](const QString &module, const QString &reason) {
                         cliout::error(module, QStringLiteral("not reached (%1); its units are "
                                                              "answered 0x0A; trying again, up to "
                                                              "every 2 s")
                                                   .arg(reason));
                     });
    QObject::connect(
        &gateway, &Gateway::moduleLost, [](const QString &module, const QString &reason) {
            cliout::error(
                module,
                QStringLiteral("lost (%1); its units are answered 0x0A; reconnecting").arg(reason));
        });
    QObject::connect(&gateway, &Gateway::moduleRefusing, [](const QString &module) {
        cliout::error(module, QStringLiteral("the module closes every connection at once: it may "
                                             "still hold an old one; trying every 2 s"));
    });
    QObject::connect(&gateway, &Gateway::unitGivenUp, [&o](const QString &module, quint8 unit) {
        cliout::error(module, QStringLiteral("unit %1 given up after %2 time-outs in a row: "
                                             "answered 0x0B at once, probed every %3")
                                  .arg(unit)
                                  .arg(o.settings.worker.deadAfter)
                                  .arg(cliout::seconds(o.settings.worker.probeEveryMs)));
    });
    QObject::connect(&gateway, &Gateway::unitBack, [](const QString &module, quint8 unit) {
        cliout::error(module, QStringLiteral("unit %1 answers again").arg(unit));
    });
    QObject::connect(
        &gateway, &Gateway::clientDropped, [](const QString &peer, const QString &why) {
            cliout::error(QStringLiteral("client ") + peer, QStringLiteral("dropped: ") + why);
        });
    QObject::connect(
        &gateway, &Gateway::clientRefused, [](const QString &peer, const QString &why) {
            cliout::error(
                QStringLiteral("client ") + peer,
                QStringLiteral("refused: %1 (further refusals are counted, not said, until "
                               "a client is taken)")
                    .arg(why));
        });
    QObject::connect(&gateway, &Gateway::gaveUp, [&](const QString &reason) {
        cliout::error(QStringLiteral("gateway"), QStringLiteral("gave up: ") + reason);
        result = gaveUpExit;
        loop.quit();
    });
    if (!gateway.start(&problem) || !control.listen(o.settings.name, &problem)) {
        cliout::error(QStringLiteral("gateway"), problem);
        return listenExit;
    }
    for (const QString &line : siteLines(site))
        cliout::error(QStringLiteral("gateway"), line);
    cliout::error(QStringLiteral("gateway"), whoMayAsk(o, gateway.usesTls()));
    cliout::error(QStringLiteral("gateway"),
                  QStringLiteral("its counters: \"ordan-cli gateway status %1\" (control socket "
                                 "%2)")
                      .arg(o.settings.name, control.path()));
#ifndef QT_NO_SSL
    const QString validity = gatewaytls::validityWarning(o.settings.server.tls);
    if (gateway.usesTls() && !validity.isEmpty())
        cliout::error(QStringLiteral("gateway"), QStringLiteral("--tls-cert: ") + validity);
#endif
    service.ready(readyStatus(gateway));
    {
        InterruptWatch stop([&] { loop.quit(); }, InterruptWatch::Kind::Stop,
                            InterruptWatch::Also::QuitNotHangUp);
        InterruptWatch report([&] { printStatus(gateway); }, InterruptWatch::Kind::Report);
        InterruptWatch reload(
            [&] {
                if (o.plan.isEmpty()) {
                    cliout::error(QStringLiteral("gateway"),
                                  QStringLiteral("SIGHUP: nothing to read again (no --plan)"));
                    return;
                }
                GatewaySite next;
                QStringList problems;
                if (!readPlan(run, o, &next, &problems)) {
                    cliout::error(o.plan, QStringLiteral("read again and refused; the plan in "
                                                         "force stays:"));
                    for (const QString &p : qAsConst(problems))
                        cliout::error(QString(), p);
                    return;
                }
                QStringList listenProblems;
                service.reloading();
                gateway.reload(next, &listenProblems);
                service.ready(readyStatus(gateway));
                cliout::error(o.plan, QStringLiteral("read again: %1 module%2, every client kept")
                                          .arg(next.buses.size())
                                          .arg(next.buses.size() == 1 ? "" : "s"));
                for (const QString &line : siteLines(next))
                    cliout::error(QStringLiteral("gateway"), line);
                for (const QString &p : qAsConst(listenProblems))
                    cliout::error(QStringLiteral("gateway"), p);
            },
            InterruptWatch::Kind::Reload);
        loop.exec();
    }
    service.stopping();
    control.close();
    gateway.stop();
    printStatus(gateway);
    return result;
}

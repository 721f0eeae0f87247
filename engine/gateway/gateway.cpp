#include "engine/gateway/gateway.h"

#include "engine/gateway/clientpolicy.h"
#include "engine/gateway/gatewayclient.h"
#include "engine/platform/tracelog.h"

#include <QCoreApplication>
#include <QJsonArray>

#include <memory>

Gateway::Gateway(const GatewaySite &site, const Settings &settings, QObject *parent)
    : QObject(parent), current(site), settings(settings), server(settings.server)
{
    clock.start();
    giveUpTimer.setSingleShot(true);
    connect(&giveUpTimer, &QTimer::timeout, this, [this] {
        emit gaveUp(QStringLiteral("no module has had a connection for %1 s")
                        .arg(this->settings.giveUpMs / 1000.0));
    });
    connect(&server, &GatewayServer::request, this, &Gateway::onRequest);
    connect(&server, &GatewayServer::clientConnected, this, [this](GatewayClient *client) {
        refusing = false;
        if (this->settings.trace)
            this->settings.trace->event(
                QStringLiteral("client %1").arg(client->id()),
                QStringLiteral("connected from %1 to %2").arg(client->peer(), client->listener()));
    });
    connect(&server, &GatewayServer::clientGone, this,
            [this](GatewayClient *client, const QString &why) {
                for (BusWorker *worker : qAsConst(workers))
                    worker->forget(client->id());
                if (this->settings.trace)
                    this->settings.trace->event(QStringLiteral("client %1").arg(client->id()),
                                                QStringLiteral("gone: ") + why);
                if (!client->closedByPeer() && started)
                    emit clientDropped(client->peer(), why);
            });
    connect(&server, &GatewayServer::clientRefused, this,
            [this](const QString &peer, const QString &why) {
                if (this->settings.trace)
                    this->settings.trace->event(QStringLiteral("client"),
                                                QStringLiteral("%1 refused: %2").arg(peer, why));
                if (!refusing)
                    emit clientRefused(peer, why);
                refusing = true;
            });
}

Gateway::~Gateway()
{
    stop();
}

BusWorker *Gateway::makeWorker(const GatewayBus &bus)
{
    BusWorker::Settings workerSettings = settings.worker;
    workerSettings.trace = settings.trace;
    auto *worker = new BusWorker(bus, workerSettings, this);
    connect(worker, &BusWorker::connected, this, [this, worker](qint64 downMs, qint64 refusals) {
        emit moduleConnected(worker->bus().name(), downMs, refusals);
        updateGiveUp();
    });
    connect(worker, &BusWorker::notReached, this, [this, worker](const QString &reason) {
        emit moduleNotReached(worker->bus().name(), reason);
    });
    connect(worker, &BusWorker::lost, this, [this, worker](const QString &reason) {
        emit moduleLost(worker->bus().name(), reason);
        updateGiveUp();
    });
    connect(worker, &BusWorker::refusing, this,
            [this, worker] { emit moduleRefusing(worker->bus().name()); });
    connect(worker, &BusWorker::unitGivenUp, this,
            [this, worker](quint8 unit) { emit unitGivenUp(worker->bus().name(), unit); });
    connect(worker, &BusWorker::unitBack, this,
            [this, worker](quint8 unit) { emit unitBack(worker->bus().name(), unit); });
    workers.insert(bus.key(), worker);
    return worker;
}

bool Gateway::start(QString *problem)
{
    if (!server.listen(current.listeners, problem))
        return false;
    started = true;
    for (const GatewayBus &bus : qAsConst(current.buses))
        makeWorker(bus)->start();
    updateGiveUp();
    return true;
}

void Gateway::stop()
{
    if (!started)
        return;
    started = false;
    giveUpTimer.stop();
    server.close();
    for (BusWorker *worker : qAsConst(workers))
        worker->stop();
}

void Gateway::reload(const GatewaySite &site, QStringList *problems)
{
    QHash<QString, BusWorker *> kept;
    for (const GatewayBus &bus : site.buses) {
        BusWorker *worker = workers.take(bus.key());
        if (worker) {
            worker->setBus(bus);
        } else {
            worker = makeWorker(bus);
            workers.remove(bus.key());
            if (started)
                worker->start();
        }
        kept.insert(bus.key(), worker);
    }
    for (BusWorker *gone : qAsConst(workers)) {
        gone->stop();
        gone->deleteLater();
    }
    workers = kept;
    current = site;
    if (started)
        server.relisten(site.listeners, problems);
    updateGiveUp();
}

const GatewayListener *Gateway::listenerOf(const GatewayClient *client) const
{
    for (const GatewayListener &listener : current.listeners) {
        if (listener.text() == client->listener())
            return &listener;
    }
    return nullptr;
}

void Gateway::deliver(quint64 client, quint64 sequence, const QByteArray &pdu)
{
    if (GatewayClient *to = server.client(client))
        to->answer(sequence, pdu);
}

void Gateway::onRequest(GatewayClient *client, quint64 sequence, quint8 unit, const QByteArray &pdu)
{
    GatewayRequest request;
    request.client = client->id();
    request.sequence = sequence;
    request.unit = unit;
    request.pdu = pdu;
    request.takenNs = clock.nsecsElapsed();
    const quint8 function = request.function();
    const quint8 refused = server.policy().check(*client, unit, pdu);
    if (refused != 0) {
        if (settings.trace)
            settings.trace->event(
                QStringLiteral("client %1").arg(client->id()),
                QStringLiteral("function %1 refused%2: answered 0x%3")
                    .arg(function)
                    .arg(client->readOnly() ? QStringLiteral(" (read-only)") : QString())
                    .arg(refused, 2, 16, QLatin1Char('0')));
        deliver(client->id(), sequence, exceptionPdu(function, refused));
        return;
    }
    const GatewayListener *listener = listenerOf(client);
    if (unit == 0 && listener) {
        broadcast(client, sequence, request, *listener);
        return;
    }
    const GatewayRoute route = listener ? listener->routes[unit] : GatewayRoute();
    BusWorker *worker = route.bus >= 0 ? workers.value(current.buses.at(route.bus).key()) : nullptr;
    if (!worker) {
        if (settings.trace)
            settings.trace->event(QStringLiteral("client %1").arg(client->id()),
                                  QStringLiteral("unit %1 is on no bus: answered 0x0A").arg(unit));
        deliver(client->id(), sequence, exceptionPdu(function, gatewayexception::noPath));
        return;
    }
    BusWorker::Job job;
    request.unit = route.unit;
    job.request = request;
    job.who = QStringLiteral("client %1").arg(client->id());
    const quint64 id = client->id();
    job.answer = [this, id, sequence](const QByteArray &answer) { deliver(id, sequence, answer); };
    worker->submit(std::move(job));
}

void Gateway::broadcast(GatewayClient *client, quint64 sequence, const GatewayRequest &request,
                        const GatewayListener &listener)
{
    const quint64 id = client->id();
    if (!settings.broadcast || !request.isBroadcastWrite()) {
        deliver(id, sequence, exceptionPdu(request.function(), gatewayexception::illegalFunction));
        return;
    }
    QList<BusWorker *> targets;
    for (const GatewayBus &bus : qAsConst(current.buses)) {
        if (listener.row == 0 || bus.row == listener.row) {
            if (BusWorker *worker = workers.value(bus.key()))
                targets << worker;
        }
    }
    if (targets.isEmpty()) {
        deliver(id, sequence, exceptionPdu(request.function(), gatewayexception::noPath));
        return;
    }
    // One answer once every bus has sent it.
    struct Pending {
        int left = 0;
        bool failed = false;
    };
    auto pending = std::make_shared<Pending>();
    pending->left = targets.size();
    const QByteArray written = request.writeAnswer();
    const quint8 function = request.function();
    for (BusWorker *worker : qAsConst(targets)) {
        BusWorker::Job job;
        job.request = request;
        job.who = QStringLiteral("client %1 broadcast").arg(id);
        job.answer = [this, id, sequence, pending, written, function](const QByteArray &answer) {
            if (!answer.isEmpty() && (quint8(answer.at(0)) & 0x80))
                pending->failed = true;
            if (--pending->left > 0)
                return;
            deliver(id, sequence,
                    pending->failed ? exceptionPdu(function, gatewayexception::noPath) : written);
        };
        worker->submitBroadcast(std::move(job));
    }
}

void Gateway::updateGiveUp()
{
    if (settings.giveUpMs < 0 || !started)
        return;
    bool any = false;
    for (const BusWorker *worker : qAsConst(workers))
        any = any || worker->isConnected();
    if (any)
        giveUpTimer.stop();
    else if (!giveUpTimer.isActive())
        giveUpTimer.start(settings.giveUpMs);
}

QJsonObject Gateway::status() const
{
    QJsonArray clients;
    for (const GatewayClient *client : server.clients())
        clients.append(client->json());
    QJsonArray modules;
    for (const GatewayBus &bus : current.buses) {
        if (const BusWorker *worker = workers.value(bus.key()))
            modules.append(worker->json());
    }
    const GatewayServer::Counters c = server.counters();
    return {{QStringLiteral("name"), settings.name},
            {QStringLiteral("pid"), double(QCoreApplication::applicationPid())},
            {QStringLiteral("tls"), server.usesTls()},
            {QStringLiteral("listening"), QJsonArray::fromStringList(server.listening())},
            {QStringLiteral("uptime_s"), double(clock.elapsed()) / 1000.0},
            {QStringLiteral("clients_accepted"), double(c.accepted)},
            {QStringLiteral("clients_refused"), double(c.refused)},
            {QStringLiteral("clients_not_admitted"), double(c.notAdmitted)},
            {QStringLiteral("clients_tls_refused"), double(c.tlsRefused)},
            {QStringLiteral("clients_dropped"), double(c.dropped)},
            {QStringLiteral("clients"), clients},
            {QStringLiteral("modules"), modules}};
}

#ifndef GATEWAY_H
#define GATEWAY_H

#include "engine/gateway/busworker.h"
#include "engine/gateway/gatewayserver.h"
#include "engine/gateway/gatewaysite.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

class ClientPolicy;
class GatewayClient;
class TraceLog;

// A whole site as one Modbus TCP server: the listeners and their clients
// (GatewayServer), one worker a bus (BusWorker), and between them the
// routes of the site (GatewaySite): each request goes by its listener and
// unit id to a bus and the unit there, and its answer back to its client.
//
// - A unit id routed nowhere is answered 0x0A at once, never sent.
// - Unit 0 is a broadcast: a write (5, 6, 15, 16, 22) goes to every bus of
//   its listener (the whole site, or the row of a --listen-base listener),
//   no answer awaited, and the client gets the write's own answer once it
//   has left for every one of them (0x0A when it could not); any other
//   function, and any broadcast with broadcasts off, is answered 0x01.
// - reload() takes a site read again: buses kept keep their connection,
//   queue and counters, new ones connect, those gone end (their waiting
//   requests answered 0x0A); clients stay connected.
// - With a give-up time, gaveUp() says when no module has had a
//   connection for that long.
class Gateway : public QObject
{
    Q_OBJECT

public:
    struct Settings {
        GatewayServer::Settings server;
        BusWorker::Settings worker;
        bool broadcast = true;
        int giveUpMs = -1; // -1: never
        TraceLog *trace = nullptr;
        QString name; // its instance's name (--name), in its status
    };

    Gateway(const GatewaySite &site, const Settings &settings, QObject *parent = nullptr);
    ~Gateway() override;
    Gateway(const Gateway &) = delete;
    Gateway &operator=(const Gateway &) = delete;

    void setPolicy(const ClientPolicy *policy) { server.setPolicy(policy); }
    // Listens (false with the problem, naming who holds a port, nothing
    // started) and connects to every module.
    bool start(QString *problem);
    void stop();
    // A site read again; listeners that cannot be opened are said in
    // *problems, everything else takes effect.
    void reload(const GatewaySite &site, QStringList *problems);
    const GatewaySite &site() const { return current; }
    // Whether its clients come over TLS.
    bool usesTls() const { return server.usesTls(); }

    // Everything counted, as one object: the gateway, its clients, its
    // modules and their units.
    QJsonObject status() const;

signals:
    void moduleConnected(const QString &module, qint64 downMs, qint64 refusals);
    void moduleNotReached(const QString &module, const QString &reason);
    void moduleLost(const QString &module, const QString &reason);
    void moduleRefusing(const QString &module);
    void unitGivenUp(const QString &module, quint8 unit);
    void unitBack(const QString &module, quint8 unit);
    // A client dropped by the gateway (not one that left), and why.
    void clientDropped(const QString &peer, const QString &why);
    // The first connection refused of a run of them, and why.
    void clientRefused(const QString &peer, const QString &why);
    void gaveUp(const QString &reason);

private:
    BusWorker *makeWorker(const GatewayBus &bus);
    void onRequest(GatewayClient *client, quint64 sequence, quint8 unit, const QByteArray &pdu);
    void broadcast(GatewayClient *client, quint64 sequence, const GatewayRequest &request,
                   const GatewayListener &listener);
    void deliver(quint64 client, quint64 sequence, const QByteArray &pdu);
    const GatewayListener *listenerOf(const GatewayClient *client) const;
    void updateGiveUp();

    GatewaySite current;
    Settings settings;
    GatewayServer server;
    QHash<QString, BusWorker *> workers; // by the bus's key
    QElapsedTimer clock;
    QTimer giveUpTimer;
    bool refusing = false; // in a run of refused connections
    bool started = false;
};

#endif // GATEWAY_H

#ifndef BUSSCAN_H
#define BUSSCAN_H

#include "engine/bus/busclient.h"
#include "engine/bus/busreport.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QModbusRequest>
#include <QObject>

// The request that proves a device: a read (function 1, 2, 3 or 4) of
// `count` items from `address`. By default "read holding registers 0,
// count 1". A probe never writes.
struct BusProbe {
    quint8 function = 3;
    quint16 address = 0;
    quint16 count = 1;

    // "FC:ADDR:COUNT", as "3:0:1"; false with the reason otherwise.
    static bool parse(const QString &text, BusProbe *probe, QString *error);
    QModbusRequest request() const;
    QString text() const;
};

struct BusScanSettings {
    QHostAddress host;
    quint16 port = 0;
    BusFraming framing = BusFraming::Rtu;
    // The addresses searched, and those that must answer (searched too);
    // both empty: 1-247.
    QList<int> ids;
    QList<int> expected;
    BusProbe probe;
    int answerTimeoutMs = 1000;
    // Every device that answers is asked this many times more: the line's
    // quality.
    int repeat = 0;
    int minQualityPercent = 99;
    int connectTimeoutMs = 3000;
    // The module's TCP port is tried again for this long (its network
    // coming up after a restart).
    int connectRetryMs = 0;
    // The bus's speed when known, for the 3.5-character gap between a
    // reply and the next request; 0: that of 9600.
    int lineBaud = 0;

    // The check a commissioning run makes: `units` must answer at
    // HOST:PORT, nothing else searched. Right after a module's restart,
    // set connectRetryMs too (its network coming up).
    static BusScanSettings forUnits(const QHostAddress &host, quint16 port,
                                    const QList<int> &units);
};

// Finds the devices on the bus behind a module: asks each address the
// probe, one after another over one connection to the module's TCP port;
// a reply with a wrong CRC is asked again (three tries). Then, with
// `repeat`, asks each device that answered that many times more. Its
// report() says what each address came to, the line's quality, and the
// outcome by the one rule (BusReport).
//
//     BusScan scan(BusScanSettings::forUnits(address, 502, {1, 2, 5}));
//     connect(&scan, &BusScan::finished, ...);
//     scan.start();
//     ... scan.report().answered(), .missing(), .qualityPercent(),
//         .exitCode(), .summary()
class BusScan : public QObject
{
    Q_OBJECT

public:
    static constexpr int crcTries = 3;
    static constexpr int reconnects = 3; // a connection lost mid-scan

    explicit BusScan(const BusScanSettings &settings, QObject *parent = nullptr);

    void start();
    // Ends at once (the report says interrupted); finished() follows.
    void stop();
    bool isFinished() const { return finishedFlag; }
    const BusReport &report() const { return result; }
    const BusScanSettings &settings() const { return config; }
    // The addresses in the order they are asked.
    QList<int> searched() const { return order; }

signals:
    void connected();
    // `done` of `total` requests (the repeats counted as they become
    // known), `unit` the address in hand, an estimate of the time left.
    void progress(int done, int total, int unit, int msLeft);
    // An address came to its result in the search.
    void unitFinished(int unit);
    void finished();

private:
    void onOpened();
    void onNotOpened(const QString &why);
    void onLost(const QString &why);
    void onLate(quint8 unit, const QModbusResponse &pdu, int ms);
    void askNext();
    void onAnswer(const BusClient::Answer &answer);
    void tally(BusUnit *unit, const BusClient::Answer &answer);
    void finish();
    int msLeft() const;

    BusScanSettings config;
    BusClient client;
    BusReport result;
    QList<int> order;
    int scanIndex = 0;   // next address of the search
    int repeatIndex = 0; // next of the repeats, over the present units
    int crcTry = 0;      // tries of the address in hand
    int reconnectsLeft = reconnects;
    bool repeating = false;
    bool finishedFlag = false;
    bool started = false;
    int inHand = -1;    // index in the report's units
    QList<int> present; // the search's present units, for the repeats
    QElapsedTimer clock;
    qint64 searchMs = 0; // spent on the search's requests
    int searchAsked = 0;
    qint64 repeatMs = 0;
    int repeatAsked = 0;
};

#endif // BUSSCAN_H

#include "engine/bus/busscan.h"

#include <QRegularExpression>

namespace
{

// The exceptions of a gateway: it answered for a device that did not.
bool isGatewayException(int code)
{
    return code == 10 || code == 11;
}

} // namespace

bool BusProbe::parse(const QString &text, BusProbe *probe, QString *error)
{
    static const QRegularExpression format(
        QStringLiteral("^([0-9]{1,3}):([0-9]{1,5}):([0-9]{1,4})$"));
    const QRegularExpressionMatch m = format.match(text);
    if (!m.hasMatch()) {
        *error = QStringLiteral("--probe \"%1\": must be FC:ADDR:COUNT, as 3:0:1").arg(text);
        return false;
    }
    const int function = m.captured(1).toInt();
    const int address = m.captured(2).toInt();
    const int count = m.captured(3).toInt();
    if (function < 1 || function > 4) {
        *error = QStringLiteral("--probe \"%1\": a probe reads: function 1, 2, 3 or 4").arg(text);
        return false;
    }
    // The most one reply carries: 2000 coils or inputs, 125 registers.
    const int most = function <= 2 ? 2000 : 125;
    if (count < 1 || count > most) {
        *error = QStringLiteral("--probe \"%1\": function %2 reads 1 to %3 at a time")
                     .arg(text)
                     .arg(function)
                     .arg(most);
        return false;
    }
    if (address > 65535 || address + count > 65536) {
        *error = QStringLiteral("--probe \"%1\": addresses go from 0 to 65535").arg(text);
        return false;
    }
    probe->function = quint8(function);
    probe->address = quint16(address);
    probe->count = quint16(count);
    return true;
}

QModbusRequest BusProbe::request() const
{
    return QModbusRequest(QModbusPdu::FunctionCode(function), address, count);
}

QString BusProbe::text() const
{
    return QStringLiteral("%1:%2:%3").arg(function).arg(address).arg(count);
}

BusScanSettings BusScanSettings::forUnits(const QHostAddress &host, quint16 port,
                                          const QList<int> &units)
{
    BusScanSettings settings;
    settings.host = host;
    settings.port = port;
    settings.ids = units;
    settings.expected = units;
    return settings;
}

BusScan::BusScan(const BusScanSettings &settings, QObject *parent)
    : QObject(parent), config(settings), client(settings.framing)
{
    order = config.ids;
    for (const int unit : qAsConst(config.expected)) {
        if (!order.contains(unit))
            order << unit;
    }
    if (order.isEmpty())
        order = unitlist::all();
    result.target = QStringLiteral("%1:%2").arg(config.host.toString()).arg(config.port);
    result.expected = config.expected;
    result.repeat = config.repeat;
    result.minQualityPercent = config.minQualityPercent;
    result.answerTimeoutMs = config.answerTimeoutMs;
    connect(&client, &BusClient::opened, this, &BusScan::onOpened);
    connect(&client, &BusClient::notOpened, this, &BusScan::onNotOpened);
    connect(&client, &BusClient::lost, this, &BusScan::onLost);
    connect(&client, &BusClient::late, this, &BusScan::onLate);
    client.setLineSpeed(config.lineBaud);
}

void BusScan::start()
{
    if (started)
        return;
    started = true;
    clock.start();
    client.open(config.host, config.port, config.connectTimeoutMs, config.connectRetryMs);
}

void BusScan::stop()
{
    if (finishedFlag)
        return;
    result.interrupted = true;
    finish();
}

void BusScan::onOpened()
{
    if (!result.reached) {
        result.reached = true;
        emit connected();
    }
    askNext();
}

void BusScan::onNotOpened(const QString &why)
{
    result.reached = false;
    result.notReachedWhy = why;
    finish();
}

// A connection lost mid-scan (a module that restarted, or one that serves
// another client): made again, and the address in hand asked again.
void BusScan::onLost(const QString &why)
{
    if (finishedFlag)
        return;
    if (reconnectsLeft-- <= 0) {
        result.reached = false;
        result.notReachedWhy =
            why + QStringLiteral(", %1 times: another program may hold its one connection")
                      .arg(reconnects + 1);
        finish();
        return;
    }
    client.open(config.host, config.port, config.connectTimeoutMs,
                qMax(config.connectRetryMs, config.connectTimeoutMs));
}

// The reply to the request just given up, before the next request: the
// device is there, slow (an exception keeps its code). Later than that it
// is stray.
void BusScan::onLate(quint8 unit, const QModbusResponse &pdu, int ms)
{
    const int code = pdu.isException() ? int(pdu.exceptionCode()) : 0;
    for (BusUnit &u : result.units) {
        if (u.unit != unit)
            continue;
        ++u.late;
        if (u.state == BusUnit::State::Nothing && !isGatewayException(code)) {
            u.state = BusUnit::State::Late;
            u.ms = ms;
            u.exceptionCode = code;
            emit unitFinished(unit);
        }
        return;
    }
}

void BusScan::askNext()
{
    if (finishedFlag || client.isAsking())
        return;
    if (!repeating && inHand < 0) {
        if (scanIndex < order.size()) {
            BusUnit u;
            u.unit = order.at(scanIndex++);
            result.units.append(u);
            inHand = result.units.size() - 1;
            crcTry = 0;
        } else {
            repeating = true;
            present = result.answered();
            repeatIndex = 0;
        }
    }
    if (repeating && inHand < 0) {
        if (repeatIndex >= present.size() * config.repeat) {
            finish();
            return;
        }
        const int address = present.at(repeatIndex / config.repeat);
        for (int i = 0; i < result.units.size(); ++i) {
            if (result.units.at(i).unit == address)
                inHand = i;
        }
    }
    const int address = result.units.at(inHand).unit;
    const int total = order.size() + present.size() * config.repeat +
                      (repeating ? 0 : result.answered().size() * config.repeat);
    emit progress(repeating ? order.size() + repeatIndex : scanIndex - 1, total, address, msLeft());
    client.ask(quint8(address), config.probe.request(), config.answerTimeoutMs,
               [this](const BusClient::Answer &answer) { onAnswer(answer); });
}

void BusScan::onAnswer(const BusClient::Answer &answer)
{
    if (answer.kind == BusClient::Answer::Kind::Lost)
        return; // lost(): made again, then the same question
    BusUnit &u = result.units[inHand];
    tally(&u, answer);
    if (repeating) {
        repeatMs += answer.ms;
        ++repeatAsked;
        ++repeatIndex;
        inHand = -1;
        askNext();
        return;
    }
    searchMs += answer.ms;
    ++searchAsked;
    const bool again = answer.kind == BusClient::Answer::Kind::CrcError && ++crcTry < crcTries;
    if (!again) {
        inHand = -1;
        emit unitFinished(u.unit);
    }
    askNext();
}

void BusScan::tally(BusUnit *unit, const BusClient::Answer &answer)
{
    ++unit->asked;
    unit->noiseBytes += answer.noiseBytes;
    switch (answer.kind) {
    case BusClient::Answer::Kind::Reply: {
        const int code = answer.pdu.isException() ? int(answer.pdu.exceptionCode()) : 0;
        if (isGatewayException(code)) {
            ++unit->noReply; // the gateway answered; the device did not
            return;
        }
        ++unit->good;
        unit->times << answer.ms;
        if (unit->state == BusUnit::State::Nothing || unit->state == BusUnit::State::Late) {
            unit->state = code ? BusUnit::State::Exception : BusUnit::State::Answers;
            unit->exceptionCode = code;
            unit->ms = answer.ms;
        }
        return;
    }
    case BusClient::Answer::Kind::CrcError:
        ++unit->crcErrors;
        return;
    case BusClient::Answer::Kind::WrongReply:
        ++unit->wrongReplies;
        return;
    case BusClient::Answer::Kind::Silent:
    case BusClient::Answer::Kind::Lost:
        ++unit->noReply;
        return;
    }
}

void BusScan::finish()
{
    if (finishedFlag)
        return;
    finishedFlag = true;
    client.close();
    const BusClient::Stray &stray = client.stray();
    result.noiseBytes = stray.noiseBytes;
    result.framesAside = stray.frames;
    for (int unit = 0; unit < int(stray.framesByUnit.size()); ++unit) {
        if (stray.framesByUnit.at(unit) > 0)
            result.strayByUnit.insert(unit, stray.framesByUnit.at(unit));
    }
    emit finished();
}

// The search's addresses left at the time each took so far (at first the
// answer time-out), and the repeats at the time a reply took.
int BusScan::msLeft() const
{
    const double perSearch =
        searchAsked > 0 ? double(searchMs) / searchAsked : config.answerTimeoutMs;
    double perRepeat = repeatAsked > 0 ? double(repeatMs) / repeatAsked : 0;
    if (repeatAsked == 0) {
        const QList<int> times = result.replyTimes();
        perRepeat = times.at(1) >= 0 ? times.at(1) : config.answerTimeoutMs;
    }
    const int present = result.answered().size();
    const int searchLeft = repeating ? 0 : order.size() - scanIndex + 1;
    const int repeatsLeft =
        repeating ? present * config.repeat - repeatIndex : present * config.repeat;
    return int(searchLeft * perSearch + repeatsLeft * perRepeat);
}

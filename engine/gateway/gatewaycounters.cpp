#include "engine/gateway/gatewaycounters.h"

qint64 ExceptionCounts::total() const
{
    qint64 sum = 0;
    for (const qint64 n : byCode)
        sum += n;
    return sum;
}

QJsonObject ExceptionCounts::json() const
{
    QJsonObject object;
    for (auto it = byCode.cbegin(); it != byCode.cend(); ++it)
        object.insert(QString::number(it.key()), double(it.value()));
    return object;
}

QJsonObject QueueDepth::json() const
{
    return {{QStringLiteral("now"), double(now)}, {QStringLiteral("high"), double(high)}};
}

QJsonObject ClientCounters::json() const
{
    return {{QStringLiteral("requests"), double(requests)},
            {QStringLiteral("replies"), double(replies)},
            {QStringLiteral("exceptions"), exceptions.json()},
            {QStringLiteral("queue"), queue.json()},
            {QStringLiteral("latency_ms"), latency.json()}};
}

QJsonObject BusCounters::json() const
{
    return {{QStringLiteral("requests"), double(requests)},
            {QStringLiteral("sent"), double(sent)},
            {QStringLiteral("retries"), double(retries)},
            {QStringLiteral("broadcasts"), double(broadcasts)},
            {QStringLiteral("replies"), double(replies)},
            {QStringLiteral("exceptions"), exceptions.json()},
            {QStringLiteral("gateway_exceptions"), gatewayExceptions.json()},
            {QStringLiteral("timeouts"), double(timeouts)},
            {QStringLiteral("late"), double(late)},
            {QStringLiteral("crc_errors"), double(crcErrors)},
            {QStringLiteral("wrong_replies"), double(wrongReplies)},
            {QStringLiteral("latency_ms"), latency.json()}};
}

QJsonObject ModuleCounters::json() const
{
    QJsonObject object = bus.json();
    object.insert(QStringLiteral("stray_frames"), double(strayFrames));
    object.insert(QStringLiteral("stray_bytes"), double(strayBytes));
    object.insert(QStringLiteral("queue"), queue.json());
    object.insert(QStringLiteral("probes"), double(probes));
    object.insert(QStringLiteral("coalesced"), double(coalesced));
    return object;
}

#include "engine/gateway/clientaccess.h"

#include "engine/gateway/gatewayclient.h"
#include "engine/gateway/gatewayrequest.h"
#include "protocol/parameters.h"

#include <QRegularExpression>

namespace
{

// The address as the rules see it: an IPv4 address mapped into IPv6 (a
// client of a listener on every address) is the IPv4 address.
QHostAddress plain(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped && address.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(v4);
    return address;
}

} // namespace

bool ClientAccess::parseRule(const QString &text, Rule *rule, QString *problem)
{
    const auto refuse = [&](const QString &why) {
        *problem = QStringLiteral("--allow \"%1\": %2").arg(text, why);
        return false;
    };
    QString cidr = text;
    rule->readOnly = cidr.endsWith(QLatin1String(":ro"));
    if (rule->readOnly)
        cidr.chop(3);
    const int slash = cidr.indexOf(QLatin1Char('/'));
    if (slash >= 0 && cidr.indexOf(QLatin1Char(':'), slash) >= 0)
        return refuse(QStringLiteral("only \":ro\" may follow the prefix length"));
    const QString host = slash < 0 ? cidr : cidr.left(slash);
    quint32 v4 = 0;
    QHostAddress address;
    if (parameters::parseIpv4(host, &v4)) {
        address = QHostAddress(v4);
    } else if (host.contains(QLatin1Char(':')) && !host.contains(QLatin1Char('%')) &&
               QHostAddress(host).protocol() == QAbstractSocket::IPv6Protocol) {
        address = QHostAddress(host);
    } else {
        return refuse(QStringLiteral("not an address: ADDRESS[/PREFIX][:ro], an IPv4 address as "
                                     "four numbers 0-255 without leading zeros or an IPv6 one, as "
                                     "10.20.0.0/16 or fd00::/8:ro"));
    }
    const int bits = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    int prefix = bits;
    if (slash >= 0) {
        static const QRegularExpression number(QStringLiteral("^(0|[1-9][0-9]{0,2})$"));
        const QString length = cidr.mid(slash + 1);
        prefix = number.match(length).hasMatch() ? length.toInt() : -1;
        if (prefix < 0 || prefix > bits)
            return refuse(
                QStringLiteral("the prefix length must be 0-%1, without leading zeros").arg(bits));
    }
    const QHostAddress network =
        QHostAddress::parseSubnet(address.toString() + QLatin1Char('/') + QString::number(prefix))
            .first;
    if (network != address)
        return refuse(
            QStringLiteral("the address has bits beyond its /%1 set: the network is %2/%1")
                .arg(prefix)
                .arg(network.toString()));
    rule->network = network;
    rule->prefix = prefix;
    rule->text = text;
    return true;
}

bool ClientAccess::add(const QString &text, QString *problem)
{
    Rule rule;
    if (!parseRule(text, &rule, problem))
        return false;
    for (const Rule &other : qAsConst(rules)) {
        if (other.network == rule.network && other.prefix == rule.prefix) {
            *problem = QStringLiteral("--allow \"%1\": the network of --allow \"%2\" again: give "
                                      "each network once")
                           .arg(text, other.text);
            return false;
        }
    }
    rules << rule;
    return true;
}

const ClientAccess::Rule *ClientAccess::ruleFor(const QHostAddress &peer) const
{
    const QHostAddress address = plain(peer);
    const Rule *best = nullptr;
    for (const Rule &rule : rules) {
        if (rule.network.protocol() != address.protocol() ||
            !address.isInSubnet(rule.network, rule.prefix))
            continue;
        if (!best || rule.prefix > best->prefix)
            best = &rule;
    }
    return best;
}

ClientPolicy::Admission ClientAccess::admit(const QHostAddress &peer, const QString &listener,
                                            QString *why) const
{
    Q_UNUSED(listener);
    if (rules.isEmpty())
        return Admission::ReadWrite;
    const Rule *rule = ruleFor(peer);
    if (!rule) {
        *why = QStringLiteral("its address is in no --allow network");
        return Admission::Refused;
    }
    return rule->readOnly ? Admission::ReadOnly : Admission::ReadWrite;
}

quint8 ClientAccess::check(const GatewayClient &client, quint8 unit, const QByteArray &pdu) const
{
    Q_UNUSED(unit);
    if (!client.readOnly())
        return 0;
    GatewayRequest request;
    request.pdu = pdu;
    return request.isKnownRead() ? 0 : gatewayexception::illegalFunction;
}

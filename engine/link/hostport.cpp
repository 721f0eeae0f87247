#include "engine/link/hostport.h"

#include "protocol/parameters.h"

#include <QRegularExpression>

namespace
{

// A host name: dot-separated labels of letters, digits and inner hyphens,
// at most 63 characters each and 253 in all, with a letter somewhere (digits
// and dots alone are an IPv4 address).
bool isHostName(const QString &host)
{
    static const QRegularExpression label(
        QStringLiteral("^[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    if (host.isEmpty() || host.size() > 253)
        return false;
    bool letter = false;
    for (const QString &part : host.split(QLatin1Char('.'))) {
        if (!label.match(part).hasMatch())
            return false;
        for (const QChar c : part)
            letter = letter || c.isLetter() || c == QLatin1Char('-');
    }
    return letter;
}

bool onlyDigitsAndDots(const QString &text)
{
    for (const QChar c : text) {
        if (!c.isDigit() && c != QLatin1Char('.'))
            return false;
    }
    return true;
}

} // namespace

QString HostPort::text() const
{
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) +
           QLatin1Char(':') + QString::number(port);
}

bool HostPort::parse(const QString &text, Hosts hosts, HostPort *target, QString *problem)
{
    const auto noPort = [&] {
        *problem = hosts == Hosts::Ipv4Only
                       ? tr("\"%1\" is not IP:PORT (no TCP port given)").arg(text)
                       : tr("\"%1\" is not HOST:PORT (no TCP port given)").arg(text);
        return false;
    };
    // [v6 address]:PORT
    if (hosts == Hosts::NamesToo && text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QStringLiteral("]:"));
        if (close < 0)
            return noPort();
        const QString inside = text.mid(1, close - 1);
        const QHostAddress v6(inside);
        if (v6.protocol() != QAbstractSocket::IPv6Protocol) {
            *problem = tr("\"%1\" is not an IPv6 address").arg(inside);
            return false;
        }
        return parse(inside, text.mid(close + 2), hosts, target, problem);
    }
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return noPort();
    const QString host = text.left(colon);
    if (hosts == Hosts::NamesToo && host.contains(QLatin1Char(':'))) {
        *problem = tr("\"%1\" is not HOST:PORT (an IPv6 address goes in brackets: [ADDRESS]:PORT)")
                       .arg(text);
        return false;
    }
    if (hosts == Hosts::NamesToo && host.isEmpty()) {
        *problem = tr("\"%1\" is not HOST:PORT (no host given)").arg(text);
        return false;
    }
    return parse(host, text.mid(colon + 1), hosts, target, problem);
}

bool HostPort::parse(const QString &host, const QString &port, Hosts hosts, HostPort *target,
                     QString *problem)
{
    HostPort result;
    result.host = host;
    quint32 ipv4 = 0;
    const QHostAddress v6(host);
    if (hosts == Hosts::NamesToo && host.contains(QLatin1Char(':')) &&
        v6.protocol() == QAbstractSocket::IPv6Protocol) {
        result.address = v6;
    } else if (parameters::parseIpv4(host, &ipv4)) {
        if (!parameters::isConnectableAddress(ipv4)) {
            *problem = tr("%1 is no address to connect to").arg(host);
            return false;
        }
        result.address = QHostAddress(ipv4);
    } else if (hosts == Hosts::Ipv4Only || onlyDigitsAndDots(host)) {
        *problem = tr("\"%1\" is not an IPv4 address (four numbers 0-255 without leading zeros)")
                       .arg(host);
        return false;
    } else if (!isHostName(host)) {
        *problem = tr("\"%1\" is neither a host name nor an IPv4 address").arg(host);
        return false;
    }
    // 1-65535, no sign, no blank, no leading zero.
    static const QRegularExpression number(QStringLiteral("^[1-9][0-9]{0,4}$"));
    if (!number.match(port).hasMatch() || port.toInt() > 65535) {
        *problem = tr("\"%1\" is not a TCP port (1-65535, without leading zeros)").arg(port);
        return false;
    }
    result.port = quint16(port.toInt());
    *target = result;
    return true;
}

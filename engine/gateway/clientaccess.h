#ifndef CLIENTACCESS_H
#define CLIENTACCESS_H

#include "engine/gateway/clientpolicy.h"

#include <QHostAddress>
#include <QList>
#include <QString>

// Who may ask the gateway, from --allow CIDR[:ro] (repeatable).
//
// - With no rule every client may connect and ask anything.
// - With rules, a client whose address no rule holds is refused when it
//   connects. The rule with the longest prefix that holds it decides: a
//   ":ro" rule makes it a read-only client (--allow 10.20.0.0/16 --allow
//   10.20.0.66:ro lets the one machine read only), any other a client that
//   may write.
// - IPv4 and IPv6; an IPv4 client on a listener of every address (its
//   address mapped into IPv6) is matched by the IPv4 rules.
// - A read-only client's request that is not known to read only is
//   answered 0x01 and never sent (GatewayRequest::isKnownRead()).
class ClientAccess : public ClientPolicy
{
public:
    struct Rule {
        QHostAddress network; // the host bits zero
        int prefix = 0;
        bool readOnly = false;
        QString text; // as given
    };

    // "10.20.0.0/16", "10.20.0.66:ro", "fd00:20::/32:ro": an address
    // (IPv4 as four numbers without leading zeros, IPv6 as written, no
    // brackets) with a prefix length (the whole address when left out) and
    // no host bits set. False with the problem, naming the text.
    static bool parseRule(const QString &text, Rule *rule, QString *problem);

    // Adds a rule; a network given twice is refused (false, the problem).
    bool add(const QString &text, QString *problem);
    bool isEmpty() const { return rules.isEmpty(); }
    const QList<Rule> &all() const { return rules; }
    // The rule that decides for `peer`; nullptr when none holds it.
    const Rule *ruleFor(const QHostAddress &peer) const;

    Admission admit(const QHostAddress &peer, const QString &listener, QString *why) const override;
    quint8 check(const GatewayClient &client, quint8 unit, const QByteArray &pdu) const override;

private:
    QList<Rule> rules;
};

#endif // CLIENTACCESS_H

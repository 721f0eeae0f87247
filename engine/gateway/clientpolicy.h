#ifndef CLIENTPOLICY_H
#define CLIENTPOLICY_H

#include <QByteArray>
#include <QHostAddress>
#include <QString>

class GatewayClient;

// Who may ask the gateway, and what: asked when a client connects (before
// anything is read from it), and for each of its requests before it is
// queued. This one admits everyone and everything; a stricter one (by the
// client's address, read-only clients: ClientAccess) is given to the
// gateway with Gateway::setPolicy().
class ClientPolicy
{
public:
    enum class Admission { Refused, ReadWrite, ReadOnly };

    virtual ~ClientPolicy() = default;

    // Whether a client from `peer` may connect to the listener `listener`
    // ("*:502"), and whether it may write; Refused with the reason, and it
    // is closed at once.
    virtual Admission admit(const QHostAddress &peer, const QString &listener, QString *why) const
    {
        Q_UNUSED(peer);
        Q_UNUSED(listener);
        Q_UNUSED(why);
        return Admission::ReadWrite;
    }
    // 0 when the request (to `unit`, the PDU as sent) may go on; otherwise
    // the exception code it is answered with at once, never sent.
    virtual quint8 check(const GatewayClient &client, quint8 unit, const QByteArray &pdu) const
    {
        Q_UNUSED(client);
        Q_UNUSED(unit);
        Q_UNUSED(pdu);
        return 0;
    }
};

#endif // CLIENTPOLICY_H

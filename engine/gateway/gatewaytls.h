#ifndef GATEWAYTLS_H
#define GATEWAYTLS_H

#include <QString>
#ifndef QT_NO_SSL
#include <QSslConfiguration>
#endif

// Modbus/TCP Security: the gateway's TLS side, from --tls-cert, --tls-key
// and --tls-ca, all three PEM files.
//
// - The gateway's certificate (its chain after it, when the file holds
//   one) and its private key (RSA or EC, not encrypted), which must be the
//   certificate's.
// - Clients must present a certificate the CA file's certificates signed
//   (peer verification); the system's own CAs are not trusted.
// - TLS 1.2 and later.
// Every file that cannot be read or used is named with what is wrong.
namespace gatewaytls
{

struct Files {
    QString certificate;
    QString key;
    QString ca;
};

#ifndef QT_NO_SSL
// False with the problem, naming the file.
bool configure(const Files &files, QSslConfiguration *config, QString *problem);
// A certificate that is not valid now (expired, or not yet valid): what a
// client will say of it; empty when it is.
QString validityWarning(const QSslConfiguration &config);
#endif

} // namespace gatewaytls

#endif // GATEWAYTLS_H

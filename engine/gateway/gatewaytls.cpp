#include "engine/gateway/gatewaytls.h"

#ifndef QT_NO_SSL

#include <QDateTime>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace
{

// A PEM file's text is small: a chain, a key, a few CAs.
constexpr qint64 largestFile = qint64(1) << 20;

bool readFile(const QString &option, const QString &path, QByteArray *bytes, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem =
            QStringLiteral("%1 %2: cannot be read: %3").arg(option, path, file.errorString());
        return false;
    }
    *bytes = file.read(largestFile + 1);
    if (bytes->size() > largestFile) {
        *problem = QStringLiteral("%1 %2: more than 1 MiB, no PEM file").arg(option, path);
        return false;
    }
    return true;
}

bool certificates(const QString &option, const QString &path, QList<QSslCertificate> *list,
                  QString *problem)
{
    QByteArray bytes;
    if (!readFile(option, path, &bytes, problem))
        return false;
    *list = QSslCertificate::fromData(bytes, QSsl::Pem);
    if (list->isEmpty()) {
        *problem = QStringLiteral("%1 %2: no certificate in it (a PEM file, \"-----BEGIN "
                                  "CERTIFICATE-----\")")
                       .arg(option, path);
        return false;
    }
    return true;
}

// Whether the key is the certificate's, as a TLS socket finds when it
// starts: empty when it is, otherwise the reason. The socket starts on one
// end of a pair of local sockets, which nothing is sent to; elsewhere than
// Unix each client's handshake finds it.
QString keyMismatch(const QSslConfiguration &config)
{
#ifdef Q_OS_UNIX
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return QString();
    QString why;
    {
        QSslSocket probe;
        if (probe.setSocketDescriptor(pair[0])) {
            QObject::connect(&probe, &QAbstractSocket::errorOccurred, &probe,
                             [&probe, &why] { why = probe.errorString(); });
            probe.setSslConfiguration(config);
            probe.startServerEncryption();
            probe.abort();
        } else {
            ::close(pair[0]);
        }
    }
    ::close(pair[1]);
    while (why.endsWith(QLatin1Char(' ')) || why.endsWith(QLatin1Char(':')))
        why.chop(1);
    return why;
#else
    Q_UNUSED(config);
    return QString();
#endif
}

} // namespace

namespace gatewaytls
{

bool configure(const Files &files, QSslConfiguration *config, QString *problem)
{
    if (!QSslSocket::supportsSsl()) {
        *problem = QStringLiteral("TLS: no TLS library can be loaded (%1)")
                       .arg(QSslSocket::sslLibraryBuildVersionString());
        return false;
    }
    QList<QSslCertificate> chain;
    QList<QSslCertificate> authorities;
    if (!certificates(QStringLiteral("--tls-cert"), files.certificate, &chain, problem) ||
        !certificates(QStringLiteral("--tls-ca"), files.ca, &authorities, problem))
        return false;
    QByteArray keyBytes;
    if (!readFile(QStringLiteral("--tls-key"), files.key, &keyBytes, problem))
        return false;
    QSslKey key(keyBytes, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
    if (key.isNull())
        key = QSslKey(keyBytes, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    if (key.isNull()) {
        *problem = QStringLiteral("--tls-key %1: no private key in it that can be used (an RSA "
                                  "or EC key in a PEM file, not encrypted)")
                       .arg(files.key);
        return false;
    }
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setLocalCertificateChain(chain);
    c.setPrivateKey(key);
    c.setCaCertificates(authorities);
    c.setPeerVerifyMode(QSslSocket::VerifyPeer);
    c.setProtocol(QSsl::TlsV1_2OrLater);
    const QString mismatch = keyMismatch(c);
    if (!mismatch.isEmpty()) {
        *problem = QStringLiteral("--tls-key %1 is not the key of --tls-cert %2 (%3)")
                       .arg(files.key, files.certificate, mismatch);
        return false;
    }
    *config = c;
    return true;
}

QString validityWarning(const QSslConfiguration &config)
{
    const QSslCertificate certificate = config.localCertificate();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (certificate.expiryDate() < now)
        return QStringLiteral("the certificate expired on %1: clients will refuse it")
            .arg(certificate.expiryDate().toString(Qt::ISODate));
    if (certificate.effectiveDate() > now)
        return QStringLiteral("the certificate is valid only from %1: clients will refuse it "
                              "until then")
            .arg(certificate.effectiveDate().toString(Qt::ISODate));
    return QString();
}

} // namespace gatewaytls

#endif

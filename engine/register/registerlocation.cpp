#include "engine/register/registerlocation.h"

#include "engine/register/registertext.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace siteregister
{

namespace
{
const QString postgresScheme = QStringLiteral("postgresql://");

// A percent-encoded part of the address, decoded.
QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// "user:secret@host" and "password=" never reach a message: the text of a
// refused address with any password cut out.
QString withoutPassword(QString text)
{
    static const QRegularExpression userPassword(QStringLiteral("^([A-Za-z]+://[^:/@?]*):[^/?]*@"));
    static const QRegularExpression passwordOption(QStringLiteral("([?&]password=)[^&]*"));
    text.replace(userPassword, QStringLiteral("\\1@"));
    text.replace(passwordOption, QStringLiteral("\\1..."));
    return text;
}

bool parsePostgres(const QString &text, Location *location, QString *error)
{
    const auto refuse = [&](const QString &why) {
        *error = Text::tr("the register %1: %2").arg(withoutPassword(text), why);
        return false;
    };
    const QString passwordAdvice =
        Text::tr("it carries a password; keep the password in ~/.pgpass (or the file "
                 "PGPASSFILE names), never in the register's address");
    QString rest = text.mid(text.indexOf(QLatin1String("://")) + 3);
    QString query;
    const int question = rest.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        query = rest.mid(question + 1);
        rest.truncate(question);
    }
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash >= 0 ? rest.left(slash) : rest;
    location->database = slash >= 0 ? decoded(rest.mid(slash + 1)) : QString();
    QString hostPort = authority;
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        if (userInfo.contains(QLatin1Char(':')))
            return refuse(passwordAdvice);
        location->user = decoded(userInfo);
        hostPort = authority.mid(at + 1);
    }
    // [v6 address]:port, name:port, or a percent-encoded socket folder.
    const int close = hostPort.lastIndexOf(QLatin1Char(']'));
    const int colon = hostPort.lastIndexOf(QLatin1Char(':'));
    QString portText;
    if (colon > close) {
        portText = hostPort.mid(colon + 1);
        hostPort.truncate(colon);
    }
    if (hostPort.startsWith(QLatin1Char('[')) && hostPort.endsWith(QLatin1Char(']')))
        hostPort = hostPort.mid(1, hostPort.size() - 2);
    location->host = decoded(hostPort);
    for (const QString &pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int equals = pair.indexOf(QLatin1Char('='));
        const QString key = pair.left(equals);
        const QString value = equals >= 0 ? decoded(pair.mid(equals + 1)) : QString();
        if (key == QLatin1String("password"))
            return refuse(passwordAdvice);
        if (key == QLatin1String("host"))
            location->host = value;
        else if (key == QLatin1String("port"))
            portText = value;
        else if (key == QLatin1String("sslmode"))
            location->sslMode = value;
        else
            return refuse(Text::tr("the option \"%1\" is not one this program passes on (host, "
                                   "port, sslmode)")
                              .arg(key));
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        location->port = portText.toInt(&ok);
        if (!ok || location->port < 1 || location->port > 65535)
            return refuse(Text::tr("\"%1\" is not a TCP port").arg(portText));
    }
    if (location->database.isEmpty() || location->database.contains(QLatin1Char('/')))
        return refuse(Text::tr("name the database: postgresql://USER@HOST/DATABASE"));
    location->kind = Location::Kind::Postgres;
    return true;
}

} // namespace

QString Location::shown() const
{
    switch (kind) {
    case Kind::None:
        return Text::tr("no register");
    case Kind::Sqlite:
        return QDir::toNativeSeparators(file);
    case Kind::Postgres:
        break;
    }
    const auto encoded = [](const QString &part) {
        return QString::fromUtf8(QUrl::toPercentEncoding(part));
    };
    const bool socket = host.startsWith(QLatin1Char('/'));
    QString text = postgresScheme;
    if (!user.isEmpty())
        text += encoded(user) + QLatin1Char('@');
    if (!socket)
        text += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']')
                                                : encoded(host);
    if (port && !socket)
        text += QLatin1Char(':') + QString::number(port);
    text += QLatin1Char('/') + encoded(database);
    QStringList options;
    if (socket)
        options << QStringLiteral("host=") + host;
    if (port && socket)
        options << QStringLiteral("port=") + QString::number(port);
    if (!sslMode.isEmpty())
        options << QStringLiteral("sslmode=") + sslMode;
    if (!options.isEmpty())
        text += QLatin1Char('?') + options.join(QLatin1Char('&'));
    return text;
}

QString defaultFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/ordan/register.sqlite");
}

bool parseLocation(const QString &text, Location *location, QString *error)
{
    *location = Location();
    if (text.trimmed().isEmpty()) {
        *error = Text::tr("the register's address is empty");
        return false;
    }
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const QRegularExpressionMatch match = scheme.match(text);
    const QString name = match.captured(1).toLower();
    if (name == QLatin1String("postgresql") || name == QLatin1String("postgres"))
        return parsePostgres(text, location, error);
    QString file = text;
    if (name == QLatin1String("sqlite"))
        file = text.mid(match.capturedLength());
    else if (match.hasMatch()) {
        *error = Text::tr("the register %1: a register is postgresql://USER@HOST/DATABASE, "
                          "sqlite:FILE or a file")
                     .arg(withoutPassword(text));
        return false;
    } else if (text.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        file = text.mid(7);
    }
    if (file.isEmpty()) {
        *error = Text::tr("the register %1 names no file").arg(text);
        return false;
    }
    location->kind = Location::Kind::Sqlite;
    location->file = file;
    return true;
}

bool chooseLocation(bool given, const QString &value, bool off, Location *location, QString *error)
{
    *location = Location();
    if (off) {
        if (given) {
            *error = Text::tr("--register and --no-register do not go together");
            return false;
        }
        return true;
    }
    if (given)
        return parseLocation(value, location, error);
    const QString environment = qEnvironmentVariable("ORDAN_REGISTER");
    if (!environment.isEmpty()) {
        if (parseLocation(environment, location, error))
            return true;
        *error = QStringLiteral("ORDAN_REGISTER: ") + *error;
        return false;
    }
    location->kind = Location::Kind::Sqlite;
    location->file = defaultFile();
    return true;
}

} // namespace siteregister

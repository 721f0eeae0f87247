#include "engine/register/registerlocation.h"

#include "engine/link/hostport.h"
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
const QString postgresForm = QStringLiteral("postgresql://USER@HOST[:PORT]/DB");

// A user's or a database's name: what a register needs and nothing a
// connection string or a URL would read otherwise.
bool isName(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,62}$"));
    return name.match(text).hasMatch();
}

bool hasControls(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return true;
    }
    return false;
}

// "HOST[:PORT]" as an address shows it: an IPv6 address in brackets, a
// socket folder percent-encoded.
QString serverText(const QString &host, int port)
{
    QString text;
    if (host.startsWith(QLatin1Char('/')))
        text = QString::fromUtf8(QUrl::toPercentEncoding(host));
    else
        text = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return port ? text + QLatin1Char(':') + QString::number(port) : text;
}

// The options passed on to libpq, each with the values it takes (a
// pattern): nothing else of a query is.
struct Option {
    const char *key;
    const char *values;
    const char *rule;
};
const Option passedOptions[] = {
    {"sslmode", "^(disable|allow|prefer|require|verify-ca|verify-full)$",
     QT_TRANSLATE_NOOP("siteregister",
                       "sslmode is disable, allow, prefer, require, verify-ca or verify-full")},
    {"connect_timeout", "^[1-9][0-9]{0,3}$",
     QT_TRANSLATE_NOOP("siteregister", "connect_timeout is a number of seconds, 1-9999")},
    {"application_name", "^[A-Za-z0-9_.-]{1,63}$",
     QT_TRANSLATE_NOOP("siteregister", "application_name is 1-63 letters, digits, _, . and -")},
    {"target_session_attrs", "^(any|read-write|read-only|primary|standby|prefer-standby)$",
     QT_TRANSLATE_NOOP("siteregister", "target_session_attrs is any, read-write, read-only, "
                                       "primary, standby or prefer-standby")},
};

// libpq's own keywords, none of them a secret: named when a query holds
// one this program does not pass on. Any other key is not repeated (it
// may be a secret typed in the wrong place).
bool isLibpqKeyword(const QString &key)
{
    static const QStringList keywords{
        QStringLiteral("host"),      QStringLiteral("hostaddr"),    QStringLiteral("port"),
        QStringLiteral("dbname"),    QStringLiteral("user"),        QStringLiteral("options"),
        QStringLiteral("service"),   QStringLiteral("sslcert"),     QStringLiteral("sslkey"),
        QStringLiteral("sslcrl"),    QStringLiteral("sslrootcert"), QStringLiteral("keepalives"),
        QStringLiteral("gssencmode")};
    return keywords.contains(key);
}

// A PostgreSQL address: "postgresql://" or "postgres://" already found at
// its start, `schemeLength` long. Every refusal names the address by the
// parts read so far, as shown() does.
bool parsePostgres(const QString &text, int schemeLength, Location *location, QString *error)
{
    Location at;
    bool userRead = false;
    bool hostRead = false;
    bool databaseRead = false;
    const auto refuse = [&](const QString &why) {
        const QString unread = QStringLiteral("...");
        const QString shown = postgresScheme + (userRead ? at.user : unread) + QLatin1Char('@') +
                              (hostRead ? serverText(at.host, at.port) : unread) +
                              QLatin1Char('/') + (databaseRead ? at.database : unread);
        *error = Text::tr("the register %1: %2").arg(shown, why);
        return false;
    };
    at.kind = Location::Kind::Postgres;
    QString rest = text.mid(schemeLength);

    // USER@: a ":" before the "@" starts a password, wherever the "@" is.
    static const QRegularExpression userEnd(QStringLiteral("[:@/?#]"));
    const int end = rest.indexOf(userEnd);
    const QString user = end < 0 ? rest : rest.left(end);
    const QChar after = end < 0 ? QChar() : rest.at(end);
    at.user = user;
    userRead = isName(user) && (after == QLatin1Char('@') || after == QLatin1Char(':'));
    if (after == QLatin1Char(':') && rest.indexOf(QLatin1Char('@'), end) > 0)
        return refuse(Text::tr("it carries a password; keep the password in ~/.pgpass (or the "
                               "file PGPASSFILE names), never in the register's address"));
    if (after != QLatin1Char('@')) {
        userRead = false;
        return refuse(Text::tr("name the user: %1").arg(postgresForm));
    }
    if (!userRead)
        return refuse(Text::tr("the user is named by 1-63 letters, digits, _, . and -"));
    rest = rest.mid(end + 1);

    // HOST[:PORT]/
    static const QRegularExpression hostEnd(QStringLiteral("[/?#]"));
    const int slash = rest.indexOf(hostEnd);
    QString hostPort = slash < 0 ? rest : rest.left(slash);
    if (hostPort.contains(QLatin1Char('@')))
        return refuse(Text::tr("it holds more than one \"@\"; a password is never part of the "
                               "register's address (keep it in ~/.pgpass)"));
    QString host = hostPort;
    QString port;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const int close = hostPort.indexOf(QLatin1Char(']'));
        const QString behind = close < 0 ? QString() : hostPort.mid(close + 1);
        if (close < 0 || (!behind.isEmpty() && !behind.startsWith(QLatin1Char(':'))))
            return refuse(Text::tr("an IPv6 address is written in brackets: [ADDRESS]:PORT"));
        host = hostPort.mid(1, close - 1);
        if (!behind.isEmpty())
            port = behind.mid(1);
        if (!host.contains(QLatin1Char(':')))
            return refuse(Text::tr("\"%1\" is not an IPv6 address").arg(host));
    } else {
        const int colon = hostPort.indexOf(QLatin1Char(':'));
        if (colon >= 0) {
            host = hostPort.left(colon);
            port = hostPort.mid(colon + 1);
        }
        if (port.contains(QLatin1Char(':')))
            return refuse(Text::tr("an IPv6 address is written in brackets: [ADDRESS]:PORT"));
    }
    if (host.isEmpty())
        return refuse(Text::tr("name the server: %1").arg(postgresForm));
    HostPort checked;
    QString problem;
    if (host.startsWith(QLatin1String("%2F"), Qt::CaseInsensitive)) {
        // The folder of the server's Unix socket, as libpq writes it.
        const QString folder = QUrl::fromPercentEncoding(host.toUtf8());
        if (hasControls(folder) || folder.contains(QLatin1Char('%')) ||
            !QDir::isAbsolutePath(folder))
            return refuse(
                Text::tr("a socket folder is written percent-encoded: %2Frun%2Fpostgresql"));
        if (!port.isEmpty() && !HostPort::parse(QStringLiteral("localhost"), port,
                                                HostPort::Hosts::NamesToo, &checked, &problem))
            return refuse(problem);
        at.host = folder;
    } else {
        // Digits and dots are an address, never a name to look up; no port
        // is libpq's default, checked here as 5432.
        if (!HostPort::parse(host, port.isEmpty() ? QStringLiteral("5432") : port,
                             HostPort::Hosts::NamesToo, &checked, &problem))
            return refuse(problem);
        at.host = checked.host;
    }
    at.port = port.isEmpty() ? 0 : port.toInt();
    hostRead = true;
    if (slash < 0 || rest.at(slash) != QLatin1Char('/'))
        return refuse(Text::tr("name the database: %1").arg(postgresForm));
    rest = rest.mid(slash + 1);

    // DB[?QUERY]
    const int question = rest.indexOf(QLatin1Char('?'));
    const QString database = question < 0 ? rest : rest.left(question);
    const QString query = question < 0 ? QString() : rest.mid(question + 1);
    if (database.contains(QLatin1Char('#')) || query.contains(QLatin1Char('#')))
        return refuse(Text::tr("a \"#\" is no part of a register's address"));
    if (database.isEmpty())
        return refuse(Text::tr("name the database: %1").arg(postgresForm));
    if (!isName(database))
        return refuse(Text::tr("the database is named by 1-63 letters, digits, _, . and -"));
    at.database = database;
    databaseRead = true;

    QStringList seen;
    for (const QString &pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int equals = pair.indexOf(QLatin1Char('='));
        const QString key = equals < 0 ? pair : pair.left(equals);
        const QString value = QUrl::fromPercentEncoding(pair.mid(equals + 1).toUtf8());
        if (key.contains(QLatin1String("pass"), Qt::CaseInsensitive))
            return refuse(Text::tr("its query holds a password option; keep the password in "
                                   "~/.pgpass (or the file PGPASSFILE names), never in the "
                                   "register's address"));
        const Option *option = nullptr;
        for (const Option &o : passedOptions) {
            if (key == QLatin1String(o.key))
                option = &o;
        }
        if (!option) {
            const QString taken = Text::tr("this program passes on sslmode, connect_timeout, "
                                           "application_name and target_session_attrs");
            if (key == QLatin1String("host"))
                return refuse(Text::tr("the option \"host\" is not one this program passes on: "
                                       "a socket folder is the HOST, written %2Frun%2Fpostgresql"));
            if (isLibpqKeyword(key))
                return refuse(Text::tr("the option \"%1\" is not one %2").arg(key, taken));
            return refuse(
                Text::tr("its query holds an option this program does not pass on; %1").arg(taken));
        }
        if (seen.contains(key))
            return refuse(Text::tr("the option \"%1\" is given twice").arg(key));
        seen << key;
        if (equals < 0 ||
            !QRegularExpression(QLatin1String(option->values)).match(value).hasMatch())
            return refuse(Text::tr(option->rule));
        if (key == QLatin1String("sslmode"))
            at.sslMode = value;
        else if (key == QLatin1String("connect_timeout"))
            at.connectTimeout = value.toInt();
        else if (key == QLatin1String("application_name"))
            at.applicationName = value;
        else
            at.targetSessionAttrs = value;
    }
    *location = at;
    return true;
}

// Whether a text that is no PostgreSQL address looks like some other
// address rather than a file's name: the reason when it does.
QString notAFile(const QString &text)
{
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]+):"));
    static const QRegularExpression keyword(QStringLiteral("(^|\\s)[A-Za-z_]+\\s*="));
    const QString name = scheme.match(text).captured(1);
    const QString firstPart = text.section(QLatin1Char('/'), 0, 0);
    if (name.startsWith(QLatin1String("postgres"), Qt::CaseInsensitive) ||
        text.startsWith(QLatin1String("postgres"), Qt::CaseInsensitive))
        return Text::tr("a PostgreSQL register is written %1").arg(postgresForm);
    if (keyword.match(text).hasMatch())
        return Text::tr("it looks like a libpq keyword string (host=... dbname=...); write %1")
            .arg(postgresForm);
    if (!name.isEmpty() || text.contains(QLatin1String("://")))
        return Text::tr("it looks like an address of another kind; a register is %1, "
                        "sqlite:FILE or a file")
            .arg(postgresForm);
    if (firstPart.contains(QLatin1Char('@')))
        return Text::tr("it looks like USER@HOST; write %1").arg(postgresForm);
    return QString();
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
    return postgresScheme + user + QLatin1Char('@') + serverText(host, port) + QLatin1Char('/') +
           database;
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
    // None of a refused address is repeated but the scheme and what was
    // read of it: it may hold a secret.
    if (hasControls(text)) {
        *error = Text::tr("the register's address holds control characters");
        return false;
    }
    static const QRegularExpression postgres(QStringLiteral("^postgres(ql)?://"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = postgres.match(text);
    if (match.hasMatch())
        return parsePostgres(text, match.capturedLength(), location, error);
    QString file = text;
    if (text.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        file = text.mid(7);
        if (file.startsWith(QLatin1String("//")) && !file.startsWith(QLatin1String("///"))) {
            *error = Text::tr("the register sqlite:%1: write sqlite:PATH (sqlite:/data/r.sqlite)")
                         .arg(QStringLiteral("//..."));
            return false;
        }
    } else {
        const QString why = notAFile(text);
        if (!why.isEmpty()) {
            *error = Text::tr("the register's address is refused: %1").arg(why);
            return false;
        }
    }
    if (file.isEmpty()) {
        *error = Text::tr("the register sqlite: names no file");
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

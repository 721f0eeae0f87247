#ifndef REGISTERLOCATION_H
#define REGISTERLOCATION_H

#include <QString>

// Where the site register lives: a SQLite file (a laptop's register, by
// default in the user's data folder) or a PostgreSQL database (a team's).
// A password never appears in a location: libpq takes it from ~/.pgpass or
// the file PGPASSFILE names, and an address that carries one is refused.
namespace siteregister
{

struct Location {
    enum class Kind { None, Sqlite, Postgres };
    Kind kind = Kind::None;
    QString file; // SQLite
    // PostgreSQL: the user, the server (a host name, an IPv4 or IPv6
    // address, or the folder of its Unix socket, starting with "/"), its
    // port (0: libpq's default) and the database; the options of the query
    // this program passes on (empty: libpq's default).
    QString user;
    QString host;
    int port = 0;
    QString database;
    QString sslMode;
    int connectTimeout = 0; // seconds
    QString applicationName;
    QString targetSessionAttrs;

    // How every message, trace and record names it: the file, or
    // "postgresql://USER@HOST:PORT/DB" (a socket folder percent-encoded,
    // "postgresql://ordan@%2Frun%2Fpostgresql/site"), never the query.
    QString shown() const;
};

// The default register: register.sqlite in the folder "ordan" of the user's
// data folder (~/.local/share/ordan/ on Linux), one for every program.
QString defaultFile();

// A location as given to --register or in ORDAN_REGISTER, one of:
//   postgresql://USER@HOST[:PORT]/DB[?OPTION=VALUE&...] (postgres:// too):
//     HOST and PORT by HostPort's rules ("0502" and "300.1.1.1" refused, an
//     IPv6 address in brackets), or HOST the socket folder written
//     %2F...; the options sslmode, connect_timeout, application_name and
//     target_session_attrs;
//   sqlite:PATH, or a file's PATH.
// Anything else that looks like an address (another scheme, "postgresql:"
// without "//", "USER@HOST/DB", a libpq keyword string "host=... dbname=...")
// is refused rather than taken as a file's name, as is a password in any
// part. False with the reason, which names the address only as shown()
// would, never the rest of its user part nor a query's value.
bool parseLocation(const QString &text, Location *location, QString *error);

// The register a command uses: --register's value when given (`given`),
// otherwise ORDAN_REGISTER when set, otherwise the default file; none with
// --no-register (`off`). False with the reason for a location that cannot
// be used, and for --register with --no-register.
bool chooseLocation(bool given, const QString &value, bool off, Location *location, QString *error);

} // namespace siteregister

#endif // REGISTERLOCATION_H

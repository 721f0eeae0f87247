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
    // PostgreSQL: an empty user or host is libpq's default (the login name,
    // the default socket folder); a host starting with "/" is the folder of
    // the server's Unix socket.
    QString user;
    QString host;
    int port = 0; // 0: libpq's default
    QString database;
    QString sslMode;

    // How every message names it: the file, or the address without a
    // password ("postgresql://ordan@db.site/register", a socket folder as
    // "?host=/run/postgresql").
    QString shown() const;
};

// The default register: register.sqlite in the folder "ordan" of the user's
// data folder (~/.local/share/ordan/ on Linux), one for every program.
QString defaultFile();

// A location as given to --register or in ORDAN_REGISTER:
//   postgresql://[USER@][HOST][:PORT]/DB[?host=SOCKET-FOLDER&port=N&sslmode=M]
//   (postgres:// too; HOST may also be a socket folder written %2F...),
//   sqlite:FILE, or a file name.
// False with the reason for an empty text, an unknown scheme, a missing
// database, an option this program does not pass on, and a password.
bool parseLocation(const QString &text, Location *location, QString *error);

// The register a command uses: --register's value when given (`given`),
// otherwise ORDAN_REGISTER when set, otherwise the default file; none with
// --no-register (`off`). False with the reason for a location that cannot
// be used, and for --register with --no-register.
bool chooseLocation(bool given, const QString &value, bool off, Location *location, QString *error);

} // namespace siteregister

#endif // REGISTERLOCATION_H

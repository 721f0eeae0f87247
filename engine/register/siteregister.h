#ifndef SITEREGISTER_H
#define SITEREGISTER_H

#include "engine/register/registerlocation.h"

#include <QString>

#include <functional>
#include <memory>

namespace siteregister
{
struct Connection;
class Sql;
} // namespace siteregister

// The site register's connection: one SQLite file or one PostgreSQL
// database that several stations share, opened here and brought to this
// program's tables. What it holds is read and written by the register's
// parts, each over this connection: its runs and rows (RegisterRuns), its
// look-ups (RegisterLookup), the claims (ClaimBook), the standing of a
// plan (planstanding.h) and the admission of a module (admission.h).
//
// Every call that touches the database returns false (or an empty answer)
// with the reason in *error, which names the register without a password;
// the caller fails what depended on it. It never falls back to another
// register. One object is one connection, used from the thread that opened
// it.
class SiteRegister
{
public:
    SiteRegister();
    ~SiteRegister();
    SiteRegister(const SiteRegister &) = delete;
    SiteRegister &operator=(const SiteRegister &) = delete;

    // To write: connects (a SQLite file and its folder are made when
    // missing, in WAL mode), checks that the register is whole (SQLite's
    // pages; every table and column) and brings the tables to this
    // program's version. To read: connects read-only, changing nothing (a
    // register of an older version is brought to this one first); a SQLite
    // file that is not there is an empty register, one in a folder this
    // user may not write, with no writer at work, is read as it stands.
    // False with the reason: the server down, the database missing, a
    // register damaged or newer than this program, a 0-byte file (never a
    // register this run made), the Qt SQL driver not installed.
    enum class Access { Write, Read };
    bool open(const siteregister::Location &location, QString *error,
              Access access = Access::Write);
    void close();
    bool isOpen() const;
    // The register as messages name it.
    QString shown() const;

    // Before a row: a server's connection lost since the last row (the
    // server restarted, the network gone a while) is opened again (to
    // write), tried with a back-off of its own for up to `waitMs`, or until
    // `stop` says so. True when the register answers; a SQLite file always
    // does once open.
    bool reconnect(int waitMs, const std::function<bool()> &stop, QString *error);

    // The statements' runner for the register's parts; nullptr, with the
    // reason, when the register is not open.
    const siteregister::Sql *sql(QString *error) const;

private:
    // SQLite, opened to read: whether the file reads, as a snapshot where
    // its folder may not be written.
    bool readable(const QString &file, QString *error);

    std::unique_ptr<siteregister::Connection> d;
    siteregister::Location opened;
};

#endif // SITEREGISTER_H

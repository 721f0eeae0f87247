#ifndef SITEREGISTER_H
#define SITEREGISTER_H

#include "engine/register/registerentries.h"
#include "engine/register/registerlocation.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <memory>

namespace siteregister
{
struct Connection;
}

// The site register: every module ever commissioned, every row's outcome
// and the rows of a plan that stations have claimed, in one SQLite file or
// one PostgreSQL database that several stations share. A run opens it, is
// begun in it, asks it about each module before writing, and appends each
// row's outcome in the order of its CSV record.
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
    // user may not write, with no writer at work, is read as it stands. False with the reason:
    // the server down, the database missing, a register damaged or newer
    // than this program, a 0-byte file (never a register this run made),
    // the Qt SQL driver not installed.
    enum class Access { Write, Read };
    bool open(const siteregister::Location &location, QString *error,
              Access access = Access::Write);
    void close();
    bool isOpen() const;
    // The register as messages name it.
    QString shown() const;

    // A run begun: its id (0 on failure). Ended when it is done.
    qint64 beginRun(const siteregister::RunInfo &run, QString *error);
    bool endRun(qint64 run, QString *error);

    // Appends a row's outcome, and what it tells of its module: seen now;
    // verified at the values read back when the result proves them. False
    // when it could not be written: the row then has to fail.
    // With `claimOf`, the claim of the row's plan row in that plan ends in
    // the same transaction (done when the row proves its values): a row
    // whose claim another took over is not recorded. A row that replaces a
    // module (RowEntry::replaces) and proves its values marks it replaced,
    // and hands it its done claims.
    bool recordRow(qint64 run, const siteregister::RowEntry &row, QString *error,
                   const QString &claimOf = QString());
    // Notes that a module the register knew as verified was written again
    // (asked with --rewrite, or named by a write); `previous` holds what it
    // was, and whose address it took.
    bool noteRewrite(qint64 run, int planRow, const QString &mac,
                     const siteregister::RewriteNote &previous, QString *error);
    // Backfills rows from a record: a run of `run` with the rows it did not
    // have yet (a row is the same by its time, port and MAC). *added counts
    // them; none added leaves no run behind, so that an import is
    // idempotent. One transaction: all or nothing.
    bool importRows(const siteregister::RunInfo &run, const QList<siteregister::RowEntry> &rows,
                    int *added, QString *error);

    // The module of a MAC (any spelling); module->known() false when the
    // register has never seen it.
    bool findModule(const QString &mac, siteregister::ModuleEntry *module, QString *error);
    // The modules last verified at an address, the latest first.
    bool findAddress(const QString &ip, QList<siteregister::ModuleEntry> *modules, QString *error);
    // The modules other than `exceptMac` that hold `ip`: last verified at it
    // within `memoryDays`, and not replaced since.
    bool addressHolders(const QString &ip, const QString &exceptMac, int memoryDays,
                        QList<siteregister::ModuleEntry> *modules, QString *error);
    // A module's rows and rewrites, oldest first.
    bool history(const QString &mac, QList<siteregister::HistoryEntry> *entries, QString *error);
    // Every module, by MAC.
    bool allModules(QList<siteregister::ModuleEntry> *modules, QString *error);
    // Each row of a plan with what the register knows of it: the module
    // last verified as that row of that plan, otherwise the module last
    // verified at its planned address; verified at every planned value,
    // differing, or never; and its claim.
    bool siteStanding(const QString &planHash, const QList<siteregister::PlannedRow> &rows,
                      QList<siteregister::RowStanding> *standing, QString *error);

    // Claims (two stations, one plan). A row is claimed in one transaction
    // before it is written; its primary key makes one claim per row. A claim
    // holds for `leaseMs` on the register's clock, renewed while the row
    // runs; an expired one is taken over. A done row is claimed again only
    // with `again` (--rewrite). The state tells what happened; Failed with
    // *error when the register could not be asked.
    siteregister::ClaimEntry claimRow(qint64 run, const QString &planHash, int planRow, int leaseMs,
                                      bool again, QString *error);
    // False (with who holds it now, and *takenOver) when the claim was
    // taken over; false alone when the register could not be asked.
    bool renewClaim(qint64 run, const QString &planHash, int planRow, int leaseMs, QString *error,
                    bool *takenOver = nullptr);
    // Ends a claim: done (the row verified on `mac`), or free for another.
    bool releaseClaim(qint64 run, const QString &planHash, int planRow, bool done,
                      const QString &mac, QString *error);
    // The claims of a plan, by row (none Free).
    bool claims(const QString &planHash, QList<siteregister::ClaimEntry> *entries, QString *error);

private:
    std::unique_ptr<siteregister::Connection> d;

    bool insertRow(qint64 run, const siteregister::RowEntry &row, bool *inserted, QString *error);
    bool markReplaced(const QString &oldMac, const QString &newMac, QString *error);
    bool modules(const QString &where, const QVariantList &values,
                 QList<siteregister::ModuleEntry> *modules, QString *error);
    bool ready(QString *error) const;
    // SQLite, opened to read: whether the file reads, as a snapshot where
    // its folder may not be written.
    bool readable(const QString &file, QString *error);
};

#endif // SITEREGISTER_H

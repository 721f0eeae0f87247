#include "engine/register/siteregister.h"

#include "engine/register/registerintegrity.h"
#include "engine/register/registerschema.h"
#include "engine/register/registersql.h"
#include "engine/register/registertext.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

using namespace siteregister;

namespace
{

// A file of 0 bytes, which no register is: one another program is making
// at this moment grows within moments, and is waited for.
bool emptyFile(const QFileInfo &info)
{
    for (int tries = 0; tries < 10; ++tries) {
        QFileInfo now(info.filePath());
        if (!now.isFile() || now.size() > 0)
            return false;
        QThread::msleep(100);
    }
    return true;
}

} // namespace

SiteRegister::SiteRegister() = default;

SiteRegister::~SiteRegister()
{
    close();
}

bool SiteRegister::open(const Location &location, QString *error, Access access)
{
    close();
    const bool postgres = location.kind == Location::Kind::Postgres;
    if (location.kind == Location::Kind::None) {
        *error = Text::tr("no register is named");
        return false;
    }
    const QString driver = postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = Text::tr("cannot open the register %1: the %2 driver of Qt SQL is not installed "
                          "(Debian: the package %3)")
                     .arg(location.shown(), driver,
                          QStringLiteral("libqt%1sql%1-%2")
                              .arg(QT_VERSION_MAJOR)
                              .arg(postgres ? QStringLiteral("psql") : QStringLiteral("sqlite")));
        return false;
    }
    bool reading = access == Access::Read;
    QString file = location.file;
    // SQLite's database in memory (the tests' register) is new at every
    // opening: read, it is an empty register made there and then.
    if (!postgres && file == QLatin1String(":memory:"))
        reading = false;
    if (!postgres && file != QLatin1String(":memory:")) {
        const QFileInfo info(file);
        if (emptyFile(info)) {
            *error = Text::tr("the register %1 is an empty file (0 bytes), not a register: "
                              "remove it to begin a new register there")
                         .arg(location.shown());
            return false;
        }
        if (reading && !info.exists()) {
            // Nothing registered there yet: answered as an empty register,
            // and no file made.
            file = QStringLiteral(":memory:");
            reading = false;
        } else if (!reading && !QDir().mkpath(info.absolutePath())) {
            *error = Text::tr("cannot open the register %1: cannot make the folder %2")
                         .arg(location.shown(), QDir::toNativeSeparators(info.absolutePath()));
            return false;
        }
    }
    static QAtomicInt connections;
    opened = location;
    d = std::make_unique<Connection>();
    d->name = QStringLiteral("ordan-register-%1").arg(connections.fetchAndAddRelaxed(1));
    d->location = location;
    d->db = QSqlDatabase::addDatabase(driver, d->name);
    if (postgres) {
        d->db.setHostName(location.host);
        if (location.port)
            d->db.setPort(location.port);
        d->db.setUserName(location.user);
        d->db.setDatabaseName(location.database);
        // A server that stops answering fails the call instead of hanging
        // the run: connecting, a statement, a connection gone quiet.
        QString options =
            QStringLiteral("connect_timeout=%1;options='-c statement_timeout=30000 -c "
                           "client_min_messages=warning%2';keepalives_idle=10;"
                           "keepalives_interval=5;keepalives_count=3")
                .arg(location.connectTimeout > 0 ? location.connectTimeout : 10)
                .arg(reading ? QStringLiteral(" -c default_transaction_read_only=on") : QString());
        if (!location.sslMode.isEmpty())
            options += QStringLiteral(";sslmode=") + location.sslMode;
        if (!location.applicationName.isEmpty())
            options += QStringLiteral(";application_name=") + location.applicationName;
        if (!location.targetSessionAttrs.isEmpty())
            options += QStringLiteral(";target_session_attrs=") + location.targetSessionAttrs;
        d->db.setConnectOptions(options);
    } else {
        d->db.setDatabaseName(file);
        // Another program writing the same file is waited for, not failed:
        // on a loaded disk, a few of its commits in a row take seconds.
        d->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000") +
                                (reading ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    }
    d->sql = std::make_unique<Sql>(d->db, postgres, location.shown());
    if (!d->db.open()) {
        *error = Text::tr("cannot open the register %1: %2")
                     .arg(location.shown(), reasonOf(d->db.lastError()));
        close();
        return false;
    }
    if (reading && !postgres && !readable(file, error)) {
        close();
        return false;
    }
    if (reading) {
        const int version = storedVersion(d->db, postgres, location.shown(), error);
        if (version == schemaVersion)
            return true;
        close();
        // An older register is brought to this version once, which writes;
        // one still not at this version afterwards is refused, not brought
        // again and again.
        static thread_local bool bringing = false;
        if (bringing) {
            *error = Text::tr("the register %1 did not keep its tables").arg(location.shown());
            return false;
        }
        if (version < 0 || !open(location, error, Access::Write))
            return false;
        close();
        bringing = true;
        const bool opened = open(location, error, Access::Read);
        bringing = false;
        return opened;
    }
    // SQLite: readers beside a writer (WAL), every commit on the disk before
    // it counts, the runs that rows name kept.
    if (!postgres) {
        for (const char *pragma :
             {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
            // A new file's change to WAL takes the whole file, and SQLite
            // does not wait for it: another program making the same
            // register at the same moment is waited for here, as long as
            // the busy time-out.
            bool done = false;
            for (int tries = 0; !done && tries < 100; ++tries) {
                done = d->sql->exec(QLatin1String(pragma), {}, error);
                if (!done && !d->sql->lastBusy())
                    break;
                if (!done)
                    QThread::msleep(100);
            }
            if (!done) {
                close();
                return false;
            }
        }
    }
    // Whole before anything is written: damage is found here, not after a
    // module has been written.
    if (!checkPages(*d->sql, error) || !migrate(d->db, postgres, location.shown(), error) ||
        !checkTables(*d->sql, error)) {
        close();
        return false;
    }
    return true;
}

void SiteRegister::close()
{
    if (!d)
        return;
    const QString name = d->name;
    d->sql.reset();
    d->db.close();
    d.reset();
    QSqlDatabase::removeDatabase(name);
}

bool SiteRegister::readable(const QString &file, QString *error)
{
    const QString probe = QStringLiteral("SELECT count(*) FROM sqlite_master");
    if (d->sql->exec(probe, {}, error))
        return true;
    // A register in WAL mode, in a folder this user may not write to, has
    // no shared memory to read beside it. With no writer at work there (no
    // WAL file), its file is read as it stands.
    const QFileInfo info(file);
    if (!d->sql->lastReadOnly() || QFileInfo(info.absolutePath()).isWritable() ||
        QFileInfo::exists(file + QStringLiteral("-wal")))
        return false;
    d->db.close();
    d->db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
    d->db.setDatabaseName(
        QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
        QStringLiteral("?immutable=1"));
    if (d->db.open() && d->sql->exec(probe, {}, error))
        return true;
    if (!d->db.isOpen())
        *error =
            Text::tr("cannot open the register %1: %2").arg(shown(), reasonOf(d->db.lastError()));
    return false;
}

bool SiteRegister::isOpen() const
{
    return d && d->db.isOpen();
}

QString SiteRegister::shown() const
{
    return d ? d->location.shown() : QString();
}

const Sql *SiteRegister::sql(QString *error) const
{
    if (isOpen())
        return d->sql.get();
    *error = Text::tr("the register is not open");
    return nullptr;
}

bool SiteRegister::reconnect(int waitMs, const std::function<bool()> &stop, QString *error)
{
    if (opened.kind != Location::Kind::Postgres)
        return sql(error) != nullptr;
    // One short statement tells a live connection from a lost one.
    if (isOpen() && d->sql->exec(QStringLiteral("SELECT 1"), {}, error))
        return true;
    const QDeadlineTimer deadline(waitMs);
    int pauseMs = 100;
    for (;;) {
        if (open(opened, error))
            return true;
        if (deadline.hasExpired() || (stop && stop()))
            return false;
        // Woken at times to see whether the run was stopped meanwhile.
        const QDeadlineTimer pause(qMin<qint64>(pauseMs, deadline.remainingTime()));
        while (!pause.hasExpired() && !(stop && stop()))
            QThread::msleep(static_cast<unsigned long>(qMin<qint64>(50, pause.remainingTime())));
        pauseMs = qMin(pauseMs * 2, 2000);
    }
}

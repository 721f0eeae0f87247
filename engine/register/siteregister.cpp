#include "engine/register/siteregister.h"

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

using namespace siteregister;

SiteRegister::SiteRegister() = default;

SiteRegister::~SiteRegister()
{
    close();
}

bool SiteRegister::open(const Location &location, QString *error)
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
    if (!postgres) {
        const QFileInfo file(location.file);
        if (!QDir().mkpath(file.absolutePath())) {
            *error = Text::tr("cannot open the register %1: cannot make the folder %2")
                         .arg(location.shown(), QDir::toNativeSeparators(file.absolutePath()));
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
            QStringLiteral("connect_timeout=10;options='-c statement_timeout=30000 -c "
                           "client_min_messages=warning';keepalives_idle=10;"
                           "keepalives_interval=5;keepalives_count=3");
        if (!location.sslMode.isEmpty())
            options += QStringLiteral(";sslmode=") + location.sslMode;
        d->db.setConnectOptions(options);
    } else {
        d->db.setDatabaseName(location.file);
        // Another program writing the same file is waited for, not failed:
        // on a loaded disk, a few of its commits in a row take seconds.
        d->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    }
    d->sql = std::make_unique<Sql>(d->db, postgres, location.shown());
    if (!d->db.open()) {
        *error = Text::tr("cannot open the register %1: %2")
                     .arg(location.shown(), reasonOf(d->db.lastError()));
        close();
        return false;
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
                if (!done && !error->contains(QLatin1String("locked")))
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
    if (!migrate(d->db, postgres, location.shown(), error)) {
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

#include "engine/register/siteregister.h"

#include "engine/platform/tracelog.h"
#include "engine/register/registerfacts.h"
#include "engine/register/registerintegrity.h"
#include "engine/register/registerschema.h"
#include "engine/register/registersql.h"
#include "engine/register/registertext.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

using namespace siteregister;

namespace
{
// The columns every module look-up reads, in the order moduleAt() takes
// them.
const QString moduleColumns = QStringLiteral(
    "SELECT m.mac, m.first_seen, m.last_seen, m.verified, m.verified_ms, m.vals, m.run_id, "
    "u.tool, u.station, u.username, u.plan_path, u.plan_hash, m.plan_row, m.port, "
    "m.replaced_by, u.record FROM modules m LEFT JOIN runs u ON u.id = m.run_id WHERE ");

ModuleEntry moduleAt(const QSqlQuery &q)
{
    ModuleEntry m;
    m.mac = q.value(0).toString();
    m.firstSeen = q.value(1).toString();
    m.lastSeen = q.value(2).toString();
    m.verifiedTime = q.value(3).toString();
    m.verifiedMs = q.value(4).toLongLong();
    m.values = valuesFrom(q.value(5).toString());
    m.run = q.value(6).toLongLong();
    m.tool = q.value(7).toString();
    m.station = q.value(8).toString();
    m.user = q.value(9).toString();
    m.planPath = q.value(10).toString();
    m.planHash = q.value(11).toString();
    m.planRow = q.value(12).toInt();
    m.port = q.value(13).toString();
    m.replacedBy = q.value(14).toString();
    m.record = q.value(15).toString();
    return m;
}

// A row's time in milliseconds since 1970; false for a text that is not a
// time.
bool msOf(const QString &time, qint64 *ms)
{
    const QDateTime at = QDateTime::fromString(time, Qt::ISODateWithMs);
    if (!at.isValid())
        return false;
    *ms = at.toMSecsSinceEpoch();
    return true;
}

// A text column that is never NULL.
QVariant text(const QString &value)
{
    return value.isNull() ? QString(QLatin1String("")) : value;
}

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

bool SiteRegister::ready(QString *error) const
{
    if (isOpen())
        return true;
    *error = Text::tr("the register is not open");
    return false;
}

qint64 SiteRegister::beginRun(const RunInfo &run, QString *error)
{
    if (!ready(error))
        return 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QSqlQuery query;
    if (!d->sql->exec(QStringLiteral("INSERT INTO runs (tool, station, username, plan_path, "
                                     "plan_hash, record, started, started_ms) VALUES (?, ?, ?, "
                                     "?, ?, ?, ?, ?) RETURNING id"),
                      {text(run.tool), text(run.station), text(run.user), text(run.planPath),
                       text(run.planHash), text(run.record), timeText(now), now},
                      error, &query))
        return 0;
    if (query.next())
        return query.value(0).toLongLong();
    *error = d->sql->failure(query.lastError());
    return 0;
}

bool SiteRegister::endRun(qint64 run, QString *error)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return ready(error) &&
           d->sql->change(QStringLiteral("UPDATE runs SET ended = ?, ended_ms = ? WHERE id = ?"),
                          {timeText(now), now, run}, error);
}

bool SiteRegister::insertRow(qint64 run, const RowEntry &row, bool *inserted, QString *error)
{
    const QString time = row.time.isEmpty() ? TraceLog::timestamp() : row.time;
    qint64 ms = 0;
    if (!msOf(time, &ms)) {
        *error = Text::tr("the register %1: \"%2\" is not a time").arg(shown(), time);
        return false;
    }
    const QString mac = row.mac();
    // The result kept as facts; the words are the reader's.
    const ResultFacts result = resultFacts(row.result);
    const bool proves = provesValues(result) && !mac.isEmpty();
    int added = 0;
    if (!d->sql->change(
            QStringLiteral("INSERT INTO rows (run_id, time, at_ms, plan_row, port, mac, "
                           "planned, read_back, result, facts, verified) VALUES (?, ?, ?, ?, "
                           "?, ?, ?, ?, ?, ?, ?) ON CONFLICT (time, port, mac) DO NOTHING"),
            {run, time, ms, row.planRow, text(row.port), text(mac), text(valuesText(row.planned)),
             text(valuesText(row.values)), result.code, text(factsText(result.values)),
             proves ? 1 : 0},
            error, &added))
        return false;
    *inserted = added > 0;
    if (!*inserted || mac.isEmpty())
        return true;
    // Seen: the earliest and latest times win, whatever order rows come in.
    if (!d->sql->change(
            QStringLiteral(
                "INSERT INTO modules (mac, first_seen, first_ms, last_seen, last_ms) VALUES (?, "
                "?, ?, ?, ?) ON CONFLICT (mac) DO UPDATE SET "
                "first_seen = CASE WHEN excluded.first_ms < modules.first_ms THEN "
                "excluded.first_seen ELSE modules.first_seen END, "
                "first_ms = CASE WHEN excluded.first_ms < modules.first_ms THEN "
                "excluded.first_ms ELSE modules.first_ms END, "
                "last_seen = CASE WHEN excluded.last_ms > modules.last_ms THEN "
                "excluded.last_seen ELSE modules.last_seen END, "
                "last_ms = CASE WHEN excluded.last_ms > modules.last_ms THEN "
                "excluded.last_ms ELSE modules.last_ms END"),
            {mac, time, ms, time, ms}, error))
        return false;
    if (!proves)
        return true;
    // Verified: where and at what, unless a later verification is known
    // (an old record imported after newer runs).
    parameters::Values values = row.values;
    values.remove(ModuleField::Mac);
    const QString ip = values.value(ModuleField::Ip);
    return d->sql->change(
        QStringLiteral("UPDATE modules SET verified = ?, verified_ms = ?, ip = ?, "
                       "vals = ?, run_id = ?, plan_row = ?, port = ?, "
                       "replaced_by = NULL WHERE mac = ? AND (verified_ms IS "
                       "NULL OR verified_ms <= ?)"),
        {time, ms, ip.isEmpty() ? QVariant() : QVariant(ip), text(valuesText(values)), run,
         row.planRow, text(row.port), mac, ms},
        error);
}

bool SiteRegister::recordRow(qint64 run, const RowEntry &row, QString *error,
                             const QString &claimOf)
{
    if (!ready(error) || !d->sql->begin(error))
        return false;
    bool inserted = false;
    const bool proves = provesValues(resultFacts(row.result)) && !row.mac().isEmpty();
    if (!insertRow(run, row, &inserted, error) ||
        (!claimOf.isEmpty() &&
         !releaseClaim(run, claimOf, row.planRow, proves, row.mac(), error)) ||
        (proves && !row.replaces.isEmpty() && !markReplaced(row.replaces, row.mac(), error))) {
        d->sql->rollback();
        return false;
    }
    return d->sql->commit(error);
}

bool SiteRegister::noteRewrite(qint64 run, int planRow, const QString &mac,
                               const RewriteNote &previous, QString *error)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return ready(error) &&
           d->sql->change(
               QStringLiteral("INSERT INTO rewrites (run_id, time, at_ms, mac, plan_row, "
                              "previous) VALUES (?, ?, ?, ?, ?, ?)"),
               {run, timeText(now), now, parameters::normalMac(mac), planRow,
                text(noteText(previous))},
               error);
}

bool SiteRegister::importRows(const RunInfo &run, const QList<RowEntry> &rows, int *added,
                              QString *error)
{
    *added = 0;
    if (!ready(error) || !d->sql->begin(error))
        return false;
    const qint64 id = beginRun(run, error);
    bool ok = id != 0;
    for (int i = 0; ok && i < rows.size(); ++i) {
        bool inserted = false;
        ok = insertRow(id, rows.at(i), &inserted, error);
        *added += inserted ? 1 : 0;
    }
    if (ok && *added > 0)
        ok = endRun(id, error);
    if (!ok || *added == 0) {
        d->sql->rollback();
        if (!ok)
            *added = 0;
        return ok;
    }
    return d->sql->commit(error);
}

bool SiteRegister::modules(const QString &where, const QVariantList &values,
                           QList<ModuleEntry> *modules, QString *error)
{
    modules->clear();
    QSqlQuery query;
    if (!ready(error) || !d->sql->exec(moduleColumns + where, values, error, &query))
        return false;
    while (query.next())
        modules->append(moduleAt(query));
    if (query.lastError().isValid()) {
        *error = d->sql->failure(query.lastError());
        return false;
    }
    return true;
}

bool SiteRegister::findModule(const QString &mac, ModuleEntry *module, QString *error)
{
    *module = ModuleEntry();
    QList<ModuleEntry> found;
    if (!modules(QStringLiteral("m.mac = ?"), {parameters::normalMac(mac)}, &found, error))
        return false;
    if (!found.isEmpty())
        *module = found.first();
    return true;
}

bool SiteRegister::findAddress(const QString &ip, QList<ModuleEntry> *found, QString *error)
{
    return modules(QStringLiteral("m.ip = ? ORDER BY m.verified_ms DESC"), {ip}, found, error);
}

bool SiteRegister::addressHolders(const QString &ip, const QString &exceptMac, int memoryDays,
                                  QList<ModuleEntry> *found, QString *error)
{
    const qint64 since = QDateTime::currentMSecsSinceEpoch() - qint64(memoryDays) * 86400000;
    return modules(QStringLiteral("m.ip = ? AND m.mac <> ? AND m.verified_ms >= ? AND "
                                  "m.replaced_by IS NULL ORDER BY m.verified_ms DESC"),
                   {ip, parameters::normalMac(exceptMac), since}, found, error);
}

bool SiteRegister::allModules(QList<ModuleEntry> *found, QString *error)
{
    return modules(QStringLiteral("1 = 1 ORDER BY m.mac"), {}, found, error);
}

bool SiteRegister::history(const QString &mac, QList<HistoryEntry> *entries, QString *error)
{
    entries->clear();
    const QString key = parameters::normalMac(mac);
    QSqlQuery rows;
    if (!ready(error) ||
        !d->sql->exec(
            QStringLiteral("SELECT r.run_id, u.tool, u.station, u.username, "
                           "u.plan_path, r.time, r.plan_row, r.port, r.planned, "
                           "r.read_back, r.result, r.facts, r.verified, r.at_ms FROM rows r "
                           "JOIN "
                           "runs u ON u.id = r.run_id WHERE r.mac = ? ORDER BY "
                           "r.at_ms, r.id"),
            {key}, error, &rows))
        return false;
    QList<qint64> at;
    while (rows.next()) {
        HistoryEntry e;
        e.run = rows.value(0).toLongLong();
        e.tool = rows.value(1).toString();
        e.station = rows.value(2).toString();
        e.user = rows.value(3).toString();
        e.planPath = rows.value(4).toString();
        e.row.time = rows.value(5).toString();
        e.row.planRow = rows.value(6).toInt();
        e.row.port = rows.value(7).toString();
        e.row.planned = valuesFrom(rows.value(8).toString());
        e.row.values = valuesFrom(rows.value(9).toString());
        e.row.values.insert(ModuleField::Mac, key);
        e.result = ResultFacts{rows.value(10).toString(), factsFrom(rows.value(11).toString())};
        e.row.result = resultWords(e.result, false);
        e.verified = rows.value(12).toInt() != 0;
        entries->append(e);
        at << rows.value(13).toLongLong();
    }
    QSqlQuery rewrites;
    if (!d->sql->exec(QStringLiteral("SELECT w.run_id, u.tool, u.station, u.username, u.plan_path, "
                                     "w.time, w.plan_row, w.previous, w.at_ms FROM rewrites w "
                                     "JOIN runs u ON u.id = w.run_id WHERE w.mac = ? ORDER BY "
                                     "w.at_ms, w.id"),
                      {key}, error, &rewrites))
        return false;
    while (rewrites.next()) {
        HistoryEntry e;
        e.run = rewrites.value(0).toLongLong();
        e.tool = rewrites.value(1).toString();
        e.station = rewrites.value(2).toString();
        e.user = rewrites.value(3).toString();
        e.planPath = rewrites.value(4).toString();
        e.row.time = rewrites.value(5).toString();
        e.row.planRow = rewrites.value(6).toInt();
        e.row.values.insert(ModuleField::Mac, key);
        e.rewrite = true;
        e.previous = noteFrom(rewrites.value(7).toString());
        // After the rows up to its time, before those after it: a rewrite
        // is noted before the row that writes the module ends (and takes
        // its time); a row of the same millisecond came first.
        const qint64 ms = rewrites.value(8).toLongLong();
        int i = 0;
        while (i < at.size() && at.at(i) <= ms)
            ++i;
        entries->insert(i, e);
        at.insert(i, ms);
    }
    return true;
}

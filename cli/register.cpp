// ordan-cli register: the site register's answers, and records backfilled
// into it.
#include "cli/register.h"

#include "cli/output.h"
#include "cli/run.h"
#include "engine/commission/commissionplan.h"
#include "engine/commission/recordimport.h"
#include "engine/commission/registerdesk.h"
#include "engine/platform/textsafety.h"
#include "engine/register/planstanding.h"
#include "engine/register/registerfacts.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registerruns.h"
#include "engine/register/registerverdict.h"
#include "engine/register/siteregister.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

using namespace siteregister;

namespace
{

constexpr int notKnownExit = int(JobResult::NoAnswer);
constexpr int differsExit = int(JobResult::Mismatch);

// The parameters as they are shown, in the record's order (the MAC apart).
QList<ModuleField> shownFields()
{
    QList<ModuleField> fields;
    for (const ModuleField field : allModuleFields) {
        if (field != ModuleField::Mac)
            fields << field;
    }
    return fields;
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonObject valuesJson(const parameters::Values &values)
{
    QJsonObject object;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        object.insert(parameters::fieldKey(it.key()), it.value());
    return object;
}

QJsonObject moduleJson(const ModuleEntry &m)
{
    QJsonObject object{{QStringLiteral("mac"), m.mac},
                       {QStringLiteral("first_seen"), m.firstSeen},
                       {QStringLiteral("last_seen"), m.lastSeen},
                       {QStringLiteral("replaced_by"), orNull(m.replacedBy)}};
    if (!m.verified()) {
        object.insert(QStringLiteral("verified"), QJsonValue());
        return object;
    }
    object.insert(
        QStringLiteral("verified"),
        QJsonObject{{QStringLiteral("time"), m.verifiedTime},
                    {QStringLiteral("station"), m.station},
                    {QStringLiteral("user"), m.user},
                    {QStringLiteral("tool"), m.tool},
                    {QStringLiteral("run"), m.run},
                    {QStringLiteral("plan"), orNull(m.planPath)},
                    {QStringLiteral("row"), m.planRow > 0 ? QJsonValue(m.planRow) : QJsonValue()},
                    {QStringLiteral("port"), m.port}});
    object.insert(QStringLiteral("values"), valuesJson(m.values));
    return object;
}

QStringList moduleLines(const ModuleEntry &m)
{
    QList<QStringList> rows;
    if (m.verified()) {
        rows << QStringList{QStringLiteral("state"), verifiedAs(m)};
        rows << QStringList{
            QStringLiteral("by"),
            m.station.isEmpty()
                ? QStringLiteral("imported from %1 (run %2)").arg(m.record).arg(m.run)
                : QStringLiteral("%1%2, %3 (run %4)")
                      .arg(m.station,
                           m.user.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m.user),
                           m.tool)
                      .arg(m.run)};
        if (!m.planPath.isEmpty())
            rows << QStringList{QStringLiteral("plan"),
                                QStringLiteral("%1, row %2").arg(m.planPath).arg(m.planRow)};
        if (!m.port.isEmpty())
            rows << QStringList{QStringLiteral("port"), m.port};
    } else {
        rows << QStringList{QStringLiteral("state"), QStringLiteral("never verified")};
    }
    if (!m.replacedBy.isEmpty())
        rows << QStringList{QStringLiteral("replaced by"), m.replacedBy};
    rows << QStringList{QStringLiteral("first seen"), m.firstSeen}
         << QStringList{QStringLiteral("last seen"), m.lastSeen};
    for (const ModuleField field : shownFields()) {
        if (m.values.contains(field))
            rows << QStringList{parameters::fieldKey(field), m.values.value(field)};
    }
    return QStringList{QStringLiteral("module ") + m.mac} + cliout::table(rows);
}

int show(Run &run, SiteRegister &reg, const QString &what)
{
    QString error;
    QList<ModuleEntry> found;
    const bool byMac = parameters::isWellFormedMac(what);
    if (byMac) {
        ModuleEntry module;
        if (!RegisterLookup(reg).findModule(what, &module, &error)) {
            cliout::error(QString(), error);
            return registerUnavailableExit;
        }
        if (module.known())
            found << module;
    } else if (!RegisterLookup(reg).findAddress(what, &found, &error)) {
        cliout::error(QString(), error);
        return registerUnavailableExit;
    }
    if (run.json) {
        QJsonArray array;
        for (const ModuleEntry &m : qAsConst(found))
            array.append(moduleJson(m));
        cliout::json(byMac ? (found.isEmpty() ? QJsonValue() : QJsonValue(array.first()))
                           : QJsonValue(array));
    } else {
        QStringList lines;
        for (const ModuleEntry &m : qAsConst(found))
            lines << (lines.isEmpty() ? QStringList() : QStringList{QString()}) + moduleLines(m);
        cliout::out(lines);
    }
    if (found.isEmpty()) {
        cliout::error(QString(), QStringLiteral("the register %1 knows no module %2")
                                     .arg(reg.shown(), byMac ? parameters::normalMac(what)
                                                             : QStringLiteral("at ") + what));
        return notKnownExit;
    }
    return 0;
}

int history(Run &run, SiteRegister &reg, const QString &mac)
{
    QString error;
    QList<HistoryEntry> entries;
    if (!RegisterLookup(reg).history(mac, &entries, &error)) {
        cliout::error(QString(), error);
        return registerUnavailableExit;
    }
    QJsonArray array;
    QList<QStringList> rows{{QStringLiteral("time"), QStringLiteral("result"), QStringLiteral("ip"),
                             QStringLiteral("row"), QStringLiteral("port"),
                             QStringLiteral("station"), QStringLiteral("tool")}};
    for (const HistoryEntry &e : qAsConst(entries)) {
        // The words chosen now, from the facts the register holds.
        const QString previous = noteWords(e.previous);
        const QString result =
            e.rewrite ? QStringLiteral("rewritten: ") + previous : resultWords(e.result, true);
        array.append(QJsonObject{
            {QStringLiteral("time"), e.row.time},
            {QStringLiteral("event"),
             e.rewrite ? QStringLiteral("rewrite") : QStringLiteral("row")},
            {QStringLiteral("result"),
             e.rewrite ? QJsonValue() : QJsonValue(resultWords(e.result, false))},
            {QStringLiteral("code"), e.rewrite ? QJsonValue() : QJsonValue(e.result.code)},
            {QStringLiteral("verified"), e.verified},
            {QStringLiteral("previous"), e.rewrite ? QJsonValue(previous) : QJsonValue()},
            {QStringLiteral("plan"), orNull(e.planPath)},
            {QStringLiteral("row"), e.row.planRow > 0 ? QJsonValue(e.row.planRow) : QJsonValue()},
            {QStringLiteral("port"), orNull(e.row.port)},
            {QStringLiteral("station"), e.station},
            {QStringLiteral("user"), e.user},
            {QStringLiteral("tool"), e.tool},
            {QStringLiteral("run"), e.run},
            {QStringLiteral("planned"), valuesJson(e.row.planned)},
            {QStringLiteral("read_back"), valuesJson(e.row.values)}});
        rows << QStringList{e.row.time,
                            result,
                            e.row.values.value(ModuleField::Ip),
                            e.row.planRow > 0 ? QString::number(e.row.planRow) : QString(),
                            e.row.port,
                            e.station,
                            e.tool};
    }
    if (run.json)
        cliout::json(array);
    else if (!entries.isEmpty())
        cliout::out(cliout::table(rows, 0));
    if (entries.isEmpty()) {
        cliout::error(QString(), QStringLiteral("the register %1 knows no module %2")
                                     .arg(reg.shown(), parameters::normalMac(mac)));
        return notKnownExit;
    }
    return 0;
}

int site(Run &run, SiteRegister &reg, const QString &planPath)
{
    QByteArray bytes;
    QString error;
    if (!commissionplan::readFile(planPath, &bytes, &error))
        return usage(QStringLiteral("cannot use the plan %1: %2").arg(planPath, error));
    const commissionplan::Plan plan = commissionplan::parse(bytes, {}, true);
    if (!plan.problems.isEmpty()) {
        for (const commissionplan::Problem &p : plan.problems)
            cliout::error(QString(),
                          QStringLiteral("%1 row %2: %3").arg(planPath).arg(p.row).arg(p.message));
        return usageExit;
    }
    QList<PlannedRow> planned;
    for (const commissionplan::Row &row : plan.rows)
        planned << PlannedRow{row.row, row.port, row.values};
    // The plan by its rows (or by its bytes, in a register that knew it so).
    const QString key = RegisterDesk::planKey(reg, bytes, &error);
    QList<RowStanding> standing;
    if (key.isEmpty() || !siteStanding(reg, key, planned, &standing, &error)) {
        cliout::error(QString(), error);
        return registerUnavailableExit;
    }
    int exitCode = 0;
    QJsonArray array;
    QList<QStringList> rows{{QStringLiteral("row"), QStringLiteral("port"), QStringLiteral("ip"),
                             QStringLiteral("register")}};
    for (int i = 0; i < standing.size(); ++i) {
        const RowStanding &s = standing.at(i);
        const char *word = s.kind == RowStanding::Kind::Verified    ? "verified"
                           : s.kind == RowStanding::Kind::Differs   ? "differs"
                           : s.kind == RowStanding::Kind::Elsewhere ? "elsewhere"
                                                                    : "never";
        if (s.kind == RowStanding::Kind::Differs)
            exitCode = differsExit;
        else if (!s.done() && exitCode == 0)
            exitCode = notKnownExit;
        QStringList differing;
        for (const ModuleField field : s.differing)
            differing << parameters::fieldKey(field);
        QJsonValue claim;
        if (s.claim.state != ClaimEntry::State::Free)
            claim = QJsonObject{{QStringLiteral("state"), s.claim.state == ClaimEntry::State::Done
                                                              ? QStringLiteral("done")
                                                              : QStringLiteral("claimed")},
                                {QStringLiteral("station"), s.claim.station},
                                {QStringLiteral("since"), s.claim.since},
                                {QStringLiteral("lease_ms"), s.claim.leaseLeftMs}};
        array.append(
            QJsonObject{{QStringLiteral("row"), s.row},
                        {QStringLiteral("port"), planned.at(i).port},
                        {QStringLiteral("planned"), valuesJson(planned.at(i).planned)},
                        {QStringLiteral("standing"), QLatin1String(word)},
                        {QStringLiteral("differing"), QJsonArray::fromStringList(differing)},
                        {QStringLiteral("module"),
                         s.module.known() ? QJsonValue(moduleJson(s.module)) : QJsonValue()},
                        {QStringLiteral("claim"), claim}});
        rows << QStringList{QString::number(s.row), planned.at(i).port,
                            planned.at(i).planned.value(ModuleField::Ip), standingText(s)};
    }
    if (run.json)
        cliout::json(array);
    else
        cliout::out(cliout::table(rows, 0));
    return exitCode;
}

int import(Run &run, const Location &location, const QStringList &records)
{
    // Every record read first: one that is not a record stops the import
    // before anything is added, or a register made.
    QList<QList<RowEntry>> rowsOf;
    bool readable = true;
    for (const QString &path : records) {
        QString error;
        rowsOf.append(QList<RowEntry>());
        if (!recordimport::read(path, &rowsOf.last(), &error)) {
            cliout::error(QString(), error);
            readable = false;
        }
    }
    if (!readable) {
        cliout::err({QStringLiteral("nothing was imported")});
        return usageExit;
    }
    SiteRegister reg;
    if (QString error; !reg.open(location, &error)) {
        cliout::error(QString(), error);
        return registerUnavailableExit;
    }
    QJsonArray array;
    QList<QStringList> rows{
        {QStringLiteral("record"), QStringLiteral("rows"), QStringLiteral("new")}};
    for (int i = 0; i < records.size(); ++i) {
        const QString path = QFileInfo(records.at(i)).absoluteFilePath();
        int added = 0;
        QString error;
        // Who made the record, and on which station, it does not say.
        RunInfo source = RunInfo::here(QStringLiteral("import"), QString(), QString(), path);
        source.station.clear();
        source.user.clear();
        if (!RegisterRuns(reg).importRows(source, rowsOf.at(i), &added, &error)) {
            cliout::error(QString(), error);
            cliout::err({QStringLiteral("%1 was not imported").arg(records.at(i))});
            return registerUnavailableExit;
        }
        array.append(QJsonObject{{QStringLiteral("record"), records.at(i)},
                                 {QStringLiteral("rows"), int(rowsOf.at(i).size())},
                                 {QStringLiteral("added"), added}});
        rows << QStringList{records.at(i), QString::number(rowsOf.at(i).size()),
                            QString::number(added)};
    }
    if (run.json)
        cliout::json(array);
    else
        cliout::out(cliout::table(rows, 0));
    return 0;
}

int exportModules(Run &run, SiteRegister &reg)
{
    const bool csv = run.parser.isSet(QStringLiteral("csv"));
    if (csv == run.json)
        return usage(QStringLiteral("register export takes --csv or --json"));
    QList<ModuleEntry> modules;
    QString error;
    if (!RegisterLookup(reg).allModules(&modules, &error)) {
        cliout::error(QString(), error);
        return registerUnavailableExit;
    }
    if (run.json) {
        QJsonArray array;
        for (const ModuleEntry &m : qAsConst(modules))
            array.append(moduleJson(m));
        cliout::json(array);
        return 0;
    }
    QStringList header{QStringLiteral("mac")};
    for (const ModuleField field : shownFields())
        header << parameters::fieldKey(field);
    header << QStringLiteral("verified") << QStringLiteral("station") << QStringLiteral("user")
           << QStringLiteral("tool") << QStringLiteral("plan") << QStringLiteral("row")
           << QStringLiteral("port") << QStringLiteral("first_seen") << QStringLiteral("last_seen")
           << QStringLiteral("replaced_by");
    QStringList lines{header.join(QLatin1Char(','))};
    for (const ModuleEntry &m : qAsConst(modules)) {
        QStringList cells{textsafety::csvDataCell(m.mac)};
        for (const ModuleField field : shownFields())
            cells << textsafety::csvDataCell(m.values.value(field));
        for (const QString &cell : {m.verifiedTime, m.station, m.user, m.tool, m.planPath,
                                    m.planRow > 0 ? QString::number(m.planRow) : QString(), m.port,
                                    m.firstSeen, m.lastSeen, m.replacedBy})
            cells << textsafety::csvDataCell(cell);
        lines << cells.join(QLatin1Char(','));
    }
    cliout::csv(lines);
    return 0;
}

} // namespace

bool registerLocation(Run &run, Location *location, QString *problem)
{
    return chooseLocation(run.parser.isSet(QStringLiteral("register")),
                          run.parser.value(QStringLiteral("register")),
                          run.parser.isSet(QStringLiteral("no-register")), location, problem);
}

int commandRegister(Run &run)
{
    QStringList operands = run.ports;
    const QString what = operands.isEmpty() ? QString() : operands.takeFirst();
    const auto one = [&operands, &what](const QString &operand) {
        return operands.size() == 1
                   ? QString()
                   : QStringLiteral("register %1 needs exactly one %2").arg(what, operand);
    };
    QString problem;
    if (what == QLatin1String("show")) {
        problem = one(QStringLiteral("MAC or IP address"));
        quint32 address = 0;
        if (problem.isEmpty() && !parameters::isWellFormedMac(operands.first()) &&
            !parameters::parseIpv4(operands.first(), &address))
            problem =
                QStringLiteral("\"%1\" is neither a MAC nor an IPv4 address").arg(operands.first());
    } else if (what == QLatin1String("history")) {
        problem = one(QStringLiteral("MAC"));
        if (problem.isEmpty() && !parameters::isWellFormedMac(operands.first()))
            problem = QStringLiteral("\"%1\" is not a MAC address").arg(operands.first());
    } else if (what == QLatin1String("site")) {
        problem = one(QStringLiteral("PLAN.csv"));
    } else if (what == QLatin1String("import")) {
        if (operands.isEmpty())
            problem = QStringLiteral("register import needs at least one RECORD.csv");
    } else if (what == QLatin1String("export")) {
        if (!operands.isEmpty())
            problem = QStringLiteral("register export takes no operand");
    } else {
        problem = what.isEmpty() ? QStringLiteral("register needs show, history, site, import or "
                                                  "export")
                                 : QStringLiteral("unknown register command \"%1\"").arg(what);
    }
    if (problem.isEmpty() && run.parser.isSet(QStringLiteral("csv")) &&
        what != QLatin1String("export"))
        problem = QStringLiteral("--csv goes with register export only");
    Location location;
    if (!problem.isEmpty() || !registerLocation(run, &location, &problem))
        return usage(problem);

    if (what == QLatin1String("import"))
        return import(run, location, operands);
    // Only an import writes; the others read, and work where nothing may
    // be written.
    SiteRegister reg;
    QString error;
    if (!reg.open(location, &error, SiteRegister::Access::Read)) {
        cliout::error(QString(), error);
        return registerUnavailableExit;
    }
    if (what == QLatin1String("show"))
        return show(run, reg, operands.first());
    if (what == QLatin1String("history"))
        return history(run, reg, operands.first());
    if (what == QLatin1String("site"))
        return site(run, reg, operands.first());
    return exportModules(run, reg);
}

#include "cli/output.h"

#include "engine/commission/commissionrun.h"
#include "engine/commission/runsummary.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/rowwording.h"
#include "engine/platform/textsafety.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace cliout
{

namespace
{

void writeLines(FILE *stream, const QStringList &lines, bool escaped = false)
{
    // Each line escaped whole: a line break inside one shows as "\n"; the
    // line ends are our own.
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += (escaped ? line : textsafety::escapeControls(line)).toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    (void)fflush(stream); // a reader gone cannot be told; the exit code says it all
}

QJsonValue valueOrNull(const parameters::Values &values, ModuleField field)
{
    return values.contains(field) ? QJsonValue(values.value(field)) : QJsonValue();
}

// The port and the module as it named itself before the first write.
QJsonObject moduleJson(const RowOutcome &outcome)
{
    const WriteResult &r = outcome.result();
    return {{QStringLiteral("port"), r.port},
            {QStringLiteral("name"), valueOrNull(r.identity, ModuleField::Name)},
            {QStringLiteral("mac"), valueOrNull(r.identity, ModuleField::Mac)}};
}

QJsonValue flag(const std::optional<bool> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

// What a write or an audit of a module came to: its differences (the value
// written or planned, under `expected`, against the value read), the error,
// and whether the record took its row (null when no record is kept).
void insertOutcome(QJsonObject *object, const RowOutcome &outcome, const QString &expected)
{
    QJsonArray mismatches;
    for (const RowOutcome::Difference &d : outcome.result().differences) {
        mismatches.append(QJsonObject{
            {QStringLiteral("parameter"), parameters::fieldKey(d.field)},
            {expected, d.expected},
            {QStringLiteral("read"), d.read.isEmpty() ? QJsonValue() : QJsonValue(d.read)}});
    }
    object->insert(QStringLiteral("mismatches"), mismatches);
    const QString reason = RowWording::reason(outcome);
    object->insert(QStringLiteral("error"), reason.isEmpty() ? QJsonValue() : QJsonValue(reason));
    const WriteResult::Kept *record = outcome.record();
    object->insert(QStringLiteral("recorded"), record ? QJsonValue(record->kept) : QJsonValue());
    if (record && !record->kept)
        object->insert(QStringLiteral("record_error"), RowWording::recordError(outcome));
    // The site register likewise, and what it said of the module.
    const WriteResult::Kept *registered = outcome.inRegister();
    object->insert(QStringLiteral("registered"),
                   registered ? QJsonValue(registered->kept) : QJsonValue());
    if (registered && !registered->kept)
        object->insert(QStringLiteral("register_error"), RowWording::registerError(outcome));
    const QString note = RowWording::registerNote(outcome);
    object->insert(QStringLiteral("register_note"), note.isEmpty() ? QJsonValue() : note);
}

} // namespace

void out(const QStringList &lines)
{
    writeLines(stdout, lines);
}

void csv(const QStringList &lines)
{
    writeLines(stdout, lines, true);
}

void err(const QStringList &lines)
{
    writeLines(stderr, lines);
}

void error(const QString &port, const QString &message)
{
    err({QStringLiteral("ordan-cli: ") +
         (port.isEmpty() ? QString() : port + QStringLiteral(": ")) + message});
}

bool progressWanted()
{
#ifdef Q_OS_UNIX
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return terminal;
#else
    return false;
#endif
}

void progress(const QString &text)
{
    if (progressWanted())
        err({text});
}

void json(const QJsonValue &value)
{
    const QByteArray bytes = value.isArray() ? QJsonDocument(value.toArray()).toJson()
                                             : QJsonDocument(value.toObject()).toJson();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    (void)fflush(stdout); // as in writeLines()
}

QJsonObject readJson(const QString &port, const ModuleReading &reading, const QString &error)
{
    QJsonObject object;
    object.insert(QStringLiteral("port"), port);
    QJsonArray invalid;
    for (const ModuleField field : allModuleFields) {
        object.insert(parameters::fieldKey(field), valueOrNull(reading.values, field));
        if (!reading.values.contains(field))
            invalid.append(parameters::fieldKey(field));
    }
    object.insert(QStringLiteral("invalid"), invalid);
    object.insert(QStringLiteral("error"), error.isEmpty() ? QJsonValue() : QJsonValue(error));
    return object;
}

QStringList readTable(const QString &port, const ModuleReading &reading)
{
    QList<QStringList> rows;
    for (const ModuleField field : allModuleFields) {
        rows << QStringList{parameters::fieldKey(field),
                            reading.values.contains(field)
                                ? reading.values.value(field)
                                : QStringLiteral("(missing or invalid)")};
    }
    return QStringList{port} + table(rows);
}

QJsonObject writeJson(const RowOutcome &outcome)
{
    QJsonObject object = moduleJson(outcome);
    const WriteResult &r = outcome.result();
    QJsonObject sent;
    for (const ModuleField field : r.accepted)
        sent.insert(parameters::fieldKey(field), r.planned.value(field));
    object.insert(QStringLiteral("written"), sent);
    object.insert(QStringLiteral("verified"), flag(outcome.verified));
    object.insert(QStringLiteral("on_module"), flag(outcome.onModule));
    insertOutcome(&object, outcome, QStringLiteral("written"));
    return object;
}

QStringList writeTable(const RowOutcome &outcome)
{
    const WriteResult &r = outcome.result();
    const parameters::Values &identity = r.identity;
    QStringList text{r.port + QStringLiteral(": ") + identity.value(ModuleField::Name) +
                     QStringLiteral(" (") + identity.value(ModuleField::Mac) + QLatin1Char(')')};
    QList<QStringList> rows;
    const bool readBack = outcome.readBackShown;
    rows << (readBack ? QStringList{QStringLiteral("parameter"), QStringLiteral("written"),
                                    QStringLiteral("read back"), QString()}
                      : QStringList{QStringLiteral("parameter"), QStringLiteral("written")});
    // A module that held the planned values already: those, as read.
    const QList<ModuleField> fields = outcome.unchanged() ? r.planned.keys() : r.accepted;
    for (const ModuleField field : fields) {
        QStringList row{parameters::fieldKey(field), r.planned.value(field)};
        if (readBack) {
            const QString read = r.readBack.values.value(field);
            row << (read.isEmpty() ? QStringLiteral("(missing)") : read)
                << (outcome.readBackDiffers.contains(field) ? QStringLiteral("DIFFERS")
                                                            : QString());
        }
        rows << row;
    }
    text += table(rows);
    const QString word = RowWording::moduleWord(outcome);
    if (!word.isEmpty())
        text << (r.verify ? word : word + QStringLiteral(" (--no-verify)"));
    const QString note = RowWording::registerNote(outcome);
    if (!note.isEmpty())
        text << note;
    return text;
}

namespace
{

QStringList commandsOf(const commissionplan::Row &row)
{
    QStringList commands;
    for (const parameters::WriteStep &step : parameters::writeSteps(row.values))
        commands << QString::fromLatin1(step.command);
    commands << QString::fromLatin1(Command::writeFinish);
    return commands;
}

// The JSON key of a status's count: "not reached" counts as "not_reached".
QString countKey(const QString &status)
{
    return QString(status).replace(QLatin1Char(' '), QLatin1Char('_'));
}

} // namespace

QJsonArray planJson(const QList<commissionplan::Row> &rows)
{
    QJsonArray array;
    for (const commissionplan::Row &row : rows) {
        QJsonObject values;
        for (auto it = row.values.cbegin(); it != row.values.cend(); ++it)
            values.insert(parameters::fieldKey(it.key()), it.value());
        QJsonObject object{
            {QStringLiteral("row"), row.row},
            {QStringLiteral("port"), row.port},
            {QStringLiteral("values"), values},
            {QStringLiteral("commands"), QJsonArray::fromStringList(commandsOf(row))}};
        // The devices its bus must have, where the plan names them.
        if (!row.busIds.isEmpty()) {
            QJsonArray units;
            for (const int unit : row.busIds)
                units.append(unit);
            object.insert(QStringLiteral("bus_ids"), units);
        }
        array.append(object);
    }
    return array;
}

QStringList planTable(const QList<commissionplan::Row> &rows)
{
    QList<QStringList> cells{
        {QStringLiteral("row"), QStringLiteral("port"), QStringLiteral("would send")}};
    for (const commissionplan::Row &row : rows) {
        const QStringList commands = commandsOf(row);
        for (int i = 0; i < commands.size(); ++i)
            cells << (i == 0 ? QStringList{QString::number(row.row), row.port, commands.at(i)}
                             : QStringList{QString(), QString(), commands.at(i)});
    }
    return table(cells, 0) +
           QStringList{QStringLiteral("(dry run: nothing was sent; the configuration each module "
                                      "would run is checked against its own values only in a "
                                      "real run)")};
}

QJsonObject commissionJson(const CommissionRun &run)
{
    QJsonArray rows;
    QMap<QString, int> counts;
    for (int i = 0; i < run.rowCount(); ++i) {
        const RowOutcome outcome = run.outcome(i);
        QJsonObject object = run.isAudit() ? auditJson(outcome) : writeJson(outcome);
        const QString state = RowWording::statusWord(outcome);
        ++counts[state];
        object.insert(QStringLiteral("row"), run.row(i).row);
        object.insert(QStringLiteral("status"), state);
        object.insert(QStringLiteral("exit_code"), outcome.exitCode);
        rows.append(object);
    }
    QJsonObject summary;
    for (const QString &state : RowWording::statusWords(run.isAudit()))
        summary.insert(countKey(state), counts.value(state));
    // Rows the register knows done by a run (an earlier one, another
    // station's).
    summary.insert(QStringLiteral("done_already"), counts.value(QStringLiteral("done already")));
    summary.insert(QStringLiteral("rows"), rows);
    return summary;
}

QJsonObject auditJson(const RowOutcome &outcome)
{
    QJsonObject object = moduleJson(outcome);
    QJsonObject read;
    for (const ModuleField field : allModuleFields) {
        if (!isInformationField(field) && outcome.readBackShown)
            read.insert(parameters::fieldKey(field),
                        valueOrNull(outcome.result().readBack.values, field));
    }
    object.insert(QStringLiteral("read"), read);
    object.insert(QStringLiteral("matches"), flag(outcome.matches));
    insertOutcome(&object, outcome, QStringLiteral("planned"));
    return object;
}

QStringList commissionTable(const CommissionRun &run)
{
    return runsummary::table(run);
}

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0, 'f', 1) + QStringLiteral(" s");
}

QStringList table(const QList<QStringList> &rows, int indent)
{
    return textsafety::columns(rows, indent);
}

} // namespace cliout

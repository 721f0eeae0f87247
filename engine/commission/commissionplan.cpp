#include "engine/commission/commissionplan.h"

#include "engine/bus/busreport.h"
#include "engine/commission/commissionplan_p.h"
#include "engine/jobs/writeresult.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

namespace commissionplan
{

using namespace detail;

namespace detail
{
QString knownColumns()
{
    return columns().join(QLatin1String(", "));
}

bool columnField(const QString &header, ModuleField *field)
{
    const QString name = header.trimmed().toLower().replace(QLatin1Char('-'), QLatin1Char('_'));
    for (const ModuleField f : parameters::writeOrder()) {
        if (parameters::fieldKey(f) == name) {
            *field = f;
            return true;
        }
    }
    return false;
}

bool decode(const QByteArray &bytes, QString *text)
{
    const QByteArray utf8 = bytes.startsWith("\xef\xbb\xbf") ? bytes.mid(3) : bytes;
    *text = QString::fromUtf8(utf8);
    return text->toUtf8() == utf8;
}

bool isBusIdsColumn(const QString &header)
{
    return header.trimmed().toLower().replace(QLatin1Char('-'), QLatin1Char('_')) == busIdsColumn;
}

int columnIndex(const QString &header)
{
    const QString name = header.trimmed();
    if (name.compare(portColumn, Qt::CaseInsensitive) == 0)
        return 0;
    if (isBusIdsColumn(name))
        return int(parameters::writeOrder().size()) + 1;
    ModuleField field = ModuleField::Ip;
    return columnField(name, &field) ? int(parameters::writeOrder().indexOf(field)) + 1 : -1;
}

bool blank(const QStringList &record)
{
    for (const QString &cell : record) {
        if (!cell.trimmed().isEmpty())
            return false;
    }
    return true;
}

} // namespace detail

bool readFile(const QString &path, QByteArray *bytes, QString *error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = Text::tr("not a regular file");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    // One byte beyond the bound tells a file that is too large, however it
    // grows meanwhile.
    *bytes = file.read(maxPlanBytes + 1);
    if (bytes->size() > maxPlanBytes) {
        *error = Text::tr("larger than %1 bytes: not a plan").arg(maxPlanBytes);
        return false;
    }
    return true;
}

bool RowCells::blank() const
{
    if (!port.trimmed().isEmpty() || !busIds.trimmed().isEmpty())
        return false;
    for (const auto &value : values) {
        if (!value.second.trimmed().isEmpty())
            return false;
    }
    return true;
}

RowRules::RowRules(const parameters::Values &base, bool allowForeignGateway)
    : base(base), allowForeignGateway(allowForeignGateway)
{
}

Row RowRules::check(int number, const RowCells &cells, QList<Problem> *problems)
{
    using Subject = Problem::Subject;
    const auto problem = [&](Subject subject, ModuleField field, const QString &message) {
        Problem p;
        p.row = number;
        p.subject = subject;
        p.field = field;
        p.column = subject == Subject::Port     ? portColumn
                   : subject == Subject::Value  ? parameters::fieldKey(field)
                   : subject == Subject::BusIds ? busIdsColumn
                                                : QString();
        p.message = message;
        problems->append(p);
    };
    Row row;
    row.row = number;
    row.port = cells.port.trimmed();
    row.values = base;
    for (const auto &value : cells.values) {
        const QString cell = value.second.trimmed();
        if (cell.isEmpty())
            continue;
        const QString rule = parameters::checkValue(value.first, cell);
        if (!rule.isEmpty())
            problem(Subject::Value, value.first, Text::tr("\"%1\" must be %2").arg(cell, rule));
        row.values.insert(value.first, cell);
    }
    const QString busIds = cells.busIds.trimmed();
    QString why;
    if (!busIds.isEmpty() && !unitlist::parse(busIds, &row.busIds, &why))
        problem(Subject::BusIds, ModuleField::Ip,
                Text::tr("\"%1\" must be Modbus unit addresses 1-247, as \"1,2,5\" or \"1-4\"")
                    .arg(busIds));
    if (hasPortColumn && row.port.isEmpty())
        problem(Subject::Port, ModuleField::Ip, Text::tr("no port given"));
    if (row.values.isEmpty())
        problem(Subject::Row, ModuleField::Ip,
                Text::tr("nothing to write: every cell is empty and no base values "
                         "are given"));
    const QString ip = row.values.value(ModuleField::Ip);
    quint32 address = 0;
    if (parameters::parseIpv4(ip, &address)) {
        if (addressRow.contains(address)) {
            problem(
                Subject::Value, ModuleField::Ip,
                Text::tr("%1 is already planned in row %2").arg(ip).arg(addressRow.value(address)));
            problems->last().firstRow = addressRow.value(address);
        } else {
            addressRow.insert(address, number);
        }
    }
    for (const parameters::ConfigProblem &p : parameters::checkConfiguration(row.values)) {
        if (!(p.foreignGateway && allowForeignGateway))
            problem(Subject::Value, p.field, p.message);
    }
    return row;
}

QList<Problem> checkBase(const parameters::Values &base)
{
    QList<Problem> problems;
    for (auto it = base.cbegin(); it != base.cend(); ++it) {
        const QString rule = parameters::checkValue(it.key(), it.value());
        if (rule.isEmpty())
            continue;
        Problem p;
        p.column = parameters::fieldKey(it.key());
        p.field = it.key();
        p.message = Text::tr("\"%1\" must be %2").arg(it.value(), rule);
        problems << p;
    }
    return problems;
}

void checkNotEmpty(Plan *plan)
{
    if (plan->rows.isEmpty() && plan->problems.isEmpty())
        plan->problems.append({0, QString(), Text::tr("the plan has no rows")});
}

Plan parse(const QByteArray &bytes, const parameters::Values &base, bool allowForeignGateway)
{
    Plan plan;
    const auto problem = [&plan](int row, const QString &column, const QString &message) {
        plan.problems.append({row, column, message});
    };
    plan.problems = checkBase(base);

    QString text;
    if (!decode(bytes, &text)) {
        problem(0, QString(), Text::tr("the plan is not UTF-8 text"));
        return plan;
    }
    QString error;
    const QList<QStringList> records = splitCsv(text, detectSeparator(text), &error);
    if (!error.isEmpty()) {
        problem(0, QString(), error);
        return plan;
    }
    if (records.isEmpty() || blank(records.first())) {
        problem(1, QString(),
                Text::tr("no header: the first row names the columns (%1)").arg(knownColumns()));
        return plan;
    }

    // The header: which column holds the port, which the parameters.
    const QStringList &header = records.first();
    int portIndex = -1;
    int busIdsIndex = -1;
    QHash<int, ModuleField> fieldAt;
    QHash<QString, int> seen;
    for (int i = 0; i < header.size(); ++i) {
        const QString name = header.at(i).trimmed();
        if (name.isEmpty())
            continue; // a column without a name (a trailing separator) must stay empty
        ModuleField field = ModuleField::Ip;
        const bool isPort = name.compare(portColumn, Qt::CaseInsensitive) == 0;
        const bool isBusIds = !isPort && isBusIdsColumn(name);
        const bool isField = !isPort && !isBusIds && columnField(name, &field);
        if (!isPort && !isBusIds && !isField) {
            problem(1, name, Text::tr("unknown column (the columns are %1)").arg(knownColumns()));
            continue;
        }
        const QString key = isPort     ? portColumn
                            : isBusIds ? busIdsColumn
                                       : parameters::fieldKey(field);
        if (seen.contains(key)) {
            problem(1, name,
                    Text::tr("column given twice (columns %1 and %2)")
                        .arg(seen.value(key) + 1)
                        .arg(i + 1));
            continue;
        }
        seen.insert(key, i);
        if (isPort)
            portIndex = i;
        else if (isBusIds)
            busIdsIndex = i;
        else
            fieldAt.insert(i, field);
    }
    if (portIndex < 0)
        problem(1, portColumn, Text::tr("the plan needs a \"port\" column"));

    RowRules rules(base, allowForeignGateway);
    rules.setPortColumn(portIndex >= 0);
    for (int r = 1; r < records.size(); ++r) {
        const QStringList &record = records.at(r);
        const int rowNumber = r + 1;
        if (blank(record))
            continue; // an empty line, as spreadsheets leave at the end
        if (record.size() > header.size()) {
            problem(rowNumber, QString(),
                    Text::tr("%1 cells, but the header names %2 columns")
                        .arg(record.size())
                        .arg(header.size()));
            continue;
        }
        RowCells cells;
        for (int i = 0; i < record.size(); ++i) {
            if (i == portIndex) {
                cells.port = record.at(i);
            } else if (i == busIdsIndex) {
                cells.busIds = record.at(i);
            } else if (fieldAt.contains(i)) {
                cells.values.append({fieldAt.value(i), record.at(i)});
            } else if (header.at(i).trimmed().isEmpty() && !record.at(i).trimmed().isEmpty()) {
                problem(rowNumber, QString::number(i + 1),
                        Text::tr("\"%1\" stands in a column without a name")
                            .arg(record.at(i).trimmed()));
            }
        }
        plan.rows << rules.check(rowNumber, cells, &plan.problems);
    }
    checkNotEmpty(&plan);
    return plan;
}

QString identity(const QByteArray &bytes)
{
    return identity(parse(bytes).rows);
}

QString identity(const QList<Row> &rows)
{
    // A record a row, a field each, the values percent-encoded: no cell
    // can forge another's place. No rows, no plan.
    if (rows.isEmpty())
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const auto field = [&hash](const QString &name, const QString &value) {
        hash.addData(name.toUtf8() + '=' + value.toUtf8().toPercentEncoding() + '\x1f');
    };
    for (const Row &row : rows) {
        field(QStringLiteral("row"), QString::number(row.row));
        field(portColumn, row.port);
        for (const ModuleField f : parameters::writeOrder()) {
            if (row.values.contains(f))
                field(parameters::fieldKey(f), row.values.value(f));
        }
        if (!row.busIds.isEmpty())
            field(busIdsColumn, unitlist::compact(row.busIds));
        hash.addData("\x1e", 1);
    }
    return QStringLiteral("rows:") + QString::fromLatin1(hash.result().toHex());
}

QStringList columns()
{
    QStringList names{portColumn};
    for (const ModuleField field : parameters::writeOrder())
        names << parameters::fieldKey(field);
    names << busIdsColumn;
    return names;
}

WriteResult meaning(const Row &row, bool audit)
{
    WriteResult meant;
    meant.audit = audit;
    meant.port = row.port;
    meant.planRow = row.row;
    meant.planned = row.values;
    meant.busUnits = row.busIds;
    return meant;
}

} // namespace commissionplan

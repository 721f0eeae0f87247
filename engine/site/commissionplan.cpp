#include "engine/site/commissionplan.h"

#include "engine/platform/textsafety.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

namespace commissionplan
{

namespace
{

struct Text {
    Q_DECLARE_TR_FUNCTIONS(commissionplan)
};

const QString portColumn = QStringLiteral("port");

// The column names a plan may have, for the message on an unknown one.
QString knownColumns()
{
    return columns().join(QLatin1String(", "));
}

// The parameter a header cell names; false for anything else. Names are
// taken without regard to case or surrounding blanks, "-" for "_" too
// (the option spelling, "tcp-port").
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

// The plan's text from a file's bytes: false when they are not UTF-8 (a byte
// sequence had to be replaced on the way in). A byte-order mark is dropped.
bool decode(const QByteArray &bytes, QString *text)
{
    const QByteArray utf8 = bytes.startsWith("\xef\xbb\xbf") ? bytes.mid(3) : bytes;
    *text = QString::fromUtf8(utf8);
    return text->toUtf8() == utf8;
}

// The index in columns() of the column a header cell names; -1 for none.
int columnIndex(const QString &header)
{
    const QString name = header.trimmed();
    if (name.compare(portColumn, Qt::CaseInsensitive) == 0)
        return 0;
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

} // namespace

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

QChar detectSeparator(const QString &text)
{
    int commas = 0;
    int semicolons = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            break;
        else if (c == QLatin1Char(','))
            ++commas;
        else if (c == QLatin1Char(';'))
            ++semicolons;
    }
    return semicolons > commas ? QLatin1Char(';') : QLatin1Char(',');
}

QList<QStringList> splitCsv(const QString &text, QChar separator, QString *error)
{
    QList<QStringList> records;
    QStringList record;
    QString cell;
    bool quoted = false;    // inside a quoted cell
    bool wasQuoted = false; // the cell in hand was quoted and has ended
    bool cellStarted = false;
    const auto endCell = [&] {
        record << cell;
        cell.clear();
        wasQuoted = false;
        cellStarted = false;
    };
    const auto endRecord = [&] {
        endCell();
        records << record;
        record.clear();
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != QLatin1Char('"')) {
                cell += c;
            } else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                cell += c;
                ++i;
            } else {
                quoted = false;
                wasQuoted = true;
            }
            continue;
        }
        if (c == separator) {
            endCell();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            endRecord();
        } else if (c == QLatin1Char('"') && !cellStarted) {
            quoted = true;
            cellStarted = true;
        } else if (wasQuoted) {
            *error = Text::tr("record %1: text after the closing quote of a cell")
                         .arg(records.size() + 1);
            return {};
        } else {
            cell += c;
            cellStarted = true;
        }
    }
    if (quoted) {
        *error = Text::tr("record %1: a quoted cell is never closed").arg(records.size() + 1);
        return {};
    }
    // The last record, unless the text ended with its line break.
    if (cellStarted || wasQuoted || !record.isEmpty())
        endRecord();
    return records;
}

Plan parse(const QByteArray &bytes, const parameters::Values &base, bool allowForeignGateway)
{
    Plan plan;
    const auto problem = [&plan](int row, const QString &column, const QString &message) {
        plan.problems.append({row, column, message});
    };

    for (auto it = base.cbegin(); it != base.cend(); ++it) {
        const QString rule = parameters::checkValue(it.key(), it.value());
        if (!rule.isEmpty())
            problem(0, parameters::fieldKey(it.key()),
                    Text::tr("\"%1\" must be %2").arg(it.value(), rule));
    }

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
    const QStringList header = records.first();
    int portIndex = -1;
    QHash<int, ModuleField> fieldAt;
    QHash<QString, int> seen;
    for (int i = 0; i < header.size(); ++i) {
        const QString name = header.at(i).trimmed();
        if (name.isEmpty())
            continue; // a column without a name (a trailing separator) must stay empty
        ModuleField field = ModuleField::Ip;
        const bool isPort = name.compare(portColumn, Qt::CaseInsensitive) == 0;
        const bool isField = !isPort && columnField(name, &field);
        if (!isPort && !isField) {
            problem(1, name, Text::tr("unknown column (the columns are %1)").arg(knownColumns()));
            continue;
        }
        const QString key = isPort ? portColumn : parameters::fieldKey(field);
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
        else
            fieldAt.insert(i, field);
    }
    if (portIndex < 0)
        problem(1, portColumn, Text::tr("the plan needs a \"port\" column"));

    QHash<quint32, int> ipRow; // planned address -> first row that has it
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
        Row row;
        row.row = rowNumber;
        row.values = base;
        for (int i = 0; i < record.size(); ++i) {
            const QString cell = record.at(i).trimmed();
            if (i == portIndex) {
                row.port = cell;
                continue;
            }
            if (cell.isEmpty())
                continue;
            if (!fieldAt.contains(i)) {
                if (header.at(i).trimmed().isEmpty())
                    problem(rowNumber, QString::number(i + 1),
                            Text::tr("\"%1\" stands in a column without a name").arg(cell));
                continue;
            }
            const ModuleField field = fieldAt.value(i);
            const QString rule = parameters::checkValue(field, cell);
            if (!rule.isEmpty())
                problem(rowNumber, parameters::fieldKey(field),
                        Text::tr("\"%1\" must be %2").arg(cell, rule));
            row.values.insert(field, cell);
        }
        if (portIndex >= 0 && row.port.isEmpty())
            problem(rowNumber, portColumn, Text::tr("no port given"));
        if (row.values.isEmpty())
            problem(rowNumber, QString(),
                    Text::tr("nothing to write: every cell is empty and no base values "
                             "are given"));
        const QString ip = row.values.value(ModuleField::Ip);
        quint32 address = 0;
        if (parameters::parseIpv4(ip, &address)) {
            if (ipRow.contains(address)) {
                problem(
                    rowNumber, parameters::fieldKey(ModuleField::Ip),
                    Text::tr("%1 is already planned in row %2").arg(ip).arg(ipRow.value(address)));
                plan.problems.last().firstRow = ipRow.value(address);
            } else {
                ipRow.insert(address, rowNumber);
            }
        }
        for (const parameters::ConfigProblem &p : parameters::checkConfiguration(row.values)) {
            if (!(p.foreignGateway && allowForeignGateway))
                problem(rowNumber, parameters::fieldKey(p.field), p.message);
        }
        plan.rows << row;
    }
    if (plan.rows.isEmpty() && plan.problems.isEmpty())
        problem(0, QString(), Text::tr("the plan has no rows"));
    return plan;
}

QStringList columns()
{
    QStringList names{portColumn};
    for (const ModuleField field : parameters::writeOrder())
        names << parameters::fieldKey(field);
    return names;
}

Table readTable(const QByteArray &bytes)
{
    using textsafety::escapeControls;
    Table table;
    QString text;
    if (!decode(bytes, &text)) {
        table.error = Text::tr("the file is not UTF-8 text");
        return table;
    }
    const QList<QStringList> records = splitCsv(text, detectSeparator(text), &table.error);
    if (!table.error.isEmpty() || records.isEmpty())
        return table;
    const int width = columns().size();

    // Header names as parse() takes them.
    const QStringList header = records.first();
    QList<int> target;
    QList<int> taken;
    for (const QString &cell : header) {
        const QString name = cell.trimmed();
        int column = name.isEmpty() ? -1 : columnIndex(name);
        if (!name.isEmpty() && column < 0)
            table.leftOut << Text::tr("the column \"%1\", which is not a plan column")
                                 .arg(escapeControls(name));
        else if (column >= 0 && taken.contains(column))
            table.leftOut << Text::tr("the second column \"%1\"").arg(escapeControls(name));
        if (column >= 0 && taken.contains(column))
            column = -1;
        if (column >= 0)
            taken << column;
        target << column;
    }
    for (int r = 1; r < records.size(); ++r) {
        const QStringList &record = records.at(r);
        QStringList cells;
        for (int c = 0; c < width; ++c)
            cells << QString();
        for (int i = 0; i < record.size(); ++i) {
            if (i < target.size() && target.at(i) >= 0) {
                cells[target.at(i)] = record.at(i);
            } else if ((i >= header.size() || header.at(i).trimmed().isEmpty()) &&
                       !record.at(i).trimmed().isEmpty()) {
                table.leftOut << Text::tr("row %1: \"%2\" outside the named columns")
                                     .arg(r + 1)
                                     .arg(escapeControls(record.at(i)));
            }
        }
        table.rows << cells;
    }
    while (!table.rows.isEmpty() && blank(table.rows.last()))
        table.rows.removeLast();
    return table;
}

QByteArray writeTable(const QList<QStringList> &rows)
{
    QStringList lines{columns().join(QLatin1Char(','))};
    int last = rows.size() - 1;
    while (last >= 0 && blank(rows.at(last)))
        --last;
    for (int r = 0; r <= last; ++r) {
        QStringList cells;
        for (const QString &text : rows.at(r))
            cells << textsafety::csvOwnCell(text);
        lines << cells.join(QLatin1Char(','));
    }
    return (lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n")).toUtf8();
}

} // namespace commissionplan

// The plan's CSV text: records split, the separator told, a plan file read
// into table cells and written from them, a record told from a plan.
#include "engine/commission/commissionplan.h"

#include "engine/commission/commissionplan_p.h"
#include "engine/commission/commissionrecord.h"
#include "engine/platform/textsafety.h"

#include <QStringList>

namespace commissionplan
{

using namespace detail;

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
    const QStringList &header = records.first();
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

namespace
{

// The header of a CSV text, as its cells; empty when there is none.
QStringList headerOf(const QByteArray &bytes, QList<QStringList> *records = nullptr)
{
    QString text;
    if (!decode(bytes, &text))
        return {};
    QString error;
    const QList<QStringList> all = splitCsv(text, detectSeparator(text), &error);
    if (!error.isEmpty() || all.isEmpty())
        return {};
    if (records)
        *records = all;
    QStringList header;
    for (const QString &cell : all.first())
        header << cell.trimmed().toLower();
    return header;
}

} // namespace

bool isRecord(const QByteArray &bytes)
{
    const QStringList own = commissionrecord::header().split(QLatin1Char(','));
    const QStringList header = headerOf(bytes);
    return header.size() >= 2 && header.mid(0, 2) == own.mid(0, 2) &&
           header.contains(QLatin1String("result"));
}

bool isPlan(const QByteArray &bytes)
{
    if (bytes.trimmed().isEmpty() || bytes == "\xef\xbb\xbf")
        return true;
    QList<QStringList> records;
    const QStringList header = headerOf(bytes, &records);
    if (!header.contains(portColumn))
        return false;
    const Table table = readTable(bytes);
    return table.error.isEmpty() && table.leftOut.isEmpty();
}

bool looksLikePlan(const QByteArray &bytes)
{
    return headerOf(bytes).contains(portColumn) && !isRecord(bytes);
}

Table planFromRecord(const QByteArray &bytes)
{
    Table table = readTable(bytes);
    table.leftOut.clear();
    QList<QStringList> records;
    const int planned = int(headerOf(bytes, &records).indexOf(QLatin1String("planned")));
    QList<QStringList> rows;
    for (int r = 0; r < table.rows.size(); ++r) {
        QStringList cells = table.rows.at(r);
        const QString values = records.value(r + 1).value(planned);
        if (planned >= 0 && !values.trimmed().isEmpty()) {
            for (int c = 1; c < cells.size(); ++c)
                cells[c].clear();
            for (const QString &pair : values.split(QLatin1Char(';'))) {
                const int column = columnIndex(pair.section(QLatin1Char('='), 0, 0));
                if (column > 0)
                    cells[column] = pair.section(QLatin1Char('='), 1).trimmed();
            }
        }
        if (!blank(cells) && !rows.contains(cells))
            rows << cells;
    }
    table.rows = rows;
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

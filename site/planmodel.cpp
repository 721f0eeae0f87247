// The plan's rows: edits, their undo, the check of every row by the plan's
// rules, and the states a run gives them. What the table shows of them is
// in planmodeldisplay.cpp.
#include "site/planmodel.h"

#include <QUndoStack>

#include <algorithm>

namespace
{

// Undo commands: the edit is made, then recorded; the first redo (on the
// push) has nothing left to do.
const int cellEditId = 1;

// The rows asked for, each once and in order; none when one is not a row.
QList<int> rowsIn(QList<int> which, int rowCount)
{
    std::sort(which.begin(), which.end());
    which.erase(std::unique(which.begin(), which.end()), which.end());
    if (!which.isEmpty() && (which.first() < 0 || which.last() >= rowCount))
        return {};
    return which;
}

} // namespace

// One cell typed: the keystrokes in one cell, one after another, are one
// step to undo.
class PlanModel::CellEdit : public QUndoCommand
{
public:
    CellEdit(PlanModel *model, int row, int column, const QString &before, const QString &after)
        : model(model), row(row), column(column), before(before), after(after)
    {
        setText(PlanModel::tr("edit of %1").arg(PlanModel::columnKey(column)));
    }
    int id() const override { return cellEditId; }
    bool mergeWith(const QUndoCommand *other) override
    {
        const auto *edit = static_cast<const CellEdit *>(other);
        if (edit->row != row || edit->column != column)
            return false;
        after = edit->after;
        return true;
    }
    void undo() override { model->putCell(row, column, before); }
    void redo() override
    {
        if (!first)
            model->putCell(row, column, after);
        first = false;
    }

private:
    PlanModel *model;
    int row;
    int column;
    QString before;
    QString after;
    bool first = true;
};

// Rows added, removed, duplicated or pasted over: the rows before and
// after, whole.
class PlanModel::RowsEdit : public QUndoCommand
{
public:
    RowsEdit(PlanModel *model, const QString &text, const QList<Row> &before,
             const QList<Row> &after)
        : QUndoCommand(text), model(model), before(before), after(after)
    {
    }
    void undo() override { model->restoreRows(before); }
    void redo() override
    {
        if (!first)
            model->restoreRows(after);
        first = false;
    }

private:
    PlanModel *model;
    QList<Row> before;
    QList<Row> after;
    bool first = true;
};

PlanModel::PlanModel(QObject *parent) : QAbstractTableModel(parent), undo(new QUndoStack(this))
{
    check();
}

PlanModel::~PlanModel()
{
    // The stack empties itself as it goes and says so: nobody may hear it
    // about a model half gone.
    undo->disconnect();
    delete undo;
}

QString PlanModel::columnKey(int column)
{
    if (column == PortColumn)
        return QStringLiteral("port");
    if (column == BusIdsColumn)
        return QStringLiteral("bus_ids");
    if (column > PortColumn && column < BusIdsColumn)
        return parameters::fieldKey(columnField(column));
    return QString();
}

ModuleField PlanModel::columnField(int column)
{
    // The plan file's columns: the port, then the parameters in the order
    // they are written.
    static const QList<ModuleField> order = parameters::writeOrder();
    return order.at(qBound(0, column - 1, int(order.size()) - 1));
}

int PlanModel::columnOf(ModuleField field)
{
    for (int column = IpColumn; column < BusIdsColumn; ++column) {
        if (columnField(column) == field)
            return column;
    }
    return -1;
}

PlanModel::Row PlanModel::emptyRow()
{
    Row row;
    for (int c = 0; c < planColumnCount; ++c)
        row.cells << QString();
    return row;
}

int PlanModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int PlanModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString PlanModel::cell(int row, int column) const
{
    return rows.at(row).cells.at(column);
}

QString PlanModel::baseValue(int column) const
{
    if (column <= PortColumn || column >= BusIdsColumn)
        return QString();
    return base.value(columnField(column));
}

Qt::ItemFlags PlanModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() < planColumnCount && !locked)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool PlanModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || locked || !index.isValid() || index.column() >= planColumnCount)
        return false;
    const QString before = cell(index.row(), index.column());
    const QString text = value.toString();
    if (before == text)
        return true;
    putCell(index.row(), index.column(), text);
    undo->push(new CellEdit(this, index.row(), index.column(), before, text));
    return true;
}

void PlanModel::putCell(int row, int column, const QString &text)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].cells[column] = text;
    // A verified row's state shows whether its cells are still those it
    // proved.
    emitRowStateChanged(row);
    check();
    emit planEdited();
}

void PlanModel::restoreRows(const QList<Row> &saved)
{
    if (saved.size() == rows.size()) {
        rows = saved;
        if (!rows.isEmpty())
            emit dataChanged(index(0, 0), index(rows.size() - 1, ColumnCount - 1));
    } else {
        beginResetModel();
        rows = saved;
        endResetModel();
    }
    check();
    emit planEdited();
}

void PlanModel::pushRowsEdit(const QString &text, const QList<Row> &before)
{
    undo->push(new RowsEdit(this, text, before, rows));
}

bool PlanModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (locked || parent.isValid() || row < 0 || row > rows.size() || count <= 0)
        return false;
    const QList<Row> before = rows;
    beginInsertRows(QModelIndex(), row, row + count - 1);
    for (int i = 0; i < count; ++i)
        rows.insert(row, emptyRow());
    endInsertRows();
    check();
    emit planEdited();
    pushRowsEdit(tr("row added"), before);
    return true;
}

bool PlanModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (locked || parent.isValid() || row < 0 || count <= 0 || row + count > rows.size())
        return false;
    const QList<Row> before = rows;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    rows.erase(rows.begin() + row, rows.begin() + row + count);
    endRemoveRows();
    check();
    emit planEdited();
    pushRowsEdit(tr("rows removed"), before);
    return true;
}

void PlanModel::removeRowList(const QList<int> &which)
{
    const QList<int> sorted = rowsIn(which, rows.size());
    if (locked || sorted.isEmpty())
        return;
    const QList<Row> before = rows;
    for (auto it = sorted.crbegin(); it != sorted.crend(); ++it) {
        beginRemoveRows(QModelIndex(), *it, *it);
        rows.removeAt(*it);
        endRemoveRows();
    }
    if (rows.isEmpty()) {
        beginInsertRows(QModelIndex(), 0, 0);
        rows << emptyRow();
        endInsertRows();
    }
    check();
    emit planEdited();
    pushRowsEdit(tr("%n row(s) removed", "", int(sorted.size())), before);
}

void PlanModel::setLocked(bool on)
{
    if (locked == on)
        return;
    locked = on;
    if (!rows.isEmpty())
        emit dataChanged(index(0, 0), index(rows.size() - 1, planColumnCount - 1));
}

QStringList PlanModel::planCells(int row) const
{
    return rows.at(row).cells;
}

void PlanModel::setPlanRows(const QList<QStringList> &planRows)
{
    beginResetModel();
    rows.clear();
    for (const QStringList &cells : planRows) {
        Row row = emptyRow();
        for (int c = 0; c < planColumnCount && c < cells.size(); ++c)
            row.cells[c] = cells.at(c);
        rows << row;
    }
    endResetModel();
    undo->clear();
    check();
}

int PlanModel::putCells(int row, int column, const QList<QStringList> &cells)
{
    if (locked || row < 0 || column < 0 || column >= planColumnCount || cells.isEmpty())
        return 0;
    const QList<Row> before = rows;
    const int needed = row + cells.size();
    if (needed > rows.size()) {
        beginInsertRows(QModelIndex(), rows.size(), needed - 1);
        while (rows.size() < needed)
            rows << emptyRow();
        endInsertRows();
    }
    int set = 0;
    int lastColumn = column;
    for (int r = 0; r < cells.size(); ++r) {
        const QStringList &line = cells.at(r);
        for (int c = 0; c < line.size() && column + c < planColumnCount; ++c) {
            rows[row + r].cells[column + c] = line.at(c);
            lastColumn = qMax(lastColumn, column + c);
            ++set;
        }
    }
    emit dataChanged(index(row, 0), index(needed - 1, ColumnCount - 1));
    check();
    emit planEdited();
    pushRowsEdit(tr("%n cell(s) pasted", "", set), before);
    return set;
}

void PlanModel::duplicateRows(const QList<int> &which)
{
    const QList<int> sorted = rowsIn(which, rows.size());
    if (locked || sorted.isEmpty())
        return;
    const QList<Row> before = rows;
    const int at = sorted.last() + 1;
    beginInsertRows(QModelIndex(), at, at + sorted.size() - 1);
    for (int i = 0; i < sorted.size(); ++i) {
        Row copy = emptyRow();
        copy.cells = rows.at(sorted.at(i)).cells;
        rows.insert(at + i, copy);
    }
    endInsertRows();
    check();
    emit planEdited();
    pushRowsEdit(tr("%n row(s) duplicated", "", int(sorted.size())), before);
}

QByteArray PlanModel::toCsv() const
{
    QList<QStringList> cells;
    for (const Row &row : rows)
        cells << row.cells;
    return commissionplan::writeTable(cells);
}

void PlanModel::setBaseValues(const parameters::Values &values)
{
    base = values;
    check();
}

void PlanModel::check()
{
    using Subject = commissionplan::Problem::Subject;
    plan = commissionplan::Plan();
    plan.problems = commissionplan::checkBase(base);
    planTableRows.clear();
    problemsAt.clear();
    rowProblems.clear();
    general.clear();
    for (const commissionplan::Problem &p : qAsConst(plan.problems))
        general << tr("%1 of the base values: %2").arg(p.column, p.message);

    commissionplan::RowRules rules(base);
    QHash<int, int> tableRowOf;        // the row's number in the plan file -> its table row
    QMap<int, QStringList> repeatedIn; // table row -> the rows that plan its address again
    for (int r = 0; r < rows.size(); ++r) {
        commissionplan::RowCells cells;
        cells.port = cell(r, PortColumn);
        for (int c = IpColumn; c < BusIdsColumn; ++c)
            cells.values.append({columnField(c), cell(r, c)});
        cells.busIds = cell(r, BusIdsColumn);
        if (cells.blank())
            continue; // as an empty line of a plan file
        const int first = plan.problems.size();
        plan.rows << rules.check(fileRow(r), cells, &plan.problems);
        planTableRows << r;
        tableRowOf.insert(fileRow(r), r);
        for (int i = first; i < plan.problems.size(); ++i) {
            const commissionplan::Problem &p = plan.problems.at(i);
            if (p.subject == Subject::Port)
                problemsAt[{r, PortColumn}] << p.message;
            else if (p.subject == Subject::BusIds)
                problemsAt[{r, BusIdsColumn}] << p.message;
            else if (p.subject == Subject::Value && columnOf(p.field) >= 0)
                problemsAt[{r, columnOf(p.field)}] << p.message;
            else
                rowProblems[r] << p.message;
            if (p.firstRow > 0)
                repeatedIn[tableRowOf.value(p.firstRow)] << QString::number(p.row);
        }
    }
    // An address planned twice is reported on its later rows; the first
    // row that has it is marked too.
    for (auto it = repeatedIn.cbegin(); it != repeatedIn.cend(); ++it)
        problemsAt[{it.key(), IpColumn}]
            << tr("%1 is planned again in row %2")
                   .arg(cell(it.key(), IpColumn).trimmed(), it.value().join(QLatin1String(", ")));
    const int before = plan.problems.size();
    commissionplan::checkNotEmpty(&plan);
    for (int i = before; i < plan.problems.size(); ++i)
        general << plan.problems.at(i).message;
    if (!rows.isEmpty()) {
        emit dataChanged(index(0, 0), index(rows.size() - 1, planColumnCount - 1));
        emit headerDataChanged(Qt::Vertical, 0, rows.size() - 1);
    }
    emit problemsChanged();
}

QStringList PlanModel::cellProblems(int row, int column) const
{
    return problemsAt.value({row, column});
}

int PlanModel::markCount() const
{
    return problemsAt.size() + rowProblems.size() + general.size();
}

QStringList PlanModel::problemLines() const
{
    QStringList lines;
    for (const commissionplan::Problem &p : plan.problems) {
        if (p.row <= 0)
            lines << (p.column.isEmpty()
                          ? p.message
                          : tr("%1 of the base values: %2").arg(p.column, p.message));
        else if (p.column.isEmpty())
            lines << tr("row %1: %2").arg(p.row).arg(p.message);
        else
            lines << tr("row %1, column %2: %3").arg(p.row).arg(p.column, p.message);
    }
    return lines;
}

#include "site/planrows.h"

#include "site/plancolumns.h"

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
class PlanRows::CellEdit : public QUndoCommand
{
public:
    CellEdit(PlanRows *plan, int row, int column, const QString &before, const QString &after)
        : plan(plan), row(row), column(column), before(before), after(after)
    {
        setText(PlanRows::tr("edit of %1").arg(PlanColumns::columnKey(column)));
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
    void undo() override { plan->putCell(row, column, before); }
    void redo() override
    {
        if (!first)
            plan->putCell(row, column, after);
        first = false;
    }

private:
    PlanRows *plan;
    int row;
    int column;
    QString before;
    QString after;
    bool first = true;
};

// Rows added, removed, duplicated or pasted over: the rows before and
// after, whole.
class PlanRows::RowsEdit : public QUndoCommand
{
public:
    RowsEdit(PlanRows *plan, const QString &text, const QList<Row> &before, const QList<Row> &after)
        : QUndoCommand(text), plan(plan), before(before), after(after)
    {
    }
    void undo() override { plan->restoreRows(before); }
    void redo() override
    {
        if (!first)
            plan->restoreRows(after);
        first = false;
    }

private:
    PlanRows *plan;
    QList<Row> before;
    QList<Row> after;
    bool first = true;
};

PlanRows::PlanRows(QObject *parent) : QObject(parent), undo(new QUndoStack(this))
{
    checkAgain();
}

PlanRows::~PlanRows()
{
    // The stack empties itself as it goes and says so: nobody may hear it
    // about rows half gone.
    undo->disconnect();
    delete undo;
}

PlanRows::Row PlanRows::emptyRow()
{
    Row row;
    row.id = ++lastId;
    for (int c = 0; c < PlanColumns::planColumnCount; ++c)
        row.cells << QString();
    return row;
}

QString PlanRows::baseValue(int column) const
{
    if (column <= PlanColumns::PortColumn || column >= PlanColumns::BusIdsColumn)
        return QString();
    return base.value(PlanColumns::columnField(column));
}

bool PlanRows::setCell(int row, int column, const QString &text)
{
    if (locked || row < 0 || row >= rows.size() || column < 0 ||
        column >= PlanColumns::planColumnCount)
        return false;
    const QString before = cell(row, column);
    if (before == text)
        return true;
    putCell(row, column, text);
    undo->push(new CellEdit(this, row, column, before, text));
    return true;
}

void PlanRows::putCell(int row, int column, const QString &text)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].cells[column] = text;
    emit rowsChanged(row, row);
    checkAgain();
    emit planEdited();
}

void PlanRows::restoreRows(const QList<Row> &saved)
{
    if (saved.size() == rows.size()) {
        rows = saved;
        if (!rows.isEmpty())
            emit rowsChanged(0, rowCount() - 1);
    } else {
        emit aboutToBeReset();
        rows = saved;
        emit wasReset();
    }
    checkAgain();
    emit planEdited();
}

void PlanRows::pushRowsEdit(const QString &text, const QList<Row> &before)
{
    undo->push(new RowsEdit(this, text, before, rows));
}

bool PlanRows::insertRows(int row, int count)
{
    if (locked || row < 0 || row > rows.size() || count <= 0)
        return false;
    const QList<Row> before = rows;
    emit rowsAboutToBeInserted(row, row + count - 1);
    for (int i = 0; i < count; ++i)
        rows.insert(row, emptyRow());
    emit rowsInserted();
    checkAgain();
    emit planEdited();
    pushRowsEdit(tr("row added"), before);
    return true;
}

bool PlanRows::removeRows(int row, int count)
{
    if (locked || row < 0 || count <= 0 || row + count > rows.size())
        return false;
    const QList<Row> before = rows;
    emit rowsAboutToBeRemoved(row, row + count - 1);
    rows.erase(rows.begin() + row, rows.begin() + row + count);
    emit rowsRemoved();
    checkAgain();
    emit planEdited();
    pushRowsEdit(tr("rows removed"), before);
    return true;
}

void PlanRows::removeRowList(const QList<int> &which)
{
    const QList<int> sorted = rowsIn(which, rowCount());
    if (locked || sorted.isEmpty())
        return;
    const QList<Row> before = rows;
    for (auto it = sorted.crbegin(); it != sorted.crend(); ++it) {
        emit rowsAboutToBeRemoved(*it, *it);
        rows.removeAt(*it);
        emit rowsRemoved();
    }
    if (rows.isEmpty()) {
        emit rowsAboutToBeInserted(0, 0);
        rows << emptyRow();
        emit rowsInserted();
    }
    checkAgain();
    emit planEdited();
    pushRowsEdit(tr("%n row(s) removed", "", int(sorted.size())), before);
}

void PlanRows::duplicateRows(const QList<int> &which)
{
    const QList<int> sorted = rowsIn(which, rowCount());
    if (locked || sorted.isEmpty())
        return;
    const QList<Row> before = rows;
    const int at = sorted.last() + 1;
    emit rowsAboutToBeInserted(at, at + int(sorted.size()) - 1);
    for (int i = 0; i < sorted.size(); ++i) {
        Row copy = emptyRow();
        copy.cells = rows.at(sorted.at(i)).cells;
        rows.insert(at + i, copy);
    }
    emit rowsInserted();
    checkAgain();
    emit planEdited();
    pushRowsEdit(tr("%n row(s) duplicated", "", int(sorted.size())), before);
}

int PlanRows::putCells(int row, int column, const QList<QStringList> &cells)
{
    if (locked || row < 0 || column < 0 || column >= PlanColumns::planColumnCount ||
        cells.isEmpty())
        return 0;
    const QList<Row> before = rows;
    const int needed = row + int(cells.size());
    if (needed > rows.size()) {
        emit rowsAboutToBeInserted(rowCount(), needed - 1);
        while (rows.size() < needed)
            rows << emptyRow();
        emit rowsInserted();
    }
    int set = 0;
    for (int r = 0; r < cells.size(); ++r) {
        const QStringList &line = cells.at(r);
        for (int c = 0; c < line.size() && column + c < PlanColumns::planColumnCount; ++c) {
            rows[row + r].cells[column + c] = line.at(c);
            ++set;
        }
    }
    emit rowsChanged(row, needed - 1);
    checkAgain();
    emit planEdited();
    pushRowsEdit(tr("%n cell(s) pasted", "", set), before);
    return set;
}

void PlanRows::setPlanRows(const QList<QStringList> &planRows)
{
    emit aboutToBeReset();
    rows.clear();
    for (const QStringList &cells : planRows) {
        Row row = emptyRow();
        for (int c = 0; c < PlanColumns::planColumnCount && c < cells.size(); ++c)
            row.cells[c] = cells.at(c);
        rows << row;
    }
    // What a run found of the rows before went with them.
    emit replaced();
    emit wasReset();
    undo->clear();
    checkAgain();
}

QByteArray PlanRows::toCsv() const
{
    QList<QStringList> cells;
    for (const Row &row : rows)
        cells << row.cells;
    return commissionplan::writeTable(cells);
}

void PlanRows::setLocked(bool on)
{
    if (locked == on)
        return;
    locked = on;
    if (!rows.isEmpty())
        emit rowsChanged(0, rowCount() - 1);
}

void PlanRows::setBaseValues(const parameters::Values &values)
{
    base = values;
    checkAgain();
}

void PlanRows::checkAgain()
{
    QList<QStringList> cells;
    for (const Row &row : qAsConst(rows))
        cells << row.cells;
    check = CheckedPlan(cells, base);
    emit problemsChanged();
}

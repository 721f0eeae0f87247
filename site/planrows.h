#ifndef PLANROWS_H
#define PLANROWS_H

#include "protocol/parameters.h"
#include "site/checkedplan.h"
#include "site/plancolumns.h"

#include <QList>
#include <QObject>
#include <QStringList>

class QUndoStack;

// The site's plan as rows of cells (PlanColumns' plan columns, port to
// bus_ids), as the engineer edits them: cells typed, rows added,
// duplicated, removed and pasted over, every edit one step to undo
// (undoStack()); locked while a run goes on. After every change the rows
// are checked again by the plan's own rules (checked()). A row keeps an id
// of its own through the edits and their undo, so that what a run found of
// it (RunStates) stays with it. A view follows the rows by the signals
// named after a table model's.
class PlanRows : public QObject
{
    Q_OBJECT

public:
    explicit PlanRows(QObject *parent = nullptr);
    ~PlanRows() override;

    int rowCount() const { return int(rows.size()); }
    QStringList cells(int row) const { return rows.at(row).cells; }
    QString cell(int row, int column) const { return rows.at(row).cells.at(column); }
    // The port of a row, as the run opens it.
    QString port(int row) const { return cell(row, PlanColumns::PortColumn).trimmed(); }
    // The row's own id: the same through edits and their undo, never
    // another row's.
    quint64 rowId(int row) const { return rows.at(row).id; }

    // A cell typed: the keystrokes in one cell, one after another, are one
    // step to undo. False while locked, or for a cell outside the plan.
    bool setCell(int row, int column, const QString &text);
    // Empty rows at `row`; the rows from `row` on, removed.
    bool insertRows(int row, int count);
    bool removeRows(int row, int count);
    // Removes the rows (any order), leaving one empty row when none is left:
    // one step to undo.
    void removeRowList(const QList<int> &rows);
    // Copies of the rows, each group inserted below the last of them.
    void duplicateRows(const QList<int> &rows);
    // Puts a block of cells into the plan from `row`, `column` on, rows
    // added at the end as needed; cells right of the plan's columns are
    // left out. The number of cells set.
    int putCells(int row, int column, const QList<QStringList> &cells);
    // Replaces the whole plan: new rows, the undo history gone.
    void setPlanRows(const QList<QStringList> &rows);
    // The plan file of the rows (commissionplan::writeTable): ordan-cli
    // reads it as the table shows it.
    QByteArray toCsv() const;
    // The edits of the plan's cells and rows, to undo and redo.
    QUndoStack *undoStack() const { return undo; }

    // While a run goes on the plan stays as it is.
    void setLocked(bool on);
    bool isLocked() const { return locked; }

    // Values for the empty cells (a settings file, as --from gives them),
    // and the one of a parameter's column (empty for the port and bus_ids).
    void setBaseValues(const parameters::Values &values);
    parameters::Values baseValues() const { return base; }
    QString baseValue(int column) const;

    // The plan as last checked, and its problems.
    const CheckedPlan &checked() const { return check; }

signals:
    // The changes of the rows, as a view must hear of them: before and
    // after rows come or go, or all of them are replaced.
    void rowsAboutToBeInserted(int first, int last);
    void rowsInserted();
    void rowsAboutToBeRemoved(int first, int last);
    void rowsRemoved();
    void aboutToBeReset();
    void wasReset();
    // The cells of the rows `first` to `last` changed, or whether they may
    // be edited.
    void rowsChanged(int first, int last);
    // The whole plan was replaced (setPlanRows()): its rows are new.
    void replaced();
    // The plan's cells changed (after their check).
    void planEdited();
    // The plan was checked again.
    void problemsChanged();

private:
    class CellEdit;
    class RowsEdit;
    struct Row {
        QStringList cells;
        quint64 id = 0;
    };
    Row emptyRow();
    void checkAgain();
    // The cell set as an edit of its own, or as an undo or redo.
    void putCell(int row, int column, const QString &text);
    // The rows as they were before or after an edit of rows.
    void restoreRows(const QList<Row> &saved);
    // Records a finished edit of rows (made since `before` was taken).
    void pushRowsEdit(const QString &text, const QList<Row> &before);

    QList<Row> rows;
    quint64 lastId = 0;
    bool locked = false;
    parameters::Values base;
    QUndoStack *undo = nullptr;
    CheckedPlan check;
};

#endif // PLANROWS_H

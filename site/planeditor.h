#ifndef PLANEDITOR_H
#define PLANEDITOR_H

#include <QList>
#include <QWidget>

class PlanModel;
class PortListModel;
class QAction;
class QTableView;

// The plan's table as the engineer edits it: cells typed (each keystroke
// checked), rows added, duplicated and removed, cells copied and pasted as
// a spreadsheet does, every edit undone and redone, the next problem found.
// The columns fit the width of the window without scrolling sideways, a row
// takes two lines at most.
class PlanEditor : public QWidget
{
    Q_OBJECT

public:
    PlanEditor(PlanModel *model, PortListModel *ports, QWidget *parent = nullptr);

    QTableView *table() const { return view; }
    // The editing actions, for the menus, in their order (null for a
    // separator).
    QList<QAction *> editActions() const;
    QAction *addRowAction() const { return addRow; }
    QAction *duplicateAction() const { return duplicate; }
    QAction *removeAction() const { return remove; }
    // Whether the plan may be edited now (not while a run goes on).
    void setEditable(bool on);
    // More actions for the table's context menu (on the rows selected).
    void addRowActions(const QList<QAction *> &actions);
    // The rows selected, or the current one; in order, each once.
    QList<int> selectedRows() const;

    // A cell still being edited keeps what was typed and closes.
    void closeEditor();
    // Shows a column that is hidden until it has something to show.
    void showColumn(int column);
    // Brings the table row into view at its state.
    void showRow(int row);
    void fitColumns();

signals:
    void message(const QString &text, int timeoutMs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fitRowHeights(int first, int last);
    void updateUndo();
    void insertRow();
    void duplicateRows();
    void removeRows();
    void copyCells();
    void pasteCells();
    void nextProblem();

    PlanModel *model;
    QTableView *view = nullptr;
    QAction *addRow = nullptr;
    QAction *duplicate = nullptr;
    QAction *remove = nullptr;
    QAction *copy = nullptr;
    QAction *paste = nullptr;
    QAction *nextProblemAction = nullptr;
    QAction *undoAction = nullptr;
    QAction *redoAction = nullptr;
    bool editable = true;
    bool fitting = false;
};

#endif // PLANEDITOR_H

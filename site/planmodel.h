#ifndef PLANMODEL_H
#define PLANMODEL_H

#include "engine/commission/commissionplan.h"
#include "engine/console/portlistmodel.h"
#include "protocol/parameters.h"
#include "site/rowstage.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QStringList>

#include <utility>

class QUndoStack;

// The site's plan as a table: the ten columns of a commissioning plan
// (port, the eight parameters and bus_ids, as the plan file names them),
// then the row's state in a run, the module's MAC address, whether it
// answers on the network, whether the devices of its bus answer, and the
// result. After every change each row is checked by the plan's own rules
// (commissionplan::RowRules, base values included), as ordan-cli checks a
// plan file; each problem marks its cell or row. Every edit of the plan's
// cells can be undone (undoStack()).
class PlanModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        PortColumn,
        IpColumn,
        MaskColumn,
        GatewayColumn,
        TcpPortColumn,
        ParityColumn,
        SpeedColumn,
        StopBitsColumn,
        PacketTimeoutColumn,
        BusIdsColumn,
        StateColumn,
        MacColumn,
        NetworkColumn,
        BusColumn,
        ResultColumn,
        ColumnCount
    };
    static constexpr int planColumnCount = StateColumn;
    // The reasons a cell (or, on the vertical header, a row) is wrong, one a
    // line; empty when it is right.
    static constexpr int ProblemRole = Qt::UserRole + 1;
    // The row's RowStage, as an int.
    static constexpr int StageRole = Qt::UserRole + 2;

    explicit PlanModel(QObject *parent = nullptr);
    ~PlanModel() override;

    // "port", "ip", ... "packet_timeout", "bus_ids": the column names of a
    // plan file.
    static QString columnKey(int column);
    // The parameter of a parameter's column (IpColumn to
    // PacketTimeoutColumn), and the column of a parameter (-1 for one the
    // plan has no column for).
    static ModuleField columnField(int column);
    static int columnOf(ModuleField field);
    // The row number the plan file (and ordan-cli) gives a table row: the
    // header is row 1.
    static int fileRow(int tableRow) { return tableRow + 2; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    // While a run goes on the plan stays as it is.
    void setLocked(bool on);
    bool isLocked() const { return locked; }

    QStringList planCells(int row) const;
    // Replaces the whole plan; states of an earlier run and the undo
    // history go.
    void setPlanRows(const QList<QStringList> &rows);
    // Puts a block of cells into the plan from `row`, `column` on, rows
    // added at the end as needed; cells right of the plan's columns are
    // left out. The number of cells set.
    int putCells(int row, int column, const QList<QStringList> &cells);
    // Copies of the rows, each group inserted below the last of them.
    void duplicateRows(const QList<int> &rows);
    // Removes the rows (any order), leaving one empty row when none is left:
    // one step to undo.
    void removeRowList(const QList<int> &rows);
    // The edits of the plan's cells and rows, to undo and redo.
    QUndoStack *undoStack() const { return undo; }

    // The plan file of the table (commissionplan::writeTable): ordan-cli
    // reads it as the table shows it.
    QByteArray toCsv() const;

    // Values for the empty cells (a settings file, as --from gives them).
    void setBaseValues(const parameters::Values &values);
    parameters::Values baseValues() const { return base; }
    // The ports detected on the computer, for the port cells' tool tips.
    void setPortList(const PortListModel *ports) { portList = ports; }
    const PortListModel *ports() const { return portList; }

    // The plan as last checked, and its problems.
    const commissionplan::Plan &checkedPlan() const { return plan; }
    // The table row of each row of checkedPlan().rows.
    const QList<int> &checkedTableRows() const { return planTableRows; }
    // The problems as ordan-cli counts them: an address planned twice is
    // one problem, though it marks both rows.
    int problemCount() const { return int(plan.problems.size()); }
    // Problems of no table cell: the base values, a plan without rows.
    QStringList generalProblems() const { return general; }
    // The problems as ordan-cli reports them ("row 3, column ip: ...").
    QStringList problemLines() const;
    // The marks the table shows: each wrong cell and row once (an address
    // planned twice marks both rows), and each problem of no cell.
    int markCount() const;

    // States of a run. A row verified (matched, done already) whose cells
    // then change is "changed since verified": its mark and what the run
    // found are not shown while its cells differ from those it proved.
    void clearRun();
    // The states of one row only (a row run again).
    void clearRun(int row);
    RowProgress progress(int row) const;
    void setProgress(int row, const RowProgress &progress);
    void setMac(int row, const QString &mac);
    void setResult(int row, const QString &result);
    // Whether the row's module answers at its address and TCP port: the
    // outcome's words, and whether it counts as good; empty to clear.
    void setNetwork(int row, const QString &text, bool good);
    // Whether the devices of the row's bus_ids answer through its module:
    // the check's words, and whether it counts as good; empty to clear.
    void setBus(int row, const QString &text, bool good);
    // Cells whose module holds another value than planned: column -> the
    // value read (empty when missing).
    void setDifferences(int row, const QHash<int, QString> &read);
    // Whether any row shows what a run came to.
    bool hasRunStates() const;
    // The text the state cell shows for a row.
    QString stateText(int row) const;
    // "Connect the next module to PORT" (or "the module", for the first
    // one), the port named by portLabel(), on a line of its own when
    // `twoLines`; or the row's note while its port waits.
    QString nextModulePrompt(int row, bool twoLines = false) const;
    // The port of a row, as the run opens it.
    QString port(int row) const { return cell(row, PortColumn).trimmed(); }
    // The part of a row's port that tells it from the plan's other ports
    // (the adapter's serial number in a by-id name, the socket in a by-path
    // one), whole words kept; the file name when the plan has one port.
    QString portLabel(int row) const;
    // Where that part stands in the port's name, [first, second): a narrow
    // cell keeps it whole.
    std::pair<int, int> portLabelSpan(int row) const;

signals:
    // The plan's cells changed (not the states of a run).
    void planEdited();
    // The plan was checked again.
    void problemsChanged();

private:
    class CellEdit;
    class RowsEdit;
    struct Row {
        QStringList cells;
        RowProgress progress;
        QString mac;
        QString result;
        QHash<int, QString> differences; // column -> the value read
        QString network;
        bool networkGood = false;
        QString bus;
        bool busGood = false;
        QStringList proven; // the cells a run proved (verified, matched)
        // The cells differ from those the run proved.
        bool changedSinceProven() const { return !proven.isEmpty() && cells != proven; }
    };
    static Row emptyRow();
    void check();
    QString cell(int row, int column) const;
    QString baseValue(int column) const;
    void emitRowStateChanged(int row);
    // The cell set as an edit of its own, or as an undo or redo.
    void putCell(int row, int column, const QString &text);
    // The rows as they were before or after an edit of rows.
    void restoreRows(const QList<Row> &saved);
    // Records a finished edit of rows (made since `before` was taken).
    void pushRowsEdit(const QString &text, const QList<Row> &before);
    // The whole port name and the device it leads to (what the system
    // knows of a detected port).
    QString portToolTip(const QString &port) const;
    QStringList cellProblems(int row, int column) const;

    QList<Row> rows;
    bool locked = false;
    parameters::Values base;
    const PortListModel *portList = nullptr;
    QUndoStack *undo = nullptr;
    commissionplan::Plan plan;
    QList<int> planTableRows;
    QHash<QPair<int, int>, QStringList> problemsAt; // (table row, column) -> reasons
    QHash<int, QStringList> rowProblems;            // table row -> reasons of the whole row
    QStringList general;
};

#endif // PLANMODEL_H

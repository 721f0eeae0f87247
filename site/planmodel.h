#ifndef PLANMODEL_H
#define PLANMODEL_H

#include "site/plancolumns.h"

#include <QAbstractTableModel>

#include <utility>

class PlanRows;
class PortListModel;
class RunStates;

// The site's plan as the table shows it (PlanColumns): the plan's rows
// (PlanRows) with what a run found of each (RunStates) beside them. Each
// problem of the plan's check marks its cell or row; a cell that differs
// from what the module holds, a cell left to a base value, a row whose
// port waits for its next module, each has its look; a row's state is
// said in its state column. The plan's cells are edited here as in
// PlanRows.
class PlanModel : public QAbstractTableModel, public PlanColumns
{
    Q_OBJECT

public:
    // The reasons a cell (or, on the vertical header, a row) is wrong, one a
    // line; empty when it is right.
    static constexpr int ProblemRole = Qt::UserRole + 1;
    // The row's RowStage, as an int.
    static constexpr int StageRole = Qt::UserRole + 2;

    explicit PlanModel(QObject *parent = nullptr);
    ~PlanModel() override;

    PlanRows *plan() const { return rows; }
    RunStates *states() const { return found; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    // The ports detected on the computer, for the port cells' tool tips.
    void setPortList(const PortListModel *ports) { portList = ports; }
    const PortListModel *ports() const { return portList; }

    // The text the state cell shows for a row: what the row came to in the
    // engine's words (RowWording::shortLine), or where it stands in a run.
    QString stateText(int row) const;
    // "Connect the next module to PORT" (or "the module", for the first
    // one), the port named by portLabel(), on a line of its own when
    // `twoLines`; or the row's note while its port waits.
    QString nextModulePrompt(int row, bool twoLines = false) const;
    // The part of a row's port that tells it from the plan's other ports
    // (the adapter's serial number in a by-id name, the socket in a by-path
    // one), whole words kept; the file name when the plan has one port.
    QString portLabel(int row) const;
    // Where that part stands in the port's name, [first, second): a narrow
    // cell keeps it whole.
    std::pair<int, int> portLabelSpan(int row) const;

private:
    // The whole port name and the device it leads to (what the system
    // knows of a detected port).
    QString portToolTip(const QString &port) const;
    QVariant planCell(const QModelIndex &index, int role) const;
    QVariant runCell(const QModelIndex &index, int role) const;

    PlanRows *rows;
    RunStates *found;
    const PortListModel *portList = nullptr;
};

#endif // PLANMODEL_H

#ifndef CHECKEDPLAN_H
#define CHECKEDPLAN_H

#include "engine/commission/commissionplan.h"
#include "protocol/parameters.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>

// The plan's rows as checked by the plan's own rules
// (commissionplan::RowRules, base values included), as ordan-cli checks a
// plan file: the plan a run takes, and each problem keyed by the cell (or
// row) it marks. Blank rows are left out, as the empty lines of a plan
// file are.
class CheckedPlan
{
    Q_DECLARE_TR_FUNCTIONS(CheckedPlan)

public:
    // `rows`: each in PlanColumns order, PlanColumns::planColumnCount cells.
    explicit CheckedPlan(const QList<QStringList> &rows = QList<QStringList>(),
                         const parameters::Values &base = parameters::Values());

    // The plan, and the table row of each of its rows.
    const commissionplan::Plan &plan() const { return checked; }
    const QList<int> &tableRows() const { return planTableRows; }
    // The problems as ordan-cli counts them: an address planned twice is
    // one problem, though it marks both rows.
    int problemCount() const { return int(checked.problems.size()); }
    // The problems as ordan-cli reports them ("row 3, column ip: ...").
    QStringList problemLines() const;
    // Problems of no table cell: the base values, a plan without rows.
    QStringList generalProblems() const { return general; }
    // The reasons a cell, or a whole row, is wrong; empty when it is right.
    QStringList cellProblems(int row, int column) const { return problemsAt.value({row, column}); }
    QStringList rowProblems(int row) const { return wholeRow.value(row); }

private:
    commissionplan::Plan checked;
    QList<int> planTableRows;
    QHash<QPair<int, int>, QStringList> problemsAt; // (table row, column) -> reasons
    QHash<int, QStringList> wholeRow;               // table row -> reasons of the whole row
    QStringList general;
};

#endif // CHECKEDPLAN_H

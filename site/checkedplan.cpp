#include "site/checkedplan.h"

#include "site/plancolumns.h"

#include <QMap>

CheckedPlan::CheckedPlan(const QList<QStringList> &rows, const parameters::Values &base)
{
    using Subject = commissionplan::Problem::Subject;
    checked.problems = commissionplan::checkBase(base);
    for (const commissionplan::Problem &p : qAsConst(checked.problems))
        general << tr("%1 of the base values: %2").arg(p.column, p.message);

    commissionplan::RowRules rules(base);
    QHash<int, int> tableRowOf;        // the row's number in the plan file -> its table row
    QMap<int, QStringList> repeatedIn; // table row -> the rows that plan its address again
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList &line = rows.at(r);
        commissionplan::RowCells cells;
        cells.port = line.value(PlanColumns::PortColumn);
        for (int c = PlanColumns::IpColumn; c < PlanColumns::BusIdsColumn; ++c)
            cells.values.append({PlanColumns::columnField(c), line.value(c)});
        cells.busIds = line.value(PlanColumns::BusIdsColumn);
        if (cells.blank())
            continue; // as an empty line of a plan file
        const int first = checked.problems.size();
        checked.rows << rules.check(PlanColumns::fileRow(r), cells, &checked.problems);
        planTableRows << r;
        tableRowOf.insert(PlanColumns::fileRow(r), r);
        for (int i = first; i < checked.problems.size(); ++i) {
            const commissionplan::Problem &p = checked.problems.at(i);
            if (p.subject == Subject::Port)
                problemsAt[{r, PlanColumns::PortColumn}] << p.message;
            else if (p.subject == Subject::BusIds)
                problemsAt[{r, PlanColumns::BusIdsColumn}] << p.message;
            else if (p.subject == Subject::Value && PlanColumns::columnOf(p.field) >= 0)
                problemsAt[{r, PlanColumns::columnOf(p.field)}] << p.message;
            else
                wholeRow[r] << p.message;
            if (p.firstRow > 0)
                repeatedIn[tableRowOf.value(p.firstRow)] << QString::number(p.row);
        }
    }
    // An address planned twice is reported on its later rows; the first
    // row that has it is marked too.
    for (auto it = repeatedIn.cbegin(); it != repeatedIn.cend(); ++it)
        problemsAt[{it.key(), PlanColumns::IpColumn}]
            << tr("%1 is planned again in row %2")
                   .arg(rows.at(it.key()).value(PlanColumns::IpColumn).trimmed(),
                        it.value().join(QLatin1String(", ")));
    const int before = checked.problems.size();
    commissionplan::checkNotEmpty(&checked);
    for (int i = before; i < checked.problems.size(); ++i)
        general << checked.problems.at(i).message;
}

QStringList CheckedPlan::problemLines() const
{
    QStringList lines;
    for (const commissionplan::Problem &p : checked.problems) {
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

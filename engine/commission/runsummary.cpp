#include "engine/commission/runsummary.h"

#include "engine/commission/commissionrun.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/rowwording.h"
#include "engine/platform/textsafety.h"

#include <QCoreApplication>
#include <QMap>

#include <vector>

namespace runsummary
{

namespace
{
// English in ordan-cli (it loads no translation), the window's language in
// a window's table: never the two mixed.
struct SummaryText {
    Q_DECLARE_TR_FUNCTIONS(runsummary)
};
} // namespace

QStringList table(const CommissionRun &run)
{
    std::vector<RowOutcome> outcomes;
    // A column for the record when one is kept: which rows it took.
    bool keepsRecord = false;
    for (int i = 0; i < run.rowCount(); ++i) {
        outcomes.push_back(run.outcome(i));
        keepsRecord = keepsRecord || outcomes.back().record();
    }
    QList<QStringList> cells{{SummaryText::tr("row"), SummaryText::tr("port"),
                              SummaryText::tr("module"), SummaryText::tr("MAC"),
                              SummaryText::tr("ip"), SummaryText::tr("result")}};
    if (keepsRecord)
        cells.first().insert(5, SummaryText::tr("recorded"));
    QMap<QString, int> counts;
    for (int i = 0; i < run.rowCount(); ++i) {
        const commissionplan::Row &row = run.row(i);
        const RowOutcome &outcome = outcomes.at(size_t(i));
        const parameters::Values &id = outcome.result().identity;
        ++counts[RowWording::statusWord(outcome)];
        cells << QStringList{QString::number(row.row),          row.port,
                             id.value(ModuleField::Name),       id.value(ModuleField::Mac),
                             row.values.value(ModuleField::Ip), RowWording::line(outcome)};
        if (keepsRecord)
            cells.last().insert(5, outcome.status == RowOutcome::Status::NotReached ||
                                           outcome.status == RowOutcome::Status::AlreadyDone
                                       ? QStringLiteral("-")
                                   : outcome.record() && outcome.record()->kept
                                       ? SummaryText::tr("yes")
                                       : SummaryText::tr("NO"));
    }
    QStringList counted;
    for (const QString &state : RowWording::statusWords(run.isAudit()))
        counted
            << QStringLiteral("%1 %2").arg(counts.value(state)).arg(RowWording::statusText(state));
    // Rows the register knows done by another run, when there are any.
    const QString doneAlready = QStringLiteral("done already");
    if (const int done = counts.value(doneAlready))
        counted << QStringLiteral("%1 %2").arg(done).arg(RowWording::statusText(doneAlready));
    return textsafety::columns(cells, 0) + QStringList{counted.join(QLatin1String(", "))};
}

} // namespace runsummary

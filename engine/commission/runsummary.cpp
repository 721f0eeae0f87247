#include "engine/commission/runsummary.h"

#include "engine/jobs/rowoutcome.h"
#include "engine/platform/textsafety.h"
#include "engine/commission/commissionrun.h"

#include <QMap>

namespace runsummary
{

QStringList table(const CommissionRun &run)
{
    QList<RowOutcome> outcomes;
    // A column for the record when one is kept: which rows it took.
    bool keepsRecord = false;
    for (int i = 0; i < run.rowCount(); ++i) {
        outcomes << run.outcome(i);
        keepsRecord = keepsRecord || outcomes.last().keepsRecord;
    }
    QList<QStringList> cells{{QStringLiteral("row"), QStringLiteral("port"),
                              QStringLiteral("module"), QStringLiteral("MAC"), QStringLiteral("ip"),
                              QStringLiteral("result")}};
    if (keepsRecord)
        cells.first().insert(5, QStringLiteral("recorded"));
    QMap<QString, int> counts;
    for (int i = 0; i < run.rowCount(); ++i) {
        const commissionplan::Row &row = run.row(i);
        const RowOutcome &outcome = outcomes.at(i);
        const parameters::Values &id = outcome.identity;
        ++counts[outcome.statusWord()];
        cells << QStringList{QString::number(row.row),          row.port,
                             id.value(ModuleField::Name),       id.value(ModuleField::Mac),
                             row.values.value(ModuleField::Ip), outcome.line()};
        if (keepsRecord)
            cells.last().insert(5, outcome.status == RowOutcome::Status::NotReached ||
                                           outcome.status == RowOutcome::Status::AlreadyDone
                                       ? QStringLiteral("-")
                                   : outcome.recorded ? QStringLiteral("yes")
                                                      : QStringLiteral("NO"));
    }
    QStringList counted;
    for (const QString &state : RowOutcome::statusWords(run.isAudit()))
        counted << QStringLiteral("%1 %2").arg(counts.value(state)).arg(state);
    // Rows the register knows done by another run, when there are any.
    if (const int done = counts.value(QStringLiteral("done already")))
        counted << QStringLiteral("%1 done already").arg(done);
    return textsafety::columns(cells, 0) + QStringList{counted.join(QLatin1String(", "))};
}

} // namespace runsummary

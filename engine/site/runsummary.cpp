#include "engine/site/runsummary.h"

#include "engine/jobs/rowoutcome.h"
#include "engine/platform/textsafety.h"
#include "engine/site/commissionrun.h"

#include <QMap>

namespace runsummary
{

QStringList table(const CommissionRun &run)
{
    // A column for the record when one is kept: which rows it took.
    bool keepsRecord = false;
    for (int i = 0; i < run.rowCount(); ++i)
        keepsRecord = keepsRecord || (run.job(i) && run.job(i)->keepsRecord());
    QList<QStringList> cells{{QStringLiteral("row"), QStringLiteral("port"),
                              QStringLiteral("module"), QStringLiteral("MAC"), QStringLiteral("ip"),
                              QStringLiteral("result")}};
    if (keepsRecord)
        cells.first().insert(5, QStringLiteral("recorded"));
    QMap<QString, int> counts;
    for (int i = 0; i < run.rowCount(); ++i) {
        const commissionplan::Row &row = run.row(i);
        const WriteJob *job = run.job(i);
        const parameters::Values id = job ? job->identity() : parameters::Values();
        const RowOutcome outcome = run.outcome(i);
        ++counts[outcome.statusWord()];
        cells << QStringList{QString::number(row.row),          row.port,
                             id.value(ModuleField::Name),       id.value(ModuleField::Mac),
                             row.values.value(ModuleField::Ip), outcome.line()};
        if (keepsRecord)
            cells.last().insert(5, !job               ? QStringLiteral("-")
                                   : outcome.recorded ? QStringLiteral("yes")
                                                      : QStringLiteral("NO"));
    }
    QStringList counted;
    for (const QString &state : RowOutcome::statusWords(run.isAudit()))
        counted << QStringLiteral("%1 %2").arg(counts.value(state)).arg(state);
    return textsafety::columns(cells, 0) + QStringList{counted.join(QLatin1String(", "))};
}

} // namespace runsummary

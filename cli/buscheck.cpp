// --bus and --bus-ids of write, commission and audit: their arguments and
// what the JSON says of the bus check. The check itself is the engine's
// (BusScan, judged by BusReport).
#include "cli/buscheck.h"

#include "cli/run.h"
#include "engine/bus/busreport.h"
#include "engine/commission/commissionrun.h"
#include "engine/jobs/rowoutcome.h"

#include <QJsonArray>

bool busOptions(Run &run, bool write, QString *problem)
{
    const QCommandLineParser &p = run.parser;
    run.settings.checkBus = p.isSet(QStringLiteral("bus"));
    if (p.isSet(QStringLiteral("bus-ids"))) {
        if (!run.settings.checkBus) {
            *problem = QStringLiteral("--bus-ids goes with --bus");
            return false;
        }
        QList<int> units;
        QString why;
        if (!unitlist::parse(p.value(QStringLiteral("bus-ids")), &units, &why)) {
            *problem = QStringLiteral("--bus-ids: ") + why;
            return false;
        }
    } else if (run.settings.checkBus && write) {
        *problem = QStringLiteral("write --bus asks the devices of --bus-ids LIST (as 1,2,5 or "
                                  "1-4): give them");
        return false;
    }
    return true;
}

QList<int> busIdsOption(const Run &run)
{
    QList<int> units;
    QString why;
    if (run.parser.isSet(QStringLiteral("bus-ids")))
        unitlist::parse(run.parser.value(QStringLiteral("bus-ids")), &units, &why);
    return units;
}

QJsonObject withBus(QJsonObject object, const RowOutcome &outcome)
{
    QJsonValue bus;
    if (outcome.result().busChecked) {
        const BusReport &r = outcome.result().bus;
        // The share of good replies among the requests to the devices
        // that answered (a wrong CRC is asked again); none when none did.
        bus = QJsonObject{{QStringLiteral("target"), r.target},
                          {QStringLiteral("expected"), unitlist::json(outcome.result().busUnits)},
                          {QStringLiteral("answered"), unitlist::json(r.answered())},
                          {QStringLiteral("missing"), unitlist::json(r.missing())},
                          {QStringLiteral("quality"),
                           r.askedOfPresent() > 0 ? QJsonValue(r.qualityPercent()) : QJsonValue()},
                          {QStringLiteral("result"), r.verdictWord()},
                          {QStringLiteral("summary"), r.summary()}};
    }
    object.insert(QStringLiteral("bus"), bus);
    return object;
}

QJsonObject withBus(QJsonObject object, const CommissionRun &run)
{
    QJsonArray rows = object.value(QStringLiteral("rows")).toArray();
    for (int i = 0; i < rows.size() && i < run.rowCount(); ++i)
        rows[i] = withBus(rows.at(i).toObject(), run.outcome(i));
    object.insert(QStringLiteral("rows"), rows);
    return object;
}

#ifndef CLI_BUSCHECK_H
#define CLI_BUSCHECK_H

#include <QJsonObject>
#include <QList>
#include <QString>

struct Run;
class CommissionRun;
class RowOutcome;

// --bus and --bus-ids of write, commission and audit into the run's job
// settings; false with the problem when they do not fit together (write
// --bus needs --bus-ids, --bus-ids goes with --bus).
bool busOptions(Run &run, bool write, QString *problem);
// The devices of --bus-ids (none when not given).
QList<int> busIdsOption(const Run &run);

// A write's JSON with its bus check ("bus": answered, missing, quality and
// the outcome; null when none was made); a commissioning run's, row by
// row.
QJsonObject withBus(QJsonObject object, const RowOutcome &outcome);
QJsonObject withBus(QJsonObject object, const CommissionRun &run);

#endif // CLI_BUSCHECK_H

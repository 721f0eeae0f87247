#ifndef CLI_REACH_H
#define CLI_REACH_H

#include <QJsonObject>

struct Run;
class CommissionRun;
class RowOutcome;

// ordan-cli reach TARGET...: connects to each module's address and TCP
// port (IP:PORT, or the rows of a plan), sends nothing, closes, and says
// for each whether it is reachable, refused, does not answer or is
// unreachable. Returns the exit code.
int commandReach(Run &run);

// --reach and --reach-timeout of write and commission into the run's job
// settings; false with the problem when they do not fit together.
bool reachOptions(Run &run, QString *problem);

// A write's JSON with its reach check ("reach": where, the word, the
// milliseconds; null when none was made); a commissioning run's, row by row.
QJsonObject withReach(QJsonObject object, const RowOutcome &outcome);
QJsonObject withReach(QJsonObject object, const CommissionRun &run);

#endif // CLI_REACH_H

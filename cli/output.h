#ifndef CLI_OUTPUT_H
#define CLI_OUTPUT_H

#include "engine/commission/commissionplan.h"
#include "engine/jobs/rowoutcome.h"

class CommissionRun;

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// What ordan-cli prints. Every text from a module, a file or the system
// reaches the terminal through textsafety; JSON goes through QJsonDocument,
// which escapes what JSON needs and keeps the values exact.
namespace cliout
{

// Lines on stdout or stderr; control characters in them (line breaks
// included) are escaped, the line ends are the program's own.
void out(const QStringList &lines);
void err(const QStringList &lines);
// CSV lines on stdout whose cells textsafety made (csvDataCell): written as
// they are, escaped once.
void csv(const QStringList &lines);
// "ordan-cli: PORT: message" on stderr.
void error(const QString &port, const QString &message);
// Progress on stderr, only when stderr is a terminal.
bool progressWanted();
void progress(const QString &text);
// One JSON document on stdout.
void json(const QJsonValue &value);

// The read-out of one port.
QJsonObject readJson(const QString &port, const ModuleReading &reading, const QString &error);
QStringList readTable(const QString &port, const ModuleReading &reading);

// A write: what was sent, what was read back, and the outcome.
QJsonObject writeJson(const RowOutcome &outcome);
QStringList writeTable(const RowOutcome &outcome);

// What each row of a plan would send (commission --dry-run).
QJsonArray planJson(const QList<commissionplan::Row> &rows);
QStringList planTable(const QList<commissionplan::Row> &rows);
// An audited module: what was read and what differs from the plan.
QJsonObject auditJson(const RowOutcome &outcome);
// The outcome of a commissioning run (or an audit), row by row, and the
// counts.
QJsonObject commissionJson(const CommissionRun &run);
QStringList commissionTable(const CommissionRun &run);

// A duration in seconds with one decimal: "1.5 s".
QString seconds(qint64 ms);

// "a  b" columns padded to the widest cell of each column.
QStringList table(const QList<QStringList> &rows, int indent = 2);

} // namespace cliout

#endif // CLI_OUTPUT_H

#ifndef RUNSUMMARY_H
#define RUNSUMMARY_H

#include <QStringList>

class CommissionRun;

// What a commissioning run (or an audit) came to, as a table for a
// terminal: a line per row (row, port, module, MAC, ip, whether the record
// took it when one is kept, the outcome's line), then the counts. ordan-cli
// prints it after a run, ordan-site --quit-when-done too.
namespace runsummary
{
QStringList table(const CommissionRun &run);
} // namespace runsummary

#endif // RUNSUMMARY_H

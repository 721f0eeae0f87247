#ifndef COMMISSIONPLAN_H
#define COMMISSIONPLAN_H

#include "protocol/parameters.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A site's commissioning plan: a CSV file (RFC 4180, UTF-8, optional BOM,
// "," or ";" as separator, told from the header line) with one row per
// module. The header names the columns: "port" is required, the others are
// the parameter names of a write ("ip", "mask", "gateway", "tcp_port",
// "parity", "speed", "stop_bits", "packet_timeout"). An empty cell takes the
// base value (from a settings file) when there is one; otherwise that
// parameter is not written to that module. Widget-free.
namespace commissionplan
{

// One module of the plan. `row` is the row number a spreadsheet shows (the
// header is row 1).
struct Row {
    int row = 0;
    QString port;
    parameters::Values values; // the values to write, base values included
};

// Something wrong with the plan. `row` 0 means the base values, an empty
// `column` the whole row.
struct Problem {
    int row = 0;
    QString column;
    QString message;
    // An address planned twice: the earlier row that has it.
    int firstRow = 0;
};

struct Plan {
    QList<Row> rows;
    QList<Problem> problems; // none: the plan may be run
};

// A plan file larger than this is not a plan.
inline constexpr qint64 maxPlanBytes = 1024 * 1024;

// The bytes of the plan file at `path`: false, with the reason, when it is
// not a regular file, cannot be read, or is larger than maxPlanBytes.
bool readFile(const QString &path, QByteArray *bytes, QString *error);

// Reads and checks a plan: unknown or repeated columns, a missing port,
// values that break their rule, an IP address planned twice (compared as
// numbers), a row whose values make an unsound configuration (an address
// that is its subnet's network or broadcast address, the module's address
// as its gateway, a gateway outside its subnet unless allowed), rows with
// nothing to write. Every problem is reported, not only the first.
Plan parse(const QByteArray &bytes, const parameters::Values &base = parameters::Values(),
           bool allowForeignGateway = false);

// The plan's columns in the order this program writes them: "port", then
// the parameters in the order they are written to a module.
QStringList columns();

// A plan file's cells for a table: each row in columns() order, whatever
// the file's own column order, separator or byte-order mark. What does not
// fit those columns (a column of another name, a second column of one name,
// a cell outside the named columns) is listed in leftOut, not lost
// silently; trailing empty rows are dropped. `error` (nothing read) for a
// file that is not UTF-8 or not CSV.
struct Table {
    QList<QStringList> rows;
    QStringList leftOut;
    QString error;
};
Table readTable(const QByteArray &bytes);
// The plan file of such cells: a header naming columns(), "," between the
// cells (quoted where they need it), CRLF line ends, trailing empty rows
// left out. parse() reads it as the cells stand.
QByteArray writeTable(const QList<QStringList> &rows);

// The records of a CSV text (RFC 4180: quoted cells may hold separators,
// quotes doubled, line breaks); `separator` is "," or ";". On a malformed
// text, *error names the record (1-based) and what is wrong.
QList<QStringList> splitCsv(const QString &text, QChar separator, QString *error);

// "," or ";", whichever the header line (the text up to its first line break
// outside quotes) holds more of; "," when neither.
QChar detectSeparator(const QString &text);

} // namespace commissionplan

#endif // COMMISSIONPLAN_H

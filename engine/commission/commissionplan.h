#ifndef COMMISSIONPLAN_H
#define COMMISSIONPLAN_H

#include "protocol/parameters.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

struct WriteResult;

// A site's commissioning plan: a CSV file (RFC 4180, UTF-8, optional BOM,
// "," or ";" as separator, told from the header line) with one row per
// module. The header names the columns: "port" is required, the others are
// the parameter names of a write ("ip", "mask", "gateway", "tcp_port",
// "parity", "speed", "stop_bits", "packet_timeout"). An empty cell takes the
// base value (from a settings file) when there is one; otherwise that
// parameter is not written to that module. "bus_ids" names the Modbus unit
// addresses ("1,2,5", "1-4") of the devices that must answer on the bus
// behind the module, when a run checks the bus. Widget-free.
namespace commissionplan
{

// One module of the plan. `row` is the row number a spreadsheet shows (the
// header is row 1).
struct Row {
    int row = 0;
    QString port;
    parameters::Values values; // the values to write, base values included
    QList<int> busIds;         // the devices that must answer on its bus, in order
};

// What a row means to a job that writes (or audits) it, before anything is
// done: its port, its number, its values and its bus.
WriteResult meaning(const Row &row, bool audit);

// Something wrong with the plan. `row` 0 means the base values, an empty
// `column` the whole row. `subject` and `field` say which cell, for a table
// that marks it; `column` is the name ordan-cli reports.
struct Problem {
    enum class Subject {
        Plan,   // the file, its header or the base values
        Row,    // a row as a whole
        Port,   // a row's port
        Value,  // a row's value of `field`
        BusIds, // a row's bus_ids
    };
    int row = 0;
    QString column;
    QString message;
    // An address planned twice: the earlier row that has it.
    int firstRow = 0;
    Subject subject = Subject::Plan;
    ModuleField field = ModuleField::Ip;
};

struct Plan {
    QList<Row> rows;
    QList<Problem> problems; // none: the plan may be run
};

// A row as typed: its port and its parameters' cells, in the order of
// their columns, untrimmed; a blank cell takes the base value.
struct RowCells {
    QString port;
    QList<QPair<ModuleField, QString>> values;
    QString busIds;
    bool blank() const;
};

// The rules of a plan's rows, called on one row after another as the plan
// holds them: the plan file's reader and the site window's table both check
// with it. A row's port is given; each value keeps its rule; there is
// something to write; bus_ids are unit addresses; an IP address is not
// planned in an earlier row (compared as numbers); the values make a sound
// configuration (not the subnet's network or broadcast address, not the
// module's address as its gateway, a gateway inside its subnet unless
// allowed).
class RowRules
{
public:
    explicit RowRules(const parameters::Values &base = parameters::Values(),
                      bool allowForeignGateway = false);
    // Whether the plan has a port column: without one, a missing port is
    // the header's problem, not each row's.
    void setPortColumn(bool present) { hasPortColumn = present; }

    // Checks the row numbered `number` (its row in the plan file: the header
    // is row 1) and appends its problems; the row to run, base values
    // included.
    Row check(int number, const RowCells &cells, QList<Problem> *problems);

private:
    parameters::Values base;
    bool allowForeignGateway = false;
    bool hasPortColumn = true;
    QHash<quint32, int> addressRow; // planned address -> the first row that has it
};

// The base values' own problems: each must keep its rule.
QList<Problem> checkBase(const parameters::Values &base);
// A plan whose rows are all blank: "the plan has no rows", unless it has
// problems already.
void checkNotEmpty(Plan *plan);

// A plan file larger than this is not a plan.
inline constexpr qint64 maxPlanBytes = qint64(1024) * 1024;

// The bytes of the plan file at `path`: false, with the reason, when it is
// not a regular file, cannot be read, or is larger than maxPlanBytes.
bool readFile(const QString &path, QByteArray *bytes, QString *error);

// Reads and checks a plan: unknown or repeated columns, a row with more
// cells than the header names, then each row by RowRules. Every problem is
// reported, not only the first.
Plan parse(const QByteArray &bytes, const parameters::Values &base = parameters::Values(),
           bool allowForeignGateway = false);

// A plan's identity, the same on every station that holds the plan: the
// SHA-256 of its rows as the rules read them (each row's number, its port,
// its values by column name, trimmed, and its bus_ids), so that line ends,
// a byte-order mark, the separator, quoting and the order of the columns
// do not change it. "rows:" and 64 hex digits; the site register knows a
// plan by it. Base values (--from) are not the plan's: they are left out.
// Empty for bytes that hold no row.
QString identity(const QByteArray &bytes);
QString identity(const QList<Row> &rows);

// The plan's columns in the order this program writes them: "port", then
// the parameters in the order they are written to a module, then
// "bus_ids".
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
// Whether the bytes are a commissioning record (its header begins with the
// record's own "time,port" and names "result"), not a plan: a record is
// never read as a plan, nor written over by one.
bool isRecord(const QByteArray &bytes);
// Whether the bytes are a plan file, nothing less and nothing more: UTF-8
// CSV whose header names the port and plan columns only, once each, and no
// cell outside them; an empty file too. Whatever else stands in a file is
// not replaced by a plan without asking.
bool isPlan(const QByteArray &bytes);
// Whether the bytes are a plan to the eye, if not one ordan-cli would take
// whole: CSV whose header names the port column, and no record.
bool looksLikePlan(const QByteArray &bytes);
// A record's rows as the cells of a new plan: its port and parameter
// columns, the planned values (its "planned" column, key=value pairs
// joined by ";") taking the place of the values read where a row has them;
// a row repeated is taken once. The record's own columns (time, MAC,
// result...) are not a plan's and are not listed as left out.
Table planFromRecord(const QByteArray &bytes);
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

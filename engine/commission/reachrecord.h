#ifndef REACHRECORD_H
#define REACHRECORD_H

#include <QList>
#include <QString>

namespace commissionrecord
{
struct Kind;
}

// The record of a reach check (ordan-cli reach --record): a CSV file
// (RFC 4180, UTF-8) with one row per target, appended to, the header first
// when the file is new. The address and port come from a plan or the
// command line and go in through textsafety::csvCell, as the commissioning
// record's cells from a module or a file do; the rest is the program's own.
namespace reachrecord
{

struct Row {
    QString time; // ISO 8601 with offset; now when empty
    int row = 0;  // the plan's row (a spreadsheet's number); 0: none
    QString ip;
    QString tcpPort;
    QString result; // "reachable", "refused", "no answer", "unreachable"
    int ms = -1;    // to connect, when reachable
};

// "time,row,ip,tcp_port,result,milliseconds"
QString header();
// The kind of record it is, for the commissioning record's appending.
commissionrecord::Kind kind();
// One row (without line end).
QString line(const Row &row);
// Appends the rows, with the header first when the file is new or empty,
// and syncs them to the disk.
bool append(const QString &path, const QList<Row> &rows, QString *error);

} // namespace reachrecord

#endif // REACHRECORD_H

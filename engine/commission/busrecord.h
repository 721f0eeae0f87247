#ifndef BUSRECORD_H
#define BUSRECORD_H

#include <QString>

namespace commissionrecord
{
struct Kind;
}

struct BusReport;

// The record of a bus check (ordan-cli bus --record): a CSV file (RFC 4180,
// UTF-8) with one row per check, appended to, the header first when the
// file is new. The module's MAC and the bus's settings are there when the
// check went through the module's console (--find-settings); the result is
// the check's one line ("3 devices answer: 1, 2, 5", "bus found at 19200
// 8E1 after 4 tries; 3 devices answer: 1, 2, 5").
namespace busrecord
{

struct Row {
    QString time; // ISO 8601 with offset; now when empty
    QString mac;
    QString settings; // "19200 8E1"
    QString result;
};

// "time,mac,ip,tcp_port,bus_settings,searched,answered,missing,quality,result"
QString header();
// The kind of record it is, for the commissioning record's appending.
commissionrecord::Kind kind();
// One row (without line end).
QString line(const BusReport &report, int searched, const Row &row);
// Appends the row, with the header first when the file is new or empty,
// and syncs it to the disk.
bool append(const QString &path, const BusReport &report, int searched, const Row &row,
            QString *error);

} // namespace busrecord

#endif // BUSRECORD_H

#ifndef COMMISSIONRECORD_H
#define COMMISSIONRECORD_H

#include "engine/jobs/writejob.h"
#include "protocol/parameters.h"

#include <QString>
#include <QStringList>

// The commissioning record: a CSV file (RFC 4180, UTF-8) with one row per
// module written, appended as each module is done and flushed to disk before
// anything else happens. Everything that comes from a module or a file goes
// in through textsafety::csvCell, so the record is safe to open in a
// spreadsheet: no cell from a module starts a formula, no control character
// is written raw.
namespace commissionrecord
{

struct Row {
    QString time; // ISO 8601 with offset; now when empty
    QString port;
    parameters::Values values; // name, version, MAC and the eight parameters
    QString result;            // "verified", "unverified" or the failure
};

// The header line (without line end).
QString header();
// One row (without line end).
QString line(const Row &row);

// Checks that the record can be appended to, before anything is sent (a
// file that is not there yet is made).
bool checkWritable(const QString &path, QString *error);
// The same judged without touching anything, as a path is typed: an
// existing file that can be written, or a new one in a folder that can be.
bool checkAppendable(const QString &path, QString *error);
// Appends the row, with the header first when the file is new or empty.
bool append(const QString &path, const Row &row, QString *error);
// Appends a finished write's row to the record at `path` (a WriteJob's
// recorder); none for an empty path.
WriteJob::Recorder recorder(const QString &path);
// Any record of this program (CSV, CRLF): appends the lines, with `header`
// first when the file is new or empty, flushed and synced to the disk
// before it counts; a device or a pipe takes the lines only.
bool appendLines(const QString &path, const QString &header, const QStringList &lines,
                 QString *error);

// Local time in ISO 8601 with milliseconds and the UTC offset.
QString timestamp();

} // namespace commissionrecord

#endif // COMMISSIONRECORD_H

#ifndef RECORDIMPORT_H
#define RECORDIMPORT_H

#include "engine/register/registerentries.h"

#include <QList>
#include <QString>
#include <QStringList>

// A commissioning record (engine/commission/commissionrecord) read back:
// its cells as they stand (the site window shows them), and its rows as the
// site register takes them, to backfill the register from records written
// before it, or on a station without it.
namespace recordimport
{

// A record larger than this is not read.
inline constexpr qint64 maxRecordBytes = qint64(512) * 1024 * 1024;

// The text of the record at `path`, its byte-order mark dropped: false,
// with the reason, for a path that is not a file, a file larger than
// maxRecordBytes, or one that is not UTF-8.
bool readText(const QString &path, QString *text, QString *error);
// Its CSV records as they stand, the header first (RFC 4180, "," or ";"
// between the cells): false, with the reason, for a text that is not CSV.
bool readCells(const QString &path, QList<QStringList> *records, QString *error);

// Reads the record at `path`. Its header names the columns: time, port,
// mac and result are needed; the parameters (name ... packet_timeout) are
// taken where present, and so are the plan's row ("row") and its planned
// values ("planned", key=value;...). Cells the record neutralised for a
// spreadsheet (a leading "'" before "=", "+", "-" or "@") are taken back.
// False with the reason (and the line) for a file that is not such a
// record: nothing of it is taken then.
bool read(const QString &path, QList<siteregister::RowEntry> *rows, QString *error);

} // namespace recordimport

#endif // RECORDIMPORT_H

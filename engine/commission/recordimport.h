#ifndef RECORDIMPORT_H
#define RECORDIMPORT_H

#include "engine/register/registerentries.h"

#include <QList>
#include <QString>

// The rows of a commissioning record (engine/commission/commissionrecord) as the
// site register takes them, to backfill the register from records written
// before it, or on a station without it.
namespace recordimport
{

// A record larger than this is not read.
inline constexpr qint64 maxRecordBytes = qint64(512) * 1024 * 1024;

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

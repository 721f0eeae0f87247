#ifndef RECORDPATH_H
#define RECORDPATH_H

#include "engine/commission/commissionrecord.h"

#include <QString>

// Where a record is to go, judged before anything is sent, for ordan-cli's
// --record and the site window's Record field alike. A record is only ever
// appended to, so a path holds only a record: a new file, an empty one, or
// a record of the same kind (this version's header or an earlier one's). A
// plan, another kind of record or any other file is refused with the
// reason ("site.csv is a plan, not a record") and left as it is.
namespace recordpath
{

// Judged without touching anything, as a path is typed: a new file in a
// folder that can be written, or an existing one that can be written and
// holds a record of `kind`.
bool checkAppendable(const QString &path, const commissionrecord::Kind &kind, QString *error);
// The same, and an existing file opened to append (which changes nothing
// in it): the system's own word that it can be. A run refused here leaves
// no file behind.
bool checkWritable(const QString &path, const commissionrecord::Kind &kind, QString *error);

} // namespace recordpath

#endif // RECORDPATH_H

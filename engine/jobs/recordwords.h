#ifndef RECORDWORDS_H
#define RECORDWORDS_H

#include "protocol/protocol.h"

#include <QString>

// The words a record keeps, as a reader sees them. A record (and the site
// register's rows, taken from it) holds its results in English whatever
// the language of the program that wrote them: RowOutcome::recordResult(),
// the bus check's outcome, the planned values as "key=value" pairs. Here
// they are put back into the reader's language, the parameters named as
// the window names them; in English they stay as they are. A text this
// program never wrote (an older record's, a person's) stays as it is.
namespace recordwords
{

// A row's result ("verified", "refused: ip after sending ip; no restart
// was sent", "verified on the console, reachable, bus: 5 does not answer
// (1, 2 answer)").
QString shown(const QString &result);
// Whether this program writes the result, every part of it: one it has
// words for.
bool isKnown(const QString &result);
// The bus column ("1, 2, 5 answer", "5 does not answer (1, 2 answer)").
QString shownBus(const QString &bus);
bool isKnownBus(const QString &bus);
// The planned column ("ip=10.0.0.1;tcp_port=502;bus_ids=1,2"): each
// parameter named, "; " between them.
QString shownPlanned(const QString &planned);
// A parameter's value: the module's own words for a parity ("none",
// "odd", "even") in the reader's language; any other value as it is.
QString shownValue(ModuleField field, const QString &value);
// A record's column ("time", "ip", "result", "planned"...) as a title.
QString columnTitle(const QString &key);

} // namespace recordwords

#endif // RECORDWORDS_H

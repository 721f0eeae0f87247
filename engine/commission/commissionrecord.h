#ifndef COMMISSIONRECORD_H
#define COMMISSIONRECORD_H

#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/writejob.h"
#include "protocol/parameters.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class WorkQueue;

// The commissioning record: a CSV file (RFC 4180, UTF-8) with one row per
// module met, appended as each module is done and synced to the disk before
// the row counts as finished. Each row says what was meant (the plan's row
// and its planned values) beside what the module came to, whatever that
// was. Everything that comes from a module or a file goes in through
// textsafety::csvCell, so the record is safe to open in a spreadsheet: no
// cell from a module starts a formula, no control character is written raw.
// A record is only ever appended to; the file is made with its first row.
namespace commissionrecord
{

struct Row {
    QString time; // ISO 8601 with offset; now when empty
    QString port;
    parameters::Values values;  // name, version, MAC and the eight parameters
    QString result;             // "verified", "unverified" or the failure
    int planRow = 0;            // the plan's row; 0: none (a write on its own)
    parameters::Values planned; // the values the row was to write
    QString busIds;             // the devices its bus was to have ("1,2,5"), planned too
    QString bus;                // what the bus check came to; empty when none was made
};

// The header line (without line end): the time, the port, the module's
// values and the result, then the plan's row, the planned values
// ("ip=10.0.0.1;tcp_port=502;bus_ids=1,2,5") and the bus check's outcome
// ("1, 2, 5 answer", "5 does not answer (1, 2 answer)"), after the result
// so that readers of the first columns keep their positions.
QString header();
// One row (without line end).
QString line(const Row &row);
// The row of a finished write or audit, now: its words and values are the
// outcome's.
Row rowOf(const RowOutcome &outcome);

// A kind of record of this program: the header it writes first in a new
// file, the headers earlier versions wrote (such a file is appended to as
// it is, its readers go by the names of the columns), and what a message
// calls it.
struct Kind {
    QString header;
    QStringList earlier;
    QString name; // "a commissioning record"
};
// The commissioning record's.
Kind kind();

// What a file holds for a record of `kind`: nothing yet (no file, or an
// empty one), such a record (its first line one of the kind's headers), or
// something else, which is never appended to. A device or a pipe holds
// nothing: it takes rows as they come, and is not read. `firstLine`: the
// file's first line, without its byte-order mark and line end.
enum class Holds { Nothing, Record, Other };
Holds holds(const QString &path, const Kind &kind, QString *firstLine = nullptr);

// Appends the row, with the header first when the file is new or empty.
bool append(const QString &path, const Row &row, QString *error);
// Any record of this program (CSV, CRLF): appends the lines, with the
// kind's header first when the file is new or empty, flushed and synced to
// the disk before it counts; a device or a pipe takes the lines only. A
// file that holds something else than a record of `kind` is refused and
// left as it is; a last line cut short (a crash in the middle of a row) is
// ended first, so that no row is glued to it.
bool appendLines(const QString &path, const Kind &kind, const QStringList &lines, QString *error);

// Local time in ISO 8601 with milliseconds and the UTC offset.
QString timestamp();

// Appends rows to one record on a thread of its own, one after another in
// the order they were handed over, each synced to the disk: a slow disk
// holds up no port's timers. Each row's `done` runs in the appender's
// thread once the row is on the disk, or with why it is not.
class Appender : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(bool appended, const QString &error)>;

    explicit Appender(const QString &path, QObject *parent = nullptr);
    // Waits for the rows handed over to be appended; their `done` is not
    // called any more.
    ~Appender() override;

    QString path() const { return file; }
    void append(const Row &row, Done done);
    // A WriteJob's keeper: the job's row goes to this record, and the job
    // finishes once it is there (or failed it: "record PATH: why").
    WriteJob::Keep recorder();

private:
    const QString file;
    std::unique_ptr<WorkQueue> queue;
};

} // namespace commissionrecord

#endif // COMMISSIONRECORD_H

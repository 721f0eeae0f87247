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

// Checks that the record can be appended to, before anything is sent,
// without making it or changing it: a run refused before it starts leaves
// no file behind.
bool checkWritable(const QString &path, QString *error);
// The same judged without touching anything, as a path is typed: an
// existing file that can be written, or a new one in a folder that can be.
bool checkAppendable(const QString &path, QString *error);
// Appends the row, with the header first when the file is new or empty.
bool append(const QString &path, const Row &row, QString *error);
// Any record of this program (CSV, CRLF): appends the lines, with `header`
// first when the file is new or empty, flushed and synced to the disk
// before it counts; a device or a pipe takes the lines only.
bool appendLines(const QString &path, const QString &header, const QStringList &lines,
                 QString *error);

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

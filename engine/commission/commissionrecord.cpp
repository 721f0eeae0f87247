#include "engine/commission/commissionrecord.h"

#include "engine/bus/busreport.h"
#include "engine/platform/textsafety.h"
#include "engine/platform/tracelog.h"
#include "engine/platform/workqueue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace commissionrecord
{

namespace
{
struct RecordText {
    Q_DECLARE_TR_FUNCTIONS(commissionrecord)
};
} // namespace

QString header()
{
    QStringList cells{QStringLiteral("time"), QStringLiteral("port")};
    for (const ModuleField field : allModuleFields)
        cells << parameters::fieldKey(field);
    cells << QStringLiteral("result") << QStringLiteral("row") << QStringLiteral("planned")
          << QStringLiteral("bus");
    return cells.join(QLatin1Char(','));
}

QString line(const Row &row)
{
    QStringList cells;
    cells << textsafety::csvOwnCell(row.time.isEmpty() ? timestamp() : row.time)
          << textsafety::csvCell(row.port);
    for (const ModuleField field : allModuleFields)
        cells << textsafety::csvCell(row.values.value(field));
    cells << textsafety::csvOwnCell(row.result)
          << (row.planRow > 0 ? QString::number(row.planRow) : QString());
    QStringList planned;
    for (const ModuleField field : allModuleFields) {
        if (row.planned.contains(field))
            planned << parameters::fieldKey(field) + QLatin1Char('=') + row.planned.value(field);
    }
    if (!row.busIds.isEmpty())
        planned << QStringLiteral("bus_ids=") + row.busIds;
    cells << textsafety::csvCell(planned.join(QLatin1Char(';'))) << textsafety::csvOwnCell(row.bus);
    return cells.join(QLatin1Char(','));
}

Row rowOf(const RowOutcome &outcome)
{
    Row row;
    row.time = outcome.result().endedAt.isEmpty() ? timestamp() : outcome.result().endedAt;
    row.port = outcome.result().port;
    row.values = outcome.recordValues();
    row.result = outcome.recordResult();
    row.planRow = outcome.result().planRow;
    row.planned = outcome.result().planned;
    row.busIds = unitlist::compact(outcome.result().busUnits);
    row.bus = outcome.busRecord();
    return row;
}

Kind kind()
{
    // Earlier versions wrote the columns up to the result, then the plan's
    // row and its planned values after it; the bus column came last.
    const QString columns = header();
    const QString result = QStringLiteral(",result");
    const QString upToResult = columns.left(columns.indexOf(result) + result.size());
    return {columns,
            {upToResult, upToResult + QStringLiteral(",row,planned")},
            RecordText::tr("a commissioning record")};
}

namespace
{

// A file is appended to; a device or a pipe (no end to seek to) is written.
QIODevice::OpenMode appendMode(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile() ? QIODevice::WriteOnly
                                           : QIODevice::WriteOnly | QIODevice::Append;
}

// The longest first line looked at: a record's header is far shorter.
constexpr qint64 firstLineBytes = 4096;

} // namespace

Holds holds(const QString &path, const Kind &kind, QString *firstLine)
{
    if (firstLine)
        firstLine->clear();
    const QFileInfo info(path);
    if (!info.isFile() || info.size() == 0)
        return Holds::Nothing;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Holds::Other;
    QByteArray line = file.readLine(firstLineBytes);
    if (line.startsWith("\xEF\xBB\xBF"))
        line.remove(0, 3);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    const QString text = QString::fromUtf8(line);
    if (firstLine)
        *firstLine = text;
    return text == kind.header || kind.earlier.contains(text) ? Holds::Record : Holds::Other;
}

bool append(const QString &path, const Row &row, QString *error)
{
    return appendLines(path, kind(), {line(row)}, error);
}

bool appendLines(const QString &path, const Kind &kind, const QStringList &lines, QString *error)
{
    // Looked at again as each row goes in: the file may have been replaced
    // since the run began.
    if (holds(path, kind) == Holds::Other) {
        *error = RecordText::tr("%1 is not %2: its first line is not such a record's header")
                     .arg(path, kind.name);
        return false;
    }
    QByteArray bytes;
    const QFileInfo info(path);
    if (info.isFile() && info.size() > 0) {
        QFile last(path);
        if (last.open(QIODevice::ReadOnly) && last.seek(info.size() - 1) && last.read(1) != "\n")
            bytes = "\r\n";
    }
    QFile file(path);
    if (!file.open(appendMode(path))) {
        *error = file.errorString();
        return false;
    }
    // A new file starts with the header; a device or pipe takes rows only.
    if (!file.isSequential() && file.size() == 0)
        bytes = kind.header.toUtf8() + "\r\n";
    for (const QString &text : lines)
        bytes += text.toUtf8() + "\r\n";
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *error = file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    // On the disk before the row counts as recorded, not only in the page
    // cache. A device or pipe that cannot be synced (EINVAL) has nothing
    // to sync.
    if (::fsync(file.handle()) != 0 && errno != EINVAL) {
        *error =
            RecordText::tr("cannot sync to disk: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
#endif
    return true;
}

QString timestamp()
{
    return TraceLog::timestamp();
}

Appender::Appender(const QString &path, QObject *parent)
    : QObject(parent), file(path), queue(std::make_unique<WorkQueue>())
{
}

// The rows handed over are appended still; their `done` is dropped with
// the appender.
Appender::~Appender() = default;

void Appender::append(const Row &row, Done done)
{
    // The rows in the order handed over, each answered back in the
    // appender's thread (dropped if it is gone by then).
    queue->post([this, row, done = std::move(done)] {
        QString error;
        const bool appended = commissionrecord::append(file, row, &error);
        QMetaObject::invokeMethod(
            this, [done, appended, error] { done(appended, error); }, Qt::QueuedConnection);
    });
}

WriteJob::Keep Appender::recorder()
{
    const QPointer<Appender> self(this);
    return [self](const RowOutcome &outcome, const WriteJob::KeepDone &done) {
        if (!self) {
            done(false, QString(), true);
            return;
        }
        const QString path = self->file;
        self->append(rowOf(outcome), [path, done](bool appended, const QString &error) {
            done(appended, appended ? QString() : RecordText::tr("record %1: %2").arg(path, error),
                 false);
        });
    };
}

} // namespace commissionrecord

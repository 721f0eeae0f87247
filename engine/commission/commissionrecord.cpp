#include "engine/commission/commissionrecord.h"

#include "engine/bus/busreport.h"
#include "engine/platform/textsafety.h"
#include "engine/platform/tracelog.h"
#include "engine/platform/workqueue.h"

#include <QCoreApplication>
#include <QDir>
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
    row.time = outcome.time.isEmpty() ? timestamp() : outcome.time;
    row.port = outcome.port;
    row.values = outcome.recordValues();
    row.result = outcome.recordResult();
    row.planRow = outcome.planRow;
    row.planned = outcome.planned;
    row.busIds = unitlist::compact(outcome.busUnits);
    row.bus = outcome.busRecord();
    return row;
}

// A file is appended to; a device or a pipe (no end to seek to) is written.
static QIODevice::OpenMode appendMode(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile() ? QIODevice::WriteOnly
                                           : QIODevice::WriteOnly | QIODevice::Append;
}

bool checkWritable(const QString &path, QString *error)
{
    if (!checkAppendable(path, error))
        return false;
    // An existing file is opened to append, which changes nothing in it:
    // the system's own word that it can be (a read-only mount, an ACL).
    // A device or a pipe is not opened: a pipe's open waits for a reader.
    const QFileInfo info(path);
    if (!info.isFile())
        return true;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    *error = file.errorString();
    return false;
}

bool checkAppendable(const QString &path, QString *error)
{
    if (path.trimmed().isEmpty()) {
        *error = RecordText::tr("no record file is given");
        return false;
    }
    const QFileInfo file(path);
    if (file.isDir()) {
        *error = RecordText::tr("%1 is a folder").arg(path);
        return false;
    }
    if (file.exists()) {
        if (!file.isWritable()) {
            *error = RecordText::tr("%1 cannot be written").arg(path);
            return false;
        }
        return true;
    }
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir()) {
        *error = RecordText::tr("the folder %1 does not exist")
                     .arg(QDir::toNativeSeparators(folder.filePath()));
        return false;
    }
    if (!folder.isWritable()) {
        *error = RecordText::tr("the folder %1 cannot be written")
                     .arg(QDir::toNativeSeparators(folder.filePath()));
        return false;
    }
    return true;
}

bool append(const QString &path, const Row &row, QString *error)
{
    return appendLines(path, header(), {line(row)}, error);
}

bool appendLines(const QString &path, const QString &header, const QStringList &lines,
                 QString *error)
{
    QFile file(path);
    if (!file.open(appendMode(path))) {
        *error = file.errorString();
        return false;
    }
    QByteArray bytes;
    // A new file starts with the header; a device or pipe takes rows only.
    if (!file.isSequential() && file.size() == 0)
        bytes = header.toUtf8() + "\r\n";
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
            done(false, RecordText::tr("the record was closed"));
            return;
        }
        const QString path = self->file;
        self->append(rowOf(outcome), [path, done](bool appended, const QString &error) {
            done(appended, appended ? QString() : RecordText::tr("record %1: %2").arg(path, error));
        });
    };
}

} // namespace commissionrecord

#include "engine/site/commissionrecord.h"

#include "engine/platform/textsafety.h"
#include "engine/platform/tracelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
struct Text {
    Q_DECLARE_TR_FUNCTIONS(commissionrecord)
};
} // namespace

QString header()
{
    QStringList cells{QStringLiteral("time"), QStringLiteral("port")};
    for (const ModuleField field : allModuleFields)
        cells << parameters::fieldKey(field);
    cells << QStringLiteral("result");
    return cells.join(QLatin1Char(','));
}

QString line(const Row &row)
{
    QStringList cells;
    cells << textsafety::csvOwnCell(row.time.isEmpty() ? timestamp() : row.time)
          << textsafety::csvCell(row.port);
    for (const ModuleField field : allModuleFields)
        cells << textsafety::csvCell(row.values.value(field));
    cells << textsafety::csvOwnCell(row.result);
    return cells.join(QLatin1Char(','));
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
    QFile file(path);
    if (file.open(appendMode(path)))
        return true;
    *error = file.errorString();
    return false;
}

bool checkAppendable(const QString &path, QString *error)
{
    if (path.trimmed().isEmpty()) {
        *error = Text::tr("no record file is given");
        return false;
    }
    const QFileInfo file(path);
    if (file.isDir()) {
        *error = Text::tr("%1 is a folder").arg(path);
        return false;
    }
    if (file.exists()) {
        if (!file.isWritable()) {
            *error = Text::tr("%1 cannot be written").arg(path);
            return false;
        }
        return true;
    }
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir()) {
        *error = Text::tr("the folder %1 does not exist")
                     .arg(QDir::toNativeSeparators(folder.filePath()));
        return false;
    }
    if (!folder.isWritable()) {
        *error = Text::tr("the folder %1 cannot be written")
                     .arg(QDir::toNativeSeparators(folder.filePath()));
        return false;
    }
    return true;
}

bool append(const QString &path, const Row &row, QString *error)
{
    return appendLines(path, header(), {line(row)}, error);
}

WriteJob::Recorder recorder(const QString &path)
{
    if (path.isEmpty())
        return {};
    return [path](const WriteJob &job, QString *error) {
        Row row;
        row.port = job.port();
        row.values = job.recordValues();
        row.result = job.recordResult();
        if (append(path, row, error))
            return true;
        *error = QCoreApplication::translate("WriteJob", "record %1: %2").arg(path, *error);
        return false;
    };
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
        *error = Text::tr("cannot sync to disk: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
#endif
    return true;
}

QString timestamp()
{
    return TraceLog::timestamp();
}

} // namespace commissionrecord

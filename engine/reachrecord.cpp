#include "engine/reachrecord.h"

#include "engine/textsafety.h"
#include "engine/tracelog.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace reachrecord
{

QString header()
{
    return QStringLiteral("time,row,ip,tcp_port,result,milliseconds");
}

QString line(const Row &row)
{
    return QStringList{
        textsafety::csvOwnCell(row.time.isEmpty() ? TraceLog::timestamp() : row.time),
        row.row > 0 ? QString::number(row.row) : QString(),
        textsafety::csvCell(row.ip),
        textsafety::csvCell(row.tcpPort),
        textsafety::csvOwnCell(row.result),
        row.ms >= 0 ? QString::number(row.ms) : QString()}
        .join(QLatin1Char(','));
}

bool append(const QString &path, const QList<Row> &rows, QString *error)
{
    // A file is appended to; a device or a pipe (no end to seek to) is
    // written.
    const QFileInfo info(path);
    QFile file(path);
    if (!file.open(info.exists() && !info.isFile() ? QIODevice::WriteOnly
                                                   : QIODevice::WriteOnly | QIODevice::Append)) {
        *error = file.errorString();
        return false;
    }
    QByteArray bytes;
    if (!file.isSequential() && file.size() == 0)
        bytes = header().toUtf8() + "\r\n";
    for (const Row &row : rows)
        bytes += line(row).toUtf8() + "\r\n";
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *error = file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0 && errno != EINVAL) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
#endif
    return true;
}

} // namespace reachrecord

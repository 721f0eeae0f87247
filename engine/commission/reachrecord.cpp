#include "engine/commission/reachrecord.h"

#include "engine/commission/commissionrecord.h"
#include "engine/platform/textsafety.h"
#include "engine/platform/tracelog.h"

#include <QCoreApplication>
#include <QStringList>

namespace reachrecord
{

QString header()
{
    return QStringLiteral("time,row,ip,tcp_port,result,milliseconds");
}

commissionrecord::Kind kind()
{
    return {header(), {}, QCoreApplication::translate("commissionrecord", "a reach record")};
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
    QStringList lines;
    for (const Row &row : rows)
        lines << line(row);
    return commissionrecord::appendLines(path, kind(), lines, error);
}

} // namespace reachrecord

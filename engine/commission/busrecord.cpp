#include "engine/commission/busrecord.h"

#include "engine/bus/busreport.h"
#include "engine/commission/commissionrecord.h"
#include "engine/platform/textsafety.h"
#include "engine/platform/tracelog.h"

#include <QCoreApplication>
#include <QStringList>

namespace busrecord
{

QString header()
{
    return QStringLiteral(
        "time,mac,ip,tcp_port,bus_settings,searched,answered,missing,quality,result");
}

commissionrecord::Kind kind()
{
    return {header(), {}, QCoreApplication::translate("commissionrecord", "a bus record")};
}

QString line(const BusReport &report, int searched, const Row &row)
{
    const int colon = report.target.lastIndexOf(QLatin1Char(':'));
    // Lists in one cell: "1 2 5", no comma to quote.
    const auto list = [](const QList<int> &units) {
        return unitlist::text(units).replace(QLatin1String(", "), QLatin1String(" "));
    };
    return QStringList{
        textsafety::csvOwnCell(row.time.isEmpty() ? TraceLog::timestamp() : row.time),
        textsafety::csvCell(row.mac),
        textsafety::csvCell(report.target.left(colon)),
        textsafety::csvCell(report.target.mid(colon + 1)),
        textsafety::csvOwnCell(row.settings),
        QString::number(searched),
        textsafety::csvOwnCell(list(report.answered())),
        textsafety::csvOwnCell(list(report.missing())),
        report.hasQuality() ? QString::number(report.qualityPercent(), 'f', 1) : QString(),
        textsafety::csvOwnCell(row.result)}
        .join(QLatin1Char(','));
}

bool append(const QString &path, const BusReport &report, int searched, const Row &row,
            QString *error)
{
    return commissionrecord::appendLines(path, kind(), {line(report, searched, row)}, error);
}

} // namespace busrecord

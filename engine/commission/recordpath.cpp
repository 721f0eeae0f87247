#include "engine/commission/recordpath.h"

#include "engine/commission/busrecord.h"
#include "engine/commission/commissionplan.h"
#include "engine/commission/reachrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace recordpath
{

namespace
{

struct PathText {
    Q_DECLARE_TR_FUNCTIONS(commissionrecord)
};

// Why the file at `path`, which holds something, is no record of `kind`.
QString notARecord(const QString &path, const commissionrecord::Kind &kind,
                   const QString &firstLine)
{
    for (const commissionrecord::Kind &other :
         {commissionrecord::kind(), reachrecord::kind(), busrecord::kind()}) {
        if (other.header != kind.header &&
            (firstLine == other.header || other.earlier.contains(firstLine)))
            return PathText::tr("%1 is %2, not %3").arg(path, other.name, kind.name);
    }
    QByteArray bytes;
    QString error;
    if (commissionplan::readFile(path, &bytes, &error) && commissionplan::looksLikePlan(bytes))
        return PathText::tr("%1 is a plan, not a record").arg(path);
    return PathText::tr("%1 is not a record: its first line is not a record's header").arg(path);
}

} // namespace

bool checkAppendable(const QString &path, const commissionrecord::Kind &kind, QString *error)
{
    if (path.trimmed().isEmpty()) {
        *error = PathText::tr("no record file is given");
        return false;
    }
    const QFileInfo file(path);
    if (file.isDir()) {
        *error = PathText::tr("%1 is a folder").arg(path);
        return false;
    }
    if (file.exists()) {
        if (!file.isWritable()) {
            *error = PathText::tr("%1 cannot be written").arg(path);
            return false;
        }
        QString firstLine;
        if (commissionrecord::holds(path, kind, &firstLine) == commissionrecord::Holds::Other) {
            *error = notARecord(path, kind, firstLine);
            return false;
        }
        return true;
    }
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir()) {
        *error = PathText::tr("the folder %1 does not exist")
                     .arg(QDir::toNativeSeparators(folder.filePath()));
        return false;
    }
    if (!folder.isWritable()) {
        *error = PathText::tr("the folder %1 cannot be written")
                     .arg(QDir::toNativeSeparators(folder.filePath()));
        return false;
    }
    return true;
}

bool checkWritable(const QString &path, const commissionrecord::Kind &kind, QString *error)
{
    if (!checkAppendable(path, kind, error))
        return false;
    // A device or a pipe is not opened: a pipe's open waits for a reader.
    if (!QFileInfo(path).isFile())
        return true;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    *error = file.errorString();
    return false;
}

} // namespace recordpath

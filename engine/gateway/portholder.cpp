#include "engine/gateway/portholder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

namespace portholder
{

#ifdef Q_OS_LINUX
namespace
{

// The inodes of the sockets listening on `port`, from /proc/net/tcp and
// tcp6: "sl local_address rem_address st ... inode", addresses as HEX:PORT,
// state 0A is LISTEN.
QSet<QString> listeningInodes(quint16 port)
{
    QSet<QString> inodes;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file{QString::fromLatin1(table)};
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // the header
        while (!file.atEnd()) {
            const QStringList fields =
                QString::fromLatin1(file.readLine()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() < 10 || fields.at(3) != QLatin1String("0A"))
                continue;
            bool ok = false;
            const uint local = fields.at(1).section(QLatin1Char(':'), -1).toUInt(&ok, 16);
            if (ok && local == port)
                inodes.insert(fields.at(9));
        }
    }
    return inodes;
}

} // namespace

QString whoListens(quint16 port)
{
    const QSet<QString> inodes = listeningInodes(port);
    if (inodes.isEmpty())
        return QString();
    bool unreadable = false;
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool isPid = false;
        pid.toInt(&isPid);
        if (!isPid)
            continue;
        QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        if (!fds.isReadable()) {
            unreadable = true;
            continue;
        }
        for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
            const QString target = QFileInfo(fds.filePath(fd)).symLinkTarget();
            const QString name = QFileInfo(target).fileName();
            if (!name.startsWith(QLatin1String("socket:[")))
                continue;
            if (!inodes.contains(name.mid(8, name.size() - 9)))
                continue;
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            const QString program = comm.open(QIODevice::ReadOnly)
                                        ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                                        : QStringLiteral("a program");
            return QStringLiteral("%1 (process %2)").arg(program, pid);
        }
    }
    return unreadable ? QStringLiteral("another user's program") : QString();
}
#else
QString whoListens(quint16 port)
{
    Q_UNUSED(port);
    return QString();
}
#endif

} // namespace portholder

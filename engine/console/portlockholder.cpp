// The device lock, and who holds a lock: the kernel's table of locks read
// for the refusal's words.
#include "engine/console/portlockholder.h"

#include "engine/console/portcatalog.h"
#include "engine/platform/textsafety.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif

namespace portlockholder
{

Holder ofFile(quint64 device, quint64 inode)
{
    Holder holder;
#ifdef Q_OS_LINUX
    // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10952979 0 EOF", one lock a
    // line; "->" marks a process waiting for one.
    QFile table(QStringLiteral("/proc/locks"));
    if (!table.open(QIODevice::ReadOnly))
        return holder;
    const QByteArray wanted = QByteArray::number(major(device), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(minor(device), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(inode);
    const qint64 self = ::getpid();
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) == "->" || fields.at(5) != wanted)
            continue;
        const qint64 pid = fields.at(4).toLongLong();
        if (pid > 0 && pid != self) {
            holder.pid = pid;
            holder.program = programOf(pid);
            break;
        }
    }
#else
    Q_UNUSED(device);
    Q_UNUSED(inode);
#endif
    return holder;
}

QString programOf(qint64 pid)
{
#ifdef Q_OS_LINUX
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QFile cmdline(proc + QStringLiteral("cmdline"));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray first = cmdline.readAll().split('\0').value(0);
        if (!first.isEmpty())
            return QFileInfo(QString::fromLocal8Bit(first)).fileName();
    }
    QFile comm(proc + QStringLiteral("comm"));
    if (comm.open(QIODevice::ReadOnly))
        return QString::fromLocal8Bit(comm.readAll()).trimmed();
#else
    Q_UNUSED(pid);
#endif
    return QString();
}

} // namespace portlockholder

namespace
{

// The refusal's words for a device held by another process.
QString heldBy(const QString &port, const portlockholder::Holder &holder)
{
    const QString program = textsafety::escapeControls(holder.program);
    if (holder.pid <= 0)
        return QCoreApplication::translate("PortLock", "%1 is held by another program").arg(port);
    if (program.startsWith(QLatin1String("ordan-")))
        return QCoreApplication::translate("PortLock",
                                           "%1 is in use by another run (%2, process %3)")
            .arg(port, program)
            .arg(holder.pid);
    if (!program.isEmpty())
        return QCoreApplication::translate("PortLock",
                                           "%1 is held by another program (%2, process %3)")
            .arg(port, program)
            .arg(holder.pid);
    return QCoreApplication::translate("PortLock", "%1 is held by another program (process %2)")
        .arg(port)
        .arg(holder.pid);
}

#ifdef Q_OS_UNIX
portlockholder::Holder holderOfDevice(const QString &port)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(PortCatalog::devicePath(port)).constData(), &status) != 0)
        return {};
    return portlockholder::ofFile(quint64(status.st_dev), quint64(status.st_ino));
}
#endif

} // namespace

bool portlockholder::holdDevice(int descriptor, const QString &port, QString *error)
{
#ifdef Q_OS_UNIX
    if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int cause = errno;
    if (cause == EWOULDBLOCK) {
        struct stat status = {};
        portlockholder::Holder holder;
        if (::fstat(descriptor, &status) == 0)
            holder = portlockholder::ofFile(quint64(status.st_dev), quint64(status.st_ino));
        *error = heldBy(port, holder);
    } else {
        *error = QCoreApplication::translate("PortLock", "cannot lock the device of %1: %2")
                     .arg(port, QString::fromLocal8Bit(std::strerror(cause)));
    }
    return false;
#else
    // The system opens a serial port for one program at a time.
    Q_UNUSED(descriptor);
    Q_UNUSED(port);
    Q_UNUSED(error);
    return true;
#endif
}

QString portlockholder::describeDevice(const QString &port)
{
#ifdef Q_OS_UNIX
    return heldBy(port, holderOfDevice(port));
#else
    return heldBy(port, {});
#endif
}

bool portlockholder::deviceFree(const QString &port, QString *error)
{
#ifdef Q_OS_UNIX
    const portlockholder::Holder holder = holderOfDevice(port);
    if (holder.pid > 0) {
        *error = heldBy(port, holder);
        return false;
    }
#else
    Q_UNUSED(port);
    Q_UNUSED(error);
#endif
    return true;
}

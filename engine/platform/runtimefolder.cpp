#include "engine/platform/runtimefolder.h"

#include "engine/platform/textsafety.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString userName(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

} // namespace

bool runtimefolder::isSafe(const QString &folder, QString *problem)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(folder).constData(), &status) != 0) {
        *problem =
            QStringLiteral("the runtime folder %1: %2").arg(folder, textsafety::systemError(errno));
        return false;
    }
    if (S_ISLNK(status.st_mode)) {
        *problem = QStringLiteral("the runtime folder %1 is a symbolic link").arg(folder);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        *problem = QStringLiteral("the runtime folder %1 is not a folder").arg(folder);
        return false;
    }
    if (status.st_uid != ::geteuid()) {
        *problem = QStringLiteral("the runtime folder %1 belongs to %2, not to you (%3)")
                       .arg(folder, userName(status.st_uid), userName(::geteuid()));
        return false;
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *problem = QStringLiteral("others may write into the runtime folder %1 (mode %2)")
                       .arg(folder)
                       .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
        return false;
    }
    return true;
}

bool runtimefolder::find(bool make, QString *folder, QString *problem)
{
    const QString service = qEnvironmentVariable("RUNTIME_DIRECTORY");
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString path;
    if (!service.isEmpty()) {
        // systemd names several, colon-separated, when a unit asks for several.
        path = service.section(QLatin1Char(':'), 0, 0);
    } else if (!session.isEmpty()) {
        path = QDir(session).filePath(QStringLiteral("ordan"));
    } else {
        const QString mine = QStringLiteral("ordan-%1").arg(::geteuid());
        path = ::access("/run", W_OK) == 0 ? QStringLiteral("/run/") + mine
                                           : QStringLiteral("/tmp/") + mine;
    }
    *folder = path;
    if (make && service.isEmpty() && ::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0 &&
        errno != EEXIST) {
        *problem = QStringLiteral("cannot make the runtime folder %1: %2")
                       .arg(path, textsafety::systemError(errno));
        return false;
    }
    return isSafe(path, problem);
}

#else

bool runtimefolder::isSafe(const QString &folder, QString *problem)
{
    *problem = QStringLiteral("the runtime folder %1: this system has none").arg(folder);
    return false;
}

bool runtimefolder::find(bool make, QString *folder, QString *problem)
{
    Q_UNUSED(make);
    folder->clear();
    *problem = QStringLiteral("this system has no runtime folder");
    return false;
}

#endif

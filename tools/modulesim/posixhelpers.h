#ifndef POSIXHELPERS_H
#define POSIXHELPERS_H

// Small POSIX helpers of the simulator's line and its network side.
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace posix
{

inline void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

inline bool isSymlink(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// "what: the system's words for errno".
inline QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace posix

#endif // POSIXHELPERS_H

#ifndef RUNTIMEFOLDER_H
#define RUNTIMEFOLDER_H

#include <QString>
#include <QStringList>

// Where a long-running program of this user keeps what lives only while
// it runs (the gateway's control socket):
//
// 1. $RUNTIME_DIRECTORY, the folder systemd made for the service;
// 2. else $XDG_RUNTIME_DIR/ordan, the session's;
// 3. else /run/ordan-UID where this user may make it (root), otherwise
//    /tmp/ordan-UID.
//
// A folder is used only when nobody else can put or take anything there: a
// folder itself (not a link to one), belonging to this user, that no one
// else may write into. The folders it makes only the user may enter.
// POSIX only; elsewhere there is none.
namespace runtimefolder
{

// This user's folder, made when missing and `make`; false with the
// problem (its path and what is wrong).
bool find(bool make, QString *folder, QString *problem);
// Whether `folder` is one nobody else can change; false with the problem.
bool isSafe(const QString &folder, QString *problem);

} // namespace runtimefolder

#endif // RUNTIMEFOLDER_H

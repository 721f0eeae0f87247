#ifndef SETTINGSSTORE_H
#define SETTINGSSTORE_H

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>

class QSettings;

// Rules for the settings stores of parameter-set files, free of widgets: which
// files may be handed to the settings library, how stored integers are read,
// and how a write is confirmed.
namespace settingsstore
{

// A parameter set takes a few hundred bytes; a larger file is not one.
inline constexpr qint64 maxFileSize = qint64(1024) * 1024;

enum class FileState {
    Missing,    // nothing at the path, or the path is empty
    Safe,       // a regular file that the settings library may read
    Rejected,   // a regular file that must not reach the settings library
    NotAFile,   // a directory, pipe, socket or device
    Unreadable, // a regular file that cannot be opened for reading
};

// Looks at what stands at the path and, for a regular file, screens its text.
FileState examineFile(const QString &path);

// False when the text would make the settings library decode a value as a
// serialized variant (a value or list element written as @Variant(...) or
// @DateTime(...)). The library decodes these with a data stream that trusts
// the sizes it reads, so a few crafted bytes can abort the program. The screen
// cuts lines and unescapes values exactly as the library reads them, so every
// text the library writes for a field passes, and keys, section headings and
// comments (which are never decoded) are not looked at.
bool textIsSafe(const QByteArray &text);

// A store on the parameter-set file at the path, owned by the caller. Both Qt
// builds read raw non-ASCII bytes of a value as UTF-8, so a file written by
// either reads the same in the other.
QSettings *openStore(const QString &path);

// The integer held by a stored value: a decimal number within the range of
// int, otherwise 0.
int toStoredInt(const QVariant &value);

// Writes the store's pending values to its file and tells whether the store
// has met no error at all. The Qt 5 build writes non-ASCII characters as
// escapes, as it always did; the Qt 6 build writes them as UTF-8.
bool syncStore(QSettings &store);

// Replaces the file at the path with a new one holding only what `fill` puts
// into an empty store. The file is replaced in one step or not at all.
bool writeFreshFile(const QString &path, const std::function<void(QSettings &)> &fill);

} // namespace settingsstore

#endif // SETTINGSSTORE_H

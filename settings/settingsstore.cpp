#include "settings/settingsstore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

namespace settingsstore
{

namespace
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int digitValue(char c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

bool isHexDigit(uint c)
{
    return c < 0x80 && digitValue(char(c), 16) >= 0;
}

} // namespace

bool textIsSafe(const QByteArray &text)
{
    // The text with all that the library skips or drops while unescaping
    // taken out: blanks (leading ones are skipped, and a backslash before a
    // line break continues the line), double quotes (they only switch quoting
    // on and off) and escapes that stand for nothing. Taking out more than
    // the library does only glues more text together, which only makes the
    // screen reject more. An escape that stands for a character leaves that
    // character or, for one that no marker holds, a stand-in: the same as
    // the character written raw, so that a text passes whichever way the
    // library writes it back.
    const char standIn = '\x01';
    QByteArray flat;
    flat.reserve(text.size());
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const char c = text.at(i);
        if (c == '"' || isBlank(c))
            continue;
        if (c != '\\') {
            flat += c;
            continue;
        }
        if (++i == size)
            break;
        const char escape = text.at(i);
        if (escape == 'x' || digitValue(escape, 8) >= 0) {
            // A numeric escape takes every digit of its base that follows.
            const int base = escape == 'x' ? 16 : 8;
            uint value = escape == 'x' ? 0 : uint(escape - '0');
            while (i + 1 < size && digitValue(text.at(i + 1), base) >= 0) {
                value = value * uint(base) + uint(digitValue(text.at(++i), base));
                if (value > 0xFFFF)
                    return false; // the library would cut it down to 16 bits
            }
            // The library writes such escapes for control characters, for
            // characters beyond ASCII and for hex digits that follow another
            // escape. A hex digit may be part of a marker; the others cannot.
            if (isHexDigit(value))
                flat += char(value);
            else if (value > 0x20 && value < 0x7F && value != '"' && value != '\\')
                return false;
            else
                flat += standIn;
            continue;
        }
        switch (escape) {
        case '?':
        case '\'':
            flat += escape;
            break;
        case '"':
        case '\\':
        case 'a': // the letters stand for control characters
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't':
        case 'v':
            flat += standIn;
            break;
        default: // dropped together with the backslash, a NUL byte too
            break;
        }
    }

    // A value is decoded only when a marker is its first character. All that
    // the library drops in front of a value's first character is gone from
    // the flat text as well, so a marker that starts a value follows the "="
    // or "," that opens the value. After any other character the marker lies
    // inside a text: "@@Variant(" (how the library writes a text starting
    // with "@"), "@String(@Variant(" (a text holding NUL characters), a key
    // or a comment.
    for (const char *marker : {"@Variant(", "@DateTime("}) {
        for (int at = flat.indexOf(marker); at >= 0; at = flat.indexOf(marker, at + 1)) {
            if (at == 0 || flat.at(at - 1) == '=' || flat.at(at - 1) == ',')
                return false;
        }
    }
    return true;
}

FileState examineFile(const QString &path)
{
    if (path.isEmpty())
        return FileState::Missing;
    const QFileInfo info(path);
    if (!info.exists())
        return FileState::Missing;
    if (!info.isFile())
        return FileState::NotAFile;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileState::Unreadable;
    const QByteArray text = file.read(maxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return FileState::Unreadable;
    if (text.size() > maxFileSize)
        return FileState::Rejected;
    return textIsSafe(text) ? FileState::Safe : FileState::Rejected;
}

int toStoredInt(const QVariant &value)
{
    bool ok = false;
    int number = 0;
    switch (value.userType()) {
    case QMetaType::Int:
        return value.toInt();
    case QMetaType::QString:
        number = value.toString().toInt(&ok, 10);
        break;
    case QMetaType::QByteArray:
        number = value.toByteArray().toInt(&ok, 10);
        break;
    default:
        break;
    }
    return ok ? number : 0;
}

bool syncStore(QSettings &store)
{
    store.sync();
    return store.status() == QSettings::NoError;
}

bool writeFreshFile(const QString &path, const std::function<void(QSettings &)> &fill)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return false;
    const QString draftPath = scratch.filePath(QStringLiteral("draft.TRset"));
    {
        QSettings draft(draftPath, QSettings::IniFormat);
        fill(draft);
        if (!syncStore(draft))
            return false;
    }
    QFile draft(draftPath);
    if (!draft.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = draft.readAll();
    QSaveFile target(path);
    return target.open(QIODevice::WriteOnly) && target.write(text) == text.size() &&
           target.commit();
}

} // namespace settingsstore

#include "settings/settingsstore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace settingsstore
{

namespace
{

// Characters that end a run of plain text in a line of an INI file.
bool isSpecial(char c)
{
    return c == '\n' || c == '\r' || c == '"' || c == ';' || c == '=' || c == '\\';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One logical line of an INI text, as the settings library cuts it: leading
// blanks and comment lines skipped, a quoted text or a backslash carrying the
// line over a line break. `equals` is the first "=" outside quotes, or -1.
struct IniLine {
    int start = 0;
    int end = 0;
    int equals = -1;
};

bool nextIniLine(const QByteArray &data, int &pos, IniLine &line)
{
    const int size = data.size();
    bool inQuotes = false;
    line.equals = -1;
    int start = pos;
    while (start < size && isSpace(data.at(start)))
        ++start;
    int i = start;
    while (i < size) {
        char c = data.at(i);
        while (!isSpecial(c)) {
            if (++i == size)
                goto done;
            c = data.at(i);
        }
        ++i;
        if (c == '=') {
            if (!inQuotes && line.equals == -1)
                line.equals = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size) {
                    const char next = data.at(i);
                    if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n'))
                        ++i;
                }
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else { // ';'
            if (i == start + 1) {
                while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                    ++i;
                while (i < size && isSpace(data.at(i)))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
        }
    }
done:
    pos = i;
    line.start = start;
    line.end = i;
    return i > start;
}

// The value of a line unescaped as the settings library does it: the whole
// text, and its elements when unquoted commas make it a list. Characters are
// only told apart as far as a marker at the start of an element needs;
// escapes give their 16-bit character, as the library's do. Runs of plain
// bytes (between escapes, quotes and unquoted commas) go through the
// library's UTF-8 decoder, which drops a byte order mark at the start of a
// run: Qt 5's at the start of every run, Qt 6's (one decoder for the whole
// value) only at the start of the value's first run. Any other decoding can
// neither make nor hide an ASCII marker at an element's start, so the bytes
// are otherwise taken one by one.
QStringList unescapedElements(const QByteArray &data, int from, int to)
{
    static const char escapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                      {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                      {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    QStringList elements;
    QString current;
    bool inQuotes = false;
    bool dropsMark = true; // a byte order mark met now would be dropped
    int i = from;
    const auto skipBlanks = [&] {
        while (i < to && (data.at(i) == ' ' || data.at(i) == '\t'))
            ++i;
    };
    skipBlanks();
    while (i < to) {
        const char c = data.at(i);
        const bool plain = c != '\\' && c != '"' && !(c == ',' && !inQuotes);
        if (plain) {
            const bool mark = dropsMark && i + 3 <= to && data.mid(i, 3) == "\xef\xbb\xbf";
            dropsMark = false;
            if (mark) {
                i += 3;
                continue;
            }
        } else {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) // Qt 5 decodes every run afresh, Qt 6 the value at once
            dropsMark = true;
#endif
        }
        if (c == '\\') {
            if (++i >= to)
                break;
            const char e = data.at(i++);
            bool named = false;
            for (const auto &escape : escapes) {
                if (e == escape[0]) {
                    current += QLatin1Char(escape[1]);
                    named = true;
                    break;
                }
            }
            if (named)
                continue;
            if (e == 'x' || (e >= '0' && e <= '7')) {
                const int base = e == 'x' ? 16 : 8;
                if (e == 'x' && (i >= to || hexValue(data.at(i)) < 0))
                    continue; // "\x" without a digit stands for nothing
                uint value = e == 'x' ? 0 : uint(e - '0');
                while (i < to) {
                    const int digit = hexValue(data.at(i));
                    if (digit < 0 || digit >= base)
                        break;
                    value = value * uint(base) + uint(digit);
                    ++i;
                }
                current += QChar(ushort(value & 0xFFFF));
            } else if ((e == '\n' || e == '\r') && i < to) {
                const char next = data.at(i);
                if ((next == '\n' || next == '\r') && next != e)
                    ++i;
            }
            // Any other escaped character is dropped with its backslash.
        } else if (c == '"') {
            ++i;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (c == ',' && !inQuotes) {
            elements << current;
            current.clear();
            ++i;
            skipBlanks();
        } else {
            current += QLatin1Char(c);
            ++i;
        }
    }
    elements << current;
    return elements;
}

} // namespace

bool textIsSafe(const QByteArray &text)
{
    // Every value of the file, in every section, is decoded as soon as any
    // key is read. Keys, section headings and comments are never decoded, so
    // only the values are looked at, cut and unescaped as the library does:
    // whatever the library writes for a text reads back as that text, and a
    // value or list element starting with a marker is refused.
    int pos = text.startsWith("\xef\xbb\xbf") ? 3 : 0;
    IniLine line;
    while (nextIniLine(text, pos, line)) {
        if (text.at(line.start) == '[' || line.equals < 0)
            continue;
        const QStringList elements = unescapedElements(text, line.equals + 1, line.end);
        for (const QString &element : elements) {
            if (element.startsWith(QLatin1String("@Variant(")) ||
                element.startsWith(QLatin1String("@DateTime(")))
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

QSettings *openStore(const QString &path)
{
    auto *store = new QSettings(path, QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) // Qt 6 always reads and writes INI text as UTF-8
    store->setIniCodec("UTF-8");
#endif
    return store;
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
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) // Qt 5's UTF-8 writer drops characters beyond 16 bits
    store.setIniCodec(static_cast<QTextCodec *>(nullptr));
    store.sync();
    store.setIniCodec("UTF-8");
#else
    store.sync();
#endif
    return store.status() == QSettings::NoError;
}

bool writeFreshFile(const QString &path, const std::function<void(QSettings &)> &fill)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return false;
    const QString draftPath = scratch.filePath(QStringLiteral("draft.TRset"));
    {
        const std::unique_ptr<QSettings> draft(openStore(draftPath));
        fill(*draft);
        if (!syncStore(*draft))
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

#ifndef TEXTSAFETY_H
#define TEXTSAFETY_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Text that comes from a module (or from a file) is untrusted: any device on
// the port can choose its name, version or MAC address. Every output path
// that a person or another program reads line by line (terminal, record CSV,
// trace log) shows such text through these functions, never raw.
namespace textsafety
{

// Control characters (C0, DEL and C1, and the bidirectional controls
// U+202A-U+202E and U+2066-U+2069) shown as escapes: "\r", "\n", "\t",
// otherwise "\x1b", "\u202e" and the like; a backslash is doubled so that an escape in
// the output always means a control character in the input. Everything else
// is kept, non-ASCII letters included.
QString escapeControls(const QString &text);

// The system's words for an error number (errno), in the local encoding.
QString systemError(int error);

// Raw bytes for a trace: printable ASCII kept, a backslash doubled, every
// other byte escaped as above (bytes of 0x80 and above as "\xNN" too).
QByteArray escapeBytes(const QByteArray &bytes);

// One CSV cell (RFC 4180) holding untrusted text: controls escaped, a
// leading "=", "+", "-", "@", tab or carriage return neutralised with a
// leading "'" (what spreadsheet tools recommend against formula injection),
// quoted when it holds a separator, quote or blank at either end.
QString csvCell(const QString &untrusted, QChar separator = QLatin1Char(','));
// A CSV cell of exported data (a register's export): as csvCell, but a
// backslash is kept as it is, so that the cell holds what JSON holds.
QString csvDataCell(const QString &untrusted, QChar separator = QLatin1Char(','));
// A CSV cell of the program's own making (time, result): quoted as needed,
// not otherwise changed.
QString csvOwnCell(const QString &text, QChar separator = QLatin1Char(','));

// Rows of cells as a terminal table: "a  b", each column padded to its
// widest cell as the cells show (escaped), `indent` blanks first, no blank
// at a line's end. The cells are not escaped here: the lines are, where
// they are written.
QStringList columns(const QList<QStringList> &rows, int indent = 2);

} // namespace textsafety

#endif // TEXTSAFETY_H

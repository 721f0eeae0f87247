#include "engine/platform/textsafety.h"

#include <cstring>

namespace textsafety
{

namespace
{

bool isControl(uint c)
{
    // C0, DEL, C1, and the bidirectional embeddings, overrides and
    // isolates, which reorder what a terminal or a spreadsheet shows.
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f) || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

void appendEscape(QString &out, uint c)
{
    switch (c) {
    case '\r':
        out += QLatin1String("\\r");
        return;
    case '\n':
        out += QLatin1String("\\n");
        return;
    case '\t':
        out += QLatin1String("\\t");
        return;
    default:
        out +=
            c > 0xff
                ? QLatin1String("\\u") + QString::number(c, 16).rightJustified(4, QLatin1Char('0'))
                : QLatin1String("\\x") + QString::number(c, 16).rightJustified(2, QLatin1Char('0'));
    }
}

QString quoted(const QString &cell, QChar separator)
{
    const bool needsQuotes = cell.contains(separator) || cell.contains(QLatin1Char('"')) ||
                             cell.contains(QLatin1Char('\r')) || cell.contains(QLatin1Char('\n')) ||
                             (!cell.isEmpty() && (cell.front().isSpace() || cell.back().isSpace()));
    if (!needsQuotes)
        return cell;
    QString inner = cell;
    inner.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

// A leading "=", "+", "-", "@", tab or carriage return neutralised with a
// leading "'".
QString formulaGuarded(const QString &untrusted)
{
    QString cell = untrusted;
    if (!cell.isEmpty()) {
        const QChar first = cell.front();
        if (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-') ||
            first == QLatin1Char('@') || first == QLatin1Char('\t') || first == QLatin1Char('\r'))
            cell.prepend(QLatin1Char('\''));
    }
    return cell;
}

// Controls escaped; a backslash doubled, or (data for a CSV cell) kept.
QString escapedText(const QString &text, bool backslashes)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const uint c = ch.unicode();
        if (c == '\\' && backslashes)
            out += QLatin1String("\\\\");
        else if (isControl(c))
            appendEscape(out, c);
        else
            out += ch;
    }
    return out;
}

} // namespace

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString escapeControls(const QString &text)
{
    return escapedText(text, true);
}

QByteArray escapeBytes(const QByteArray &bytes)
{
    QString out;
    for (const char byte : bytes) {
        const uint c = uchar(byte);
        if (c == '\\')
            out += QLatin1String("\\\\");
        else if (c < 0x20 || c >= 0x7f)
            appendEscape(out, c);
        else
            out += QLatin1Char(byte);
    }
    return out.toLatin1();
}

QString csvCell(const QString &untrusted, QChar separator)
{
    return quoted(escapeControls(formulaGuarded(untrusted)), separator);
}

QString csvDataCell(const QString &untrusted, QChar separator)
{
    return quoted(escapedText(formulaGuarded(untrusted), false), separator);
}

QString csvOwnCell(const QString &text, QChar separator)
{
    return quoted(text, separator);
}

QStringList columns(const QList<QStringList> &rows, int indent)
{
    const auto shown = [](const QString &cell) { return escapeControls(cell).size(); };
    QList<int> widths;
    for (const QStringList &row : rows) {
        for (int i = 0; i < row.size(); ++i) {
            if (i >= widths.size())
                widths << shown(row.at(i));
            else
                widths[i] = qMax(widths[i], shown(row.at(i)));
        }
    }
    QStringList lines;
    for (const QStringList &row : rows) {
        QString line(indent, QLatin1Char(' '));
        for (int i = 0; i < row.size(); ++i) {
            line += row.at(i);
            if (i + 1 < row.size())
                line += QString(widths.at(i) + 2 - shown(row.at(i)), QLatin1Char(' '));
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines << line;
    }
    return lines;
}

} // namespace textsafety

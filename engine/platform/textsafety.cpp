#include "engine/platform/textsafety.h"

#include <cstring>

namespace textsafety
{

namespace
{

bool isControl(uint c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f);
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
        out += QLatin1String("\\x") + QString::number(c, 16).rightJustified(2, QLatin1Char('0'));
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

} // namespace

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString escapeControls(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const uint c = ch.unicode();
        if (c == '\\')
            out += QLatin1String("\\\\");
        else if (isControl(c))
            appendEscape(out, c);
        else
            out += ch;
    }
    return out;
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
    QString cell = untrusted;
    if (!cell.isEmpty()) {
        const QChar first = cell.front();
        if (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-') ||
            first == QLatin1Char('@') || first == QLatin1Char('\t') || first == QLatin1Char('\r'))
            cell.prepend(QLatin1Char('\''));
    }
    return quoted(escapeControls(cell), separator);
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

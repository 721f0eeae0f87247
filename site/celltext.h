#ifndef CELLTEXT_H
#define CELLTEXT_H

#include <QFontMetrics>
#include <QString>
#include <QStringList>

#include <utility>

// Texts fitted to the table's cells: what a cell must keep visible when it
// is narrower than its text.
namespace celltext
{

// The part of the port name `own` that tells it from `others` (the
// adapter's serial number in a by-id name, the socket in a by-path one),
// past the start and the end it shares with every other name, widened to
// whole words: [begin, end). {0, 0} when nothing tells it apart (no other
// name, or one name holding the other whole).
std::pair<int, int> distinguishingSpan(const QString &own, const QStringList &others);

// A port's name cut to `width` so that [span.first, span.second) stays
// whole: the start gives way first, then the end; an ellipsis stands for
// what is left out.
QString elideKeeping(const QString &text, std::pair<int, int> span, const QFontMetrics &metrics,
                     int width);

// The text on at most two lines of `width`: words wrapped, a line
// separator (QChar::LineSeparator) kept as the break, the second line
// elided at its end. Lines joined by QChar::LineSeparator.
QString twoLines(const QString &text, const QFontMetrics &metrics, int width);

} // namespace celltext

#endif // CELLTEXT_H

#include "site/celltext.h"

namespace celltext
{

namespace
{

// The separators at which a port's name splits into words.
bool isPortSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('_') || c == QLatin1Char('-') ||
           c == QLatin1Char('.') || c == QLatin1Char(':');
}

const QChar ellipsis(0x2026);
const QChar lineBreak(QChar::LineSeparator);

} // namespace

std::pair<int, int> distinguishingSpan(const QString &own, const QStringList &others)
{
    // cppcheck-suppress duplicateAssignExpression ; both start at the whole text
    int prefix = own.size();
    int suffix = own.size();
    bool any = false;
    for (const QString &other : others) {
        if (other.isEmpty() || other == own)
            continue;
        any = true;
        int same = 0;
        while (same < own.size() && same < other.size() && own.at(same) == other.at(same))
            ++same;
        prefix = qMin(prefix, same);
        int tail = 0;
        while (tail < own.size() && tail < other.size() &&
               own.at(own.size() - 1 - tail) == other.at(other.size() - 1 - tail))
            ++tail;
        suffix = qMin(suffix, tail);
    }
    int begin = prefix;
    int end = own.size() - suffix;
    if (!any || own.isEmpty() || end <= begin)
        return {0, 0};
    while (begin > 0 && !isPortSeparator(own.at(begin - 1)))
        --begin;
    while (end < own.size() && !isPortSeparator(own.at(end)))
        ++end;
    return {begin, end};
}

QString elideKeeping(const QString &text, std::pair<int, int> span, const QFontMetrics &metrics,
                     int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    if (span.second <= span.first) // nothing to keep: the end tells most
        return metrics.elidedText(text, Qt::ElideLeft, width);
    const QString head = text.left(span.first);
    const QString kept = text.mid(span.first, span.second - span.first);
    const QString tail = text.mid(span.second);
    const int dots = metrics.horizontalAdvance(ellipsis);
    const int keptWidth = metrics.horizontalAdvance(kept);
    const int headRoom = width - keptWidth - metrics.horizontalAdvance(tail);
    // The end whole, the start cut from its end.
    if (head.isEmpty() && headRoom >= 0)
        return kept + tail;
    if (!head.isEmpty() && headRoom >= dots)
        return metrics.elidedText(head, Qt::ElideRight, headRoom) + kept + tail;
    // No room for the end either: an ellipsis for the start, the end cut.
    const QString start = head.isEmpty() ? QString() : QString(ellipsis);
    const int tailRoom = width - keptWidth - metrics.horizontalAdvance(start);
    if (tailRoom < 0)
        return metrics.elidedText(start + kept, Qt::ElideRight, width);
    return start + kept + metrics.elidedText(tail, Qt::ElideRight, tailRoom);
}

QString twoLines(const QString &text, const QFontMetrics &metrics, int width)
{
    const int forced = text.indexOf(lineBreak);
    QString first;
    QString rest;
    if (forced >= 0 && metrics.horizontalAdvance(text.left(forced)) <= width) {
        first = text.left(forced);
        rest = text.mid(forced + 1);
    } else {
        QString flat = QString(text).replace(lineBreak, QLatin1Char(' '));
        if (metrics.horizontalAdvance(flat) <= width)
            return flat;
        // The most words that fit on the first line; a word too long for a
        // line is cut there.
        int cut = -1;
        for (int i = flat.indexOf(QLatin1Char(' ')); i > 0;
             i = flat.indexOf(QLatin1Char(' '), i + 1)) {
            if (metrics.horizontalAdvance(flat.left(i)) > width)
                break;
            cut = i;
        }
        if (cut < 0) {
            cut = 1;
            while (cut < flat.size() && metrics.horizontalAdvance(flat.left(cut + 1)) <= width)
                ++cut;
            first = flat.left(cut);
            rest = flat.mid(cut);
        } else {
            first = flat.left(cut);
            rest = flat.mid(cut + 1);
        }
    }
    rest = rest.replace(lineBreak, QLatin1Char(' ')).trimmed();
    if (rest.isEmpty())
        return first;
    return first + lineBreak + metrics.elidedText(rest, Qt::ElideRight, width);
}

} // namespace celltext

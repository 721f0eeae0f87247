#include "engine/bus/unitlist.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace unitlist
{

bool parse(const QString &text, QList<int> *units, QString *error)
{
    static const QRegularExpression item(
        QStringLiteral("^([1-9][0-9]{0,2})(?:-([1-9][0-9]{0,2}))?$"));
    QList<int> found;
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString &raw : parts) {
        const QString part = raw.trimmed();
        const QRegularExpressionMatch m = item.match(part);
        if (!m.hasMatch()) {
            *error = QStringLiteral("\"%1\" is no unit address nor range (1-247, as \"1,2,5\" or "
                                    "\"1-4\")")
                         .arg(part);
            return false;
        }
        const int from = m.captured(1).toInt();
        const int to = m.captured(2).isEmpty() ? from : m.captured(2).toInt();
        if (from > last || to > last) {
            *error = QStringLiteral("\"%1\": unit addresses go from 1 to 247").arg(part);
            return false;
        }
        if (to < from) {
            *error = QStringLiteral("\"%1\": the range runs backwards").arg(part);
            return false;
        }
        for (int unit = from; unit <= to; ++unit) {
            if (!found.contains(unit))
                found << unit;
        }
    }
    std::sort(found.begin(), found.end());
    *units = found;
    return true;
}

QString text(const QList<int> &units)
{
    QStringList words;
    for (const int unit : units)
        words << QString::number(unit);
    return words.join(QLatin1String(", "));
}

QString compact(const QList<int> &units)
{
    QStringList parts;
    for (int i = 0; i < units.size();) {
        int j = i;
        while (j + 1 < units.size() && units.at(j + 1) == units.at(j) + 1)
            ++j;
        if (j - i >= 2) {
            parts << QStringLiteral("%1-%2").arg(units.at(i)).arg(units.at(j));
        } else {
            for (int k = i; k <= j; ++k)
                parts << QString::number(units.at(k));
        }
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

QList<int> all()
{
    QList<int> units;
    for (int unit = first; unit <= last; ++unit)
        units << unit;
    return units;
}

QJsonArray json(const QList<int> &units)
{
    QJsonArray array;
    for (const int unit : units)
        array.append(unit);
    return array;
}

} // namespace unitlist

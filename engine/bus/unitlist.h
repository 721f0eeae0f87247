#ifndef UNITLIST_H
#define UNITLIST_H

#include <QJsonArray>
#include <QList>
#include <QString>

// Lists of unit addresses as a technician writes them: "1,2,5", "1-4",
// "1-4,7"; each 1-247 (0 is the broadcast, which nothing answers).
namespace unitlist
{

constexpr int first = 1;
constexpr int last = 247;

// The addresses, in order, each once; false with the reason otherwise.
bool parse(const QString &text, QList<int> *units, QString *error);
// "1, 2, 5"
QString text(const QList<int> &units);
// As a technician writes them, which parse() reads back: "1,2,5", runs of
// three or more as a range ("1-4,7").
QString compact(const QList<int> &units);
// 1-247
QList<int> all();
// [1, 2, 5]
QJsonArray json(const QList<int> &units);

} // namespace unitlist

#endif // UNITLIST_H

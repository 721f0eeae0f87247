#include "engine/jobs/recordwords.h"

#include "engine/jobs/rowwording.h"
#include "engine/reach/reachcheck.h"
#include "protocol/parameters.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

namespace recordwords
{

namespace
{

// What stands for a %N of a pattern.
enum class Part {
    Verbatim, // as written (a MAC, an address)
    Keys,     // parameter keys, ", " between them
    Result,   // a result of its own
    Bus,      // the bus check's words
    Reach,    // ReachCheck::word()
};

struct Pattern {
    const char *source; // the record's English, %1... for its parts
    Part parts[2];
};

// Every text RowOutcome and BusReport write into a record, the whole
// words before those with parts, and of two that both fit the longer one
// first.
const Pattern patterns[] = {
    {QT_TRANSLATE_NOOP("RecordWords", "verified"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "unverified"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "matches"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "verified, not rewritten"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "port in use"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "port not opened"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "interrupted"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "no answer"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "not identified"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "not a new module"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "already verified"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "address held"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "register unavailable"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "claim lost"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "invalid configuration"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "refused: reset"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "did not restart"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "no answer after restart"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "not identified after restart"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "verified on the console, address not known"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "not reached"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "done already"), {}},
    {QT_TRANSLATE_NOOP("RecordWords", "%1, not in the register"), {Part::Result}},
    {QT_TRANSLATE_NOOP("RecordWords", "%1 after the restart command"), {Part::Result}},
    {QT_TRANSLATE_NOOP("RecordWords", "%1 after sending %2; no restart was sent"),
     {Part::Result, Part::Keys}},
    {QT_TRANSLATE_NOOP("RecordWords", "refused: %1"), {Part::Keys}},
    {QT_TRANSLATE_NOOP("RecordWords", "different module: %1"), {Part::Verbatim}},
    {QT_TRANSLATE_NOOP("RecordWords", "differs: %1"), {Part::Keys}},
    {QT_TRANSLATE_NOOP("RecordWords", "mismatch: %1"), {Part::Keys}},
    {QT_TRANSLATE_NOOP("RecordWords", "verified on the console, not reachable at %1 (%2)"),
     {Part::Verbatim, Part::Reach}},
    {QT_TRANSLATE_NOOP("RecordWords", "matches on the console, not reachable at %1 (%2)"),
     {Part::Verbatim, Part::Reach}},
    {QT_TRANSLATE_NOOP("RecordWords", "verified on the console, reachable, bus: %1"), {Part::Bus}},
    {QT_TRANSLATE_NOOP("RecordWords", "matches on the console, reachable, bus: %1"), {Part::Bus}},
};

// The bus check's words (BusReport::outcomeWords), translated there.
const Pattern busPatterns[] = {
    {QT_TRANSLATE_NOOP("BusReport", "interrupted"), {}},
    {QT_TRANSLATE_NOOP("BusReport", "nothing answers"), {}},
    {QT_TRANSLATE_NOOP("BusReport", "refused"), {}},
    {QT_TRANSLATE_NOOP("BusReport", "no answer"), {}},
    {QT_TRANSLATE_NOOP("BusReport", "the module closed the connection"), {}},
    {QT_TRANSLATE_NOOP("BusReport", "not connected"), {}},
    {QT_TRANSLATE_NOOP("BusReport", "not reached at %1 (%2)"), {Part::Verbatim, Part::Bus}},
    {QT_TRANSLATE_NOOP("BusReport", "%1 does not answer (%2)"), {Part::Verbatim, Part::Bus}},
    {QT_TRANSLATE_NOOP("BusReport", "%1 do not answer (%2)"), {Part::Verbatim, Part::Bus}},
    {QT_TRANSLATE_NOOP("BusReport", "%1 answers"), {Part::Verbatim}},
    {QT_TRANSLATE_NOOP("BusReport", "%1 answer"), {Part::Verbatim}},
};

// The record's column titles beside the parameters' names.
const char *const columnTitles[][2] = {
    {"time", QT_TRANSLATE_NOOP("RecordWords", "time")},
    {"port", QT_TRANSLATE_NOOP("RecordWords", "port")},
    {"result", QT_TRANSLATE_NOOP("RecordWords", "result")},
    {"row", QT_TRANSLATE_NOOP("RecordWords", "row")},
    {"planned", QT_TRANSLATE_NOOP("RecordWords", "planned")},
    {"bus", QT_TRANSLATE_NOOP("RecordWords", "bus")},
    {"bus_ids", QT_TRANSLATE_NOOP("RecordWords", "bus_ids")},
};

// The parity's words as the module has them, and the reader's.
const char *const parityWords[] = {QT_TRANSLATE_NOOP("RecordWords", "none"),
                                   QT_TRANSLATE_NOOP("RecordWords", "odd"),
                                   QT_TRANSLATE_NOOP("RecordWords", "even")};

QString translated(const char *context, const char *source)
{
    return QCoreApplication::translate(context, source);
}

// The parameter of a record's key; none for another key.
bool fieldOf(const QString &key, ModuleField *field)
{
    for (const ModuleField f : allModuleFields) {
        if (parameters::fieldKey(f) == key) {
            *field = f;
            return true;
        }
    }
    return false;
}

QString keyName(const QString &key)
{
    ModuleField field = ModuleField::Name;
    return fieldOf(key, &field) ? RowWording::fieldName(field) : columnTitle(key);
}

QString reachWord(const QString &word, bool *whole)
{
    for (const ReachCheck::Outcome outcome :
         {ReachCheck::Outcome::Refused, ReachCheck::Outcome::NoAnswer,
          ReachCheck::Outcome::Unreachable}) {
        if (word == ReachCheck::word(outcome)) {
            ReachCheck::Result result;
            result.outcome = outcome;
            return ReachCheck::describe(result);
        }
    }
    *whole = false;
    return word;
}

QString partShown(Part part, const QString &text, bool *whole);

// The text by the first pattern that fits it whole, its parts too (*whole
// false when one does not); as it is when none does.
template <size_t count>
QString byPatterns(const char *context, const Pattern (&table)[count], const QString &text,
                   bool *whole)
{
    for (const Pattern &p : table) {
        const QString source = QString::fromLatin1(p.source);
        if (!source.contains(QLatin1Char('%'))) {
            if (text == source)
                return translated(context, p.source);
            continue;
        }
        // The text between the parts as it stands, each part any text.
        static const QRegularExpression marker(QStringLiteral("%[1-9]"));
        QStringList pieces;
        for (const QString &piece : source.split(marker))
            pieces << QRegularExpression::escape(piece);
        const QString expression = pieces.join(QStringLiteral("(.+?)"));
        const QRegularExpressionMatch match =
            QRegularExpression(QLatin1Char('^') + expression + QLatin1Char('$')).match(text);
        if (!match.hasMatch())
            continue;
        QString words = translated(context, p.source);
        for (int i = 1; i <= match.lastCapturedIndex() && i <= 2; ++i)
            words = words.arg(partShown(p.parts[i - 1], match.captured(i), whole));
        return words;
    }
    *whole = false;
    return text;
}

QString result(const QString &text, bool *whole)
{
    return byPatterns("RecordWords", patterns, text, whole);
}

QString bus(const QString &text, bool *whole)
{
    // A poor line's quality comes after the devices that answer.
    static const QRegularExpression quality(
        QStringLiteral("^(.+), line quality (.+) % \\(under (.+) %\\)$"));
    const QRegularExpressionMatch poor = quality.match(text);
    if (poor.hasMatch())
        return byPatterns("BusReport", busPatterns, poor.captured(1), whole) +
               translated("BusReport",
                          QT_TRANSLATE_NOOP("BusReport", ", line quality %1 % (under %2 %)"))
                   .arg(poor.captured(2), poor.captured(3));
    return byPatterns("BusReport", busPatterns, text, whole);
}

QString partShown(Part part, const QString &text, bool *whole)
{
    switch (part) {
    case Part::Verbatim:
        return text;
    case Part::Keys: {
        QStringList names;
        ModuleField field = ModuleField::Name;
        for (const QString &key : text.split(QStringLiteral(", "))) {
            names << keyName(key);
            *whole = *whole && fieldOf(key, &field);
        }
        return names.join(QStringLiteral(", "));
    }
    case Part::Result:
        return result(text, whole);
    case Part::Bus:
        return bus(text, whole);
    case Part::Reach:
        return reachWord(text, whole);
    }
    return text;
}

} // namespace

QString shown(const QString &text)
{
    bool whole = true;
    return result(text, &whole);
}

bool isKnown(const QString &text)
{
    bool whole = true;
    result(text, &whole);
    return whole;
}

QString shownBus(const QString &text)
{
    bool whole = true;
    return bus(text, &whole);
}

bool isKnownBus(const QString &text)
{
    bool whole = true;
    bus(text, &whole);
    return whole;
}

QString shownPlanned(const QString &planned)
{
    QStringList parts;
    for (const QString &pair : planned.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int equals = pair.indexOf(QLatin1Char('='));
        const QString key = pair.left(equals);
        const QString value = pair.mid(equals + 1);
        ModuleField field = ModuleField::Name;
        parts << (equals < 0 ? pair
                             : keyName(key) + QStringLiteral(" = ") +
                                   (fieldOf(key, &field) ? shownValue(field, value) : value));
    }
    return parts.join(QStringLiteral("; "));
}

QString shownValue(ModuleField field, const QString &value)
{
    if (field != ModuleField::Parity)
        return value;
    for (const char *word : parityWords) {
        if (value.trimmed().compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
            return translated("RecordWords", word);
    }
    return value;
}

QString columnTitle(const QString &key)
{
    ModuleField field = ModuleField::Name;
    if (fieldOf(key, &field))
        return RowWording::fieldName(field);
    for (const auto &title : columnTitles) {
        if (key == QLatin1String(title[0]))
            return translated("RecordWords", title[1]);
    }
    return key;
}

} // namespace recordwords

#include "engine/register/registerfacts.h"

#include "engine/register/registertext.h"
#include "engine/register/registerverdict.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace siteregister
{

namespace
{

// The record's words for the results that have no particulars, by code.
struct Plain {
    const char *code;
    const char *words;
};
const Plain plainResults[] = {
    {"verified", QT_TRANSLATE_NOOP("siteregister", "verified")},
    {"unverified", QT_TRANSLATE_NOOP("siteregister", "unverified")},
    {"matches", QT_TRANSLATE_NOOP("siteregister", "matches")},
    {"unchanged", QT_TRANSLATE_NOOP("siteregister", "verified, not rewritten")},
    {"port_in_use", QT_TRANSLATE_NOOP("siteregister", "port in use")},
    {"port_not_opened", QT_TRANSLATE_NOOP("siteregister", "port not opened")},
    {"interrupted", QT_TRANSLATE_NOOP("siteregister", "interrupted")},
    {"no_answer", QT_TRANSLATE_NOOP("siteregister", "no answer")},
    {"not_identified", QT_TRANSLATE_NOOP("siteregister", "not identified")},
    {"not_admitted", QT_TRANSLATE_NOOP("siteregister", "not a new module")},
    {"already_verified", QT_TRANSLATE_NOOP("siteregister", "already verified")},
    {"address_held", QT_TRANSLATE_NOOP("siteregister", "address held")},
    {"register_unavailable", QT_TRANSLATE_NOOP("siteregister", "register unavailable")},
    {"claim_lost", QT_TRANSLATE_NOOP("siteregister", "claim lost")},
    {"invalid_configuration", QT_TRANSLATE_NOOP("siteregister", "invalid configuration")},
    {"restart_refused", QT_TRANSLATE_NOOP("siteregister", "refused: reset")},
    {"did_not_restart", QT_TRANSLATE_NOOP("siteregister", "did not restart")},
    {"silent_after_restart", QT_TRANSLATE_NOOP("siteregister", "no answer after restart")},
    {"not_identified_after_restart",
     QT_TRANSLATE_NOOP("siteregister", "not identified after restart")},
    {"address_not_known",
     QT_TRANSLATE_NOOP("siteregister", "verified on the console, address not known")},
    {"not_reached", QT_TRANSLATE_NOOP("siteregister", "not reached")},
    {"done_already", QT_TRANSLATE_NOOP("siteregister", "done already")},
};

// Those with one particular: the code, its value's key, the record's
// pattern for an audit's row (when it has one of its own) and for any.
struct Patterned {
    const char *code;
    const char *key;
    const char *audit;
    const char *words;
};
const Patterned patternedResults[] = {
    {"refused", "field", nullptr, QT_TRANSLATE_NOOP("siteregister", "refused: %1")},
    {"other_module", "mac", nullptr, QT_TRANSLATE_NOOP("siteregister", "different module: %1")},
    {"mismatch", "fields", nullptr, QT_TRANSLATE_NOOP("siteregister", "mismatch: %1")},
    {"differs", "fields", nullptr, QT_TRANSLATE_NOOP("siteregister", "differs: %1")},
    {"bus_incomplete", "bus",
     QT_TRANSLATE_NOOP("siteregister", "matches on the console, reachable, %1"),
     QT_TRANSLATE_NOOP("siteregister", "verified on the console, reachable, %1")},
};

// The particulars the record adds after the words, outermost last.
const char *const sentSuffix =
    QT_TRANSLATE_NOOP("siteregister", "%1 after sending %2; no restart was sent");
const char *const unregisteredSuffix = QT_TRANSLATE_NOOP("siteregister", "%1, not in the register");
const char *const afterRestartSuffix =
    QT_TRANSLATE_NOOP("siteregister", "%1 after the restart command");
const char *const notReachable =
    QT_TRANSLATE_NOOP("siteregister", "verified on the console, not reachable at %1 (%2)");
const char *const notReachableAudit =
    QT_TRANSLATE_NOOP("siteregister", "matches on the console, not reachable at %1 (%2)");

QString say(const char *words, bool translated)
{
    return translated ? QCoreApplication::translate("siteregister", words)
                      : QString::fromLatin1(words);
}

// `text` read as `pattern` ("refused: %1", "%1 after sending %2; ..."):
// the texts standing for %1 and %2, or false.
bool readAs(const QString &text, const char *pattern, QStringList *parts)
{
    static const QRegularExpression mark(QStringLiteral("%[12]"));
    QStringList pieces;
    for (const QString &piece : QString::fromLatin1(pattern).split(mark))
        pieces << QRegularExpression::escape(piece);
    const QRegularExpression expression(QLatin1Char('^') + pieces.join(QLatin1String("(.+)")) +
                                        QLatin1Char('$'));
    const QRegularExpressionMatch match = expression.match(text);
    if (!match.hasMatch())
        return false;
    *parts = match.capturedTexts().mid(1);
    return true;
}

// Facts of a place a module was verified at, under `prefix`.
void putModule(Facts *facts, const QString &prefix, const ModuleEntry &m)
{
    const auto put = [&](const char *key, const QString &value) {
        if (!value.isEmpty())
            facts->insert(prefix + QLatin1String(key), value);
    };
    put("ip", m.values.value(ModuleField::Ip));
    put("mac", m.mac);
    put("row", m.planRow > 0 ? QString::number(m.planRow) : QString());
    put("plan", m.planPath);
    put("port", m.port);
    put("station", m.station);
    put("time", m.verifiedTime);
}

ModuleEntry moduleOf(const Facts &facts, const QString &prefix)
{
    ModuleEntry m;
    const auto get = [&](const char *key) { return facts.value(prefix + QLatin1String(key)); };
    if (!get("ip").isEmpty())
        m.values.insert(ModuleField::Ip, get("ip"));
    m.mac = get("mac");
    m.planRow = get("row").toInt();
    m.planPath = get("plan");
    m.port = get("port");
    m.station = get("station");
    m.verifiedTime = get("time");
    return m;
}

// A sentence an older register stored for where a module was verified
// ("verified as IP (WHERE, STATION, TIME)" in any language): the words
// around the facts are not read, only where the facts stand.
bool readVerifiedAs(const QString &text, ModuleEntry *m)
{
    static const QRegularExpression shape(QStringLiteral("^(.*?)(?: \\(([^()]*)\\))?$"));
    static const QRegularExpression ipv4(QStringLiteral("(\\d{1,3}(?:\\.\\d{1,3}){3})$"));
    static const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT[0-9:.]+"
                                                        "(?:Z|[+-]\\d\\d:\\d\\d)?$"));
    static const QRegularExpression row(QStringLiteral("^\\S+ (\\d+) \\S+ (.+)$"));
    static const QRegularExpression port(QStringLiteral("^\\S+ (.+)$"));
    const QRegularExpressionMatch parts = shape.match(text);
    const QRegularExpressionMatch ip = ipv4.match(parts.captured(1));
    if (ip.hasMatch())
        m->values.insert(ModuleField::Ip, ip.captured(1));
    const QStringList place = parts.captured(2).split(QStringLiteral(", "), Qt::SkipEmptyParts);
    for (int i = 0; i < place.size(); ++i) {
        const QString &item = place.at(i);
        QRegularExpressionMatch found;
        if (time.match(item).hasMatch())
            m->verifiedTime = item;
        else if (i > 0 || !item.contains(QLatin1Char(' ')))
            m->station = item;
        else if ((found = row.match(item)).hasMatch()) {
            m->planRow = found.captured(1).toInt();
            m->planPath = found.captured(2);
        } else if ((found = port.match(item)).hasMatch()) {
            m->port = found.captured(1);
        }
    }
    return m->verified();
}

} // namespace

ResultFacts resultFacts(const QString &recordWords)
{
    ResultFacts facts;
    QString words = recordWords;
    QStringList parts;
    // The particulars added after the words, the last added first.
    if (readAs(words, sentSuffix, &parts)) {
        words = parts.at(0);
        facts.values.insert(QStringLiteral("sent"), parts.at(1));
    }
    if (readAs(words, unregisteredSuffix, &parts)) {
        words = parts.at(0);
        facts.values.insert(QStringLiteral("unregistered"), QStringLiteral("1"));
    }
    if (readAs(words, afterRestartSuffix, &parts) && parts.at(0) == QLatin1String("interrupted")) {
        words = parts.at(0);
        facts.values.insert(QStringLiteral("after_restart"), QStringLiteral("1"));
    }
    for (const Plain &plain : plainResults) {
        if (words == QLatin1String(plain.words)) {
            facts.code = QLatin1String(plain.code);
            return facts;
        }
    }
    for (const Patterned &p : patternedResults) {
        for (const char *pattern : {p.audit, p.words}) {
            if (pattern && readAs(words, pattern, &parts)) {
                facts.code = QLatin1String(p.code);
                facts.values.insert(QLatin1String(p.key), parts.at(0));
                if (pattern == p.audit)
                    facts.values.insert(QStringLiteral("audit"), QStringLiteral("1"));
                return facts;
            }
        }
    }
    for (const char *pattern : {notReachableAudit, notReachable}) {
        if (readAs(words, pattern, &parts)) {
            facts.code = QStringLiteral("not_reachable");
            facts.values.insert(QStringLiteral("target"), parts.at(0));
            facts.values.insert(QStringLiteral("reach"), parts.at(1));
            if (pattern == notReachableAudit)
                facts.values.insert(QStringLiteral("audit"), QStringLiteral("1"));
            return facts;
        }
    }
    // Words this program does not make: kept as they are.
    return ResultFacts{QStringLiteral("text"), {{QStringLiteral("text"), recordWords}}};
}

QString resultWords(const ResultFacts &facts, bool translated)
{
    const Facts &v = facts.values;
    const bool audit = v.contains(QStringLiteral("audit"));
    QString words;
    for (const Plain &plain : plainResults) {
        if (facts.code == QLatin1String(plain.code))
            words = say(plain.words, translated);
    }
    for (const Patterned &p : patternedResults) {
        if (facts.code == QLatin1String(p.code))
            words = say(audit && p.audit ? p.audit : p.words, translated)
                        .arg(v.value(QLatin1String(p.key)));
    }
    if (facts.code == QLatin1String("not_reachable"))
        words = say(audit ? notReachableAudit : notReachable, translated)
                    .arg(v.value(QStringLiteral("target")), v.value(QStringLiteral("reach")));
    if (words.isEmpty())
        return v.value(QStringLiteral("text"), facts.code);
    if (v.contains(QStringLiteral("after_restart")))
        words = say(afterRestartSuffix, translated).arg(words);
    if (v.contains(QStringLiteral("unregistered")))
        words = say(unregisteredSuffix, translated).arg(words);
    if (v.contains(QStringLiteral("sent")))
        words = say(sentSuffix, translated).arg(words, v.value(QStringLiteral("sent")));
    return words;
}

bool provesValues(const ResultFacts &facts)
{
    return (facts.code == QLatin1String("verified") || facts.code == QLatin1String("matches") ||
            facts.code == QLatin1String("unchanged")) &&
           facts.values.isEmpty();
}

QString noteText(const RewriteNote &note)
{
    Facts facts;
    if (note.was.verified())
        putModule(&facts, QStringLiteral("was."), note.was);
    if (!note.heldIp.isEmpty()) {
        facts.insert(QStringLiteral("held.ip"), note.heldIp);
        putModule(&facts, QStringLiteral("holder."), note.holder);
    }
    if (!note.text.isEmpty())
        facts.insert(QStringLiteral("text"), note.text);
    return factsText(facts);
}

RewriteNote noteFrom(const QString &stored)
{
    const Facts facts = factsFrom(stored);
    RewriteNote note;
    note.was = moduleOf(facts, QStringLiteral("was."));
    note.heldIp = facts.value(QStringLiteral("held.ip"));
    if (!note.heldIp.isEmpty())
        note.holder = moduleOf(facts, QStringLiteral("holder."));
    note.text = facts.value(QStringLiteral("text"));
    if (note.isEmpty() && !stored.isEmpty()) {
        // An older register's sentence: "it was VERIFIED-AS" and "IP is
        // held by MAC, VERIFIED-AS", joined by "; ".
        static const QRegularExpression held(QStringLiteral(
            "^(\\d{1,3}(?:\\.\\d{1,3}){3}) .*?([0-9A-Fa-f]{2}(?::[0-9A-Fa-f]{2}){5}),"
            " (.+)$"));
        for (const QString &part : stored.split(QStringLiteral("; "))) {
            const QRegularExpressionMatch match = held.match(part);
            bool read = false;
            if (match.hasMatch() && note.heldIp.isEmpty()) {
                note.heldIp = match.captured(1);
                note.holder.mac = match.captured(2).toUpper();
                read = readVerifiedAs(match.captured(3), &note.holder);
            } else if (!match.hasMatch() && !note.was.verified()) {
                read = readVerifiedAs(part, &note.was);
            }
            if (!read)
                return RewriteNote{{}, {}, {}, stored};
        }
    }
    return note;
}

QString noteWords(const RewriteNote &note)
{
    QStringList parts;
    if (note.was.verified())
        parts << Text::tr("it was %1").arg(verifiedAs(note.was));
    if (!note.heldIp.isEmpty())
        parts << addressHeldText(note.heldIp, note.holder);
    if (!note.text.isEmpty())
        parts << note.text;
    return parts.join(QStringLiteral("; "));
}

QString historyWords(const HistoryEntry &entry)
{
    return entry.rewrite ? Text::tr("rewritten: %1").arg(noteWords(entry.previous))
                         : resultWords(entry.result, true);
}

} // namespace siteregister

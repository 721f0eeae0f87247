#include "engine/bus/busreport.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

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

} // namespace unitlist

QList<int> BusReport::answered() const
{
    QList<int> list;
    for (const BusUnit &u : units) {
        if (u.isPresent())
            list << u.unit;
    }
    return list;
}

QList<int> BusReport::missing() const
{
    const QList<int> present = answered();
    QList<int> list;
    for (const int unit : expected) {
        if (!present.contains(unit))
            list << unit;
    }
    return list;
}

const BusUnit *BusReport::unit(int address) const
{
    for (const BusUnit &u : units) {
        if (u.unit == address)
            return &u;
    }
    return nullptr;
}

bool BusReport::hasQuality() const
{
    return repeat > 0 && askedOfPresent() > 0;
}

namespace
{

template <typename F> int sumOfPresent(const QList<BusUnit> &units, F field)
{
    int sum = 0;
    for (const BusUnit &u : units) {
        if (u.isPresent())
            sum += field(u);
    }
    return sum;
}

} // namespace

int BusReport::goodReplies() const
{
    return sumOfPresent(units, [](const BusUnit &u) { return u.good; });
}

int BusReport::crcErrors() const
{
    return sumOfPresent(units, [](const BusUnit &u) { return u.crcErrors; });
}

int BusReport::noReplies() const
{
    return sumOfPresent(units, [](const BusUnit &u) { return u.noReply; });
}

int BusReport::wrongReplies() const
{
    int sum = 0;
    for (const BusUnit &u : units)
        sum += u.wrongReplies;
    return sum;
}

int BusReport::lateReplies() const
{
    int sum = 0;
    for (const BusUnit &u : units)
        sum += u.late;
    return sum;
}

int BusReport::askedOfPresent() const
{
    return sumOfPresent(units, [](const BusUnit &u) { return u.asked; });
}

double BusReport::qualityPercent() const
{
    const int asked = askedOfPresent();
    return asked > 0 ? 100.0 * goodReplies() / asked : 0.0;
}

QList<int> BusReport::replyTimes() const
{
    QList<int> times;
    for (const BusUnit &u : units) {
        if (u.isPresent())
            times += u.times;
    }
    if (times.isEmpty())
        return {-1, -1, -1};
    std::sort(times.begin(), times.end());
    return {times.first(), times.at(times.size() / 2), times.last()};
}

BusReport::Verdict BusReport::verdict() const
{
    if (interrupted)
        return Verdict::Interrupted;
    if (!reached)
        return Verdict::NotReached;
    if (answered().isEmpty())
        return Verdict::NothingAnswers;
    if (!missing().isEmpty())
        return Verdict::Missing;
    if (hasQuality() && qualityPercent() < minQualityPercent)
        return Verdict::PoorLine;
    return Verdict::Found;
}

int BusReport::exitCode() const
{
    switch (verdict()) {
    case Verdict::Found:
        return 0;
    case Verdict::NotReached:
        return 4;
    case Verdict::NothingAnswers:
        return expected.isEmpty() ? 4 : 6;
    case Verdict::Missing:
    case Verdict::PoorLine:
        return 6;
    case Verdict::Interrupted:
        return 130;
    }
    return 4;
}

namespace
{

// 92.4 -> "92.4", 92.0 -> "92"; never rounded up to a minimum it is under.
QString percentText(double percent)
{
    const double down = std::floor(percent * 10) / 10;
    QString text = QString::number(down, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text;
}

} // namespace

QString BusReport::failure() const
{
    const QList<int> absent = missing();
    if (reached && !interrupted && !absent.isEmpty())
        return (absent.size() == 1 ? QStringLiteral("%1 expected, does not answer")
                                   : QStringLiteral("%1 expected, do not answer"))
            .arg(unitlist::text(absent));
    if (verdict() == Verdict::PoorLine)
        return QStringLiteral("line quality %1 % under --min-quality %2 %")
            .arg(percentText(qualityPercent()))
            .arg(minQualityPercent);
    return QString();
}

QString BusReport::diagnosis() const
{
    if (!reached)
        return QStringLiteral("the module cannot be reached at %1: %2").arg(target, notReachedWhy);
    const QList<int> present = answered();
    QStringList parts;
    const QString failed = failure();
    if (!failed.isEmpty())
        parts << failed;
    if (present.size() == 1)
        parts << QStringLiteral("1 device answers: %1").arg(present.first());
    else if (!present.isEmpty())
        parts << QStringLiteral("%1 devices answer: %2")
                     .arg(present.size())
                     .arg(unitlist::text(present));
    else
        parts << silence();
    // Many slaves (libmodbus's among them) keep off the line for up to
    // 500 ms after a frame for another address: a faster scan misses them.
    const bool fewer = !missing().isEmpty() || present.isEmpty();
    if (fewer && answerTimeoutMs < 500 && units.size() > 1)
        parts << QStringLiteral("many devices ignore the line for up to 500 ms after a frame for "
                                "another address: try --answer-timeout 500");
    return parts.join(QLatin1String("; "));
}

// What the line did where nothing answers: quiet, bytes of no frame (told
// apart by where they came, when enough addresses were asked), or others'
// frames.
QString BusReport::silence() const
{
    if (noiseBytes > 0 || garbledUnits() > 0) {
        QList<int> noisy;
        for (const BusUnit &u : units) {
            if (u.noiseBytes > 0 || u.crcErrors > 0)
                noisy << u.unit;
        }
        const int asked = int(units.size());
        if (asked >= 4 && noisy.size() * 2 >= asked)
            return QStringLiteral("nothing answers, but bytes that are no valid frame arrive "
                                  "whatever address is asked: noise on the line (termination, "
                                  "shielding, earth), or another master on it");
        if (asked >= 4 && !noisy.isEmpty())
            return QStringLiteral("nothing answers, but bytes that are no valid frame answer %1: "
                                  "devices there at other settings than the module; try "
                                  "--find-settings")
                .arg(unitlist::text(noisy));
        return QStringLiteral("nothing answers, but bytes arrive that are no valid frame: the bus "
                              "runs at other settings than the module, or there is noise or "
                              "another master on it");
    }
    if (framesAside > 0)
        return QStringLiteral("nothing answers the probe, but frames of other addresses pass on "
                              "the line: another master is on it");
    return QStringLiteral("nothing answers and the line is quiet: check A/B, termination, the "
                          "devices' addresses, or try --find-settings");
}

QString BusReport::brief() const
{
    if (!reached)
        return QStringLiteral("not reached (%1)").arg(notReachedWhy);
    if (!answered().isEmpty())
        return diagnosis();
    if (noiseBytes > 0 || garbledUnits() > 0)
        return QStringLiteral("nothing answers, %1 bytes of no valid frame").arg(noiseBytes);
    if (framesAside > 0)
        return QStringLiteral("nothing answers, %1 frames of other addresses").arg(framesAside);
    return QStringLiteral("nothing answers, the line quiet");
}

QString BusReport::verdictWord() const
{
    switch (verdict()) {
    case Verdict::Found:
        return QStringLiteral("found");
    case Verdict::NotReached:
        return QStringLiteral("not reached");
    case Verdict::NothingAnswers:
        return QStringLiteral("nothing answers");
    case Verdict::Missing:
        return QStringLiteral("missing");
    case Verdict::PoorLine:
        return QStringLiteral("poor line");
    case Verdict::Interrupted:
        return QStringLiteral("interrupted");
    }
    return QString();
}

QStringList BusReport::notes() const
{
    QStringList lines;
    QList<int> late;
    QList<int> slow; // its replies came only after the next request
    int strayOfAsked = 0;
    for (const BusUnit &u : units) {
        if (u.state == BusUnit::State::Late)
            late << u.unit;
        const int stray = strayByUnit.value(u.unit);
        if (stray > 0 && (u.state == BusUnit::State::Nothing || u.noReply > 0)) {
            slow << u.unit;
            strayOfAsked += stray;
        }
    }
    if (!late.isEmpty())
        lines << QStringLiteral("%1 answered only after the answer time-out: raise it above the "
                                "module's packet time-out")
                     .arg(unitlist::text(late));
    if (!slow.isEmpty())
        lines << QStringLiteral("%1 frames from %2 came after their answer time-out and the next "
                                "request: raise --answer-timeout")
                     .arg(strayOfAsked)
                     .arg(unitlist::text(slow));
    const int others = framesAside - strayOfAsked;
    if (others > 0 && !answered().isEmpty())
        lines << QStringLiteral("%1 frames answered nothing asked: another master may be on the "
                                "bus, or a device sends twice")
                     .arg(others);
    if (wrongReplies() > 0)
        lines << QStringLiteral("%1 wrong replies: frames from the address asked that do not "
                                "answer the request")
                     .arg(wrongReplies());
    if (noiseBytes > 0 && !answered().isEmpty())
        lines << QStringLiteral("%1 bytes were no valid frame while devices answer at these "
                                "settings: noise on the line (termination, shielding, earth), or "
                                "another master")
                     .arg(noiseBytes);
    return lines;
}

QString BusReport::summary() const
{
    return QStringLiteral("bus: ") + outcomeWords();
}

QString BusReport::outcomeWords(bool translated) const
{
    // The English source, or its translation: every text is marked for
    // lupdate under "BusReport".
    const auto say = [translated](const char *text) {
        return translated ? QCoreApplication::translate("BusReport", text)
                          : QString::fromLatin1(text);
    };
    if (interrupted)
        return say(QT_TRANSLATE_NOOP("BusReport", "interrupted"));
    if (!reached) {
        // The connection's words as BusClient gives them; translated where
        // they are its fixed ones.
        static const char *const fixed[] = {
            QT_TRANSLATE_NOOP("BusReport", "refused"), QT_TRANSLATE_NOOP("BusReport", "no answer"),
            QT_TRANSLATE_NOOP("BusReport", "the module closed the connection"),
            QT_TRANSLATE_NOOP("BusReport", "not connected"),
            QT_TRANSLATE_NOOP("BusReport", "unreachable")};
        QString why = notReachedWhy;
        for (const char *word : fixed) {
            if (why == QLatin1String(word))
                why = say(word);
        }
        return say(QT_TRANSLATE_NOOP("BusReport", "not reached at %1 (%2)")).arg(target, why);
    }
    const QList<int> present = answered();
    const QList<int> absent = missing();
    const auto answer = [&say](const QList<int> &units) {
        return (units.size() == 1 ? say(QT_TRANSLATE_NOOP("BusReport", "%1 answers"))
                                  : say(QT_TRANSLATE_NOOP("BusReport", "%1 answer")))
            .arg(unitlist::text(units));
    };
    if (!absent.isEmpty()) {
        return (absent.size() == 1 ? say(QT_TRANSLATE_NOOP("BusReport", "%1 does not answer (%2)"))
                                   : say(QT_TRANSLATE_NOOP("BusReport", "%1 do not answer (%2)")))
            .arg(unitlist::text(absent),
                 present.isEmpty() ? say(QT_TRANSLATE_NOOP("BusReport", "nothing answers"))
                                   : answer(present));
    }
    if (present.isEmpty())
        return say(QT_TRANSLATE_NOOP("BusReport", "nothing answers"));
    QString text = answer(present);
    if (verdict() == Verdict::PoorLine)
        text += say(QT_TRANSLATE_NOOP("BusReport", ", line quality %1 % (under %2 %)"))
                    .arg(qualityPercent(), 0, 'f', 1)
                    .arg(minQualityPercent);
    return text;
}

QString BusReport::exceptionName(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("illegal function");
    case 2:
        return QStringLiteral("illegal data address");
    case 3:
        return QStringLiteral("illegal data value");
    case 4:
        return QStringLiteral("server device failure");
    case 5:
        return QStringLiteral("acknowledge");
    case 6:
        return QStringLiteral("server device busy");
    case 8:
        return QStringLiteral("memory parity error");
    case 10:
        return QStringLiteral("gateway path unavailable");
    case 11:
        return QStringLiteral("gateway target device failed to respond");
    default:
        return QString();
    }
}

QString BusReport::describe(const BusUnit &unit)
{
    switch (unit.state) {
    case BusUnit::State::Answers:
        return QStringLiteral("answers (%1 ms)").arg(unit.ms);
    case BusUnit::State::Exception: {
        const QString name = exceptionName(unit.exceptionCode);
        return QStringLiteral("exception %1").arg(unit.exceptionCode) +
               (name.isEmpty() ? QString() : QStringLiteral(" (") + name + QLatin1Char(')'));
    }
    case BusUnit::State::Late:
        return QStringLiteral("answers late (%1 ms)").arg(unit.ms);
    case BusUnit::State::Nothing:
        break;
    }
    if (unit.crcErrors > 0)
        return QStringLiteral("no valid reply (%1 with a wrong CRC)").arg(unit.crcErrors);
    return QStringLiteral("nothing");
}

int BusReport::garbledUnits() const
{
    int n = 0;
    for (const BusUnit &u : units)
        n += !u.isPresent() && u.crcErrors > 0 ? 1 : 0;
    return n;
}

QString BusReport::stateWord(BusUnit::State state)
{
    switch (state) {
    case BusUnit::State::Answers:
        return QStringLiteral("answers");
    case BusUnit::State::Exception:
        return QStringLiteral("exception");
    case BusUnit::State::Late:
        return QStringLiteral("late");
    case BusUnit::State::Nothing:
        break;
    }
    return QStringLiteral("nothing");
}

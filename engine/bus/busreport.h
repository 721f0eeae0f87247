#ifndef BUSREPORT_H
#define BUSREPORT_H

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

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

} // namespace unitlist

// What one unit address came to in a bus scan.
struct BusUnit {
    enum class State {
        Nothing,   // no reply within the answer time-out
        Answers,   // a well-formed reply
        Exception, // an exception reply: the device is there
        Late,      // its reply came after the answer time-out
    };
    int unit = 0;
    State state = State::Nothing;
    int ms = -1;           // to the reply that proved it
    int exceptionCode = 0; // State::Exception

    // Its replies over the scan's tries and the repeats: the line's quality.
    int asked = 0;
    int good = 0;
    int crcErrors = 0;
    int noReply = 0;
    int wrongReplies = 0; // well-formed frames from it that were no reply
    int late = 0;         // replies after the time-out, before the next request
    int noiseBytes = 0;   // bytes of no frame that came while it was asked
    QList<int> times;     // ms of each good reply

    bool isPresent() const { return state != State::Nothing; }
};

// What a bus scan came to, and the one rule for its outcome: the words
// every front end shows (the diagnosis, a run's summary) and ordan-cli's
// exit code.
struct BusReport {
    enum class Verdict {
        Found,          // devices answer, every expected one among them
        NotReached,     // the module's TCP port could not be used
        NothingAnswers, // no device answered
        Missing,        // an expected device did not answer
        PoorLine,       // the line's quality is under the minimum
        Interrupted,
    };

    QString target; // "10.20.0.31:502"
    bool reached = false;
    QString notReachedWhy; // "refused", "the module closed the connection", ...
    bool interrupted = false;
    QList<BusUnit> units; // each address asked, in the order asked
    QList<int> expected;
    int repeat = 0;
    int minQualityPercent = 99;
    int answerTimeoutMs = 1000;
    // Stray: what answered no request in hand (see ReplyMatch).
    qint64 noiseBytes = 0;      // bytes that were no frame
    int framesAside = 0;        // whole frames
    QMap<int, int> strayByUnit; // those frames by their unit

    QList<int> answered() const; // present units, in order
    QList<int> missing() const;  // expected ones not present
    const BusUnit *unit(int address) const;

    // The quality of the line to the devices that answered, over every
    // request to them (with --repeat): good replies of all asked.
    bool hasQuality() const;
    double qualityPercent() const;
    int goodReplies() const;
    int crcErrors() const;
    int noReplies() const;
    int wrongReplies() const; // of every unit asked
    int lateReplies() const;
    int askedOfPresent() const;
    // Addresses that answered only with a wrong CRC: something is there,
    // but its replies are spoiled.
    int garbledUnits() const;
    // min, median, max ms of the good replies; -1 when none.
    QList<int> replyTimes() const;

    Verdict verdict() const;
    // The one rule for the exit code, of `ordan-cli bus` and of a plan's row
    // alike: 0 found; 4 not reached, or nothing answers when nothing was
    // expected; 6 an expected device does not answer, or the line's quality
    // is under the minimum; 130 interrupted.
    int exitCode() const;
    // One line, the last, naming what failed first: "3 devices answer: 1,
    // 2, 5", "8 expected, does not answer; 1 device answers: 7", "line
    // quality 92 % under --min-quality 99 %; ...", "nothing answers and the
    // line is quiet: ...", "nothing answers, but bytes arrive that are no
    // valid frame: ...".
    QString diagnosis() const;
    // "8 expected, does not answer", "line quality 92 % under --min-quality
    // 99 %"; empty when nothing failed.
    QString failure() const;
    // Where nothing answers: what the line did.
    QString silence() const;
    // Short, for a line among others: "3 devices answer: 1, 2, 5",
    // "nothing answers, the line quiet", "nothing answers, 40 bytes of no
    // valid frame", "not reached (refused)".
    QString brief() const;
    // "found", "not reached", "nothing answers", "missing", "poor line",
    // "interrupted": the words of JSON, never translated.
    QString verdictWord() const;
    // What else the scan saw: late replies, another master's frames.
    QStringList notes() const;
    // A row's words: "bus: 1, 2, 5 answer", "bus: 5 does not answer (1, 2
    // answer)", "bus: not reached at 10.20.0.31:502 (refused)".
    QString summary() const;
    // The same without "bus: " ("5 does not answer (1, 2 answer)"): the
    // record's bus column, never translated; with `translated`, in the
    // language of the program's translator (the site window's bus column).
    QString outcomeWords(bool translated = false) const;
    // "answers (12 ms)", "exception 2 (illegal data address)", "nothing".
    static QString describe(const BusUnit &unit);
    static QString exceptionName(int code);
    // "nothing", "answers", "exception", "late": JSON's words.
    static QString stateWord(BusUnit::State state);
};

#endif // BUSREPORT_H

#ifndef ROWWORDING_H
#define ROWWORDING_H

#include "engine/jobs/rowoutcome.h"
#include "protocol/parameters.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

// Every word of a row, chosen here alone from its outcome (RowOutcome, the
// facts and their judgement): its status word in ordan-cli's summary and
// JSON, its line in the terminal, its short line and detail in the site
// window, why it failed, and what the register said of its module. The
// sentences are translatable (ordan-cli loads no translation: it stays
// English), parameters named in them included; statusWord(), moduleWord()
// and the keys of JSON are not. The record's own words are the outcome's
// (RowOutcome::recordResult), read back in the reader's language by
// recordwords.
class RowWording
{
    Q_DECLARE_TR_FUNCTIONS(RowWording)

public:
    // Why, in words: the job's failure, or why the row was not reached;
    // empty for a row that went right.
    static QString reason(const RowOutcome &outcome);
    // Why a row was not begun, in words ("interrupted", "no new module on
    // the port within 2 s"); empty when its lane gave none.
    static QString notBegun(const RowOutcome::NotBegun &why);
    // Why a keeper did not take the row: its error, or that it was closed;
    // empty when it took it (or is not kept).
    static QString keeperError(const WriteResult::Kept *kept);
    static QString recordError(const RowOutcome &o) { return keeperError(o.record()); }
    static QString registerError(const RowOutcome &o) { return keeperError(o.inRegister()); }
    // The word for the row's status in ordan-cli's summary and JSON:
    // "verified", "unverified", "matches", "differs", "failed" or "not
    // reached" (an interrupted row, and a write that differs, failed).
    static QString statusWord(const RowOutcome &outcome);
    // The words a run's rows can have, in the order a summary counts them.
    static QStringList statusWords(bool audit);
    // A status word in the reader's language (itself in English).
    static QString statusText(const QString &word);
    // What the module itself came to, whatever the record: "verified",
    // "unverified" or "matches"; empty when it did not get there.
    static QString moduleWord(const RowOutcome &outcome);
    // The failure in a word or two ("refused", "no answer"); empty when
    // none.
    static QString failureWord(const RowOutcome &outcome);
    // The row in one line, as ordan-cli's summary gives it: "verified",
    // "failed: the module refused ...", "differs: ip planned ..., module
    // has ..."; in a window's language where one is loaded.
    static QString line(const RowOutcome &outcome);
    // The row in a word or a few, for the site window's state column: its
    // status, a difference by the parameters that differ ("differs: ip,
    // mask"; a write's too), a failure by its word ("failed: refused"), a
    // row done already by whom; in a window's language where one is loaded.
    static QString shortLine(const RowOutcome &outcome);
    // What the row came to, for the site window's result cell.
    static QString detail(const RowOutcome &outcome);
    // What the register said of the module, when it went on anyway or
    // found nothing to write: "rewritten: it was verified as 10.70.0.82
    // (row 3 of site.csv, station, time)", "not rewritten: it already held
    // the planned values, verified as ..."; empty otherwise.
    static QString registerNote(const RowOutcome &outcome);
    // The bus check in the window's words ("1, 2, 5 answer", "5 does not
    // answer (1, 2 answer)"); empty when none was made.
    static QString busDetail(const RowOutcome &outcome);

    // A parameter's name in a sentence, translated (the key itself in
    // English: "ip", "tcp_port"), and several joined: "ip, gateway".
    static QString fieldName(ModuleField field);
    static QString fieldNames(const QList<ModuleField> &fields);
};

#endif // ROWWORDING_H

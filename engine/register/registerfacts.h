#ifndef REGISTERFACTS_H
#define REGISTERFACTS_H

#include "engine/register/registerentries.h"

#include <QString>

// What the register keeps of a row's result and of a rewrite: facts (a
// code and values), never sentences. The words are chosen when they are
// shown, in the reader's language; the record's own words (English, never
// translated) are read into facts on their way in.
namespace siteregister
{

// The record's words for a row ("verified", "refused: ip after sending ip;
// no restart was sent", "mismatch: ip, mask") read into facts.
ResultFacts resultFacts(const QString &recordWords);
// The words for them: translated (the reader's language, for a screen) or
// the record's own.
QString resultWords(const ResultFacts &facts, bool translated);
// Whether the result proves that its module holds the values read back:
// verified (written, restarted, read back), matches (an audit read them)
// or unchanged (verified before, read and found so), with nothing added
// (not "not in the register").
bool provesValues(const ResultFacts &facts);

// A note as the register stores it, and back; noteFrom() also reads the
// sentences older registers stored ("it was verified as 10.70.0.82 (row 3 of
// site.csv, station, time)", in English or in a translation).
QString noteText(const RewriteNote &note);
RewriteNote noteFrom(const QString &stored);
// The note in the reader's language: "it was verified as 10.70.0.82 (row 3
// of site.csv, station, time); 10.70.0.90 is held by MAC, verified as ...".
QString noteWords(const RewriteNote &note);

// What a module's history entry came to, in the reader's language: its
// result's words (resultWords), or for a rewrite "rewritten: " and what the
// register knew of the module before (noteWords).
QString historyWords(const HistoryEntry &entry);

} // namespace siteregister

#endif // REGISTERFACTS_H

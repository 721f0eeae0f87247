#include "engine/commission/registeradapter.h"

#include "engine/commission/registerdesk.h"
#include "engine/register/registerruns.h"
#include "engine/register/siteregister.h"

#include <QPointer>

using namespace siteregister;

namespace
{

// The register's admission in the job's words.
WriteJob::Admission forJob(const Admission &a)
{
    using Job = WriteJob::Admission;
    Job answer;
    answer.words = a.words;
    switch (a.verdict) {
    case Admission::Verdict::Write:
        answer.words.clear();
        break;
    case Admission::Verdict::Rewrite:
        break;
    case Admission::Verdict::Unchanged:
        answer.verdict = Job::Verdict::Unchanged;
        break;
    case Admission::Verdict::Stop:
        answer.verdict = Job::Verdict::Stop;
        answer.refusal = a.stop == Admission::Stop::VerifiedElsewhere ? Job::Refusal::Elsewhere
                         : a.stop == Admission::Stop::AddressHeld     ? Job::Refusal::Held
                                                                      : Job::Refusal::Unanswered;
        break;
    }
    return answer;
}

WriteJob::Admission closed()
{
    WriteJob::Admission answer;
    answer.verdict = WriteJob::Admission::Verdict::Stop;
    answer.refusal = WriteJob::Admission::Refusal::Closed;
    return answer;
}

} // namespace

namespace registeradapter
{

WriteJob::Admit admission(RegisterDesk *desk, const Row &row)
{
    const QPointer<RegisterDesk> self(desk);
    return [self, row](const QString &mac, const WriteJob::Answered &answered) {
        if (!self) {
            answered(closed());
            return;
        }
        AdmissionRequest request;
        request.planRow = row.planRow;
        request.mac = mac;
        request.planned = row.planned;
        request.replaces = row.replaces;
        self->admit(request, [answered](const Admission &a) { answered(forJob(a)); });
    };
}

WriteJob::Keep keeper(RegisterDesk *desk, const Row &row)
{
    const QPointer<RegisterDesk> self(desk);
    return [self, row](const RowOutcome &o, const WriteJob::KeepDone &done) {
        if (!self) {
            done(false, QString(), true);
            return;
        }
        RowEntry entry;
        entry.time = o.result().endedAt;
        entry.planRow = o.result().planRow;
        entry.port = o.result().port;
        entry.planned = o.result().planned;
        entry.values = o.recordValues();
        entry.result = o.recordResult();
        entry.replaces = row.replaces;
        const qint64 run = self->run();
        const std::optional<ClaimRequest> claimed = row.claimed;
        self->post([entry, run, claimed, done](SiteRegister &r) -> std::function<void()> {
            QString error;
            const bool kept =
                RegisterRuns(r).recordRow(run, entry, &error, claimed ? &*claimed : nullptr);
            return [done, kept, error] { done(kept, error, false); };
        });
    };
}

void attach(RegisterDesk *desk, WriteJob *job, const Row &row)
{
    job->setAdmission(admission(desk, row));
    job->addKeeper(WriteJob::Keeper::Register, keeper(desk, row));
}

WriteJob::Admit ruleFirst(const RunRule &rule, const WriteJob::Admit &then)
{
    return [rule, then](const QString &mac, const WriteJob::Answered &answered) {
        if (const int metAtRow = rule(mac); metAtRow > 0) {
            WriteJob::Admission stop;
            stop.verdict = WriteJob::Admission::Verdict::Stop;
            stop.refusal = WriteJob::Admission::Refusal::ByRun;
            stop.metAtRow = metAtRow;
            answered(stop);
        } else if (then) {
            then(mac, answered);
        } else {
            answered(WriteJob::Admission());
        }
    };
}

} // namespace registeradapter

// A commissioning run's claims in the site register: two stations running
// one plan split its rows. A port with a module there takes the first of
// its rows that no run has done and no other station holds; a row held by
// another is asked for again while the port waits, and taken over once
// the other's lease has run out; the running row's claim is renewed.
#include "engine/register/registerentries.h"
#include "engine/register/registerverdict.h"
#include "engine/commission/commissionrun.h"
#include "engine/commission/registerdesk.h"

#include <QPointer>

using siteregister::ClaimEntry;

namespace
{
// How often rows held by another station are asked for again, at most.
constexpr qint64 retryMaxMs = 2000;
} // namespace

bool CommissionRun::claimsKept() const
{
    return registerDesk && !audit && replacesMac.isEmpty();
}

void CommissionRun::takeRow(Lane *lane)
{
    if (!claimsKept()) {
        beginRow(lane);
        return;
    }
    claimFrom(lane, lane->next, retryMaxMs);
}

void CommissionRun::claimFrom(Lane *lane, int position, qint64 retryMs)
{
    if (interrupted || lane->done)
        return;
    if (position >= lane->rows.size()) {
        if (lane->next >= lane->rows.size()) {
            endLane(lane, QString());
            return;
        }
        // Every row left is another station's now: asked for again when
        // the soonest lease runs out.
        lane->retryTimer.start(int(qBound<qint64>(100, retryMs + 50, retryMaxMs)));
        return;
    }
    const int index = lane->rows.at(position);
    const QPointer<CommissionRun> self(this);
    registerDesk->claim(
        rows.at(size_t(index)).plan.row, rewriteDone,
        [self, lane, index, retryMs](const ClaimEntry &claim, const QString &error) {
            if (!self)
                return;
            CommissionRun *run = self;
            RowState &state = run->rows.at(size_t(index));
            const bool taken = claim.state == ClaimEntry::State::Claimed ||
                               claim.state == ClaimEntry::State::TakenOver;
            // Where the row stands now: the register's answers on other
            // ports may have settled rows of this one meanwhile.
            const int position = int(lane->rows.indexOf(index));
            if (run->interrupted || lane->done || position < lane->next) {
                if (taken)
                    run->registerDesk->release(state.plan.row);
                if (!run->interrupted && !lane->done)
                    run->claimFrom(lane, lane->next, retryMs);
                return;
            }
            switch (claim.state) {
            case ClaimEntry::State::Claimed:
            case ClaimEntry::State::TakenOver:
                state.claimed = true;
                state.heldBy.clear();
                lane->rows.move(position, lane->next);
                run->beginRow(lane);
                return;
            case ClaimEntry::State::Done:
                state.doneBy = siteregister::claimDoneText(claim);
                run->settle(lane, position);
                run->claimFrom(lane, lane->next, retryMs);
                return;
            case ClaimEntry::State::HeldByOther: {
                const QString words = siteregister::claimHeldText(claim);
                if (state.heldBy != words) {
                    state.heldBy = words;
                    emit run->rowHeldElsewhere(index, words);
                }
                run->claimFrom(lane, position + 1,
                               qMin(retryMs, qMax<qint64>(claim.leaseLeftMs, 0)));
                return;
            }
            case ClaimEntry::State::Free:
            case ClaimEntry::State::Failed:
                // Nothing is written to a row the register cannot be asked
                // about: it fails with the reason.
                state.registerFailure = error;
                run->settle(lane, position);
                run->claimFrom(lane, lane->next, retryMs);
                return;
            }
        });
}

void CommissionRun::settle(Lane *lane, int position)
{
    const int index = lane->rows.at(position);
    lane->rows.move(position, lane->next);
    ++lane->next;
    emit rowSettled(index);
}

void CommissionRun::settleDone(const QList<ClaimEntry> &claims)
{
    QHash<int, ClaimEntry> done;
    for (const ClaimEntry &c : claims) {
        if (c.state == ClaimEntry::State::Done)
            done.insert(c.planRow, c);
    }
    if (done.isEmpty() || rewriteDone)
        return;
    for (const auto &lane : lanes) {
        if (lane->done)
            continue;
        for (int position = lane->next; position < lane->rows.size(); ++position) {
            // The row being chosen or written is left to its claim.
            const int index = lane->rows.at(position);
            RowState &state = rows.at(size_t(index));
            if (state.job || state.claimed || !done.contains(state.plan.row))
                continue;
            state.doneBy = siteregister::claimDoneText(done.value(state.plan.row));
            settle(lane.get(), position);
        }
        // A port waiting for modules for rows that others did meanwhile
        // waits no more.
        if (lane->next >= lane->rows.size() && lane->current < 0 && !lane->retryTimer.isActive())
            endLane(lane.get(), QString());
    }
}

void CommissionRun::renewClaim(Lane *lane, int index)
{
    const QPointer<CommissionRun> self(this);
    registerDesk->renew(rows.at(size_t(index)).plan.row,
                        [self, lane, index](bool ok, bool takenOver, const QString &error) {
                            // Taken over: the row is another station's now,
                            // and this one stops writing it. A register out
                            // of reach fails the row as it ends.
                            if (!self || ok || !takenOver || lane->current != index)
                                return;
                            self->rows.at(size_t(index)).job->abandon(error);
                        });
}

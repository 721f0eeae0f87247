#include "engine/commission/commissionclaims.h"

#include "engine/commission/heldclaim.h"
#include "engine/commission/registerdesk.h"
#include "engine/register/registerverdict.h"

#include <QPointer>

using siteregister::ClaimEntry;

namespace
{
// How often rows held by another station are asked for again, at most,
// and how often a waiting port asks which rows others did meanwhile.
constexpr qint64 retryMaxMs = 2000;
constexpr int settleEveryMs = 2000;
} // namespace

CommissionClaims::CommissionClaims(RegisterDesk *desk, const QList<commissionplan::Row> &plan,
                                   Waiting waiting, const QString &replaces, QObject *parent)
    : QObject(parent), desk(desk), plan(plan), waiting(std::move(waiting)), replaces(replaces)
{
    for (const commissionplan::Row &row : plan)
        rows << siteregister::PlannedRow{row.row, row.port, row.values};
}

CommissionClaims::~CommissionClaims() = default;

// A commissioning run's row, not an audit's: audits claim nothing.
RowOutcome CommissionClaims::outcomeOf(int index, Settled how, const QString &words) const
{
    const WriteResult meant = commissionplan::meaning(plan.at(index), false);
    switch (how) {
    case Settled::Done:
        return RowOutcome::alreadyDone(meant, words);
    case Settled::Blocked:
        break;
    case Settled::Unavailable:
        return RowOutcome::registerUnavailable(meant, words);
    }
    WriteResult::Admission stop;
    stop.verdict = WriteResult::Admission::Verdict::Stop;
    stop.refusal = WriteResult::Admission::Refusal::Held;
    stop.words = words;
    return RowOutcome::refused(meant, stop);
}

CommissionClaims::Lane &CommissionClaims::lane(int id)
{
    auto it = lanes.find(id);
    if (it != lanes.end())
        return *it->second;
    auto made = std::make_unique<Lane>();
    Lane &l = *made;
    l.retry.setSingleShot(true);
    connect(&l.retry, &QTimer::timeout, this, [this, id] { choose(id); });
    l.settle.setInterval(settleEveryMs);
    connect(&l.settle, &QTimer::timeout, this, [this, id] {
        QList<siteregister::PlannedRow> asked;
        for (const int index : waiting(id))
            asked << rows.at(index);
        const QPointer<CommissionClaims> self(this);
        desk->standing(
            asked, [self, id](const QList<siteregister::RowStanding> &standing, const QString &) {
                if (!self || self->lane(id).ended)
                    return;
                self->settleDone(standing);
                // A port waiting for modules for rows that others did meanwhile
                // waits no more.
                if (self->waiting(id).isEmpty() && !self->choosing(id))
                    emit self->laneSettled(id);
            });
    });
    lanes.emplace(id, std::move(made));
    return l;
}

void CommissionClaims::settleAll(const std::function<void()> &ready)
{
    if (desk->policy().rewrite || !replaces.isEmpty()) {
        ready();
        return;
    }
    const QPointer<CommissionClaims> self(this);
    desk->standing(
        rows, [self, ready](const QList<siteregister::RowStanding> &standing, const QString &) {
            if (!self)
                return;
            self->settleDone(standing);
            ready();
        });
}

void CommissionClaims::settleDone(const QList<siteregister::RowStanding> &standing)
{
    if (desk->policy().rewrite || !replaces.isEmpty())
        return;
    for (const siteregister::RowStanding &s : standing) {
        // A row another station is writing again (--rewrite) is its, for
        // as long as its claim lives.
        if (!s.done() ||
            (s.claim.state == ClaimEntry::State::HeldByOther && s.claim.leaseLeftMs > 0))
            continue;
        for (int index = 0; index < rows.size(); ++index) {
            // The row being chosen or written is left to its claim.
            if (rows.at(index).row == s.row && claims.count(index) == 0)
                emit settled(index,
                             outcomeOf(index, Settled::Done, siteregister::doneText(s.module)));
        }
    }
}

void CommissionClaims::choose(int id)
{
    lane(id).retry.stop();
    tryFrom(id, 0, retryMaxMs);
}

bool CommissionClaims::choosing(int id) const
{
    const auto it = lanes.find(id);
    return it != lanes.end() && (it->second->asking || it->second->retry.isActive());
}

void CommissionClaims::setWaiting(int id, bool on)
{
    Lane &l = lane(id);
    if (on && !l.ended && !desk->policy().rewrite)
        l.settle.start();
    else
        l.settle.stop();
}

void CommissionClaims::endLane(int id)
{
    Lane &l = lane(id);
    l.ended = true;
    l.asking = false;
    l.retry.stop();
    l.settle.stop();
}

const siteregister::ClaimRequest *CommissionClaims::claimOf(int index) const
{
    const auto it = claims.find(index);
    return it == claims.end() ? nullptr : &it->second->request();
}

void CommissionClaims::ended(int index, bool kept)
{
    const auto it = claims.find(index);
    if (it == claims.end())
        return;
    it->second->ended(kept);
    claims.erase(it);
}

void CommissionClaims::tryFrom(int id, int position, qint64 retryMs)
{
    Lane &l = lane(id);
    if (l.ended)
        return;
    const QList<int> open = waiting(id);
    if (position >= open.size()) {
        l.asking = false;
        if (open.isEmpty()) {
            emit laneSettled(id);
            return;
        }
        // Every row left is another station's now: asked for again when
        // the soonest lease runs out.
        l.retry.start(int(qBound<qint64>(100, retryMs + 50, retryMaxMs)));
        return;
    }
    l.asking = true;
    const int index = open.at(position);
    const siteregister::PlannedRow &row = rows.at(index);
    siteregister::ClaimRequest request;
    request.planHash = replaces.isEmpty() ? desk->planHash() : QString();
    request.planRow = row.row;
    request.replaces = replaces;
    request.port = row.port;
    request.planned = row.planned;
    auto held =
        std::make_shared<std::unique_ptr<HeldClaim>>(std::make_unique<HeldClaim>(desk, request));
    const QPointer<CommissionClaims> self(this);
    (*held)->take([self, held, id, index, position, retryMs](const ClaimEntry &claim,
                                                             const QString &error) {
        if (!self)
            return;
        CommissionClaims *claims = self;
        Lane &l = claims->lane(id);
        const bool taken = claim.state == ClaimEntry::State::Claimed ||
                           claim.state == ClaimEntry::State::TakenOver;
        // Where the row stands now: the register's answers on other ports
        // may have settled it meanwhile.
        if (l.ended || !claims->waiting(id).contains(index)) {
            if (taken)
                (*held)->ended(false);
            claims->tryFrom(id, 0, retryMs);
            return;
        }
        switch (claim.state) {
        case ClaimEntry::State::Claimed:
        case ClaimEntry::State::TakenOver: {
            l.asking = false;
            claims->heldWords.remove(index);
            connect(held->get(), &HeldClaim::lost, claims,
                    [claims, index](const QString &reason) { emit claims->lost(index, reason); });
            claims->claims[index] = std::move(*held);
            emit claims->taken(index);
            return;
        }
        case ClaimEntry::State::Done:
            emit claims->settled(
                index, claims->outcomeOf(index, Settled::Done, siteregister::claimDoneText(claim)));
            break;
        case ClaimEntry::State::HeldByOther: {
            const QString words = siteregister::claimHeldText(claim);
            if (claims->heldWords.value(index) != words) {
                claims->heldWords.insert(index, words);
                emit claims->heldElsewhere(index, words);
            }
            claims->tryFrom(id, position + 1, qMin(retryMs, qMax<qint64>(claim.leaseLeftMs, 0)));
            return;
        }
        case ClaimEntry::State::Blocked:
            emit claims->settled(index, claims->outcomeOf(index, Settled::Blocked,
                                                          siteregister::claimBlockedText(claim)));
            break;
        case ClaimEntry::State::Free:
        case ClaimEntry::State::Failed:
            // Nothing is written to a row the register cannot be asked
            // about: it fails with the reason.
            emit claims->settled(index, claims->outcomeOf(index, Settled::Unavailable, error));
            break;
        }
        claims->tryFrom(id, 0, retryMs);
    });
}

#include "engine/commission/heldclaim.h"

#include "engine/commission/registerdesk.h"
#include "engine/register/claimbook.h"

HeldClaim::HeldClaim(RegisterDesk *desk, const siteregister::ClaimRequest &request, QObject *parent)
    : QObject(parent), desk(desk), asked(request)
{
    asked.run = desk->run();
    asked.leaseMs = desk->policy().leaseMs;
    asked.again = asked.again || desk->policy().rewrite;
    renewal.setInterval(siteregister::renewalMs(asked.leaseMs));
    connect(&renewal, &QTimer::timeout, this, &HeldClaim::renew);
}

HeldClaim::~HeldClaim() = default;

bool HeldClaim::needed() const
{
    return (!asked.planHash.isEmpty() && asked.planRow > 0) || !asked.keys().isEmpty();
}

void HeldClaim::take(const Taken &done)
{
    if (!desk) {
        siteregister::ClaimEntry failed;
        failed.state = siteregister::ClaimEntry::State::Failed;
        done(failed, tr("the register was closed"));
        return;
    }
    const QPointer<HeldClaim> self(this);
    desk->claim(asked, [self, done](const siteregister::ClaimEntry &claim, const QString &error) {
        using State = siteregister::ClaimEntry::State;
        if (self && (claim.state == State::Claimed || claim.state == State::TakenOver)) {
            self->holding = true;
            self->renewal.start();
        }
        done(claim, error);
    });
}

void HeldClaim::renew()
{
    if (!desk || !holding)
        return;
    const QPointer<HeldClaim> self(this);
    desk->renew(asked, [self](bool ok, bool takenOver, const QString &error) {
        // Taken over: the row is another run's now. A register out of reach
        // fails the row as it ends.
        if (!self || ok || !takenOver || !self->holding)
            return;
        self->renewal.stop();
        self->holding = false;
        emit self->lost(error);
    });
}

void HeldClaim::ended(bool kept)
{
    renewal.stop();
    if (holding && !kept && desk)
        desk->release(asked);
    holding = false;
}

#ifndef HELDCLAIM_H
#define HELDCLAIM_H

#include "engine/register/registerentries.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class RegisterDesk;

// A row's claims in the site register (claimbook.h), from the moment they
// are asked for until the row ends: taken in one transaction, renewed
// every third of the lease while the row runs, and freed when the row
// ends without the register taking its outcome (which ends them itself).
class HeldClaim : public QObject
{
    Q_OBJECT

public:
    HeldClaim(RegisterDesk *desk, const siteregister::ClaimRequest &request,
              QObject *parent = nullptr);
    // Ends the renewals; the claims stay as the row left them.
    ~HeldClaim() override;

    // Whether the row asks for anything at all: a write of no address and
    // no plan's row has nothing to claim.
    bool needed() const;
    // Asks for the claims; `done` with the register's answer. Claimed or
    // TakenOver: held, and renewed from then on until the row ends.
    using Taken = std::function<void(const siteregister::ClaimEntry &claim, const QString &error)>;
    void take(const Taken &done);
    bool held() const { return holding; }
    // What is claimed, with the run and lease the desk gave it.
    const siteregister::ClaimRequest &request() const { return asked; }
    // The row ended: no more renewals; its claims freed unless the
    // register took its outcome (`kept`), which ended them.
    void ended(bool kept);

signals:
    // Another run took a claim over (its lease had run out here): the row
    // must stop writing. `reason` names who.
    void lost(const QString &reason);

private:
    void renew();

    QPointer<RegisterDesk> desk;
    siteregister::ClaimRequest asked;
    QTimer renewal;
    bool holding = false;
};

#endif // HELDCLAIM_H

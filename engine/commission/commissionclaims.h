#ifndef COMMISSIONCLAIMS_H
#define COMMISSIONCLAIMS_H

#include "engine/commission/commissionplan.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/register/registerentries.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class HeldClaim;
class RegisterDesk;

// A commissioning run's claims in the site register, so that two stations
// running one plan split its rows and no row writes an address another
// run is writing. The run's ports are lanes; a lane with a module on its
// port asks for a row (choose): the first of its rows not begun that no run
// has done and no other station holds is claimed with its address, in one
// transaction. A row another station holds is left to it and asked for
// again (at the latest when its lease runs out, at most every 2 s) while
// the port waits; a row done already, one whose address another run holds
// live, or one the register cannot be asked about is settled without being
// begun. While a lane waits for its next module, the rows others did
// meanwhile are settled every 2 s. The claim of a running row is renewed
// until the row ends (HeldClaim). Rows are the run's indexes; the run says
// which of a lane's rows are not begun yet (Waiting).
class CommissionClaims : public QObject
{
    Q_OBJECT

public:
    // The rows of a lane not begun yet, in the order to try them.
    using Waiting = std::function<QList<int>(int lane)>;

    // `plan`: every row of the run by its index. A replacement (`replaces`: the
    // old module's MAC) claims the old module and the address, not the
    // plan's row, which is the old module's until the new one is verified.
    CommissionClaims(RegisterDesk *desk, const QList<commissionplan::Row> &plan, Waiting waiting,
                     const QString &replaces = QString(), QObject *parent = nullptr);
    ~CommissionClaims() override;

    // The rows done already, settled before the lanes start (none for a
    // replacement); then `ready`.
    void settleAll(const std::function<void()> &ready);
    // A module is on the lane's port: a row is chosen for it (taken,
    // settled, or asked for again later).
    void choose(int lane);
    // Whether the lane is choosing: a claim asked, or asked again soon.
    bool choosing(int lane) const;
    // The lane waits for its next module (rows others do meanwhile are
    // settled), or no more.
    void setWaiting(int lane, bool waiting);
    // The lane ends: nothing more is chosen or settled for it.
    void endLane(int lane);
    // The claims the row `index` holds, for the register to end with its
    // outcome; nullptr when it holds none.
    const siteregister::ClaimRequest *claimOf(int index) const;
    // The row ended: its claims end with its outcome when the register
    // took it (`kept`), and are freed otherwise.
    void ended(int index, bool kept);

signals:
    // The row is this run's now: begin it on its lane.
    void taken(int index);
    // The row is not begun, and what it came to: done already (by whom,
    // when, on which module), stopped because what it plans is another
    // run's (who, where), or failed because the register could not be
    // asked (why). A row that is no longer waiting is left alone.
    void settled(int index, const RowOutcome &outcome);
    // The row is another station's now ("claimed by STATION since TIME");
    // asked for again while its port waits. Said when the words change.
    void heldElsewhere(int index, const QString &words);
    // Every row of the lane is settled: nothing is left to choose.
    void laneSettled(int lane);
    // A running row's claim was taken over by another station: it stops.
    void lost(int index, const QString &reason);

private:
    struct Lane {
        QTimer retry;  // rows held by another station, asked for again
        QTimer settle; // while waiting: rows another station did meanwhile
        bool asking = false;
        bool ended = false;
    };
    enum class Settled { Done, Blocked, Unavailable };
    RowOutcome outcomeOf(int index, Settled how, const QString &words) const;
    Lane &lane(int id);
    void tryFrom(int lane, int position, qint64 retryMs);
    void settleDone(const QList<siteregister::RowStanding> &standing);

    RegisterDesk *desk;
    QList<commissionplan::Row> plan;
    // The same as the register knows rows: plan row, port, planned values.
    QList<siteregister::PlannedRow> rows;
    Waiting waiting;
    QString replaces;
    std::map<int, std::unique_ptr<Lane>> lanes;
    std::map<int, std::unique_ptr<HeldClaim>> claims; // by row index
    QHash<int, QString> heldWords;                    // by row index
};

#endif // COMMISSIONCLAIMS_H

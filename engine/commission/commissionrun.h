#ifndef COMMISSIONRUN_H
#define COMMISSIONRUN_H

#include "engine/commission/commissionplan.h"
#include "engine/console/portlock.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/writejob.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace commissionrecord
{
class Appender;
}
class CommissionClaims;
class RegisterDesk;

// Commissions the modules of a plan: each row is a WriteJob (identify,
// write, restart, read back, compare, record). Rows on different ports run
// at the same time; rows on the same port one after another: after a row
// the run asks for the next module and polls the port's identity (at most
// every 500 ms). A port that is not there yet (a module that brings its
// own USB adapter) is waited for the same way before its first row. The
// run holds every port's lock from claimPorts() to its end, so that no
// other run talks to its modules meanwhile. A module is never written by two rows of one run: every
// module met is marked by the MAC read before its write and again by the MAC
// read back, a row whose module carries a marked MAC writes nothing, and a
// module on a port counts as the next one only when a well-formed MAC that
// is not marked reads the same twice in a row. A failed row stops neither
// the other ports nor the next module on its own port.
class CommissionRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int swapPollMs = 500;

    CommissionRun(const QList<commissionplan::Row> &rows, const JobSettings &settings,
                  QObject *parent = nullptr);
    ~CommissionRun() override;

    // The record the rows go to (none for an empty path): each row is
    // appended, off the event loop, before it counts as finished. The file
    // is made with the first row.
    void setRecord(const QString &path) { recordPath = path; }
    // A site audit: every row's module is identified, read and compared
    // with the row, nothing written (WriteJob::setAuditOnly); the same
    // ports, swaps and identity rules as a commissioning run.
    void setAuditOnly(bool on) { audit = on; }
    bool isAudit() const { return audit; }
    // How long to wait for the next module on a port; negative: until
    // interrupted.
    void setSwapTimeout(int ms) { swapTimeoutMs = ms; }
    void setProgress(JobProgress progress) { progressHandler = std::move(progress); }
    // The site register (none: not kept; the desk outlives the run): each
    // module judged by it before anything is written; each row of a
    // commissioning run claimed in it with its address once a module is
    // there for it, the first row of its port free for this run taken (a
    // row done already, held by another station, or whose address another
    // run holds, is not written here: one held is asked for again while the
    // port waits), its claims renewed while it runs (CommissionClaims);
    // each row's outcome appended to it before the record's. The desk's
    // policy says whether rows done already are written again (--rewrite).
    void setRegister(RegisterDesk *desk) { registerDesk = desk; }
    // A replacement: the run's row writes the values of the module `mac`
    // to a new module, which the register marks as its replacement. The
    // old module (its one successor) and the address are claimed, not the
    // plan's row.
    void setReplaces(const QString &mac) { replacesMac = mac; }

    // Takes the lock of every port of the plan, before anything is sent.
    // False when another run holds one (*error names the port and that
    // run's process): the run must not start (ordan-cli exits 3).
    bool claimPorts(QString *error);
    // Starts the run (claiming the ports first when that was not done; a
    // port held by another run then fails its rows).
    void start();
    // Stops at once: running writes are interrupted (and recorded as such),
    // waits end, rows not begun are not reached.
    void interrupt();
    bool isFinished() const { return finishedFlag; }
    bool wasInterrupted() const { return interrupted; }

    int rowCount() const { return int(rows.size()); }
    const commissionplan::Row &row(int index) const { return rows.at(size_t(index)).plan; }
    // The row's write; nullptr when the row was not reached.
    const WriteJob *job(int index) const { return rows.at(size_t(index)).job.get(); }
    // What the row came to (its write's outcome, or not reached), with
    // what was meant: its port, plan row and planned values.
    RowOutcome outcome(int index) const;
    // Why a row was not reached.
    RowOutcome::NotBegun notReached(int index) const { return rows.at(size_t(index)).notReached; }
    // The row is the first on its port: the module it waits for is the
    // first one ("connect the module to PORT"), not the next one.
    bool isFirstOnPort(int index) const;
    // The row the module with this MAC (normalMac) was met in; 0 when none.
    int rowOfModule(const QString &mac) const;
    // Verified, and in the record when one is kept.
    bool verified(int index) const;
    // The row's exit code (its outcome's; 4 for a row not reached).
    int rowExitCode(int index) const;
    // The run's exit code: 0 when every row was verified; 130 when
    // interrupted; otherwise the code of the first row (in plan order) that
    // failed, 4 for a row not reached.
    int exitCode() const;

signals:
    // A row is about to begin on its port (the module is there).
    void rowStarted(int index);
    // Where the row's job stands (WriteJob::stageChanged).
    void rowStage(int index, JobStage stage, int step, int steps, const QString &what);
    void rowFinished(int index);
    // The row `index` waits for a module on its port: the next one, or the
    // first when its port is not there yet (isFirstOnPort).
    void swapNeeded(int index);
    // The module of the row is identified (before anything is written).
    void rowIdentified(int index, const QString &mac);
    // The row's module is verified on its console and being connected to
    // at `target` (IP:PORT): JobSettings::reachTimeoutMs.
    void rowReaching(int index, const QString &target);
    // The row's module is reachable and its bus being checked at `target`
    // (JobSettings::checkBus, a row with bus_ids).
    void rowCheckingBus(int index, const QString &target);
    // While the row `index` waits, a module already done in this run (in
    // plan row `doneRow`) answers on its port: the technician plugged it in
    // again. Said once each time such a module turns up.
    void moduleAlreadyDone(int index, const QString &mac, int doneRow);
    // The row ended without being begun: the register says it is done, or
    // could not be asked for it (outcome() says which).
    void rowSettled(int index);
    // The row is another station's now (`words`: "claimed by STATION since
    // TIME"); it is asked for again while its port waits.
    void rowHeldElsewhere(int index, const QString &words);
    void finished();

private:
    struct RowState {
        commissionplan::Row plan;
        std::unique_ptr<WriteJob> job;
        RowOutcome::NotBegun notReached;
        // The register's: what the row came to when it was settled
        // without being begun (done already, another run holding its
        // address, the register not asked).
        std::optional<RowOutcome> settled;
    };
    // The rows of one port, one after another, and the polling for the
    // next module between them.
    struct Lane {
        int id = 0;
        QList<int> rows;
        int next = 0;     // index into rows of the row to begin
        int current = -1; // the row being written, -1 when none
        std::unique_ptr<ModuleConsole> probe;
        QString lastSeen;     // the MAC the previous poll read, when well-formed
        QString lastDone;     // the module of the lane's previous row
        QString toldDone;     // the module last reported as done already
        bool sawAway = false; // the previous module was seen gone meanwhile
        PortLock lock;
        QTimer pollTimer;
        QTimer swapTimer;
        bool done = false;
    };

    void beginRow(Lane *lane);
    void onRowFinished(Lane *lane, int index);
    void awaitModule(Lane *lane);
    void poll(Lane *lane);
    void endLane(Lane *lane, const RowOutcome::NotBegun &why);
    void checkFinished();
    // The run's own rule for an identified module: not one met in another
    // row of this run (the plan row where it was met; 0: admitted).
    int metBefore(int index, const QString &mac);
    // Whether rows are claimed in the register (a commissioning run with
    // one), and a module on the lane's port gets its row.
    bool claimsKept() const;
    void takeRow(Lane *lane);
    void startLanes();
    // The register's answers about rows (CommissionClaims).
    void onTaken(int index);
    void onSettled(int index, const RowOutcome &outcome);
    void onLaneSettled(int lane);
    // The rows of a lane not begun, in order.
    QList<int> waitingRows(int lane) const;
    Lane *laneOf(int index) const;

    std::vector<RowState> rows;
    std::vector<std::unique_ptr<Lane>> lanes;
    JobSettings settings;
    QString recordPath;
    std::unique_ptr<commissionrecord::Appender> appender;
    RegisterDesk *registerDesk = nullptr;
    std::unique_ptr<CommissionClaims> claims;
    QString replacesMac;
    bool audit = false;
    int swapTimeoutMs = -1;
    JobProgress progressHandler;
    QHash<QString, int> commissioned; // MAC (normalMac) met in this run -> its row index
    bool claimed = false;
    QString claimError; // another run held a port when the run started
    bool started = false;
    bool interrupted = false;
    bool finishedFlag = false;
};

#endif // COMMISSIONRUN_H

#ifndef COMMISSIONRUN_H
#define COMMISSIONRUN_H

#include "engine/commissionplan.h"
#include "engine/modulejobs.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <memory>
#include <vector>

// Commissions the modules of a plan: each row is a WriteJob (write, restart,
// read back, compare, record). Rows on different ports run at the same time;
// rows on the same port one after another: after a row the run asks for the
// next module and polls the port's identity (at most every 500 ms) until a
// module answers whose MAC address was not commissioned in this run, so
// that a module left in place is never written twice. A failed row stops
// neither the other ports nor the next module on its own port.
class CommissionRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int swapPollMs = 500;

    CommissionRun(const QList<commissionplan::Row> &rows, const JobSettings &settings,
                  QObject *parent = nullptr);
    ~CommissionRun() override;

    void setRecord(const QString &path) { recordPath = path; }
    // How long to wait for the next module on a port; negative: until
    // interrupted.
    void setSwapTimeout(int ms) { swapTimeoutMs = ms; }
    void setProgress(JobProgress progress) { progressHandler = std::move(progress); }

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
    // Why a row was not reached.
    QString notReached(int index) const { return rows.at(size_t(index)).notReached; }
    bool verified(int index) const;
    // The run's exit code: 0 when every row was verified; 130 when
    // interrupted; otherwise the code of the first row (in plan order) that
    // failed, 4 for a row not reached.
    int exitCode() const;

signals:
    // A row is about to begin on its port (the module is there).
    void rowStarted(int index);
    void rowFinished(int index);
    // The row `index` waits for the next module on its port.
    void swapNeeded(int index);
    void finished();

private:
    struct RowState {
        commissionplan::Row plan;
        std::unique_ptr<WriteJob> job;
        QString notReached;
    };
    // The rows of one port, one after another, and the polling for the
    // next module between them.
    struct Lane {
        QList<int> rows;
        int next = 0;     // index into rows of the row to begin
        int current = -1; // the row being written, -1 when none
        std::unique_ptr<ModuleConsole> probe;
        QTimer pollTimer;
        QTimer swapTimer;
        bool done = false;
    };

    void beginRow(Lane *lane);
    void onRowFinished(Lane *lane, int index);
    void awaitNextModule(Lane *lane);
    void poll(Lane *lane);
    void endLane(Lane *lane, const QString &reason);
    void checkFinished();

    std::vector<RowState> rows;
    std::vector<std::unique_ptr<Lane>> lanes;
    JobSettings settings;
    QString recordPath;
    int swapTimeoutMs = -1;
    JobProgress progressHandler;
    QSet<QString> commissioned; // MAC addresses met in this run
    bool started = false;
    bool interrupted = false;
    bool finishedFlag = false;
};

#endif // COMMISSIONRUN_H

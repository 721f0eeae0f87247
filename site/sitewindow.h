#ifndef SITEWINDOW_H
#define SITEWINDOW_H

#include "engine/jobs/modulejob.h"
#include "protocol/parameters.h"

#include <QHash>
#include <QMainWindow>
#include <QMap>
#include <QVector>

#include <memory>

class CommissionRun;
class LatencyProbe;
class PlanModel;
class PortListModel;
class QAction;
class QCheckBox;
class ReachCheck;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// The site window: a site's address plan as a table, checked as it is
// typed by the rules ordan-cli applies to a plan file; Start commissions it
// on the engine of `ordan-cli commission` (rows in parallel across ports,
// one after another on a port, each written, restarted, read back and
// compared), each row showing its state live; Stop ends the run as Ctrl-C
// ends the CLI's. Nothing waits on the event loop: the run is driven by the
// ports' own signals, and no modal box opens while it goes on.
class SiteWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit SiteWindow(QWidget *parent = nullptr);
    ~SiteWindow() override;

    PlanModel *planModel() const { return model; }

    // Reads a plan file into the table. False when it cannot be read as a
    // plan (the window says why); what the table cannot hold of it (an
    // unknown column, say) is left out and shown above the table.
    bool openPlan(const QString &path);
    // Writes the table as a plan file ordan-cli reads unchanged.
    bool savePlan(const QString &path);
    QString planPath() const { return currentPlan; }
    // Empty until something of the file had to be left out.
    QStringList leftOut() const { return planLeftOut; }
    // Base values for the empty cells, from a settings file (as --from).
    bool loadBaseValues(const QString &path);
    void clearBaseValues();
    void setRecordPath(const QString &path);
    QString recordPath() const;

    // Starts the run, or says in the window why it cannot start (problems
    // in the plan, a record that cannot be written).
    bool startRun();
    // Starts the site audit: every module read and compared, nothing
    // written.
    bool startAudit();
    void stopRun();
    // Tries every row's address and TCP port on the network (no module on a
    // serial port needed) and fills the network column.
    void checkNetwork();
    bool isCheckingNetwork() const { return networkCheck != nullptr; }
    bool isRunning() const { return run != nullptr; }
    // What `ordan-cli commission` would exit with for the last run: 0 all
    // verified, 130 interrupted, otherwise the first failed row's code.
    int lastExitCode() const { return exitCode; }
    // Why the last start was refused, as lines for a terminal, and the
    // code ordan-cli would exit with for it (2 for the plan or the record,
    // 3 for a port another run holds).
    QStringList startRefusal() const { return refusal; }
    int startRefusalCode() const { return refusalCode; }
    // A file in the user's data folder, named by the date and time, for the
    // record of a plan that has no file yet.
    static QString defaultRecordPath();

    // How long a module is tried on the network after its read-back, when
    // that is asked.
    static constexpr int reachTimeoutMs = 10000;

signals:
    void runFinished(int exitCode);
    void networkChecked();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class RunMode { Commission, Audit };

    void buildActions();
    void buildForm();
    void fitColumns();
    void fitRowHeights(int first, int last);
    void updateActions();
    void updateProblems();
    void updateRunSummary();
    void planEdited();
    void setPlanPath(const QString &path);
    void showNotice(const QString &text);
    bool confirmDiscard();

    void newPlan();
    void askOpenPlan();
    bool askSavePlan(bool choosePath);
    void askBaseValues();
    void askRecordPath();
    void openRecord();
    void addRow();
    void duplicateRows();
    void removeRows();
    void copyCells();
    void pasteCells();
    void nextProblem();
    QList<int> selectedRows() const;

    bool beginRun(RunMode mode);
    // The site audit's switch on the run; false (and why) while the engine
    // has no audit mode.
    void onRowStage(int index, JobStage stage, int step, int steps, const QString &what);
    void onRowFinished(int index);
    void onSwapNeeded(int index);
    void onRowIdentified(int index, const QString &mac);
    void onModuleAlreadyDone(int index, const QString &mac, int doneRow);
    void showWaitingPorts();
    void onRunFinished();
    void checkRecordPath();
    // Why Start cannot start now; empty when it can.
    QString startBlocker() const;

    PlanModel *model = nullptr;
    PortListModel *ports = nullptr; // the computer's serial ports
    QTableView *table = nullptr;
    QLabel *notice = nullptr;
    QLabel *problemsLabel = nullptr;
    QLineEdit *basePath = nullptr;
    QPushButton *baseBrowseButton = nullptr;
    QPushButton *baseClearButton = nullptr;
    QPushButton *recordBrowseButton = nullptr;
    QLineEdit *recordEdit = nullptr;
    QPushButton *recordOpenButton = nullptr;
    QPushButton *startButton = nullptr;
    QPushButton *stopButton = nullptr;
    QPushButton *checkButton = nullptr;
    QAction *newAction = nullptr;
    QAction *openAction = nullptr;
    QAction *saveAction = nullptr;
    QAction *saveAsAction = nullptr;
    QAction *baseAction = nullptr;
    QAction *addRowAction = nullptr;
    QAction *duplicateAction = nullptr;
    QAction *removeAction = nullptr;
    QAction *copyAction = nullptr;
    QAction *pasteAction = nullptr;
    QAction *nextProblemAction = nullptr;
    QAction *startAction = nullptr;
    QAction *checkAction = nullptr;
    QAction *stopAction = nullptr;
    QAction *networkAction = nullptr;
    QPushButton *networkButton = nullptr;
    QCheckBox *reachBox = nullptr;
    ReachCheck *networkCheck = nullptr; // the network check going on, if any
    QVector<int> networkRowOf;          // its target -> table row

    QString currentPlan;
    QString defaultRecord; // the record path that follows the plan's
    QStringList planLeftOut;
    QStringList refusal;
    int refusalCode = 0;
    QString recordProblem;       // why the record path cannot be appended to
    QString runOutcome;          // how the last run ended, until the plan changes
    QMap<int, int> waitingPorts; // run row -> table row, of the ports waiting for a module
    bool fitting = false;

    CommissionRun *run = nullptr; // the run going on, if any
    RunMode runMode = RunMode::Commission;
    QVector<int> tableRowOf; // run row -> table row
    int exitCode = -1;
    bool closeWhenStopped = false;
    std::unique_ptr<LatencyProbe> latency;
};

#endif // SITEWINDOW_H

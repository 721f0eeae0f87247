#ifndef SITEWINDOW_H
#define SITEWINDOW_H

#include "protocol/parameters.h"

#include <QMainWindow>

class PlanEditor;
class PlanFiles;
class PlanModel;
class PortListModel;
class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class RegisterView;
class RunPanel;
class SiteChecks;
class SiteRun;

// The site window: a site's address plan as a table, checked as it is
// typed by the rules ordan-cli applies to a plan file; Start commissions it
// on the engine of `ordan-cli commission` (rows in parallel across ports,
// one after another on a port, each written, restarted, read back and
// compared), each row showing its state live; Stop ends the run as Ctrl-C
// ends the CLI's. Nothing waits on the event loop: the run is driven by the
// ports' own signals. This is the window's shell: its menus, and the parts
// it holds: its files (PlanFiles: the plan, the base values, a record
// opened to be looked at), the plan editor, the checks and the run panel.
class SiteWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit SiteWindow(QWidget *parent = nullptr);
    ~SiteWindow() override;

    PlanModel *planModel() const { return model; }

    // The window's files (PlanFiles): a plan file read into the table (a
    // record is shown read-only instead, and false returned), the table
    // written as one, what of the file was left out, the base values.
    bool openPlan(const QString &path);
    bool savePlan(const QString &path);
    QString planPath() const;
    QStringList leftOut() const;
    bool loadBaseValues(const QString &path);
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
    // Asks the devices of every row's bus_ids through its module's address
    // and TCP port, and fills the bus column.
    void checkBus();
    // A check of the network or the bus goes on.
    bool isCheckingNetwork() const;
    bool isRunning() const;
    // The site register of the runs, as ordan-cli's --register and
    // --no-register; empty: ORDAN_REGISTER, or the user's file. Unless
    // `ask`, a module the register would stop is not asked about: its row
    // stops, as ordan-cli's does (a run nobody watches).
    void setRegister(const QString &location, bool off, bool ask = true);
    // Opens "Register…": what the register knows, searched.
    void showRegister();

    // What `ordan-cli commission` would exit with for the last run: 0 all
    // verified, 130 interrupted, otherwise the first failed row's code.
    int lastExitCode() const;
    // The last run as ordan-cli prints it after a run: a line per row, then
    // the counts.
    QStringList runSummary() const;
    // Why the last start was refused, as lines for a terminal, and the
    // code ordan-cli would exit with for it (2 for the plan or the record,
    // 3 for a port another run holds).
    QStringList startRefusal() const;
    int startRefusalCode() const;
    // How long a module is tried on the network after its read-back, when
    // that is asked.
    static constexpr int reachTimeoutMs = 10000;

signals:
    void runFinished(int exitCode);
    // A run started did not go on: its register could not be opened.
    // startRefusal() says why; nothing was sent.
    void startRefused();
    // The register was named anew in "Register…" (the window's setting).
    void registerChanged(const QString &location);
    void networkChecked();
    void busChecked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildActions();
    void buildForm();
    void updateActions();
    void updateBaseProblems();
    void showPlanPath(const QString &path);
    void showNotice(const QString &text);
    void showMessage(const QString &text, int timeoutMs);

    PlanModel *model = nullptr;
    PortListModel *ports = nullptr; // the computer's serial ports
    PlanEditor *editor = nullptr;
    SiteRun *run = nullptr;
    SiteChecks *checks = nullptr;
    RunPanel *panel = nullptr;
    PlanFiles *files = nullptr;
    QLabel *notice = nullptr;
    QLineEdit *basePath = nullptr;
    QPushButton *baseBrowseButton = nullptr;
    QPushButton *baseClearButton = nullptr;
    QAction *newAction = nullptr;
    QAction *openAction = nullptr;
    QAction *saveAction = nullptr;
    QAction *saveAsAction = nullptr;
    QAction *baseAction = nullptr;
    QAction *registerAction = nullptr;
    RegisterView *registerView = nullptr;
    bool closeWhenStopped = false;
};

#endif // SITEWINDOW_H

#ifndef RUNPANEL_H
#define RUNPANEL_H

#include <QWidget>

class PlanEditor;
class PlanModel;
class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class RecordField;
class SiteChecks;
class SiteRun;
namespace siteregister
{
struct ModuleEntry;
}

// What starts, stops and follows a run in the site window: the record's
// field, the run's options, the line beside the buttons (the plan's
// problems, the run's progress, how it ended, why it did not start) and
// the buttons of the checks, Check only, Start and Stop with their keys.
// Escape asks before it stops a run; a failed row can be run again on its
// own.
class RunPanel : public QWidget
{
    Q_OBJECT

public:
    RunPanel(PlanModel *model, PlanEditor *editor, SiteRun *run, SiteChecks *checks,
             QWidget *parent = nullptr);

    // The record's row (label, path, Choose…, Open) and the run's options,
    // for the window's grid of files.
    RecordField *recordField() const { return record; }
    QCheckBox *reachBox() const { return reach; }
    QCheckBox *busBox() const { return bus; }
    // The Run menu's actions (null for a separator).
    QList<QAction *> runActions() const;
    QAction *runAgainAction() const { return runAgain; }
    QAction *replaceAction() const { return replace; }

    bool startRun();
    bool startAudit();
    // Stops the run (or the check) at once.
    void stopRun();
    // Asks first when a run goes on (Escape).
    void askStop();
    // Why Start cannot start now; empty when it can.
    QString startBlocker() const;
    void updateActions();
    // The line beside the buttons, after a change of the plan or the
    // record: a refusal or a run's outcome shown there goes.
    void planChanged();

    // How long a module is tried on the network after its read-back, when
    // that is asked.
    static constexpr int reachTimeoutMs = 10000;

signals:
    void message(const QString &text, int timeoutMs);
    // The plan may be edited (no run goes on), or not.
    void busyChanged(bool busy);

private:
    void build();
    // `old`: the run replaces that module by the one on the row's port.
    bool begin(int mode, const QList<int> &only, const siteregister::ModuleEntry *old = nullptr);
    void runRowAgain();
    // The module the register knows in the selected row, replaced by the
    // one now on its port (asked first).
    void replaceRowModule();
    // The register's answer about the row: the question, then the run.
    void askReplacement(int row, const QString &port, const siteregister::ModuleEntry &old,
                        const QString &error);
    void onStarted();
    void onFinished();
    void updateStatusLine();

    PlanModel *model;
    PlanEditor *editor;
    SiteRun *run;
    SiteChecks *checks;
    RecordField *record = nullptr;
    QCheckBox *reach = nullptr;
    QCheckBox *bus = nullptr;
    QLabel *statusLine = nullptr;
    QPushButton *checkButton = nullptr;
    QPushButton *startButton = nullptr;
    QPushButton *stopButton = nullptr;
    QAction *startAction = nullptr;
    QAction *checkAction = nullptr;
    QAction *stopAction = nullptr;
    QAction *escapeAction = nullptr;
    QAction *runAgain = nullptr;
    QAction *replace = nullptr;
    QString refusal; // why the last start was refused, until the plan changes
};

#endif // RUNPANEL_H

#ifndef SITERUN_H
#define SITERUN_H

#include "engine/jobs/modulejob.h"
#include "protocol/parameters.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVector>

#include <memory>

class CommissionRun;
class LatencyProbe;
class PlanModel;
class RunRegister;
namespace siteregister
{
struct ModuleEntry;
} // namespace siteregister

// A run of the plan in the site window, on the engine of `ordan-cli
// commission` (or `audit`): its rows in parallel across ports, one after
// another on a port, each row's state shown in the plan's table as it
// goes. It keeps what the last run came to: its exit code, its outcome in
// a line, and the table ordan-cli prints after a run.
class SiteRun : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Commission, Audit };

    explicit SiteRun(PlanModel *model, QObject *parent = nullptr);
    ~SiteRun() override;

    // Starts the plan's rows (or only the table rows `only`), appending to
    // the record at `record`. False when nothing was started: refusal()
    // says why (problems in the plan, a record that cannot be appended to,
    // a port another run holds), and no file is made. The register is
    // opened off the window's thread: the run goes on once it is, or ends
    // as refused (startRefused()) when it cannot be.
    bool start(Mode mode, const QString &record, const JobSettings &settings,
               const QList<int> &only = QList<int>());
    // Ends the run as Ctrl-C ends ordan-cli's: the rows in hand are
    // interrupted, the others not reached. While the register is being
    // opened nothing has been sent: the run ends at once.
    void stop();
    // The register is being opened for the run: nothing is sent yet.
    bool isOpeningRegister() const { return opening; }

    // The site register the runs use (its location, the question before a
    // rewrite, the module it knows in a row); opened as a run starts, before
    // anything is written: one that cannot be opened refuses the run
    // (ordan-cli's exit 3).
    RunRegister *siteRegister() const { return reg; }
    // A run that puts the values the register knows of the module `old` on
    // the module now on the table row's port (ordan-cli replace).
    bool startReplacement(int row, const siteregister::ModuleEntry &old, const QString &record,
                          const JobSettings &settings);

    bool isRunning() const { return run != nullptr; }
    Mode mode() const { return runMode; }
    // The exit code ordan-cli would give the last run; -1 before one ends.
    int exitCode() const { return lastExit; }
    // Why the last start was refused, as lines for a terminal, and
    // ordan-cli's exit code for it (2 for the plan or the record, 3 for a
    // port another run holds); empty when it was not.
    QStringList refusal() const { return refused; }
    int refusalCode() const { return refusedCode; }
    // "Running: 3 of 8 rows done, ..." while a run goes on; how the last
    // run ended after it, until clearOutcome().
    QString progressLine() const;
    QString outcome() const { return ended; }
    void clearOutcome() { ended.clear(); }
    // The last run as ordan-cli prints it: a line per row, then the counts.
    QStringList summary() const { return lastSummary; }
    // The table row has failed (or was stopped, or not reached) in a run:
    // it may be run again on its own.
    bool canRunAgain(int row) const;
    // The ports waiting for a module, each with its row, for the status bar.
    QString waitingLine() const;

signals:
    void started();
    // A row's state changed (the counts of progressLine() too).
    void progressed();
    // The table row `row` needs the engineer's eyes (its port asks for a
    // module).
    void rowWanted(int row);
    void message(const QString &text, int timeoutMs);
    void finished(int exitCode);
    // The register could not be opened: nothing was sent, refusal() says
    // why.
    void startRefused();

private:
    void onRowStage(int index, JobStage stage, int step, int steps, const QString &what);
    void onRowFinished(int index);
    void onSwapNeeded(int index);
    void onModuleAlreadyDone(int index, const QString &mac, int doneRow);
    void onFinished();
    void showWaiting();
    // The register opened for the run, then go(); false, with the refusal
    // set, when its address cannot be used.
    bool openRegister(const QString &record);
    void registerOpened(bool opened, const QString &error);
    // The run started, once its register is open.
    void go();
    // A run that did not start: its ports and register let go.
    void dropRun();
    // How late the event loop answered, on stderr (ORDAN_SITE_LATENCY).
    void reportLatency();

    PlanModel *model;
    CommissionRun *run = nullptr; // the run going on, if any
    Mode runMode = Mode::Commission;
    QVector<int> tableRowOf;     // run row -> table row
    QMap<int, int> waitingPorts; // run row -> table row, of the ports waiting for a module
    int lastExit = -1;
    QStringList refused;
    int refusedCode = 0;
    QString ended; // how the last run ended
    QStringList lastSummary;
    std::unique_ptr<LatencyProbe> latency;
    RunRegister *reg;
    bool opening = false; // the register opens for the run
    bool goAll = true;    // the run takes every row of the plan
    QString goRecord;     // its record
    // A replacement's row: the old module and its values.
    QString replacing;
    parameters::Values replacementValues;
};

#endif // SITERUN_H

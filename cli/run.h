#ifndef CLI_RUN_H
#define CLI_RUN_H

#include "engine/jobs/modulejob.h"
#include "engine/jobs/writejob.h"
#include "engine/platform/tracelog.h"

#include <QCommandLineParser>
#include <QStringList>

// One call of ordan-cli: its parsed options, its operands (ports, or the
// plan), and the settings its jobs run with. The commands and what they
// share.
struct Run {
    QCommandLineParser parser;
    QStringList ports; // the operands after the command
    bool json = false;
    JobSettings settings;
    TraceLog trace;
};

constexpr int usageExit = int(JobResult::Invalid);
// bridge and gateway: the module was not reached within --give-up.
constexpr int gaveUpExit = 4;
// bus and gateway: the longest --answer-timeout taken.
constexpr int longestAnswerTimeoutMs = 60000;

// A usage error on stderr, with the hint to --help; returns usageExit.
int usage(const QString &message);
// A file as the register keeps it: absolute, so that it names one file
// wherever it is read (empty stays empty).
QString absolutePath(const QString &path);

// Progress of a job on stderr, when stderr is a terminal; the port in
// front when several run.
void showProgress(bool several, const QString &port, int index, int total, const QString &what);
// Why a job failed, on stderr (a port that cannot be opened with its remedy).
void portFailure(const ModuleJob &job);
// What went wrong with a write (or a row), on stderr: the module, the
// failure, what was sent before a stop, a row the record (`lacks` says
// which) or the register did not take.
void reportWriteFailure(const WriteJob &job, const RowOutcome &outcome, const QString &lacks);
void reportFailure(const ModuleJob &job);
// Runs the jobs in one event loop until all have finished; Ctrl-C,
// SIGTERM and SIGHUP interrupt them.
void runJobs(const QList<ModuleJob *> &jobs);

// --NAME as seconds (a decimal number more than 0, at most an hour), in
// *ms; as a whole number of at least `min`, in *value. False with the
// problem when it is not.
bool secondsOption(Run &run, const char *name, int *ms, QString *problem);
bool intOption(Run &run, const char *name, int min, int *value, QString *problem);
// The parameters of --from, when given; false (a usage error said, its
// code in *exitCode) when the file cannot serve as a base.
bool baseValues(Run &run, parameters::Values *values, int *exitCode);

// The commands; each returns the exit code.
int commandPorts(Run &run);
int commandRead(Run &run);
int commandWrite(Run &run);
int commandRestart(Run &run, bool factory);
// commission PLAN.csv, and audit PLAN.csv (the same run, nothing written).
int commandCommission(Run &run, bool audit);
// bridge HOST:PORT --link PATH: a virtual serial port to the module's bus.
int commandBridge(Run &run);

#endif // CLI_RUN_H

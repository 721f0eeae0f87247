#ifndef PLANFILES_H
#define PLANFILES_H

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class PlanEditor;
class PlanModel;
class QWidget;
class RecordField;
class RecordView;
class SiteRun;

// The site window's files: the plan opened, saved and begun anew (empty,
// or from a record's rows), a record shown read-only, the base values from
// a settings file, and the record's path, which follows the plan's unless
// another was chosen. What the table holds goes only when the engineer
// says so. The window owns it; its dialogs open over the window. Nothing
// here while a run goes on.
class PlanFiles : public QObject
{
    Q_OBJECT

public:
    PlanFiles(PlanModel *model, PlanEditor *editor, RecordField *record, SiteRun *run,
              QWidget *window);

    // Reads a plan file into the table. False when it cannot be read as a
    // plan (the notice says why); what the table cannot hold of it (an
    // unknown column, say) is left out and shown in the notice. A record
    // is not a plan: it is shown read-only, to look at or to start a new
    // plan from, and false is returned.
    bool openPlan(const QString &path);
    // Writes the table as a plan file ordan-cli reads unchanged. A record
    // is never written over; another file that is not a plan is replaced
    // only when the engineer says so.
    bool savePlan(const QString &path);
    QString planPath() const { return currentPlan; }
    // Empty until something of the file had to be left out.
    QStringList leftOut() const { return planLeftOut; }
    // The rows of the record at `path` as a new plan without a file.
    bool newPlanFromRecord(const QString &path);
    // Base values for the empty cells, from a settings file (as --from).
    bool loadBaseValues(const QString &path);
    void clearBaseValues();
    // The plan has changes that are not saved.
    bool isModified() const { return modified; }
    // Whether what the table holds may go: unsaved changes, and (when
    // `results`) what the last run came to.
    bool confirmDiscard(bool results = true);

    // What the File menu asks for.
    void newPlan();
    void askOpenPlan();
    bool askSavePlan(bool choosePath);
    void askBaseValues();

    // A file in the user's data folder, named by the date and time, for the
    // record of a plan that has no file yet.
    static QString defaultRecordPath();

signals:
    // The plan is now the file at `path` (empty: none yet).
    void planPathChanged(const QString &path);
    // The notice above the table: what a file held that the table cannot,
    // why it could not be opened; empty to hide it.
    void noticeChanged(const QString &text);
    void message(const QString &text, int timeoutMs);
    void modifiedChanged(bool modified);
    // The base values are now those of the file at `path` (empty: none).
    void baseValuesChanged(const QString &path);

private:
    void setPlanPath(const QString &path);
    void setModified(bool on);
    void showRecord(const QString &path);
    // The records shown now, for the record's field.
    void updateRecordsShown();

    PlanModel *model;
    PlanEditor *editor;
    RecordField *record;
    SiteRun *run;
    QWidget *window;
    QList<QPointer<RecordView>> records; // shown read-only
    QString currentPlan;
    QString defaultRecord; // the record path that follows the plan's
    QStringList planLeftOut;
    bool modified = false;
};

#endif // PLANFILES_H

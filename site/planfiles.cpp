#include "site/planfiles.h"

#include "engine/commission/commissionplan.h"
#include "engine/commission/commissionrecord.h"
#include "engine/commission/recordimport.h"
#include "settings/settingsmapping.h"
#include "site/planeditor.h"
#include "site/planmodel.h"
#include "site/planrows.h"
#include "site/recordfield.h"
#include "site/recordview.h"
#include "site/runregister.h"
#include "site/runstates.h"
#include "site/siterun.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTableView>
#include <QUndoStack>

namespace
{

const char planFilter[] = QT_TRANSLATE_NOOP("PlanFiles", "Plans (*.csv);;All files (*)");

// Whether the file is a commissioning record, to be shown and never read as
// a plan: by its header, however large it has grown.
bool isRecordFile(const QString &path)
{
    if (commissionrecord::holds(path, commissionrecord::kind()) == commissionrecord::Holds::Record)
        return true;
    QByteArray bytes;
    QString error;
    return commissionplan::readFile(path, &bytes, &error) && commissionplan::isRecord(bytes);
}

} // namespace

PlanFiles::PlanFiles(PlanModel *model, PlanEditor *editor, RecordField *record, SiteRun *run,
                     QWidget *window)
    : QObject(window), model(model), editor(editor), record(record), run(run), window(window)
{
    connect(model->plan()->undoStack(), &QUndoStack::cleanChanged, this,
            [this](bool clean) { setModified(!clean); });
    // A new plan, without a file yet: its record in the user's data folder.
    setPlanPath(QString());
}

QString PlanFiles::defaultRecordPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                           QStringLiteral("/records");
    QDir().mkpath(folder);
    return QDir(folder).filePath(
        QStringLiteral("site-%1-record.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"))));
}

void PlanFiles::setPlanPath(const QString &path)
{
    currentPlan = path;
    run->siteRegister()->setPlanFile(path);
    // The record follows the plan, unless another one was chosen; a plan
    // without a file yet records to the user's data folder.
    const QFileInfo info(path);
    const QString following =
        path.isEmpty()
            ? defaultRecordPath()
            : info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral("-record.csv"));
    if (record->path().isEmpty() || record->path() == defaultRecord)
        record->setPath(following);
    defaultRecord = following;
    emit planPathChanged(path);
}

void PlanFiles::setModified(bool on)
{
    if (modified == on)
        return;
    modified = on;
    emit modifiedChanged(on);
}

bool PlanFiles::confirmDiscard(bool results)
{
    if (modified) {
        const QMessageBox::StandardButton answer = QMessageBox::question(
            window, tr("Ordan site commissioning"), tr("The plan has changes that are not saved."),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        if (answer == QMessageBox::Save)
            return askSavePlan(false);
        return answer == QMessageBox::Discard;
    }
    if (!results || !model->states()->any())
        return true;
    // What the last run came to goes from the table (the record keeps it).
    QMessageBox ask(QMessageBox::Question, tr("Ordan site commissioning"),
                    tr("The table shows what the last run came to; the record %1 keeps it. "
                       "Clear the table?")
                        .arg(record->path()),
                    QMessageBox::NoButton, window);
    QPushButton *clear = ask.addButton(tr("Clear the results"), QMessageBox::DestructiveRole);
    ask.addButton(QMessageBox::Cancel);
    ask.setDefaultButton(QMessageBox::Cancel);
    ask.exec();
    return ask.clickedButton() == clear;
}

bool PlanFiles::openPlan(const QString &path)
{
    if (run->isRunning())
        return false;
    if (isRecordFile(path)) {
        showRecord(path);
        return false;
    }
    QByteArray bytes;
    QString error;
    if (!commissionplan::readFile(path, &bytes, &error)) {
        emit noticeChanged(tr("Cannot open the plan %1: %2").arg(path, error));
        return false;
    }
    const commissionplan::Table contents = commissionplan::readTable(bytes);
    if (!contents.error.isEmpty()) {
        emit noticeChanged(tr("Cannot read the plan %1: %2").arg(path, contents.error));
        return false;
    }
    model->plan()->setPlanRows(contents.rows.isEmpty() ? QList<QStringList>{QStringList()}
                                                       : contents.rows);
    planLeftOut = contents.leftOut;
    emit noticeChanged(
        planLeftOut.isEmpty()
            ? QString()
            : tr("Left out of %1 (the table has no place for it): %2")
                  .arg(QFileInfo(path).fileName(), planLeftOut.join(QLatin1String("; "))));
    setPlanPath(path);
    setModified(false);
    editor->table()->setCurrentIndex(model->index(0, 0));
    emit message(tr("Opened %1: %n row(s)", "", model->rowCount()).arg(path), 5000);
    return true;
}

bool PlanFiles::savePlan(const QString &path)
{
    QByteArray there;
    QString error;
    if (QFileInfo::exists(path) && !commissionplan::readFile(path, &there, &error))
        there = "\x01"; // neither a plan nor a record that can be read
    if (commissionplan::isRecord(there)) {
        QMessageBox::warning(window, tr("Ordan site commissioning"),
                             tr("%1 is a record: a record is only ever appended to, never "
                                "saved over. Save the plan under another name.")
                                 .arg(path));
        return false;
    }
    if (QFileInfo::exists(path) && !commissionplan::isPlan(there)) {
        QMessageBox ask(QMessageBox::Warning, tr("Ordan site commissioning"),
                        tr("%1 is not a plan. Replace what it holds with the plan?").arg(path),
                        QMessageBox::NoButton, window);
        QPushButton *replace = ask.addButton(tr("Replace"), QMessageBox::DestructiveRole);
        ask.addButton(QMessageBox::Cancel);
        ask.setDefaultButton(QMessageBox::Cancel);
        ask.exec();
        if (ask.clickedButton() != replace)
            return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(model->plan()->toCsv()) < 0 ||
        !file.commit()) {
        emit message(tr("Cannot save the plan %1: %2").arg(path, file.errorString()), 0);
        return false;
    }
    // A record that holds modules done already stays where it is: the
    // whole site's record in one file.
    const QString kept = record->path();
    const bool keepRecord = kept == defaultRecord && QFileInfo(kept).size() > 0;
    setPlanPath(path);
    if (keepRecord && record->path() != kept) {
        record->setPath(kept);
        emit message(
            tr("Saved %1; the record stays %2, where the modules done so far are").arg(path, kept),
            0);
    } else {
        emit message(tr("Saved %1").arg(path), 5000);
    }
    planLeftOut.clear();
    emit noticeChanged(QString());
    model->plan()->undoStack()->setClean();
    setModified(false);
    return true;
}

void PlanFiles::showRecord(const QString &path)
{
    auto *view = new RecordView(path, window);
    connect(view, &RecordView::newPlanWanted, this, [this, view](const QString &file) {
        if (newPlanFromRecord(file))
            view->close();
    });
    // While it is shown, no run appends to it.
    records << view;
    connect(view, &QDialog::finished, this, [this, view] {
        records.removeAll(view);
        updateRecordsShown();
    });
    updateRecordsShown();
    view->show();
    emit noticeChanged(QString());
    emit message(tr("%1 is a record: shown read-only").arg(path), 5000);
}

void PlanFiles::updateRecordsShown()
{
    QStringList paths;
    for (auto it = records.begin(); it != records.end();) {
        if (it->isNull()) {
            it = records.erase(it);
        } else {
            paths << (*it)->path();
            ++it;
        }
    }
    record->setShown(paths);
}

bool PlanFiles::newPlanFromRecord(const QString &path)
{
    QString text;
    QString error;
    if (run->isRunning() || !recordimport::readText(path, &text, &error) || !confirmDiscard())
        return false;
    const commissionplan::Table contents = commissionplan::planFromRecord(text.toUtf8());
    model->plan()->setPlanRows(contents.rows.isEmpty() ? QList<QStringList>{QStringList()}
                                                       : contents.rows);
    planLeftOut.clear();
    currentPlan.clear();
    setPlanPath(QString());
    // Not saved yet: a plan of its own, the record untouched.
    setModified(true);
    emit noticeChanged(
        tr("A new plan from the record %1: %n row(s). Save it as a plan of its own; the "
           "record is not changed.",
           "", model->rowCount())
            .arg(QFileInfo(path).fileName()));
    editor->table()->setCurrentIndex(model->index(0, 0));
    return true;
}

bool PlanFiles::loadBaseValues(const QString &path)
{
    parameters::Values values;
    QString problem;
    if (!settingsmapping::loadSettingsFile(path, &values, &problem)) {
        emit message(tr("Cannot use the settings file %1: %2").arg(path, problem), 0);
        return false;
    }
    model->plan()->setBaseValues(values);
    emit baseValuesChanged(path);
    return true;
}

void PlanFiles::clearBaseValues()
{
    model->plan()->setBaseValues(parameters::Values());
    emit baseValuesChanged(QString());
}

void PlanFiles::newPlan()
{
    if (run->isRunning() || !confirmDiscard())
        return;
    model->plan()->setPlanRows({QStringList()});
    model->states()->clear();
    planLeftOut.clear();
    emit noticeChanged(QString());
    currentPlan.clear();
    setPlanPath(QString());
    setModified(false);
    editor->table()->setCurrentIndex(model->index(0, 0));
}

void PlanFiles::askOpenPlan()
{
    if (run->isRunning())
        return;
    const QString path = QFileDialog::getOpenFileName(
        window, tr("Open a plan"), QFileInfo(currentPlan).path(), tr(planFilter));
    if (path.isEmpty())
        return;
    // A record only opens to be looked at: the table stays as it is.
    if (isRecordFile(path) || confirmDiscard())
        openPlan(path);
}

bool PlanFiles::askSavePlan(bool choosePath)
{
    QString path = currentPlan;
    if (choosePath || path.isEmpty()) {
        path = QFileDialog::getSaveFileName(
            window, tr("Save the plan"),
            currentPlan.isEmpty() ? QStringLiteral("plan.csv") : currentPlan, tr(planFilter));
        if (path.isEmpty())
            return false;
        if (QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".csv");
    }
    return savePlan(path);
}

void PlanFiles::askBaseValues()
{
    if (run->isRunning())
        return;
    const QString path =
        QFileDialog::getOpenFileName(window, tr("Base values"), QFileInfo(currentPlan).path(),
                                     tr("Settings files (*.TRset);;All files (*)"));
    if (!path.isEmpty())
        loadBaseValues(path);
}

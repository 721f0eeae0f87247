// The site window's files: the plan opened, saved and begun anew, a record
// shown read-only or made the start of a new plan, the base values and
// where the record goes.
#include "site/sitewindow.h"

#include "engine/commission/commissionplan.h"
#include "settings/settingsmapping.h"
#include "site/planeditor.h"
#include "site/planmodel.h"
#include "site/recordview.h"
#include "site/runpanel.h"
#include "site/siterun.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QUndoStack>

namespace
{

const char planFilter[] = QT_TRANSLATE_NOOP("SiteWindow", "Plans (*.csv);;All files (*)");

} // namespace

QString SiteWindow::defaultRecordPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                           QStringLiteral("/records");
    QDir().mkpath(folder);
    return QDir(folder).filePath(
        QStringLiteral("site-%1-record.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"))));
}

void SiteWindow::setPlanPath(const QString &path)
{
    currentPlan = path;
    run->setPlanFile(path);
    const QString name = path.isEmpty() ? tr("New plan") : QFileInfo(path).fileName();
    setWindowTitle(QStringLiteral("%1[*] — %2").arg(name, tr("Ordan site commissioning")));
    // The record follows the plan, unless another one was chosen; a plan
    // without a file yet records to the user's data folder.
    const QFileInfo info(path);
    const QString record =
        path.isEmpty()
            ? defaultRecordPath()
            : info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral("-record.csv"));
    if (recordPath().isEmpty() || recordPath() == defaultRecord)
        panel->setRecordPath(record);
    defaultRecord = record;
}

void SiteWindow::showNotice(const QString &text)
{
    notice->setText(text);
    notice->setVisible(!text.isEmpty());
}

bool SiteWindow::confirmDiscard(bool results)
{
    if (isWindowModified()) {
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, tr("Ordan site commissioning"), tr("The plan has changes that are not saved."),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        if (answer == QMessageBox::Save)
            return askSavePlan(false);
        return answer == QMessageBox::Discard;
    }
    if (!results || !model->hasRunStates())
        return true;
    // What the last run came to goes from the table (the record keeps it).
    QMessageBox ask(QMessageBox::Question, tr("Ordan site commissioning"),
                    tr("The table shows what the last run came to; the record %1 keeps it. "
                       "Clear the table?")
                        .arg(recordPath()),
                    QMessageBox::NoButton, this);
    QPushButton *clear = ask.addButton(tr("Clear the results"), QMessageBox::DestructiveRole);
    ask.addButton(QMessageBox::Cancel);
    ask.setDefaultButton(QMessageBox::Cancel);
    ask.exec();
    return ask.clickedButton() == clear;
}

bool SiteWindow::openPlan(const QString &path)
{
    if (isRunning())
        return false;
    QByteArray bytes;
    QString error;
    if (!commissionplan::readFile(path, &bytes, &error)) {
        showNotice(tr("Cannot open the plan %1: %2").arg(path, error));
        return false;
    }
    if (commissionplan::isRecord(bytes)) {
        showRecord(path);
        return false;
    }
    const commissionplan::Table contents = commissionplan::readTable(bytes);
    if (!contents.error.isEmpty()) {
        showNotice(tr("Cannot read the plan %1: %2").arg(path, contents.error));
        return false;
    }
    model->setPlanRows(contents.rows.isEmpty() ? QList<QStringList>{QStringList()} : contents.rows);
    planLeftOut = contents.leftOut;
    showNotice(planLeftOut.isEmpty()
                   ? QString()
                   : tr("Left out of %1 (the table has no place for it): %2")
                         .arg(QFileInfo(path).fileName(), planLeftOut.join(QLatin1String("; "))));
    setPlanPath(path);
    setWindowModified(false);
    editor->table()->setCurrentIndex(model->index(0, 0));
    statusBar()->showMessage(tr("Opened %1: %n row(s)", "", model->rowCount()).arg(path), 5000);
    return true;
}

bool SiteWindow::savePlan(const QString &path)
{
    QByteArray there;
    QString error;
    if (QFileInfo::exists(path) && !commissionplan::readFile(path, &there, &error))
        there = "\x01"; // neither a plan nor a record that can be read
    if (commissionplan::isRecord(there)) {
        QMessageBox::warning(this, tr("Ordan site commissioning"),
                             tr("%1 is a record: a record is only ever appended to, never "
                                "saved over. Save the plan under another name.")
                                 .arg(path));
        return false;
    }
    if (QFileInfo::exists(path) && !commissionplan::isPlan(there)) {
        QMessageBox ask(QMessageBox::Warning, tr("Ordan site commissioning"),
                        tr("%1 is not a plan. Replace what it holds with the plan?").arg(path),
                        QMessageBox::NoButton, this);
        QPushButton *replace = ask.addButton(tr("Replace"), QMessageBox::DestructiveRole);
        ask.addButton(QMessageBox::Cancel);
        ask.setDefaultButton(QMessageBox::Cancel);
        ask.exec();
        if (ask.clickedButton() != replace)
            return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(model->toCsv()) < 0 || !file.commit()) {
        statusBar()->showMessage(tr("Cannot save the plan %1: %2").arg(path, file.errorString()));
        return false;
    }
    // A record that holds modules done already stays where it is: the
    // whole site's record in one file.
    const QString record = recordPath();
    const bool keepRecord = record == defaultRecord && QFileInfo(record).size() > 0;
    setPlanPath(path);
    if (keepRecord && recordPath() != record) {
        panel->setRecordPath(record);
        statusBar()->showMessage(
            tr("Saved %1; the record stays %2, where the modules done so far are")
                .arg(path, record));
    } else {
        statusBar()->showMessage(tr("Saved %1").arg(path), 5000);
    }
    planLeftOut.clear();
    showNotice(QString());
    model->undoStack()->setClean();
    setWindowModified(false);
    return true;
}

void SiteWindow::showRecord(const QString &path)
{
    auto *view = new RecordView(path, this);
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
    showNotice(QString());
    statusBar()->showMessage(tr("%1 is a record: shown read-only").arg(path), 5000);
}

void SiteWindow::updateRecordsShown()
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
    panel->setRecordsShown(paths);
}

bool SiteWindow::newPlanFromRecord(const QString &path)
{
    QByteArray bytes;
    QString error;
    if (isRunning() || !commissionplan::readFile(path, &bytes, &error) || !confirmDiscard())
        return false;
    const commissionplan::Table contents = commissionplan::planFromRecord(bytes);
    model->setPlanRows(contents.rows.isEmpty() ? QList<QStringList>{QStringList()} : contents.rows);
    planLeftOut.clear();
    currentPlan.clear();
    setPlanPath(QString());
    // Not saved yet: a plan of its own, the record untouched.
    setWindowModified(true);
    showNotice(tr("A new plan from the record %1: %n row(s). Save it as a plan of its own; the "
                  "record is not changed.",
                  "", model->rowCount())
                   .arg(QFileInfo(path).fileName()));
    editor->table()->setCurrentIndex(model->index(0, 0));
    return true;
}

bool SiteWindow::loadBaseValues(const QString &path)
{
    parameters::Values values;
    QString problem;
    if (!settingsmapping::loadSettingsFile(path, &values, &problem)) {
        statusBar()->showMessage(tr("Cannot use the settings file %1: %2").arg(path, problem));
        return false;
    }
    model->setBaseValues(values);
    basePath->setText(path);
    updateActions();
    return true;
}

void SiteWindow::clearBaseValues()
{
    model->setBaseValues(parameters::Values());
    basePath->clear();
    updateActions();
}

void SiteWindow::setRecordPath(const QString &path)
{
    panel->setRecordPath(path);
}

QString SiteWindow::recordPath() const
{
    return panel->recordPath();
}

void SiteWindow::newPlan()
{
    if (isRunning() || !confirmDiscard())
        return;
    model->setPlanRows({QStringList()});
    model->clearRun();
    planLeftOut.clear();
    showNotice(QString());
    currentPlan.clear();
    setPlanPath(QString());
    setWindowModified(false);
    editor->table()->setCurrentIndex(model->index(0, 0));
}

void SiteWindow::askOpenPlan()
{
    if (isRunning())
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open a plan"), QFileInfo(currentPlan).path(), tr(planFilter));
    if (path.isEmpty())
        return;
    // A record only opens to be looked at: the table stays as it is.
    QByteArray bytes;
    QString error;
    const bool record =
        commissionplan::readFile(path, &bytes, &error) && commissionplan::isRecord(bytes);
    if (record || confirmDiscard())
        openPlan(path);
}

bool SiteWindow::askSavePlan(bool choosePath)
{
    QString path = currentPlan;
    if (choosePath || path.isEmpty()) {
        path = QFileDialog::getSaveFileName(
            this, tr("Save the plan"),
            currentPlan.isEmpty() ? QStringLiteral("plan.csv") : currentPlan, tr(planFilter));
        if (path.isEmpty())
            return false;
        if (QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".csv");
    }
    return savePlan(path);
}

void SiteWindow::askBaseValues()
{
    if (isRunning())
        return;
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Base values"), QFileInfo(currentPlan).path(),
                                     tr("Settings files (*.TRset);;All files (*)"));
    if (!path.isEmpty())
        loadBaseValues(path);
}

#include "site/runpanel.h"

#include "engine/register/registerverdict.h"
#include "site/planeditor.h"
#include "site/planmodel.h"
#include "site/planrows.h"
#include "site/recordfield.h"
#include "site/runregister.h"
#include "site/sitechecks.h"
#include "site/siterun.h"
#include "site/sitestyle.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTableView>

namespace
{

// A one-line label that gives way in the middle of its text when it is
// narrower than it (its text() stays whole): a long line never widens the
// window.
class ElidingLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRect room = contentsRect();
        style()->drawItemText(&painter, room, int(alignment()), palette(), isEnabled(),
                              fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()),
                              foregroundRole());
    }
};

} // namespace

RunPanel::RunPanel(PlanModel *model, PlanEditor *editor, SiteRun *run, SiteChecks *checks,
                   QWidget *parent)
    : QWidget(parent), model(model), editor(editor), run(run), checks(checks)
{
    build();
    connect(run, &SiteRun::started, this, &RunPanel::onStarted);
    connect(run, &SiteRun::finished, this, &RunPanel::onFinished);
    // The register could not be opened: nothing was started, and the line
    // says why.
    connect(run, &SiteRun::startRefused, this, [this] {
        refusal = this->run->refusal().value(0);
        onFinished();
    });
    connect(run, &SiteRun::progressed, this, &RunPanel::updateStatusLine);
    connect(run, &SiteRun::rowWanted, editor, &PlanEditor::showRow);
    connect(model->plan(), &PlanRows::problemsChanged, this, [this] {
        updateStatusLine();
        updateActions();
    });
    connect(checks, &SiteChecks::busyChanged, this, [this](bool busy) {
        updateActions();
        emit busyChanged(busy || this->run->isRunning());
    });
    connect(editor->table()->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &RunPanel::updateActions);
    record->check();
}

void RunPanel::build()
{
    const auto action = [this](const QString &text, const QString &name) {
        auto *a = new QAction(text, this);
        a->setObjectName(name);
        return a;
    };
    startAction = action(tr("&Start"), QStringLiteral("startAction"));
    startAction->setShortcuts(
        {QKeySequence(QStringLiteral("F5")), QKeySequence(QStringLiteral("Ctrl+R"))});
    connect(startAction, &QAction::triggered, this, &RunPanel::startRun);
    checkAction = action(tr("&Check only"), QStringLiteral("checkAction"));
    checkAction->setShortcut(QKeySequence(QStringLiteral("F6")));
    connect(checkAction, &QAction::triggered, this, &RunPanel::startAudit);
    stopAction = action(tr("S&top"), QStringLiteral("stopAction"));
    stopAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+.")));
    connect(stopAction, &QAction::triggered, this, &RunPanel::stopRun);
    // Escape stops a run only when the engineer says so; otherwise it stays
    // the table's (an edit cancelled).
    escapeAction = action(tr("Stop…"), QStringLiteral("escapeAction"));
    escapeAction->setShortcut(QKeySequence(Qt::Key_Escape));
    escapeAction->setShortcutContext(Qt::WindowShortcut);
    connect(escapeAction, &QAction::triggered, this, &RunPanel::askStop);
    addAction(escapeAction);
    runAgain = action(tr("Run this row &again"), QStringLiteral("runAgainAction"));
    runAgain->setShortcut(QKeySequence(QStringLiteral("Shift+F5")));
    connect(runAgain, &QAction::triggered, this, &RunPanel::runRowAgain);
    replace = action(tr("&Replace this row's module…"), QStringLiteral("replaceAction"));
    replace->setToolTip(tr("Writes the values the register knows for the row's module to the "
                           "module now on its port, verifies them, and records it as its "
                           "replacement"));
    connect(replace, &QAction::triggered, this, &RunPanel::replaceRowModule);
    editor->addRowActions({runAgain, replace});

    record = new RecordField(this);
    connect(record, &RecordField::checked, this, [this] {
        updateStatusLine();
        updateActions();
    });
    connect(record, &RecordField::edited, this, &RunPanel::planChanged);
    connect(record, &RecordField::message, this, &RunPanel::message);
    reach = new QCheckBox(tr("Check each module on the &network after its read-back"), this);
    reach->setObjectName(QStringLiteral("reachBox"));
    reach->setToolTip(tr("A module verified on its console must then answer at its address "
                         "and TCP port (tried for up to %1 s while its network comes up); "
                         "otherwise its row fails. Needs this computer on the site's network.")
                          .arg(reachTimeoutMs / 1000));
    connect(reach, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            this->editor->showColumn(PlanModel::NetworkColumn);
    });
    bus = new QCheckBox(tr("Check the &devices on each module's bus after its read-back"), this);
    bus->setObjectName(QStringLiteral("busBox"));
    bus->setToolTip(tr("A module reachable on the network (this includes the network check) "
                       "must then carry the devices of its row's bus_ids: each must answer "
                       "through it, or its row fails. Rows without bus_ids are not asked."));
    connect(bus, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            return;
        this->editor->showColumn(PlanModel::NetworkColumn);
        this->editor->showColumn(PlanModel::BusColumn);
    });

    auto *line = new QHBoxLayout(this);
    line->setContentsMargins(0, 0, 0, 0);
    statusLine = new ElidingLabel(this);
    statusLine->setObjectName(QStringLiteral("problemsLabel"));
    statusLine->setTextFormat(Qt::PlainText);
    // A long line (a refusal naming a long port) gives way in its middle;
    // it never widens the window.
    statusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    line->addWidget(statusLine, 1);
    checkButton = new QPushButton(tr("Check only"), this);
    checkButton->setObjectName(QStringLiteral("checkButton"));
    connect(checkButton, &QPushButton::clicked, this, &RunPanel::startAudit);
    startButton = new QPushButton(tr("Start"), this);
    startButton->setObjectName(QStringLiteral("startButton"));
    connect(startButton, &QPushButton::clicked, this, &RunPanel::startRun);
    stopButton = new QPushButton(tr("Stop"), this);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    stopButton->setToolTip(tr("Ends the run: the rows in hand are interrupted, the others not "
                              "reached (Esc)"));
    connect(stopButton, &QPushButton::clicked, this, &RunPanel::stopRun);
    for (QPushButton *button :
         {checks->networkButton(), checks->busButton(), checkButton, startButton, stopButton}) {
        button->setAutoDefault(false);
        button->setMinimumWidth(button->sizeHint().width() + 24);
        line->addWidget(button);
    }
}

QList<QAction *> RunPanel::runActions() const
{
    return {
        startAction, checkAction, checks->networkAction(), checks->busAction(), stopAction, nullptr,
        runAgain,    replace};
}

bool RunPanel::startRun()
{
    return begin(int(SiteRun::Mode::Commission), {});
}

bool RunPanel::startAudit()
{
    return begin(int(SiteRun::Mode::Audit), {});
}

bool RunPanel::begin(int mode, const QList<int> &only, const siteregister::ModuleEntry *old)
{
    if (run->isRunning() || checks->isBusy())
        return false;
    record->check();
    if (record->isShown()) {
        refusal = record->trouble();
        updateStatusLine();
        return false;
    }
    JobSettings settings;
    if (mode == int(SiteRun::Mode::Commission) && reach->isChecked())
        settings.reachTimeoutMs = reachTimeoutMs;
    // The bus is reached at the module's address: the network check too,
    // in a commissioning run and a check alike.
    if (bus->isChecked()) {
        settings.reachTimeoutMs = reachTimeoutMs;
        settings.checkBus = true;
    }
    // A cell still being edited keeps what was typed (each keystroke is in
    // the model already) and closes.
    editor->closeEditor();
    if (old ? run->startReplacement(only.first(), *old, record->path(), settings)
            : run->start(SiteRun::Mode(mode), record->path(), settings, only))
        return true;
    refusal = run->refusal().value(0);
    // Refused for the record: its field says why.
    if (run->refusalCode() == int(JobResult::Invalid) &&
        model->plan()->checked().problemCount() == 0)
        record->markRefused(refusal);
    updateStatusLine();
    return false;
}

void RunPanel::stopRun()
{
    checks->stop();
    run->stop();
}

void RunPanel::askStop()
{
    if (!run->isRunning()) {
        checks->stop();
        return;
    }
    QMessageBox ask(QMessageBox::Question, tr("Ordan site commissioning"),
                    tr("Stop the run? The modules in hand are recorded as interrupted; the rows "
                       "not begun are not reached."),
                    QMessageBox::NoButton, this);
    QPushButton *stop = ask.addButton(tr("Stop the run"), QMessageBox::DestructiveRole);
    QPushButton *goOn = ask.addButton(tr("Go on"), QMessageBox::RejectRole);
    ask.setDefaultButton(goOn);
    ask.setEscapeButton(goOn);
    ask.exec();
    if (ask.clickedButton() == stop)
        stopRun();
}

void RunPanel::runRowAgain()
{
    const QList<int> rows = editor->selectedRows();
    if (rows.size() != 1 || !run->canRunAgain(rows.first()) || !startBlocker().isEmpty())
        return;
    begin(int(run->mode()), rows);
}

void RunPanel::replaceRowModule()
{
    const QList<int> rows = editor->selectedRows();
    if (rows.size() != 1 || !startBlocker().isEmpty())
        return;
    const int row = rows.first();
    const QString port = model->plan()->port(row);
    emit message(tr("Asking the register about row %1…").arg(PlanModel::fileRow(row)), 0);
    // The register answers off the window's thread; the question comes
    // when it has, if nothing has started meanwhile.
    const QPointer<RunPanel> self(this);
    run->siteRegister()->rowModule(
        row, [self, row, port](const siteregister::ModuleEntry &old, const QString &error) {
            if (self)
                self->askReplacement(row, port, old, error);
        });
}

void RunPanel::askReplacement(int row, const QString &port, const siteregister::ModuleEntry &old,
                              const QString &error)
{
    emit message(QString(), 0);
    if (!startBlocker().isEmpty() || row >= model->rowCount() || model->plan()->port(row) != port)
        return;
    if (!old.known()) {
        QMessageBox box(QMessageBox::Information, tr("Replace a module"),
                        tr("Nothing to replace: %1.").arg(error), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("replaceNothing"));
        box.exec();
        return;
    }
    QMessageBox ask(QMessageBox::Question, tr("Replace a module"),
                    tr("Replace %1, %2, with the module now on %3?")
                        .arg(old.mac, siteregister::verifiedAs(old), port),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    ask.setObjectName(QStringLiteral("replaceQuestion"));
    ask.setInformativeText(tr("The new module is written with its values, restarted, read back "
                              "and recorded as its replacement."));
    ask.setDefaultButton(QMessageBox::Cancel);
    if (ask.exec() == QMessageBox::Yes)
        begin(int(SiteRun::Mode::Commission), {row}, &old);
}

void RunPanel::onStarted()
{
    refusal.clear();
    model->plan()->setLocked(true);
    updateActions();
    updateStatusLine();
    emit busyChanged(true);
}

void RunPanel::onFinished()
{
    model->plan()->setLocked(false);
    updateActions();
    updateStatusLine();
    emit busyChanged(checks->isBusy());
}

void RunPanel::planChanged()
{
    if (run->isRunning())
        return;
    refusal.clear();
    run->clearOutcome();
    updateStatusLine();
    updateActions();
}

QString RunPanel::startBlocker() const
{
    if (run->isRunning())
        return tr("A run is going on");
    if (checks->isBusy())
        return checks->busyText();
    const int problems = model->plan()->checked().problemCount();
    if (problems > 0)
        return tr("The plan has %n problem(s): F8 goes to the next", "", problems);
    if (!record->trouble().isEmpty())
        return tr("The record cannot be kept: %1").arg(record->trouble());
    return QString();
}

void RunPanel::updateActions()
{
    const bool busy = run->isRunning() || checks->isBusy();
    const QString blocker = startBlocker();
    const bool ready = blocker.isEmpty();
    record->setBusy(busy);
    reach->setEnabled(!busy);
    bus->setEnabled(!busy);
    checks->setAvailable(!run->isRunning());
    for (QAction *a : {startAction, checkAction})
        a->setEnabled(ready);
    startButton->setEnabled(ready);
    checkButton->setEnabled(ready);
    // A disabled button says why.
    startButton->setToolTip(ready ? tr("Writes every row of the plan to its module, restarts it, "
                                       "reads it back and compares (F5)")
                                  : blocker);
    checkButton->setToolTip(ready ? tr("Reads every module of the plan and compares it with the "
                                       "plan; writes nothing (F6)")
                                  : blocker);
    stopAction->setEnabled(busy);
    stopButton->setEnabled(busy);
    escapeAction->setEnabled(busy);
    const QList<int> rows = editor->selectedRows();
    runAgain->setEnabled(ready && rows.size() == 1 && run->canRunAgain(rows.first()));
    replace->setEnabled(ready && rows.size() == 1 && !run->siteRegister()->isOff());
}

void RunPanel::updateStatusLine()
{
    if (run->isRunning()) {
        statusLine->setStyleSheet(QString());
        statusLine->setText(run->progressLine());
        return;
    }
    const CheckedPlan &checked = model->plan()->checked();
    const QString recordTrouble = record->trouble();
    const int count = checked.problemCount() + (recordTrouble.isEmpty() ? 0 : 1);
    const QStringList general = checked.generalProblems();
    QStringList lines = checked.problemLines();
    if (!recordTrouble.isEmpty())
        lines << tr("Record: %1").arg(recordTrouble);
    if (count == 0 && !refusal.isEmpty()) {
        // Nothing was started: never "ready" beside it.
        statusLine->setText(QStringLiteral("! ") + tr("Nothing was started: %1").arg(refusal));
        statusLine->setStyleSheet(siteStyle::problemsText());
        lines = run->refusal();
    } else if (count == 0) {
        statusLine->setText(run->outcome().isEmpty() ? tr("No problems: ready to start")
                                                     : run->outcome());
        statusLine->setStyleSheet(QString());
    } else {
        QString text = tr("%n problem(s)", "", count);
        if (!general.isEmpty())
            text += QStringLiteral(": ") + general.first();
        else if (checked.problemCount() == 0)
            text += QStringLiteral(": ") + tr("Record: %1").arg(recordTrouble);
        else
            text += tr(" (F8 goes to the next)");
        statusLine->setText(QStringLiteral("! ") + text);
        statusLine->setStyleSheet(siteStyle::problemsText());
    }
    statusLine->setToolTip(lines.join(QLatin1Char('\n')));
}

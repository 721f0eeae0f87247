#include "site/sitewindow.h"

#include "engine/commission/commissionplan.h"
#include "engine/console/portlistmodel.h"
#include "site/planeditor.h"
#include "site/planfiles.h"
#include "site/planmodel.h"
#include "site/planrows.h"
#include "site/recordfield.h"
#include "site/registerview.h"
#include "site/runpanel.h"
#include "site/runregister.h"
#include "site/sitechecks.h"
#include "site/siterun.h"
#include "site/sitestyle.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

#include <iterator>

// The window's icon, compiled into the library (outside any namespace, as
// Qt's resource initialisation wants).
static void initSiteResources()
{
    Q_INIT_RESOURCE(ordan_site);
}

namespace
{

void fillMenu(QWidget *menu, const QList<QAction *> &actions)
{
    for (QAction *action : actions) {
        if (action) {
            menu->addAction(action);
        } else if (auto *m = qobject_cast<QMenu *>(menu)) {
            m->addSeparator();
        } else if (auto *t = qobject_cast<QToolBar *>(menu)) {
            t->addSeparator();
        }
    }
}

} // namespace

SiteWindow::SiteWindow(QWidget *parent) : QMainWindow(parent), model(new PlanModel(this))
{
    setObjectName(QStringLiteral("SiteWindow"));
    initSiteResources();
    setWindowIcon(QIcon(QStringLiteral(":/site/ordan-site.png")));
    ports = new PortListModel(this);
    model->setPortList(ports);
    model->plan()->setPlanRows({QStringList()});
    editor = new PlanEditor(model, ports, this);
    run = new SiteRun(model, this);
    checks = new SiteChecks(model->plan(), model->states(), this);
    panel = new RunPanel(model, editor, run, checks, this);
    files = new PlanFiles(model, editor, panel->recordField(), run, this);
    buildActions();
    buildForm();
    connect(editor, &PlanEditor::message, this, &SiteWindow::showMessage);
    connect(run, &SiteRun::message, this, &SiteWindow::showMessage);
    connect(checks, &SiteChecks::message, this, &SiteWindow::showMessage);
    connect(panel, &RunPanel::message, this, &SiteWindow::showMessage);
    connect(files, &PlanFiles::message, this, &SiteWindow::showMessage);
    connect(files, &PlanFiles::noticeChanged, this, &SiteWindow::showNotice);
    connect(files, &PlanFiles::planPathChanged, this, &SiteWindow::showPlanPath);
    connect(files, &PlanFiles::modifiedChanged, this, &QWidget::setWindowModified);
    connect(files, &PlanFiles::baseValuesChanged, this, [this](const QString &path) {
        basePath->setText(path);
        updateActions();
    });
    connect(model->plan(), &PlanRows::planEdited, panel, &RunPanel::planChanged);
    connect(model->plan(), &PlanRows::problemsChanged, this, &SiteWindow::updateBaseProblems);
    connect(panel, &RunPanel::busyChanged, this, &SiteWindow::updateActions);
    connect(checks, &SiteChecks::columnWanted, editor, &PlanEditor::showColumn);
    connect(checks, &SiteChecks::networkChecked, this, &SiteWindow::networkChecked);
    connect(checks, &SiteChecks::busChecked, this, &SiteWindow::busChecked);
    connect(run, &SiteRun::finished, this, [this](int code) {
        emit runFinished(code);
        // Not from inside the close event that stopped the run: the run may
        // end at once (no module in hand yet).
        if (closeWhenStopped)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
    connect(run, &SiteRun::startRefused, this, &SiteWindow::startRefused);
    run->siteRegister()->setDialogParent(this);
    showPlanPath(files->planPath());
    updateActions();
    updateBaseProblems();
    // Wide enough for the plan and the states on a usual screen.
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->availableGeometry()
                             : QRect(0, 0, 1440, 900);
    resize(qMin(1440, screen.width()), qMin(640, screen.height()));
}

SiteWindow::~SiteWindow() = default;

void SiteWindow::buildActions()
{
    const auto action = [this](const QString &text, const QString &name) {
        auto *a = new QAction(text, this);
        a->setObjectName(name);
        return a;
    };
    newAction = action(tr("&New plan"), QStringLiteral("newAction"));
    newAction->setShortcut(QKeySequence::New);
    connect(newAction, &QAction::triggered, files, &PlanFiles::newPlan);
    openAction = action(tr("&Open plan…"), QStringLiteral("openAction"));
    openAction->setShortcut(QKeySequence::Open);
    connect(openAction, &QAction::triggered, files, &PlanFiles::askOpenPlan);
    saveAction = action(tr("&Save plan"), QStringLiteral("saveAction"));
    saveAction->setShortcut(QKeySequence::Save);
    connect(saveAction, &QAction::triggered, files, [this] { files->askSavePlan(false); });
    saveAsAction = action(tr("Save plan &as…"), QStringLiteral("saveAsAction"));
    saveAsAction->setShortcut(QKeySequence::SaveAs);
    connect(saveAsAction, &QAction::triggered, files, [this] { files->askSavePlan(true); });
    baseAction = action(tr("&Base values from a settings file…"), QStringLiteral("baseAction"));
    baseAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+B")));
    connect(baseAction, &QAction::triggered, files, &PlanFiles::askBaseValues);
    registerAction = action(tr("&Register…"), QStringLiteral("registerAction"));
    registerAction->setToolTip(tr("What the site register knows: every module commissioned, "
                                  "where and at what it was verified, and its history"));
    connect(registerAction, &QAction::triggered, this, &SiteWindow::showRegister);
    auto *quitAction = action(tr("&Quit"), QStringLiteral("quitAction"));
    // Ctrl+Q where the desktop names no key for quitting.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty())
        quitKeys << QKeySequence(QStringLiteral("Ctrl+Q"));
    quitAction->setShortcuts(quitKeys);
    connect(quitAction, &QAction::triggered, this, &QWidget::close);

    fillMenu(menuBar()->addMenu(tr("&File")),
             {newAction, openAction, saveAction, saveAsAction, nullptr, baseAction, registerAction,
              nullptr, quitAction});
    fillMenu(menuBar()->addMenu(tr("&Edit")), editor->editActions());
    fillMenu(menuBar()->addMenu(tr("&Run")), panel->runActions());

    QToolBar *tools = addToolBar(tr("Plan"));
    tools->setObjectName(QStringLiteral("planToolBar"));
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    fillMenu(tools, {newAction, openAction, saveAction, nullptr, editor->addRowAction(),
                     editor->duplicateAction(), editor->removeAction(), nullptr, baseAction});
}

void SiteWindow::buildForm()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);

    notice = new QLabel(central);
    notice->setObjectName(QStringLiteral("planNotice"));
    notice->setWordWrap(true);
    notice->setTextFormat(Qt::PlainText);
    notice->setFrameShape(QFrame::StyledPanel);
    notice->setStyleSheet(siteStyle::notice());
    notice->hide();
    layout->addWidget(notice);
    layout->addWidget(editor, 1);

    auto *grid = new QGridLayout;
    auto *baseLabel = new QLabel(tr("&Base values:"), central);
    basePath = new QLineEdit(central);
    basePath->setObjectName(QStringLiteral("basePath"));
    basePath->setReadOnly(true);
    basePath->setPlaceholderText(tr("none: a parameter left empty in a row is not written"));
    baseLabel->setBuddy(basePath);
    baseBrowseButton = new QPushButton(tr("C&hoose…"), central);
    baseBrowseButton->setObjectName(QStringLiteral("baseBrowseButton"));
    connect(baseBrowseButton, &QPushButton::clicked, files, &PlanFiles::askBaseValues);
    baseClearButton = new QPushButton(tr("C&lear"), central);
    baseClearButton->setObjectName(QStringLiteral("baseClearButton"));
    connect(baseClearButton, &QPushButton::clicked, files, &PlanFiles::clearBaseValues);
    grid->addWidget(baseLabel, 0, 0);
    grid->addWidget(basePath, 0, 1);
    grid->addWidget(baseBrowseButton, 0, 2);
    grid->addWidget(baseClearButton, 0, 3);
    const RecordField *record = panel->recordField();
    grid->addWidget(record->label(), 1, 0);
    grid->addWidget(record->edit(), 1, 1);
    grid->addWidget(record->browseButton(), 1, 2);
    grid->addWidget(record->openButton(), 1, 3);
    grid->addWidget(panel->reachBox(), 2, 1, 1, 3);
    grid->addWidget(panel->busBox(), 3, 1, 1, 3);
    layout->addLayout(grid);
    layout->addWidget(panel);
    setCentralWidget(central);

    QWidget *order[] = {editor->table(),
                        baseBrowseButton,
                        baseClearButton,
                        record->edit(),
                        record->browseButton(),
                        record->openButton(),
                        panel->reachBox(),
                        panel->busBox(),
                        checks->networkButton(),
                        checks->busButton(),
                        findChild<QPushButton *>(QStringLiteral("checkButton")),
                        findChild<QPushButton *>(QStringLiteral("startButton")),
                        findChild<QPushButton *>(QStringLiteral("stopButton"))};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    basePath->setFocusPolicy(Qt::ClickFocus);
    editor->table()->setFocus();
}

void SiteWindow::setRegister(const QString &location, bool off, bool ask)
{
    run->siteRegister()->setLocation(location, off);
    run->siteRegister()->setDialogParent(ask ? this : nullptr);
}

void SiteWindow::showRegister()
{
    if (!registerView) {
        registerView = new RegisterView(run->siteRegister(), this);
        connect(registerView, &RegisterView::registerChanged, this, &SiteWindow::registerChanged);
    }
    registerView->refresh();
    registerView->show();
    registerView->raise();
    registerView->activateWindow();
}

void SiteWindow::updateActions()
{
    const bool busy = isRunning() || isCheckingNetwork();
    // Nothing that asks with a dialog while a run goes on.
    for (QAction *a : {newAction, openAction, saveAction, saveAsAction, baseAction})
        a->setEnabled(!busy);
    baseBrowseButton->setEnabled(!busy);
    baseClearButton->setEnabled(!busy && !basePath->text().isEmpty());
    // Rows keep their places while a run or a check fills them.
    editor->setEditable(!busy);
    panel->updateActions();
}

void SiteWindow::updateBaseProblems()
{
    QStringList baseProblems;
    for (const commissionplan::Problem &p : model->plan()->checked().plan().problems) {
        if (p.row == 0 && !p.column.isEmpty())
            baseProblems << p.column + QStringLiteral(": ") + p.message;
    }
    basePath->setToolTip(baseProblems.isEmpty()
                             ? tr("Values for the cells left empty, as ordan-cli's --from")
                             : baseProblems.join(QLatin1Char('\n')));
    siteStyle::markProblem(basePath, !baseProblems.isEmpty());
}

void SiteWindow::showMessage(const QString &text, int timeoutMs)
{
    statusBar()->showMessage(text, timeoutMs);
}

void SiteWindow::showNotice(const QString &text)
{
    notice->setText(text);
    notice->setVisible(!text.isEmpty());
}

void SiteWindow::showPlanPath(const QString &path)
{
    const QString name = path.isEmpty() ? tr("New plan") : QFileInfo(path).fileName();
    setWindowTitle(QStringLiteral("%1[*] — %2").arg(name, tr("Ordan site commissioning")));
}

bool SiteWindow::openPlan(const QString &path)
{
    return files->openPlan(path);
}

bool SiteWindow::savePlan(const QString &path)
{
    return files->savePlan(path);
}

QString SiteWindow::planPath() const
{
    return files->planPath();
}

QStringList SiteWindow::leftOut() const
{
    return files->leftOut();
}

bool SiteWindow::loadBaseValues(const QString &path)
{
    return files->loadBaseValues(path);
}

void SiteWindow::setRecordPath(const QString &path)
{
    panel->recordField()->setPath(path);
}

QString SiteWindow::recordPath() const
{
    return panel->recordField()->path();
}

bool SiteWindow::startRun()
{
    return panel->startRun();
}

bool SiteWindow::startAudit()
{
    return panel->startAudit();
}

void SiteWindow::stopRun()
{
    panel->stopRun();
}

void SiteWindow::checkNetwork()
{
    if (!isRunning())
        checks->checkNetwork();
}

void SiteWindow::checkBus()
{
    if (!isRunning())
        checks->checkBus();
}

bool SiteWindow::isCheckingNetwork() const
{
    return checks->isBusy();
}

bool SiteWindow::isRunning() const
{
    return run->isRunning();
}

int SiteWindow::lastExitCode() const
{
    return run->exitCode();
}

QStringList SiteWindow::runSummary() const
{
    return run->summary();
}

QStringList SiteWindow::startRefusal() const
{
    return run->refusal();
}

int SiteWindow::startRefusalCode() const
{
    return run->refusalCode();
}

void SiteWindow::closeEvent(QCloseEvent *event)
{
    if (isRunning()) {
        event->ignore();
        if (closeWhenStopped)
            return; // stopping already
        // Quitting stops the modules in hand: asked first.
        QMessageBox ask(QMessageBox::Question, tr("Ordan site commissioning"),
                        tr("A run is going on. Stop it and quit? The modules in hand are "
                           "recorded as interrupted."),
                        QMessageBox::NoButton, this);
        QPushButton *stop = ask.addButton(tr("Stop and quit"), QMessageBox::DestructiveRole);
        QPushButton *goOn = ask.addButton(tr("Go on"), QMessageBox::RejectRole);
        ask.setDefaultButton(goOn);
        ask.setEscapeButton(goOn);
        ask.exec();
        if (ask.clickedButton() != stop || !isRunning())
            return;
        // The run ends first (its ports closed, finished rows kept); the
        // window closes when it has.
        closeWhenStopped = true;
        stopRun();
        return;
    }
    // What a run came to is in the record: quitting asks only for changes.
    if (!files->confirmDiscard(false)) {
        event->ignore();
        return;
    }
    event->accept();
}

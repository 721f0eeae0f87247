#include "site/sitewindow.h"

#include "engine/console/portlistmodel.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/jobs/writejob.h"
#include "engine/net/reachcheck.h"
#include "engine/platform/textsafety.h"
#include "engine/site/commissionrecord.h"
#include "engine/site/commissionrun.h"
#include "settings/settingsmapping.h"
#include "site/latencyprobe.h"
#include "site/plandelegate.h"
#include "site/planmodel.h"
#include "site/rowstage.h"
#include "site/sitestyle.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

// The window's icon, compiled into the library (outside any namespace, as
// Qt's resource initialisation wants).
static void initSiteResources()
{
    Q_INIT_RESOURCE(ordan_site);
}

namespace
{

const char planFilter[] = QT_TRANSLATE_NOOP("SiteWindow", "Plans (*.csv);;All files (*)");

} // namespace

SiteWindow::SiteWindow(QWidget *parent) : QMainWindow(parent), model(new PlanModel(this))
{
    setObjectName(QStringLiteral("SiteWindow"));
    initSiteResources();
    setWindowIcon(QIcon(QStringLiteral(":/site/ordan-site.png")));
    buildActions();
    buildForm();
    ports = new PortListModel(this);
    model->setPortList(ports);
    model->setPlanRows({QStringList()});
    connect(model, &PlanModel::planEdited, this, &SiteWindow::planEdited);
    connect(model, &PlanModel::problemsChanged, this, &SiteWindow::updateProblems);
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                fitRowHeights(from.row(), to.row());
            });
    setPlanPath(QString());
    checkRecordPath();
    updateActions();
    if (LatencyProbe::wanted())
        latency = std::make_unique<LatencyProbe>();
    // Wide enough for the plan and the states on a usual screen.
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->availableGeometry()
                             : QRect(0, 0, 1440, 900);
    resize(qMin(1440, screen.width()), qMin(640, screen.height()));
}

SiteWindow::~SiteWindow()
{
    // A run still going ends here: its ports are closed.
    delete run;
}

void SiteWindow::buildActions()
{
    const auto action = [this](const QString &text, const QString &name) {
        auto *a = new QAction(text, this);
        a->setObjectName(name);
        return a;
    };
    newAction = action(tr("&New plan"), QStringLiteral("newAction"));
    newAction->setShortcut(QKeySequence::New);
    connect(newAction, &QAction::triggered, this, &SiteWindow::newPlan);
    openAction = action(tr("&Open plan…"), QStringLiteral("openAction"));
    openAction->setShortcut(QKeySequence::Open);
    connect(openAction, &QAction::triggered, this, &SiteWindow::askOpenPlan);
    saveAction = action(tr("&Save plan"), QStringLiteral("saveAction"));
    saveAction->setShortcut(QKeySequence::Save);
    connect(saveAction, &QAction::triggered, this, [this] { askSavePlan(false); });
    saveAsAction = action(tr("Save plan &as…"), QStringLiteral("saveAsAction"));
    saveAsAction->setShortcut(QKeySequence::SaveAs);
    connect(saveAsAction, &QAction::triggered, this, [this] { askSavePlan(true); });
    baseAction = action(tr("&Base values from a settings file…"), QStringLiteral("baseAction"));
    baseAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+B")));
    connect(baseAction, &QAction::triggered, this, &SiteWindow::askBaseValues);
    auto *quitAction = action(tr("&Quit"), QStringLiteral("quitAction"));
    // Ctrl+Q where the desktop names no key for quitting.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty())
        quitKeys << QKeySequence(QStringLiteral("Ctrl+Q"));
    quitAction->setShortcuts(quitKeys);
    connect(quitAction, &QAction::triggered, this, &QWidget::close);

    addRowAction = action(tr("&Add row"), QStringLiteral("addRowAction"));
    addRowAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Ins")));
    connect(addRowAction, &QAction::triggered, this, &SiteWindow::addRow);
    duplicateAction = action(tr("&Duplicate rows"), QStringLiteral("duplicateAction"));
    duplicateAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+D")));
    connect(duplicateAction, &QAction::triggered, this, &SiteWindow::duplicateRows);
    removeAction = action(tr("&Remove rows"), QStringLiteral("removeAction"));
    removeAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Del")));
    connect(removeAction, &QAction::triggered, this, &SiteWindow::removeRows);
    copyAction = action(tr("&Copy"), QStringLiteral("copyAction"));
    copyAction->setShortcut(QKeySequence::Copy);
    connect(copyAction, &QAction::triggered, this, &SiteWindow::copyCells);
    pasteAction = action(tr("&Paste"), QStringLiteral("pasteAction"));
    pasteAction->setShortcut(QKeySequence::Paste);
    connect(pasteAction, &QAction::triggered, this, &SiteWindow::pasteCells);
    nextProblemAction = action(tr("Next &problem"), QStringLiteral("nextProblemAction"));
    nextProblemAction->setShortcut(QKeySequence(QStringLiteral("F8")));
    connect(nextProblemAction, &QAction::triggered, this, &SiteWindow::nextProblem);

    startAction = action(tr("&Start"), QStringLiteral("startAction"));
    startAction->setShortcuts(
        {QKeySequence(QStringLiteral("F5")), QKeySequence(QStringLiteral("Ctrl+R"))});
    connect(startAction, &QAction::triggered, this, &SiteWindow::startRun);
    checkAction = action(tr("&Check only"), QStringLiteral("checkAction"));
    checkAction->setShortcut(QKeySequence(QStringLiteral("F6")));
    connect(checkAction, &QAction::triggered, this, &SiteWindow::startAudit);
    stopAction = action(tr("S&top"), QStringLiteral("stopAction"));
    connect(stopAction, &QAction::triggered, this, &SiteWindow::stopRun);

    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addActions({newAction, openAction, saveAction, saveAsAction});
    file->addSeparator();
    file->addAction(baseAction);
    file->addSeparator();
    file->addAction(quitAction);
    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    edit->addActions({addRowAction, duplicateAction, removeAction});
    edit->addSeparator();
    edit->addActions({copyAction, pasteAction});
    edit->addSeparator();
    edit->addAction(nextProblemAction);
    QMenu *runMenu = menuBar()->addMenu(tr("&Run"));
    networkAction = action(tr("Check &network"), QStringLiteral("networkAction"));
    networkAction->setShortcut(QKeySequence(QStringLiteral("F7")));
    connect(networkAction, &QAction::triggered, this, &SiteWindow::checkNetwork);
    runMenu->addActions({startAction, checkAction, networkAction, stopAction});

    QToolBar *tools = addToolBar(tr("Plan"));
    tools->setObjectName(QStringLiteral("planToolBar"));
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->addActions({newAction, openAction, saveAction});
    tools->addSeparator();
    tools->addActions({addRowAction, duplicateAction, removeAction});
    tools->addSeparator();
    tools->addAction(baseAction);
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

    table = new QTableView(central);
    table->setObjectName(QStringLiteral("planTable"));
    table->setModel(model);
    auto *delegate = new PlanDelegate(table);
    table->setItemDelegate(delegate);
    connect(delegate, &PlanDelegate::portsWanted, this, [this] { ports->refresh(); });
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    table->setTabKeyNavigation(false);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideRight);
    table->viewport()->installEventFilter(this);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setHighlightSections(false);
    table->verticalHeader()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table->setColumnHidden(PlanModel::NetworkColumn, true); // until the network is checked
    fitColumns();
    table->addActions({copyAction, pasteAction});
    layout->addWidget(table, 1);

    auto *files = new QGridLayout;
    auto *baseLabel = new QLabel(tr("&Base values:"), central);
    basePath = new QLineEdit(central);
    basePath->setObjectName(QStringLiteral("basePath"));
    basePath->setReadOnly(true);
    basePath->setPlaceholderText(tr("none: a parameter left empty in a row is not written"));
    baseLabel->setBuddy(basePath);
    baseBrowseButton = new QPushButton(tr("C&hoose…"), central);
    baseBrowseButton->setObjectName(QStringLiteral("baseBrowseButton"));
    connect(baseBrowseButton, &QPushButton::clicked, this, &SiteWindow::askBaseValues);
    baseClearButton = new QPushButton(tr("C&lear"), central);
    baseClearButton->setObjectName(QStringLiteral("baseClearButton"));
    connect(baseClearButton, &QPushButton::clicked, this, &SiteWindow::clearBaseValues);
    files->addWidget(baseLabel, 0, 0);
    files->addWidget(basePath, 0, 1);
    files->addWidget(baseBrowseButton, 0, 2);
    files->addWidget(baseClearButton, 0, 3);

    auto *recordLabel = new QLabel(tr("Rec&ord:"), central);
    recordEdit = new QLineEdit(central);
    recordEdit->setObjectName(QStringLiteral("recordPath"));
    recordEdit->setPlaceholderText(tr("a record is always kept: choose its file"));
    recordLabel->setBuddy(recordEdit);
    connect(recordEdit, &QLineEdit::textChanged, this, &SiteWindow::checkRecordPath);
    recordBrowseButton = new QPushButton(tr("Choo&se…"), central);
    recordBrowseButton->setObjectName(QStringLiteral("recordBrowseButton"));
    connect(recordBrowseButton, &QPushButton::clicked, this, &SiteWindow::askRecordPath);
    recordOpenButton = new QPushButton(tr("O&pen"), central);
    recordOpenButton->setObjectName(QStringLiteral("recordOpenButton"));
    recordOpenButton->setToolTip(tr("Opens the record in the desktop's program for CSV files"));
    connect(recordOpenButton, &QPushButton::clicked, this, &SiteWindow::openRecord);
    files->addWidget(recordLabel, 1, 0);
    files->addWidget(recordEdit, 1, 1);
    files->addWidget(recordBrowseButton, 1, 2);
    files->addWidget(recordOpenButton, 1, 3);
    reachBox = new QCheckBox(tr("Check each module on the &network after its read-back"), central);
    reachBox->setObjectName(QStringLiteral("reachBox"));
    reachBox->setToolTip(tr("A module verified on its console must then answer at its address "
                            "and TCP port (tried for up to %1 s while its network comes up); "
                            "otherwise its row fails. Needs this computer on the site's network.")
                             .arg(reachTimeoutMs / 1000));
    connect(reachBox, &QCheckBox::toggled, this, [this](bool on) {
        if (on && table->isColumnHidden(PlanModel::NetworkColumn)) {
            table->setColumnHidden(PlanModel::NetworkColumn, false);
            fitColumns();
        }
    });
    files->addWidget(reachBox, 2, 1, 1, 3);
    layout->addLayout(files);

    auto *bottom = new QHBoxLayout;
    problemsLabel = new QLabel(central);
    problemsLabel->setObjectName(QStringLiteral("problemsLabel"));
    problemsLabel->setTextFormat(Qt::PlainText);
    bottom->addWidget(problemsLabel, 1);
    checkButton = new QPushButton(tr("Check only"), central);
    checkButton->setObjectName(QStringLiteral("checkButton"));
    checkButton->setToolTip(tr("Reads every module of the plan and compares it with the plan; "
                               "writes nothing (F6)"));
    connect(checkButton, &QPushButton::clicked, this, &SiteWindow::startAudit);
    networkButton = new QPushButton(tr("Check network"), central);
    networkButton->setObjectName(QStringLiteral("networkButton"));
    connect(networkButton, &QPushButton::clicked, this, &SiteWindow::checkNetwork);
    startButton = new QPushButton(tr("Start"), central);
    startButton->setObjectName(QStringLiteral("startButton"));
    startButton->setToolTip(tr("Writes every row of the plan to its module, restarts it, reads "
                               "it back and compares (F5)"));
    connect(startButton, &QPushButton::clicked, this, &SiteWindow::startRun);
    stopButton = new QPushButton(tr("Stop"), central);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    stopButton->setToolTip(tr("Ends the run: the rows in hand are interrupted, the others not "
                              "reached (Esc)"));
    connect(stopButton, &QPushButton::clicked, this, &SiteWindow::stopRun);
    for (QPushButton *button : {networkButton, checkButton, startButton, stopButton}) {
        button->setAutoDefault(false);
        button->setMinimumWidth(button->sizeHint().width() + 24);
        bottom->addWidget(button);
    }
    layout->addLayout(bottom);
    setCentralWidget(central);

    setTabOrder(table, baseBrowseButton);
    setTabOrder(baseBrowseButton, baseClearButton);
    setTabOrder(baseClearButton, recordEdit);
    setTabOrder(recordEdit, recordBrowseButton);
    setTabOrder(recordBrowseButton, recordOpenButton);
    setTabOrder(recordOpenButton, reachBox);
    setTabOrder(reachBox, networkButton);
    setTabOrder(networkButton, checkButton);
    setTabOrder(checkButton, startButton);
    setTabOrder(startButton, stopButton);
    basePath->setFocusPolicy(Qt::ClickFocus);
    table->setFocus();
}

void SiteWindow::fitColumns()
{
    // Everything in the width of the table, without scrolling sideways:
    // the plan's columns as wide as their titles and what they hold, the
    // state (longer ones wrap) and MAC columns for their usual texts, the
    // port what is left down to a floor (its start elided), the result the
    // rest (its whole text in the tool tip).
    if (fitting)
        return;
    fitting = true;
    const QFontMetrics metrics = table->fontMetrics();
    const QFontMetrics headerMetrics = table->horizontalHeader()->fontMetrics();
    const int pad = 12;
    const auto titled = [&](int column, int content) {
        int title = 0;
        const QString text = model->headerData(column, Qt::Horizontal).toString();
        for (const QString &line : text.split(QLatin1Char('\n')))
            title = qMax(title, headerMetrics.horizontalAdvance(line));
        return qMax(title, content) + pad;
    };
    int used = 0;
    for (int column = PlanModel::IpColumn; column < PlanModel::planColumnCount; ++column) {
        int content = 0;
        for (int row = 0; row < model->rowCount(); ++row)
            content = qMax(content,
                           metrics.horizontalAdvance(model->index(row, column).data().toString()));
        table->setColumnWidth(column, titled(column, content));
        used += table->columnWidth(column);
    }
    table->setColumnWidth(
        PlanModel::StateColumn,
        titled(PlanModel::StateColumn, metrics.horizontalAdvance(tr("reading back 11 of 11"))));
    table->setColumnWidth(PlanModel::MacColumn,
                          titled(PlanModel::MacColumn,
                                 metrics.horizontalAdvance(QStringLiteral("00:1A:2B:3C:4D:5E"))));
    used += table->columnWidth(PlanModel::StateColumn) + table->columnWidth(PlanModel::MacColumn);
    if (!table->isColumnHidden(PlanModel::NetworkColumn)) {
        table->setColumnWidth(
            PlanModel::NetworkColumn,
            titled(PlanModel::NetworkColumn,
                   metrics.horizontalAdvance(ReachCheck::describe(
                       {ReachCheck::Outcome::Reachable, 999, 1, QString(), QString()}))));
        used += table->columnWidth(PlanModel::NetworkColumn);
    }
    // The port needs its start and the part that tells it apart, to its end;
    // the result gets the rest.
    int portWanted = metrics.horizontalAdvance(QStringLiteral("/dev/ttyUSB0"));
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString port = model->port(row);
        const int keep = model->portLabelStart(row);
        const QString shown = keep > 8 ? port.left(5) + QChar(0x2026) + port.mid(keep) : port;
        portWanted = qMax(portWanted, metrics.horizontalAdvance(shown));
    }
    const int resultFloor = metrics.horizontalAdvance(QLatin1Char('x')) * 18;
    const int portFloor = metrics.horizontalAdvance(QLatin1Char('x')) * 12;
    const int room = table->viewport()->width() - used - resultFloor;
    table->setColumnWidth(PlanModel::PortColumn, qMax(titled(PlanModel::PortColumn, portFloor),
                                                      qMin(room, portWanted + pad)));
    fitting = false;
    fitRowHeights(0, model->rowCount() - 1);
}

bool SiteWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == table->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    return QMainWindow::eventFilter(watched, event);
}

void SiteWindow::fitRowHeights(int first, int last)
{
    // A state longer than its column (a row waiting for the next module,
    // a long stage) wraps, and its row is as high as it needs; it goes back
    // to one line with a short state.
    const int normal = table->verticalHeader()->defaultSectionSize();
    QFont bold = table->font();
    bold.setBold(true);
    const QRect area(0, 0, table->columnWidth(PlanModel::StateColumn) - 8, 4 * normal);
    for (int row = first; row <= last && row < model->rowCount(); ++row) {
        const bool next = model->progress(row).stage == RowStage::NextModule;
        const QString text = next ? model->nextModulePrompt(row, true) : model->stateText(row);
        const QFontMetrics metrics(next ? bold : table->font());
        int height = normal;
        if (next || metrics.horizontalAdvance(text) > area.width())
            height = qMax(normal, metrics.boundingRect(area, Qt::TextWordWrap, text).height() + 8);
        if (table->rowHeight(row) != height)
            table->setRowHeight(row, height);
    }
}

void SiteWindow::updateRunSummary()
{
    if (!run)
        return;
    int done = 0, verified = 0, failed = 0;
    for (const int row : qAsConst(tableRowOf)) {
        const RowStage stage = model->progress(row).stage;
        if (!isFinal(stage))
            continue;
        ++done;
        if (stage == RowStage::Verified || stage == RowStage::Matches)
            ++verified;
        else
            ++failed;
    }
    problemsLabel->setStyleSheet(QString());
    problemsLabel->setText((runMode == RunMode::Audit
                                ? tr("Checking: %1 of %2 rows done, %3 match, %4 not")
                                : tr("Running: %1 of %2 rows done, %3 verified, %4 failed"))
                               .arg(done)
                               .arg(tableRowOf.size())
                               .arg(verified)
                               .arg(failed));
}

QString SiteWindow::startBlocker() const
{
    if (isRunning())
        return tr("A run is going on");
    if (networkCheck)
        return tr("The network check is going on");
    if (model->problemCount() > 0)
        return tr("The plan has %n problem(s): F8 goes to the next", "", model->problemCount());
    if (!recordProblem.isEmpty())
        return tr("The record cannot be kept: %1").arg(recordProblem);
    return QString();
}

void SiteWindow::updateActions()
{
    const bool running = isRunning() || networkCheck;
    const QString blocker = startBlocker();
    const bool ready = blocker.isEmpty();
    // Nothing that asks with a dialog while a run goes on.
    for (QAction *a : {newAction, openAction, saveAction, saveAsAction, baseAction, addRowAction,
                       duplicateAction, removeAction, pasteAction})
        a->setEnabled(!running);
    baseBrowseButton->setEnabled(!running);
    recordBrowseButton->setEnabled(!running);
    baseClearButton->setEnabled(!running && !basePath->text().isEmpty());
    recordEdit->setReadOnly(running);
    startAction->setEnabled(ready);
    startButton->setEnabled(ready);
    checkAction->setEnabled(ready);
    checkButton->setEnabled(ready);
    // The network check needs no module on a serial port, nor a sound plan.
    networkAction->setEnabled(!running);
    networkButton->setEnabled(!running);
    networkButton->setToolTip(running ? blocker
                                      : tr("Tries every row's address and TCP port on the "
                                           "network, sending nothing (F7)"));
    reachBox->setEnabled(!running);
    // A disabled button says why.
    startButton->setToolTip(ready ? tr("Writes every row of the plan to its module, restarts it, "
                                       "reads it back and compares (F5)")
                                  : blocker);
    checkButton->setToolTip(ready ? tr("Reads every module of the plan and compares it with the "
                                       "plan; writes nothing (F6)")
                                  : blocker);
    stopAction->setEnabled(running);
    stopButton->setEnabled(running);
    // Escape stops a run; otherwise it stays the table's (an edit
    // cancelled).
    stopAction->setShortcuts(running ? QList<QKeySequence>{QKeySequence(Qt::Key_Escape),
                                                           QKeySequence(QStringLiteral("Ctrl+."))}
                                     : QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+."))});
    const QString record = recordPath();
    recordOpenButton->setEnabled(!record.isEmpty() && QFileInfo(record).isFile());
}

void SiteWindow::updateProblems()
{
    const int count = model->problemCount() + (recordProblem.isEmpty() ? 0 : 1);
    const QStringList general = model->generalProblems();
    QStringList lines = model->problemLines();
    if (!recordProblem.isEmpty())
        lines << tr("Record: %1").arg(recordProblem);
    if (count == 0) {
        problemsLabel->setText(runOutcome.isEmpty() ? tr("No problems: ready to start")
                                                    : runOutcome);
        problemsLabel->setStyleSheet(QString());
    } else {
        QString text = tr("%n problem(s)", "", count);
        if (!general.isEmpty())
            text += QStringLiteral(": ") + general.first();
        else if (model->problemCount() == 0)
            text += QStringLiteral(": ") + tr("Record: %1").arg(recordProblem);
        else
            text += tr(" (F8 goes to the next)");
        problemsLabel->setText(QStringLiteral("! ") + text);
        problemsLabel->setStyleSheet(siteStyle::problemsText());
    }
    problemsLabel->setToolTip(lines.join(QLatin1Char('\n')));
    QStringList baseProblems;
    for (const commissionplan::Problem &p : model->checkedPlan().problems) {
        if (p.row == 0 && !p.column.isEmpty())
            baseProblems << p.column + QStringLiteral(": ") + p.message;
    }
    basePath->setToolTip(baseProblems.isEmpty()
                             ? tr("Values for the cells left empty, as ordan-cli's --from")
                             : baseProblems.join(QLatin1Char('\n')));
    basePath->setStyleSheet(baseProblems.isEmpty() ? QString() : siteStyle::problemLineEdit());
    if (!isRunning())
        updateActions();
    else
        updateRunSummary();
}

void SiteWindow::planEdited()
{
    setWindowModified(true);
    if (!runOutcome.isEmpty()) {
        runOutcome.clear();
        updateProblems();
    }
}

QString SiteWindow::defaultRecordPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                           QStringLiteral("/records");
    QDir().mkpath(folder);
    return QDir(folder).filePath(
        QStringLiteral("site-%1-record.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"))));
}

void SiteWindow::checkRecordPath()
{
    QString problem;
    recordProblem = commissionrecord::checkAppendable(recordPath(), &problem) ? QString() : problem;
    recordEdit->setStyleSheet(recordProblem.isEmpty() ? QString() : siteStyle::problemLineEdit());
    recordEdit->setToolTip(recordProblem.isEmpty()
                               ? tr("A CSV file that gets one row per module as soon as it is "
                                    "done: its MAC address, the values read back and the result")
                               : recordProblem);
    updateProblems();
    updateActions();
}

void SiteWindow::setPlanPath(const QString &path)
{
    currentPlan = path;
    const QString name = path.isEmpty() ? tr("New plan") : QFileInfo(path).fileName();
    setWindowTitle(QStringLiteral("%1[*] — %2").arg(name, tr("Ordan site commissioning")));
    // The record follows the plan, unless another one was chosen; a plan
    // without a file yet records to the user's data folder.
    const QFileInfo info(path);
    const QString record =
        path.isEmpty()
            ? defaultRecordPath()
            : info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral("-record.csv"));
    if (recordEdit->text().isEmpty() || recordEdit->text() == defaultRecord)
        recordEdit->setText(record);
    defaultRecord = record;
}

void SiteWindow::showNotice(const QString &text)
{
    notice->setText(text);
    notice->setVisible(!text.isEmpty());
}

bool SiteWindow::confirmDiscard()
{
    if (!isWindowModified())
        return true;
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Ordan site commissioning"), tr("The plan has changes that are not saved."),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Save)
        return askSavePlan(false);
    return answer == QMessageBox::Discard;
}

bool SiteWindow::openPlan(const QString &path)
{
    if (isRunning())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showNotice(tr("Cannot open the plan %1: %2").arg(path, file.errorString()));
        return false;
    }
    const commissionplan::Table contents = commissionplan::readTable(file.readAll());
    if (!contents.error.isEmpty()) {
        showNotice(tr("Cannot read the plan %1: %2").arg(path, contents.error));
        return false;
    }
    model->setPlanRows(contents.rows.isEmpty() ? QList<QStringList>{QStringList()} : contents.rows);
    fitColumns();
    planLeftOut = contents.leftOut;
    showNotice(planLeftOut.isEmpty()
                   ? QString()
                   : tr("Left out of %1 (the table has no place for it): %2")
                         .arg(QFileInfo(path).fileName(), planLeftOut.join(QLatin1String("; "))));
    setPlanPath(path);
    setWindowModified(false);
    table->setCurrentIndex(model->index(0, 0));
    statusBar()->showMessage(tr("Opened %1: %n row(s)", "", model->rowCount()).arg(path), 5000);
    return true;
}

bool SiteWindow::savePlan(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(model->toCsv()) < 0 || !file.commit()) {
        statusBar()->showMessage(tr("Cannot save the plan %1: %2").arg(path, file.errorString()));
        return false;
    }
    setPlanPath(path);
    planLeftOut.clear();
    showNotice(QString());
    setWindowModified(false);
    statusBar()->showMessage(tr("Saved %1").arg(path), 5000);
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
    updateProblems();
    updateActions();
    return true;
}

void SiteWindow::clearBaseValues()
{
    model->setBaseValues(parameters::Values());
    basePath->clear();
    updateProblems();
    updateActions();
}

void SiteWindow::setRecordPath(const QString &path)
{
    recordEdit->setText(path);
}

QString SiteWindow::recordPath() const
{
    return recordEdit->text().trimmed();
}

void SiteWindow::newPlan()
{
    if (isRunning() || !confirmDiscard())
        return;
    model->setPlanRows({QStringList()});
    planLeftOut.clear();
    showNotice(QString());
    currentPlan.clear();
    setPlanPath(QString());
    setWindowModified(false);
    table->setCurrentIndex(model->index(0, 0));
}

void SiteWindow::askOpenPlan()
{
    if (isRunning() || !confirmDiscard())
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open a plan"), QFileInfo(currentPlan).path(), tr(planFilter));
    if (!path.isEmpty())
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

void SiteWindow::askRecordPath()
{
    const QString start = recordPath().isEmpty() ? QFileInfo(currentPlan).path() : recordPath();
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Record"), start, tr("Records (*.csv);;All files (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite); // the record is appended to, never overwritten
    if (!path.isEmpty())
        recordEdit->setText(path);
}

void SiteWindow::openRecord()
{
    const QString path = recordPath();
    if (!path.isEmpty() && !QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        statusBar()->showMessage(tr("No program to open %1").arg(path), 5000);
}

QList<int> SiteWindow::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : table->selectionModel()->selectedIndexes())
        rows << index.row();
    if (rows.isEmpty() && table->currentIndex().isValid())
        rows << table->currentIndex().row();
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void SiteWindow::addRow()
{
    const QModelIndex current = table->currentIndex();
    const int row = current.isValid() ? current.row() + 1 : model->rowCount();
    if (!model->insertRows(row, 1))
        return;
    table->setCurrentIndex(model->index(row, PlanModel::PortColumn));
    table->scrollTo(table->currentIndex());
}

void SiteWindow::duplicateRows()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    model->duplicateRows(rows);
    const int first = rows.last() + 1;
    table->selectionModel()->select(
        QItemSelection(model->index(first, 0),
                       model->index(first + rows.size() - 1, PlanModel::ColumnCount - 1)),
        QItemSelectionModel::ClearAndSelect);
    table->selectionModel()->setCurrentIndex(model->index(first, PlanModel::IpColumn),
                                             QItemSelectionModel::NoUpdate);
}

void SiteWindow::removeRows()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty() || model->isLocked())
        return;
    for (auto it = rows.crbegin(); it != rows.crend(); ++it)
        model->removeRows(*it, 1);
    if (model->rowCount() == 0)
        model->insertRows(0, 1);
    table->setCurrentIndex(model->index(qMin(rows.first(), model->rowCount() - 1), 0));
}

void SiteWindow::copyCells()
{
    const QModelIndexList indexes = table->selectionModel()->selectedIndexes();
    if (indexes.isEmpty())
        return;
    int top = indexes.first().row(), bottom = top;
    int left = indexes.first().column(), right = left;
    for (const QModelIndex &index : indexes) {
        top = qMin(top, index.row());
        bottom = qMax(bottom, index.row());
        left = qMin(left, index.column());
        right = qMax(right, index.column());
    }
    QStringList lines;
    for (int r = top; r <= bottom; ++r) {
        QStringList cells;
        for (int c = left; c <= right; ++c) {
            const QModelIndex index = model->index(r, c);
            const bool selected = table->selectionModel()->isSelected(index);
            QString text =
                selected
                    ? index.data(c < PlanModel::planColumnCount ? Qt::EditRole : Qt::DisplayRole)
                          .toString()
                    : QString();
            // As spreadsheets copy: a cell with a tab, a line break or a
            // quote is quoted.
            if (text.contains(QLatin1Char('\t')) || text.contains(QLatin1Char('\n')) ||
                text.contains(QLatin1Char('"')))
                text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                       QLatin1Char('"');
            cells << text;
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void SiteWindow::pasteCells()
{
    if (isRunning())
        return;
    const QString text = QApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    // Cells copied from a spreadsheet: tab-separated, one line per row,
    // quoted where a cell holds a tab, a quote or a line break.
    QString error;
    QList<QStringList> cells = commissionplan::splitCsv(text, QLatin1Char('\t'), &error);
    if (!error.isEmpty()) {
        cells.clear();
        QString plain = text;
        plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        if (plain.endsWith(QLatin1Char('\n')))
            plain.chop(1);
        for (const QString &line : plain.split(QLatin1Char('\n')))
            cells << line.split(QLatin1Char('\t'));
    }
    QModelIndex at = table->currentIndex();
    if (!at.isValid())
        at = model->index(0, 0);
    // A copied header row names the plan's columns: it is not a row.
    if (!cells.isEmpty() && at.column() == PlanModel::PortColumn) {
        QStringList header;
        for (int c = 0; c < cells.first().size() && c < PlanModel::planColumnCount; ++c)
            header << PlanModel::columnKey(c);
        QStringList first = cells.first();
        for (QString &cell : first)
            cell = cell.trimmed().toLower();
        if (first == header)
            cells.removeFirst();
    }
    if (at.column() >= PlanModel::planColumnCount) {
        statusBar()->showMessage(tr("Cells are pasted into the plan's columns, port to "
                                    "packet_timeout"),
                                 5000);
        return;
    }
    const int count = model->putCells(at.row(), at.column(), cells);
    int width = 0;
    for (const QStringList &line : qAsConst(cells))
        width = qMax(width, line.size());
    if (count > 0) {
        const int right = qMin(at.column() + width, int(PlanModel::planColumnCount)) - 1;
        table->selectionModel()->select(
            QItemSelection(at, model->index(at.row() + cells.size() - 1, right)),
            QItemSelectionModel::ClearAndSelect);
    }
    statusBar()->showMessage(tr("Pasted %n cell(s)", "", count), 5000);
}

void SiteWindow::nextProblem()
{
    const int rows = model->rowCount();
    const int columns = PlanModel::planColumnCount;
    const QModelIndex current = table->currentIndex();
    const int start = current.isValid() ? current.row() * columns + current.column() : -1;
    for (int step = 1; step <= rows * columns; ++step) {
        const int n = (start + step) % (rows * columns);
        const QModelIndex index = model->index(n / columns, n % columns);
        QString problem = index.data(PlanModel::ProblemRole).toString();
        if (problem.isEmpty() && index.column() == 0)
            problem =
                model->headerData(index.row(), Qt::Vertical, PlanModel::ProblemRole).toString();
        if (!problem.isEmpty()) {
            table->setCurrentIndex(index);
            table->scrollTo(index);
            statusBar()->showMessage(tr("Row %1, %2: %3")
                                         .arg(PlanModel::fileRow(index.row()))
                                         .arg(PlanModel::columnKey(index.column()), problem));
            return;
        }
    }
    const QStringList general = model->generalProblems();
    statusBar()->showMessage(
        general.isEmpty() ? tr("No problems") : general.join(QLatin1String("; ")), 5000);
}

bool SiteWindow::startRun()
{
    return beginRun(RunMode::Commission);
}

bool SiteWindow::startAudit()
{
    return beginRun(RunMode::Audit);
}

bool SiteWindow::beginRun(RunMode mode)
{
    refusal.clear();
    refusalCode = int(JobResult::Invalid);
    if (isRunning())
        return false;
    if (model->problemCount() > 0) {
        refusal = model->problemLines();
        statusBar()->showMessage(
            tr("The plan has %n problem(s): nothing was started", "", model->problemCount()));
        return false;
    }
    const QString record = recordPath();
    QString error;
    checkRecordPath();
    if (!recordProblem.isEmpty() || !commissionrecord::checkWritable(record, &error)) {
        refusal << tr("Cannot append to the record %1: %2")
                       .arg(record, recordProblem.isEmpty() ? error : recordProblem);
        recordEdit->setStyleSheet(siteStyle::problemLineEdit());
        recordEdit->setToolTip(refusal.first());
        statusBar()->showMessage(refusal.first());
        return false;
    }
    const commissionplan::Plan plan = model->checkedPlan();
    JobSettings settings;
    if (mode == RunMode::Commission && reachBox->isChecked())
        settings.reachTimeoutMs = reachTimeoutMs;
    auto *commission = new CommissionRun(plan.rows, settings, this);
    // One run per port: another run (a second window, a script) holding a
    // port means nothing is started.
    if (!commission->claimPorts(&error)) {
        delete commission;
        refusal << error;
        refusalCode = int(JobResult::PortUnavailable);
        statusBar()->showMessage(tr("Nothing was started: %1").arg(error));
        return false;
    }
    commission->setAuditOnly(mode == RunMode::Audit);
    commission->setRecord(record);
    connect(commission, &CommissionRun::rowStage, this, &SiteWindow::onRowStage);
    connect(commission, &CommissionRun::rowFinished, this, &SiteWindow::onRowFinished);
    connect(commission, &CommissionRun::swapNeeded, this, &SiteWindow::onSwapNeeded);
    connect(commission, &CommissionRun::rowIdentified, this, &SiteWindow::onRowIdentified);
    connect(commission, &CommissionRun::rowReaching, this, [this](int index) {
        RowProgress reaching;
        reaching.stage = RowStage::Reaching;
        model->setProgress(tableRowOf.value(index, -1), reaching);
    });
    connect(commission, &CommissionRun::moduleAlreadyDone, this, &SiteWindow::onModuleAlreadyDone);
    connect(commission, &CommissionRun::finished, this, &SiteWindow::onRunFinished);

    model->clearRun();
    tableRowOf.clear();
    RowProgress waiting;
    waiting.stage = RowStage::Waiting;
    for (const commissionplan::Row &row : plan.rows) {
        tableRowOf << row.row - 2;
        model->setProgress(row.row - 2, waiting);
    }
    run = commission;
    runMode = mode;
    exitCode = -1;
    waitingPorts.clear();
    runOutcome.clear();
    // A cell still being edited keeps what was typed (each keystroke is in
    // the model already) and closes.
    if (QWidget *editor = table->indexWidget(table->currentIndex()))
        emit table->itemDelegate()->closeEditor(editor);
    model->setLocked(true);
    updateActions();
    statusBar()->showMessage(mode == RunMode::Audit
                                 ? tr("Checking %n module(s)…", "", plan.rows.size())
                                 : tr("Commissioning %n module(s)…", "", plan.rows.size()));
    table->scrollTo(model->index(tableRowOf.value(0), PlanModel::StateColumn));
    updateRunSummary();
    if (latency)
        latency->start();
    commission->start();
    return true;
}

void SiteWindow::stopRun()
{
    if (networkCheck)
        networkCheck->stop();
    if (!run)
        return;
    statusBar()->showMessage(tr("Stopping…"));
    run->interrupt();
}

void SiteWindow::onRowStage(int index, JobStage stage, int step, int steps, const QString &what)
{
    model->setProgress(tableRowOf.value(index, -1), rowProgress(stage, step, steps, what));
    if (waitingPorts.remove(index) > 0)
        showWaitingPorts();
}

void SiteWindow::onRowIdentified(int index, const QString &mac)
{
    model->setMac(tableRowOf.value(index, -1), mac);
}

void SiteWindow::onRowFinished(int index)
{
    const WriteJob *job = run->job(index);
    const int row = tableRowOf.value(index, -1);
    if (!job)
        return;
    const RowOutcome outcome = run->outcome(index);
    model->setMac(row, job->identity().value(ModuleField::Mac));
    model->setProgress(row, finishedProgress(outcome));
    QHash<int, QString> cells;
    for (const RowOutcome::Difference &d : outcome.differences)
        cells.insert(PlanModel::columnOf(d.field), d.read);
    model->setDifferences(row, cells);
    model->setResult(row, outcome.detail());
    if (job->reachChecked())
        model->setNetwork(row, ReachCheck::describe(job->reachResult()),
                          job->reachResult().outcome == ReachCheck::Outcome::Reachable);
    updateActions();
    updateRunSummary();
}

void SiteWindow::checkNetwork()
{
    if (isRunning() || networkCheck)
        return;
    // Every row's address and TCP port (the base values where a cell is
    // empty), all at once; nothing is sent to a module.
    networkCheck = new ReachCheck(this);
    networkRowOf.clear();
    for (const commissionplan::Row &row : model->checkedPlan().rows) {
        const int tableRow = row.row - 2;
        QHostAddress address;
        quint16 port = 0;
        QString problem;
        if (ReachCheck::parseTarget(row.values.value(ModuleField::Ip),
                                    row.values.value(ModuleField::PortTcp), &address, &port,
                                    &problem)) {
            networkCheck->addTarget(address, port);
            networkRowOf << tableRow;
            model->setNetwork(tableRow, tr("checking…"), false);
        } else {
            model->setNetwork(tableRow, tr("no address and TCP port"), false);
        }
    }
    if (table->isColumnHidden(PlanModel::NetworkColumn)) {
        table->setColumnHidden(PlanModel::NetworkColumn, false);
        fitColumns();
    }
    connect(networkCheck, &ReachCheck::targetFinished, this, [this](int index) {
        const ReachCheck::Result result = networkCheck->result(index);
        model->setNetwork(networkRowOf.value(index, -1), ReachCheck::describe(result),
                          result.outcome == ReachCheck::Outcome::Reachable);
    });
    connect(networkCheck, &ReachCheck::finished, this, [this] {
        int reachable = 0;
        for (int i = 0; i < networkCheck->count(); ++i)
            reachable += networkCheck->result(i).outcome == ReachCheck::Outcome::Reachable;
        statusBar()->showMessage(
            tr("Network checked: %1 of %2 reachable").arg(reachable).arg(networkCheck->count()));
        networkCheck->deleteLater();
        networkCheck = nullptr;
        updateActions();
        emit networkChecked();
    });
    updateActions();
    statusBar()->showMessage(tr("Checking the network…"));
    networkCheck->start();
}

void SiteWindow::onSwapNeeded(int index)
{
    const int row = tableRowOf.value(index, -1);
    RowProgress next;
    next.stage = RowStage::NextModule;
    next.firstModule = run->isFirstOnPort(index);
    model->setProgress(row, next);
    table->scrollTo(model->index(row, PlanModel::StateColumn));
    waitingPorts.insert(index, row);
    showWaitingPorts();
}

void SiteWindow::onModuleAlreadyDone(int index, const QString &mac, int doneRow)
{
    const int row = tableRowOf.value(index, -1);
    RowProgress next = model->progress(row);
    if (next.stage != RowStage::NextModule)
        return;
    next.note = tr("This module, %1, was done in row %2: connect the next one")
                    .arg(textsafety::escapeControls(mac))
                    .arg(doneRow);
    model->setProgress(row, next);
    showWaitingPorts();
}

void SiteWindow::showWaitingPorts()
{
    // Every port that waits, each with its row.
    QStringList ports;
    for (auto it = waitingPorts.cbegin(); it != waitingPorts.cend(); ++it)
        ports << tr("%1 (row %2)")
                     .arg(model->nextModulePrompt(it.value()))
                     .arg(PlanModel::fileRow(it.value()));
    if (ports.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(ports.join(QLatin1String("; ")));
}

void SiteWindow::onRunFinished()
{
    int verified = 0, failed = 0, notReached = 0;
    for (int i = 0; i < run->rowCount(); ++i) {
        const int row = tableRowOf.value(i, -1);
        const RowOutcome outcome = run->outcome(i);
        if (outcome.status == RowOutcome::Status::NotReached) {
            model->setProgress(row, finishedProgress(outcome));
            model->setResult(row, outcome.detail());
            ++notReached;
        } else if (outcome.isSuccess()) {
            ++verified;
        } else {
            ++failed;
        }
    }
    exitCode = run->exitCode();
    if (latency)
        std::fprintf(stderr, "ordan-site: %s\n", qPrintable(latency->stop()));
    const bool audit = runMode == RunMode::Audit;
    // The outcome stays beside the buttons until the plan changes.
    runOutcome = (audit ? tr("Check ended: %1 match, %2 differ or failed, %3 not reached")
                        : tr("Run ended: %1 verified, %2 failed, %3 not reached"))
                     .arg(verified)
                     .arg(failed)
                     .arg(notReached);
    waitingPorts.clear();
    statusBar()->showMessage(runOutcome);
    run->deleteLater();
    run = nullptr;
    model->setLocked(false);
    updateProblems();
    emit runFinished(exitCode);
    if (closeWhenStopped)
        close();
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
    if (!confirmDiscard()) {
        event->ignore();
        return;
    }
    event->accept();
}

#include "site/recordview.h"

#include "engine/commission/recordimport.h"
#include "engine/jobs/recordwords.h"
#include "engine/platform/textsafety.h"
#include "protocol/parameters.h"
#include "site/celltips.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace
{

// A cell of the record's column `key`, in the window's words.
QString shownCell(const QString &key, const QString &text)
{
    if (key == QLatin1String("result"))
        return recordwords::shown(text);
    if (key == QLatin1String("bus"))
        return recordwords::shownBus(text);
    if (key == QLatin1String("planned"))
        return recordwords::shownPlanned(text);
    if (key == parameters::fieldKey(ModuleField::Parity))
        return recordwords::shownValue(ModuleField::Parity, text);
    return text;
}

} // namespace

RecordView::RecordView(const QString &path, QWidget *parent) : QDialog(parent), file(path)
{
    setObjectName(QStringLiteral("recordView"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("%1 (a record, read-only)").arg(QFileInfo(path).fileName()));
    auto *layout = new QVBoxLayout(this);
    auto *about = new QLabel(tr("This is a commissioning record, not a plan: it is only ever "
                                "appended to by a run, so it opens read-only. Its rows can "
                                "start a new plan."),
                             this);
    about->setWordWrap(true);
    layout->addWidget(about);
    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("recordProblem"));
    problem->setWordWrap(true);
    problem->hide();
    layout->addWidget(problem);

    cells = new QStandardItemModel(this);
    auto *view = new QTableView(this);
    view->setObjectName(QStringLiteral("recordTable"));
    view->setModel(cells);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setItemDelegate(new CellTips(view));
    view->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(view, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *newPlan =
        buttons->addButton(tr("&New plan from this record"), QDialogButtonBox::ActionRole);
    newPlan->setObjectName(QStringLiteral("newPlanFromRecordButton"));
    newPlan->setToolTip(tr("A new plan, without a file yet, of the record's ports and planned "
                           "values; the record itself stays as it is"));
    connect(newPlan, &QPushButton::clicked, this, [this] { emit newPlanWanted(file); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    // Wide enough for a record's seventeen columns on a laptop's screen.
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->availableGeometry()
                             : QRect(0, 0, 1366, 768);
    resize(qMin(1300, screen.width() - 40), qMin(480, screen.height() - 80));

    watcher = new QFileSystemWatcher({path}, this);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        reload();
        // A file replaced (written elsewhere and renamed over) is watched
        // anew.
        if (!watcher->files().contains(file) && QFileInfo::exists(file))
            watcher->addPath(file);
    });
    reload();
    // Each column as wide as what it holds, none wider than a third of the
    // table: a cut cell shows its text whole as a tool tip.
    view->resizeColumnsToContents();
    for (int column = 0; column < cells->columnCount(); ++column)
        view->setColumnWidth(column, qMin(view->columnWidth(column), width() / 3));
}

void RecordView::reload()
{
    QString error;
    QList<QStringList> rows;
    recordimport::readCells(file, &rows, &error);
    problem->setText(error.isEmpty() ? QString() : tr("Cannot read the record: %1").arg(error));
    problem->setVisible(!error.isEmpty());
    cells->clear();
    const QStringList header = rows.value(0);
    QStringList titles;
    for (const QString &key : header)
        titles << recordwords::columnTitle(key.trimmed());
    cells->setColumnCount(int(header.size()));
    cells->setHorizontalHeaderLabels(titles);
    for (int r = 1; r < rows.size(); ++r) {
        const QStringList &record = rows.at(r);
        if (record.size() == 1 && record.first().isEmpty())
            continue; // an empty line
        QList<QStandardItem *> line;
        for (int c = 0; c < record.size(); ++c) {
            auto *item = new QStandardItem(
                textsafety::escapeControls(shownCell(header.value(c).trimmed(), record.at(c))));
            item->setEditable(false);
            line << item;
        }
        cells->appendRow(line);
    }
}

#include "site/recordview.h"

#include "engine/platform/textsafety.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

RecordView::RecordView(const QString &path, const QList<QStringList> &rows, QWidget *parent)
    : QDialog(parent), file(path)
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

    auto *cells = new QStandardItemModel(this);
    const QStringList header = rows.value(0);
    cells->setColumnCount(int(header.size()));
    cells->setHorizontalHeaderLabels(header);
    for (int r = 1; r < rows.size(); ++r) {
        QList<QStandardItem *> line;
        for (const QString &cell : rows.at(r)) {
            auto *item = new QStandardItem(textsafety::escapeControls(cell));
            item->setEditable(false);
            line << item;
        }
        cells->appendRow(line);
    }
    auto *view = new QTableView(this);
    view->setObjectName(QStringLiteral("recordTable"));
    view->setModel(cells);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->horizontalHeader()->setStretchLastSection(true);
    view->resizeColumnsToContents();
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
    resize(900, 420);
}

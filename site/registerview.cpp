#include "site/registerview.h"

#include "engine/platform/textsafety.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registerverdict.h"
#include "engine/register/siteregister.h"
#include "site/siterun.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

using namespace siteregister;

namespace
{

QTableView *tableView(QAbstractItemModel *model, const QString &name, QWidget *parent)
{
    auto *view = new QTableView(parent);
    view->setObjectName(name);
    view->setModel(model);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

// A cell: what came from a module or a file, its control characters shown.
QStandardItem *cell(const QString &text)
{
    return new QStandardItem(textsafety::escapeControls(text));
}

} // namespace

RegisterView::RegisterView(SiteRun *run, QWidget *parent) : QDialog(parent), run(run)
{
    setObjectName(QStringLiteral("registerView"));
    setWindowTitle(tr("Site register"));

    location = new QLineEdit(run->registerText(), this);
    location->setObjectName(QStringLiteral("registerLocation"));
    location->setPlaceholderText(tr("the user's file, or ORDAN_REGISTER when set"));
    location->setToolTip(tr("A team's register: postgresql://USER@HOST/DB (the password in "
                            "~/.pgpass, never here); or a SQLite file"));
    auto *use = new QPushButton(tr("&Use"), this);
    use->setObjectName(QStringLiteral("registerUseButton"));
    connect(use, &QPushButton::clicked, this, &RegisterView::applyLocation);
    connect(location, &QLineEdit::returnPressed, this, &RegisterView::applyLocation);
    search = new QLineEdit(this);
    search->setObjectName(QStringLiteral("registerSearch"));
    search->setPlaceholderText(tr("a MAC, an address, a station, a plan…"));
    search->setClearButtonEnabled(true);
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("registerStatus"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    modules = new QStandardItemModel(0, 9, this);
    modules->setHorizontalHeaderLabels({tr("MAC"), tr("IP address"), tr("Verified"), tr("Station"),
                                        tr("Plan"), tr("Row"), tr("Port"), tr("Replaced by"),
                                        tr("Last seen")});
    filter = new QSortFilterProxyModel(this);
    filter->setSourceModel(modules);
    filter->setFilterKeyColumn(-1);
    filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    connect(search, &QLineEdit::textChanged, filter, &QSortFilterProxyModel::setFilterFixedString);
    moduleTable = tableView(filter, QStringLiteral("registerModules"), this);
    moduleTable->setSortingEnabled(true);
    history = new QStandardItemModel(0, 6, this);
    history->setHorizontalHeaderLabels(
        {tr("Time"), tr("Result"), tr("IP address"), tr("Row"), tr("Port"), tr("Station")});
    historyTable = tableView(history, QStringLiteral("registerHistory"), this);
    connect(moduleTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &RegisterView::showHistory);

    auto *form = new QFormLayout;
    auto *where = new QHBoxLayout;
    where->addWidget(location, 1);
    where->addWidget(use);
    form->addRow(tr("&Register:"), where);
    form->addRow(tr("&Search:"), search);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(moduleTable);
    split->addWidget(historyTable);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto *reload = buttons->addButton(tr("Re&load"), QDialogButtonBox::ActionRole);
    connect(reload, &QPushButton::clicked, this, &RegisterView::refresh);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status);
    layout->addWidget(split, 1);
    layout->addWidget(buttons);
    resize(1000, 560);
}

int RegisterView::shownModules() const
{
    return filter->rowCount();
}

bool RegisterView::refresh()
{
    modules->removeRows(0, modules->rowCount());
    history->removeRows(0, history->rowCount());
    Location where;
    QString error;
    SiteRegister reg;
    QList<ModuleEntry> found;
    if (!run->registerLocation(&where, &error) ||
        (where.kind != Location::Kind::None && !reg.open(where, &error)) ||
        (reg.isOpen() && !RegisterLookup(reg).allModules(&found, &error))) {
        status->setText(error);
        return false;
    }
    if (where.kind == Location::Kind::None) {
        status->setText(tr("No register is used (--no-register)."));
        return true;
    }
    for (const ModuleEntry &m : qAsConst(found)) {
        const QString plan = m.planPath.section(QLatin1Char('/'), -1);
        modules->appendRow({cell(m.mac), cell(m.values.value(ModuleField::Ip)),
                            cell(m.verifiedTime), cell(m.station), cell(plan),
                            cell(m.planRow > 0 ? QString::number(m.planRow) : QString()),
                            cell(m.port), cell(m.replacedBy), cell(m.lastSeen)});
    }
    status->setText(tr("%1: %n module(s)", "", int(found.size())).arg(where.shown()));
    return true;
}

void RegisterView::showHistory()
{
    history->removeRows(0, history->rowCount());
    const QModelIndex current = moduleTable->currentIndex();
    if (!current.isValid())
        return;
    const QString mac = filter->index(current.row(), 0).data().toString();
    Location where;
    QString error;
    SiteRegister reg;
    QList<HistoryEntry> entries;
    if (!run->registerLocation(&where, &error) || !reg.open(where, &error) ||
        !RegisterLookup(reg).history(mac, &entries, &error)) {
        status->setText(error);
        return;
    }
    for (const HistoryEntry &e : qAsConst(entries)) {
        const QString result = e.rewrite ? tr("rewritten: %1").arg(e.previous) : e.row.result;
        history->appendRow({cell(e.row.time), cell(result),
                            cell(e.row.values.value(ModuleField::Ip)),
                            cell(e.row.planRow > 0 ? QString::number(e.row.planRow) : QString()),
                            cell(e.row.port), cell(e.station)});
    }
}

void RegisterView::applyLocation()
{
    // Checked before it is kept: one with a password is refused.
    Location where;
    QString error;
    const QString text = location->text().trimmed();
    if (!text.isEmpty() && !parseLocation(text, &where, &error)) {
        status->setText(error);
        return;
    }
    run->setRegister(text, run->registerOff());
    emit registerChanged(text);
    refresh();
}

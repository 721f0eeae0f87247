#include "site/registerview.h"

#include "engine/commission/registerdesk.h"
#include "engine/jobs/recordwords.h"
#include "engine/platform/textsafety.h"
#include "engine/register/registerfacts.h"
#include "engine/register/registerlookup.h"
#include "engine/register/registerverdict.h"
#include "engine/register/siteregister.h"
#include "site/celltips.h"
#include "site/runregister.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

using namespace siteregister;

namespace
{

constexpr int macColumn = 0;
// The widest a column grows to its contents; a cell cut there shows its
// text whole as a tool tip.
constexpr int widestColumn = 320;
// A question the register has kept waiting this long is given up on when
// another is asked: that one goes to a reader of its own.
constexpr qint64 stalledMs = 300;

QTableView *tableView(QAbstractItemModel *model, const QString &name, QWidget *parent)
{
    auto *view = new QTableView(parent);
    view->setObjectName(name);
    view->setModel(model);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setWordWrap(false);
    view->setItemDelegate(new CellTips(view));
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

// Each column as wide as its contents, up to widestColumn; a MAC column
// as wide as a MAC, whatever it holds.
void fitColumns(QTableView *view, int macAt)
{
    view->resizeColumnsToContents();
    for (int column = 0; column < view->model()->columnCount(); ++column) {
        if (view->columnWidth(column) > widestColumn)
            view->setColumnWidth(column, widestColumn);
    }
    if (macAt >= 0) {
        const int mac = view->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00:00:00:00"));
        const int margins = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 8;
        view->setColumnWidth(macAt, qMax(view->columnWidth(macAt), mac + margins));
    }
}

// A cell: what came from a module or a file, its control characters shown.
QStandardItem *cell(const QString &text)
{
    return new QStandardItem(textsafety::escapeControls(text));
}

// A plan's cell: its file's name, the whole path as its tool tip.
QStandardItem *planCell(const QString &path)
{
    QStandardItem *item = cell(QFileInfo(path).fileName());
    if (!path.isEmpty())
        item->setToolTip(textsafety::escapeControls(path));
    return item;
}

// The hexadecimal digits of a search text that is (a part of) a MAC in one
// of its usual forms: "02:00:00:00:0B:02", "02-00-00-00-0b-02",
// "020000000B02", any case. Empty for any other text (an address, a name).
QString macDigits(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]+([:-][0-9A-Fa-f]+)*[:-]?$"));
    if (!form.match(text.trimmed()).hasMatch())
        return QString();
    QString digits = text.trimmed().toUpper();
    digits.remove(QLatin1Char(':'));
    digits.remove(QLatin1Char('-'));
    return digits;
}

} // namespace

// The search: a row is shown when any cell holds the text (any case), or
// its MAC holds the digits of a MAC typed in another form.
class RegisterView::Search : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setText(const QString &text)
    {
        wanted = text.trimmed();
        digits = macDigits(wanted);
        invalidateFilter();
    }
    bool isSearching() const { return !wanted.isEmpty(); }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        if (wanted.isEmpty())
            return true;
        const QAbstractItemModel *source = sourceModel();
        for (int column = 0; column < source->columnCount(parent); ++column) {
            if (source->index(row, column, parent)
                    .data()
                    .toString()
                    .contains(wanted, Qt::CaseInsensitive))
                return true;
        }
        if (digits.isEmpty())
            return false;
        QString mac = source->index(row, macColumn, parent).data().toString().toUpper();
        mac.remove(QLatin1Char(':'));
        return mac.contains(digits);
    }

private:
    QString wanted;
    QString digits;
};

RegisterView::RegisterView(RunRegister *runs, QWidget *parent) : QDialog(parent), runs(runs)
{
    setObjectName(QStringLiteral("registerView"));
    setWindowTitle(tr("Site register"));

    location = new QLineEdit(runs->locationText(), this);
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
    filter = new Search(this);
    filter->setSourceModel(modules);
    connect(search, &QLineEdit::textChanged, this, [this](const QString &text) {
        filter->setText(text);
        updateStatus();
    });
    moduleTable = tableView(filter, QStringLiteral("registerModules"), this);
    moduleTable->setSortingEnabled(true);
    fitColumns(moduleTable, macColumn);
    history = new QStandardItemModel(0, 7, this);
    history->setHorizontalHeaderLabels({tr("Time"), tr("Result"), tr("IP address"), tr("Plan"),
                                        tr("Row"), tr("Port"), tr("Station")});
    historyTable = tableView(history, QStringLiteral("registerHistory"), this);
    connect(moduleTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &RegisterView::showHistory);

    auto *form = new QFormLayout;
    auto *where = new QHBoxLayout;
    where->addWidget(location, 1);
    where->addWidget(use);
    // Labels of their own: a mnemonic needs its buddy.
    auto *whereLabel = new QLabel(tr("&Register:"), this);
    whereLabel->setBuddy(location);
    form->addRow(whereLabel, where);
    auto *searchLabel = new QLabel(tr("&Search:"), this);
    searchLabel->setBuddy(search);
    form->addRow(searchLabel, search);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(moduleTable);
    split->addWidget(historyTable);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto *reload = buttons->addButton(tr("Re&load"), QDialogButtonBox::ActionRole);
    reload->setObjectName(QStringLiteral("registerReloadButton"));
    connect(reload, &QPushButton::clicked, this, &RegisterView::refresh);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status);
    layout->addWidget(split, 1);
    layout->addWidget(buttons);
    resize(1000, 560);
}

RegisterView::~RegisterView() = default;

int RegisterView::shownModules() const
{
    return filter->rowCount();
}

int RegisterView::historyLines() const
{
    return history->rowCount();
}

void RegisterView::ask(const Location &where, const Question &question)
{
    // A reader whose register keeps a question waiting is let go, not
    // waited for.
    if (!reader || (asked > 0 && askedSince.elapsed() > stalledMs)) {
        reader = std::make_unique<RegisterDesk>();
        reader->setWaitAtEnd(false);
        asked = 0;
    }
    if (asked++ == 0)
        askedSince.start();
    // The answer comes through the reader, which goes with this view (and
    // drops it when it is let go): `this` is there when it runs.
    reader->post([this, where, question](SiteRegister &reg) -> std::function<void()> {
        QString error;
        Answer answer;
        if ((reg.isOpen() && reg.shown() == where.shown()) ||
            reg.open(where, &error, SiteRegister::Access::Read))
            answer = question(reg, &error);
        // A register that failed is opened anew for the next question.
        if (!answer)
            reg.close();
        return [this, answer, error] {
            if (--asked > 0)
                askedSince.start();
            problem = answer ? QString() : error;
            if (answer)
                answer(this);
            updateStatus();
            emit read();
        };
    });
}

bool RegisterView::refresh()
{
    modules->removeRows(0, modules->rowCount());
    history->removeRows(0, history->rowCount());
    Location where;
    QString error;
    if (!runs->location(&where, &error)) {
        problem = error;
        updateStatus();
        return false;
    }
    if (where.kind == Location::Kind::None) {
        reader.reset();
        asked = 0;
        problem.clear();
        shown.clear();
        status->setText(tr("No register is used (--no-register)."));
        return true;
    }
    shown = where.shown();
    // Only the last reading fills the table: an earlier one still on its
    // way is dropped.
    const int reading = ++readings;
    ask(where, [reading](SiteRegister &reg, QString *why) -> Answer {
        QList<ModuleEntry> found;
        if (!RegisterLookup(reg).allModules(&found, why))
            return nullptr;
        return [found, reading](RegisterView *self) {
            if (reading != self->readings)
                return;
            for (const ModuleEntry &m : found) {
                self->modules->appendRow(
                    {cell(m.mac), cell(m.values.value(ModuleField::Ip)), cell(m.verifiedTime),
                     cell(m.station), planCell(m.planPath),
                     cell(m.planRow > 0 ? QString::number(m.planRow) : QString()), cell(m.port),
                     cell(m.replacedBy), cell(m.lastSeen)});
            }
            fitColumns(self->moduleTable, macColumn);
        };
    });
    updateStatus();
    return true;
}

void RegisterView::updateStatus()
{
    if (!problem.isEmpty()) {
        status->setText(problem);
    } else if (asked > 0) {
        status->setText(tr("Reading the register %1…").arg(shown));
    } else if (!shown.isEmpty()) {
        // The count is of the rows shown.
        status->setText(filter->isSearching()
                            ? tr("%1: %n module(s) found of %2", "", shownModules())
                                  .arg(shown)
                                  .arg(modules->rowCount())
                            : tr("%1: %n module(s)", "", modules->rowCount()).arg(shown));
    }
}

void RegisterView::showHistory()
{
    history->removeRows(0, history->rowCount());
    const QModelIndex current = moduleTable->currentIndex();
    Location where;
    QString error;
    if (!current.isValid() || !runs->location(&where, &error) || where.kind == Location::Kind::None)
        return;
    const QString mac = filter->index(current.row(), macColumn).data().toString();
    ask(where, [mac](SiteRegister &reg, QString *why) -> Answer {
        QList<HistoryEntry> entries;
        if (!RegisterLookup(reg).history(mac, &entries, why))
            return nullptr;
        return [mac, entries](RegisterView *self) {
            // Only the module chosen now: an earlier choice's answer goes.
            if (!self->moduleTable->currentIndex().isValid() ||
                self->filter->index(self->moduleTable->currentIndex().row(), macColumn)
                        .data()
                        .toString() != mac)
                return;
            for (const HistoryEntry &e : entries) {
                const QString result = historyWords(e);
                self->history->appendRow(
                    {cell(e.row.time), cell(result), cell(e.row.values.value(ModuleField::Ip)),
                     planCell(e.planPath),
                     cell(e.row.planRow > 0 ? QString::number(e.row.planRow) : QString()),
                     cell(e.row.port), cell(e.station)});
            }
            fitColumns(self->historyTable, -1);
        };
    });
    updateStatus();
}

void RegisterView::applyLocation()
{
    // Checked before it is kept: one with a password is refused.
    Location where;
    QString error;
    const QString text = location->text().trimmed();
    if (!text.isEmpty() && !parseLocation(text, &where, &error)) {
        problem = error;
        updateStatus();
        return;
    }
    runs->setLocation(text, runs->isOff());
    emit registerChanged(text);
    refresh();
}

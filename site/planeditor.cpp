#include "site/planeditor.h"

#include "engine/commission/commissionplan.h"
#include "engine/console/portlistmodel.h"
#include "engine/reach/reachcheck.h"
#include "site/celltext.h"
#include "site/plandelegate.h"
#include "site/planmodel.h"
#include "site/planrows.h"
#include "site/runstates.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStyle>
#include <QTableView>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

PlanEditor::PlanEditor(PlanModel *model, PortListModel *ports, QWidget *parent)
    : QWidget(parent), model(model)
{
    const auto action = [this](const QString &text, const QString &name, const QKeySequence &key) {
        auto *a = new QAction(text, this);
        a->setObjectName(name);
        a->setShortcut(key);
        return a;
    };
    addRow = action(tr("&Add row"), QStringLiteral("addRowAction"),
                    QKeySequence(QStringLiteral("Ctrl+Ins")));
    connect(addRow, &QAction::triggered, this, &PlanEditor::insertRow);
    duplicate = action(tr("&Duplicate rows"), QStringLiteral("duplicateAction"),
                       QKeySequence(QStringLiteral("Ctrl+D")));
    connect(duplicate, &QAction::triggered, this, &PlanEditor::duplicateRows);
    remove = action(tr("&Remove rows"), QStringLiteral("removeAction"),
                    QKeySequence(QStringLiteral("Ctrl+Del")));
    connect(remove, &QAction::triggered, this, &PlanEditor::removeRows);
    copy = action(tr("&Copy"), QStringLiteral("copyAction"), QKeySequence::Copy);
    connect(copy, &QAction::triggered, this, &PlanEditor::copyCells);
    paste = action(tr("&Paste"), QStringLiteral("pasteAction"), QKeySequence::Paste);
    connect(paste, &QAction::triggered, this, &PlanEditor::pasteCells);
    nextProblemAction = action(tr("Next &problem"), QStringLiteral("nextProblemAction"),
                               QKeySequence(QStringLiteral("F8")));
    connect(nextProblemAction, &QAction::triggered, this, &PlanEditor::nextProblem);
    undoAction = action(tr("&Undo"), QStringLiteral("undoAction"), QKeySequence::Undo);
    connect(undoAction, &QAction::triggered, model->plan()->undoStack(), &QUndoStack::undo);
    redoAction = action(tr("Re&do"), QStringLiteral("redoAction"), QKeySequence::Redo);
    // Ctrl+Shift+Z and Ctrl+Y both, whatever the desktop names.
    QList<QKeySequence> redoKeys = QKeySequence::keyBindings(QKeySequence::Redo);
    for (const QKeySequence &key :
         {QKeySequence(QStringLiteral("Ctrl+Shift+Z")), QKeySequence(QStringLiteral("Ctrl+Y"))}) {
        if (!redoKeys.contains(key))
            redoKeys << key;
    }
    redoAction->setShortcuts(redoKeys);
    connect(redoAction, &QAction::triggered, model->plan()->undoStack(), &QUndoStack::redo);
    connect(model->plan()->undoStack(), &QUndoStack::indexChanged, this, &PlanEditor::updateUndo);
    connect(model->plan()->undoStack(), &QUndoStack::cleanChanged, this, &PlanEditor::updateUndo);

    view = new QTableView(this);
    view->setObjectName(QStringLiteral("planTable"));
    view->setModel(model);
    auto *delegate = new PlanDelegate(view);
    view->setItemDelegate(delegate);
    connect(delegate, &PlanDelegate::portsWanted, ports, &PortListModel::refresh);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
    view->setTabKeyNavigation(false);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideRight);
    view->viewport()->installEventFilter(this);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setHighlightSections(false);
    view->verticalHeader()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    view->setColumnHidden(PlanModel::NetworkColumn, true); // until the network is checked
    view->setColumnHidden(PlanModel::BusColumn, true);     // until a bus is checked
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    view->addActions({copy, paste, addRow, duplicate, remove});
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);

    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                fitRowHeights(from.row(), to.row());
            });
    // A mark that comes or goes changes what a column needs.
    connect(model->plan(), &PlanRows::problemsChanged, this, &PlanEditor::fitColumns);
    connect(model, &QAbstractItemModel::modelReset, this, &PlanEditor::fitColumns);
    fitColumns();
    updateUndo();
}

QList<QAction *> PlanEditor::editActions() const
{
    return {undoAction, redoAction, nullptr, addRow,  duplicate,        remove,
            nullptr,    copy,       paste,   nullptr, nextProblemAction};
}

void PlanEditor::addRowActions(const QList<QAction *> &actions)
{
    auto *separator = new QAction(view);
    separator->setSeparator(true);
    view->addAction(separator);
    view->addActions(actions);
}

void PlanEditor::setEditable(bool on)
{
    editable = on;
    for (QAction *a : {addRow, duplicate, remove, paste})
        a->setEnabled(on);
    updateUndo();
}

void PlanEditor::updateUndo()
{
    const QUndoStack *stack = model->plan()->undoStack();
    undoAction->setEnabled(editable && stack->canUndo());
    redoAction->setEnabled(editable && stack->canRedo());
    undoAction->setText(stack->canUndo() ? tr("&Undo %1").arg(stack->undoText()) : tr("&Undo"));
    redoAction->setText(stack->canRedo() ? tr("Re&do %1").arg(stack->redoText()) : tr("Re&do"));
}

void PlanEditor::closeEditor()
{
    if (QWidget *editor = view->indexWidget(view->currentIndex()))
        emit view->itemDelegate()->closeEditor(editor);
}

void PlanEditor::showColumn(int column)
{
    if (!view->isColumnHidden(column))
        return;
    view->setColumnHidden(column, false);
    fitColumns();
}

void PlanEditor::showRow(int row)
{
    view->scrollTo(model->index(row, PlanModel::StateColumn));
}

bool PlanEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    return QWidget::eventFilter(watched, event);
}

void PlanEditor::fitColumns()
{
    // Everything in the width of the table, without scrolling sideways:
    // the plan's columns as wide as their titles and what they hold (a
    // marked cell's mark beside its value), the state for its usual texts
    // and the first line of its prompt, the MAC column for an address, the
    // port what is left down to a floor (its start elided, never the part
    // that tells it apart), the result the rest (its whole text in the tool
    // tip).
    if (fitting)
        return;
    fitting = true;
    const QFontMetrics metrics = view->fontMetrics();
    QFont italic = view->font();
    italic.setItalic(true);
    const QFontMetrics italicMetrics(italic);
    QFont bold = view->font();
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    const QFontMetrics headerMetrics = view->horizontalHeader()->fontMetrics();
    const int pad = 12;
    const int mark = view->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, view) + 6;
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
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, column);
            const bool fromBase = index.data(Qt::EditRole).toString().trimmed().isEmpty();
            int width =
                (fromBase ? italicMetrics : metrics).horizontalAdvance(index.data().toString());
            if (!index.data(Qt::DecorationRole).isNull())
                width += mark;
            content = qMax(content, width);
        }
        view->setColumnWidth(column, titled(column, content));
        used += view->columnWidth(column);
    }
    int state = metrics.horizontalAdvance(tr("reading back 11 of 11"));
    for (const QString &prompt :
         {tr("Connect the next module to %1"), tr("Connect the module to %1")})
        state = qMax(state, boldMetrics.horizontalAdvance(prompt.arg(QString()).trimmed()));
    view->setColumnWidth(PlanModel::StateColumn, titled(PlanModel::StateColumn, state));
    view->setColumnWidth(PlanModel::MacColumn,
                         titled(PlanModel::MacColumn,
                                metrics.horizontalAdvance(QStringLiteral("00:1A:2B:3C:4D:5E"))));
    used += view->columnWidth(PlanModel::StateColumn) + view->columnWidth(PlanModel::MacColumn);
    if (!view->isColumnHidden(PlanModel::NetworkColumn)) {
        view->setColumnWidth(
            PlanModel::NetworkColumn,
            titled(PlanModel::NetworkColumn,
                   metrics.horizontalAdvance(ReachCheck::describe(
                       {ReachCheck::Outcome::Reachable, 999, 1, QString(), QString()}))));
        used += view->columnWidth(PlanModel::NetworkColumn);
    }
    if (!view->isColumnHidden(PlanModel::BusColumn)) {
        view->setColumnWidth(PlanModel::BusColumn,
                             titled(PlanModel::BusColumn, metrics.horizontalAdvance(tr(
                                                              "5 does not answer (1, 2 answer)"))));
        used += view->columnWidth(PlanModel::BusColumn);
    }
    // The port needs its start and the part that tells it apart, to its end;
    // the result gets the rest.
    int portWanted = metrics.horizontalAdvance(QStringLiteral("/dev/ttyUSB0"));
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString port = model->plan()->port(row);
        const int keep = model->portLabelSpan(row).first;
        const QString shown = keep > 8 ? port.left(5) + QChar(0x2026) + port.mid(keep) : port;
        int width = metrics.horizontalAdvance(shown);
        if (!model->index(row, PlanModel::PortColumn).data(Qt::DecorationRole).isNull())
            width += mark;
        portWanted = qMax(portWanted, width);
    }
    const int resultFloor = metrics.horizontalAdvance(QLatin1Char('x')) * 18;
    const int portFloor = metrics.horizontalAdvance(QLatin1Char('x')) * 12;
    const int room = view->viewport()->width() - used - resultFloor;
    view->setColumnWidth(PlanModel::PortColumn, qMax(titled(PlanModel::PortColumn, portFloor),
                                                     qMin(room, portWanted + pad)));
    fitting = false;
    fitRowHeights(0, model->rowCount() - 1);
}

void PlanEditor::fitRowHeights(int first, int last)
{
    // A state longer than its column (a row waiting for the next module,
    // a long stage) takes a second line, never more; its row goes back to
    // one line with a short state.
    const int normal = view->verticalHeader()->defaultSectionSize();
    QFont bold = view->font();
    bold.setBold(true);
    const int width = view->columnWidth(PlanModel::StateColumn) - 8;
    for (int row = first; row <= last && row < model->rowCount(); ++row) {
        const bool next = model->states()->progress(row).stage == RowStage::NextModule;
        const QString text = next ? model->nextModulePrompt(row, true) : model->stateText(row);
        const QFontMetrics metrics(next ? bold : view->font());
        const bool twoLines =
            celltext::twoLines(text, metrics, width).contains(QChar(QChar::LineSeparator));
        const int height = twoLines ? qMax(normal, 2 * metrics.lineSpacing() + 8) : normal;
        if (view->rowHeight(row) != height)
            view->setRowHeight(row, height);
    }
}

QList<int> PlanEditor::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : view->selectionModel()->selectedIndexes())
        rows << index.row();
    if (rows.isEmpty() && view->currentIndex().isValid())
        rows << view->currentIndex().row();
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void PlanEditor::insertRow()
{
    const QModelIndex current = view->currentIndex();
    const int row = current.isValid() ? current.row() + 1 : model->rowCount();
    if (!model->insertRows(row, 1))
        return;
    view->setCurrentIndex(model->index(row, PlanModel::PortColumn));
    view->scrollTo(view->currentIndex());
}

void PlanEditor::duplicateRows()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty() || model->plan()->isLocked())
        return;
    model->plan()->duplicateRows(rows);
    const int first = rows.last() + 1;
    view->selectionModel()->select(
        QItemSelection(model->index(first, 0),
                       model->index(first + rows.size() - 1, PlanModel::ColumnCount - 1)),
        QItemSelectionModel::ClearAndSelect);
    view->selectionModel()->setCurrentIndex(model->index(first, PlanModel::IpColumn),
                                            QItemSelectionModel::NoUpdate);
}

void PlanEditor::removeRows()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty() || model->plan()->isLocked())
        return;
    model->plan()->removeRowList(rows);
    view->setCurrentIndex(model->index(qMin(rows.first(), model->rowCount() - 1), 0));
}

void PlanEditor::copyCells()
{
    const QModelIndexList indexes = view->selectionModel()->selectedIndexes();
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
            const bool selected = view->selectionModel()->isSelected(index);
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

void PlanEditor::pasteCells()
{
    if (model->plan()->isLocked())
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
    QModelIndex at = view->currentIndex();
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
        emit message(tr("Cells are pasted into the plan's columns, port to bus_ids"), 5000);
        return;
    }
    const int count = model->plan()->putCells(at.row(), at.column(), cells);
    int width = 0;
    for (const QStringList &line : qAsConst(cells))
        width = qMax(width, line.size());
    if (count > 0) {
        const int right = qMin(at.column() + width, int(PlanModel::planColumnCount)) - 1;
        view->selectionModel()->select(
            QItemSelection(at, model->index(at.row() + cells.size() - 1, right)),
            QItemSelectionModel::ClearAndSelect);
    }
    emit message(tr("Pasted %n cell(s)", "", count), 5000);
}

void PlanEditor::nextProblem()
{
    const int rows = model->rowCount();
    const int columns = PlanModel::planColumnCount;
    const QModelIndex current = view->currentIndex();
    const int start = current.isValid() ? current.row() * columns + current.column() : -1;
    for (int step = 1; step <= rows * columns; ++step) {
        const int n = (start + step) % (rows * columns);
        const QModelIndex index = model->index(n / columns, n % columns);
        QString problem = index.data(PlanModel::ProblemRole).toString();
        if (problem.isEmpty() && index.column() == 0)
            problem =
                model->headerData(index.row(), Qt::Vertical, PlanModel::ProblemRole).toString();
        if (!problem.isEmpty()) {
            view->setCurrentIndex(index);
            view->scrollTo(index);
            emit message(tr("Row %1, %2: %3")
                             .arg(PlanModel::fileRow(index.row()))
                             .arg(PlanModel::columnKey(index.column()), problem),
                         0);
            return;
        }
    }
    const QStringList general = model->plan()->checked().generalProblems();
    emit message(general.isEmpty() ? tr("No problems") : general.join(QLatin1String("; ")), 5000);
}

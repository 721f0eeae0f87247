#include "site/plandelegate.h"

#include "engine/console/portlistmodel.h"
#include "engine/console/portlock.h"
#include "protocol/protocol.h"
#include "site/celltext.h"
#include "site/planmodel.h"
#include "site/rowstage.h"
#include "site/sitestyle.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStandardItemModel>
#include <QStyle>

namespace
{

const char problemProperty[] = "ordanProblem";

QLineEdit *lineEditOf(QWidget *editor)
{
    if (auto *combo = qobject_cast<QComboBox *>(editor))
        return combo->lineEdit();
    return qobject_cast<QLineEdit *>(editor);
}

QString editorText(QWidget *editor)
{
    if (auto *combo = qobject_cast<QComboBox *>(editor))
        return combo->currentText();
    if (auto *edit = qobject_cast<QLineEdit *>(editor))
        return edit->text();
    return QString();
}

// The width of a cell that its text cannot use: the margins, and the mark
// beside the text.
int textMargins(const QStyleOptionViewItem *option)
{
    const QStyle *style = option->widget ? option->widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option->widget);
    int used = 2 * (margin + 1);
    if (option->features & QStyleOptionViewItem::HasDecoration)
        used += option->decorationSize.width() + margin + 1;
    return used;
}

} // namespace

QWidget *PlanDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const
{
    QWidget *editor = nullptr;
    const int column = index.column();
    if (column == PlanModel::PortColumn) {
        emit portsWanted();
        auto *combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        const auto *plan = qobject_cast<const PlanModel *>(index.model());
        const PortListModel *ports = plan ? plan->ports() : nullptr;
        auto *items = qobject_cast<QStandardItemModel *>(combo->model());
        for (const PortDetails &port : ports ? ports->ports() : QList<PortDetails>()) {
            const QString device = port.systemLocation.isEmpty() ? port.name : port.systemLocation;
            // A port another run holds cannot be chosen; it says what holds it.
            const QString holder = PortLock::holder(device);
            QString tip = ports->toolTip(port);
            if (!holder.isEmpty())
                tip += QLatin1Char('\n') + holder;
            for (const QString &path : {port.alias, port.pathAlias, device}) {
                if (path.isEmpty())
                    continue;
                combo->addItem(path);
                combo->setItemData(combo->count() - 1, tip, Qt::ToolTipRole);
                if (!holder.isEmpty() && items)
                    items->item(combo->count() - 1)->setEnabled(false);
            }
        }
        editor = combo;
    } else if (column == PlanModel::ParityColumn || column == PlanModel::SpeedColumn ||
               column == PlanModel::StopBitsColumn) {
        auto *combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->addItem(QString());
        const ModuleField field = PlanModel::columnField(column);
        for (int position = 1; !choiceWord(field, position).isEmpty(); ++position)
            combo->addItem(QString::fromLatin1(choiceWord(field, position)));
        editor = combo;
    } else {
        editor = QStyledItemDelegate::createEditor(parent, option, index);
    }
    if (QLineEdit *edit = lineEditOf(editor)) {
        // Each keystroke goes to the model, which checks the plan again;
        // the editor then shows what the check found.
        const QPersistentModelIndex where(index);
        const QPointer<QWidget> guard(editor);
        auto *self = const_cast<PlanDelegate *>(this);
        connect(edit, &QLineEdit::textEdited, self, [self, guard, where] {
            if (!guard || !where.isValid())
                return;
            emit self->commitData(guard);
            self->showProblem(guard, where);
        });
        if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            connect(combo, QOverload<int>::of(&QComboBox::activated), self,
                    [self, guard, where](int) {
                        if (!guard || !where.isValid())
                            return;
                        emit self->commitData(guard);
                        self->showProblem(guard, where);
                    });
        }
    }
    return editor;
}

void PlanDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    // The model changes under an open editor after each keystroke (the
    // check marks cells anew): an editor that already holds the cell's text
    // is left alone, its cursor where it is.
    const QString text = index.data(Qt::EditRole).toString();
    if (editor->property("ordanFilled").toBool() && editorText(editor) == text) {
        showProblem(editor, index);
        return;
    }
    editor->setProperty("ordanFilled", true);
    if (auto *combo = qobject_cast<QComboBox *>(editor)) {
        const int at = combo->findText(text);
        if (at >= 0)
            combo->setCurrentIndex(at);
        combo->setEditText(text);
    } else {
        QStyledItemDelegate::setEditorData(editor, index);
    }
    showProblem(editor, index);
}

void PlanDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    // A long port name loses its middle, not the end that tells adapters
    // apart (the serial number, the socket).
    const auto *plan = qobject_cast<const PlanModel *>(index.model());
    if (index.column() == PlanModel::PortColumn && plan) {
        const int room = option->rect.width() - textMargins(option);
        option->text = celltext::elideKeeping(option->text, plan->portLabelSpan(index.row()),
                                              option->fontMetrics, room);
        option->textElideMode = Qt::ElideNone;
    }
    // A long state ("Connect the next module to PORT") takes a second line,
    // never a third: what is left out is in the tool tip.
    if (index.column() == PlanModel::StateColumn) {
        if (plan && index.data(PlanModel::StageRole).toInt() == int(RowStage::NextModule))
            option->text = plan->nextModulePrompt(index.row(), true);
        option->text = celltext::twoLines(option->text, option->fontMetrics,
                                          option->rect.width() - textMargins(option));
        option->features |= QStyleOptionViewItem::WrapText;
        option->textElideMode = Qt::ElideNone;
    }
}

void PlanDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                const QModelIndex &index) const
{
    if (qobject_cast<QComboBox *>(editor))
        model->setData(index, editorText(editor), Qt::EditRole);
    else
        QStyledItemDelegate::setModelData(editor, model, index);
}

void PlanDelegate::showProblem(QWidget *editor, const QModelIndex &index) const
{
    const QString problem = index.data(PlanModel::ProblemRole).toString();
    if (editor->property(problemProperty).toString() == problem &&
        editor->property("ordanMarked").isValid())
        return;
    editor->setProperty(problemProperty, problem);
    editor->setProperty("ordanMarked", true);
    editor->setToolTip(problem.isEmpty() ? index.data(Qt::ToolTipRole).toString() : problem);
    QLineEdit *edit = lineEditOf(editor);
    if (!edit)
        return;
    // The mark at the end of the field, and a tinted background.
    for (QAction *action : edit->actions()) {
        if (action->objectName() == QLatin1String("problemMark"))
            delete action;
    }
    if (!problem.isEmpty()) {
        QAction *mark = edit->addAction(index.data(Qt::DecorationRole).value<QIcon>(),
                                        QLineEdit::TrailingPosition);
        mark->setObjectName(QStringLiteral("problemMark"));
        mark->setToolTip(problem);
    }
    edit->setStyleSheet(problem.isEmpty() ? QString() : siteStyle::problemLineEdit());
}

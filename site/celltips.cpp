#include "site/celltips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

bool CellTips::isCut(const QAbstractItemView *view, const QStyleOptionViewItem &option,
                     const QModelIndex &index) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    if (cell.text.isEmpty())
        return false;
    const QStyle *style = view ? view->style() : nullptr;
    const QRect room =
        style ? style->subElementRect(QStyle::SE_ItemViewItemText, &cell, view) : cell.rect;
    // The style's margin around the text, as the cell's own painting keeps it.
    const int margin =
        style ? style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1 : 0;
    return cell.fontMetrics.horizontalAdvance(cell.text) > room.width() - 2 * margin;
}

bool CellTips::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                         const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (!event || event->type() != QEvent::ToolTip || !index.isValid() ||
        index.data(Qt::ToolTipRole).isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (!isCut(view, option, index)) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view,
                       option.rect);
    return true;
}

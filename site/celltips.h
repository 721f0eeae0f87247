#ifndef CELLTIPS_H
#define CELLTIPS_H

#include <QStyledItemDelegate>

// The cells of a read-only table whose text is cut at the column's edge
// show it whole as their tool tip; a cell with a tool tip of its own keeps
// it, and a cell shown whole has none.
class CellTips : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Whether the cell's text is wider than the room it has.
    bool isCut(const QAbstractItemView *view, const QStyleOptionViewItem &option,
               const QModelIndex &index) const;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
};

#endif // CELLTIPS_H

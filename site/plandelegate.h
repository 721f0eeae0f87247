#ifndef PLANDELEGATE_H
#define PLANDELEGATE_H

#include <QStyledItemDelegate>

// Editors of the plan's cells. Every keystroke reaches the model, so the
// plan is checked as it is typed: the editor shows the cell's problem at
// once (its tool tip and a mark). The port cell offers the detected ports
// with their /dev/serial/by-id/ aliases, each with the tool tip that tells
// one adapter from another; parity, speed and stop bits offer their words.
class PlanDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

signals:
    // The port editor is about to list the ports: a fresh look at them.
    void portsWanted() const;

private:
    void showProblem(QWidget *editor, const QModelIndex &index) const;
};

#endif // PLANDELEGATE_H

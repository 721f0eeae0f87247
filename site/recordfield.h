#ifndef RECORDFIELD_H
#define RECORDFIELD_H

#include <QObject>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The record's row of the site window: its path (a record is always kept),
// Choose… and Open, and why a run could not append to it (the path checked
// as it is typed, and a record shown read-only is not run into). The
// window lays its widgets out with the base values'.
class RecordField : public QObject
{
    Q_OBJECT

public:
    explicit RecordField(QWidget *parent);

    QLabel *label() const { return title; }
    QLineEdit *edit() const { return pathEdit; }
    QPushButton *browseButton() const { return browse; }
    QPushButton *openButton() const { return open; }

    QString path() const;
    void setPath(const QString &path);
    // Why the record cannot be appended to; empty when it can.
    QString trouble() const { return problem; }
    // The records shown read-only now: a run does not append to one of
    // them while it is shown.
    void setShown(const QStringList &paths);
    bool isShown() const;
    // Judges the path again.
    void check();
    // A run was refused for the record: the field says why.
    void markRefused(const QString &why);
    // While a run or a check goes on the path stays as it is.
    void setBusy(bool busy);

signals:
    // The path was typed or chosen (after its check).
    void edited();
    // The path was judged again: trouble() may say otherwise.
    void checked();
    void message(const QString &text, int timeoutMs);

private:
    void askPath();
    void openRecord();

    QLabel *title = nullptr;
    QLineEdit *pathEdit = nullptr;
    QPushButton *browse = nullptr;
    QPushButton *open = nullptr;
    QString problem; // why the path cannot be appended to
    QStringList shown;
};

#endif // RECORDFIELD_H

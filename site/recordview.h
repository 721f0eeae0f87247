#ifndef RECORDVIEW_H
#define RECORDVIEW_H

#include <QDialog>

// A commissioning record shown read-only: a record is only ever appended
// to, never edited or saved over. Its rows can start a new plan ("New plan
// from this record").
class RecordView : public QDialog
{
    Q_OBJECT

public:
    // `rows` are the record's CSV records, its header first.
    RecordView(const QString &path, const QList<QStringList> &rows, QWidget *parent = nullptr);
    QString path() const { return file; }

signals:
    void newPlanWanted(const QString &path);

private:
    QString file;
};

#endif // RECORDVIEW_H

#ifndef RECORDVIEW_H
#define RECORDVIEW_H

#include <QDialog>

class QFileSystemWatcher;
class QLabel;
class QStandardItemModel;

// A commissioning record shown read-only: a record is only ever appended
// to, never edited or saved over. Its rows can start a new plan ("New plan
// from this record"). It shows the file as it is now: read again whenever
// the file changes (a run of this window, or of ordan-cli elsewhere). The
// record's own English words (its columns, results, the bus check) are
// shown in the window's language.
class RecordView : public QDialog
{
    Q_OBJECT

public:
    explicit RecordView(const QString &path, QWidget *parent = nullptr);
    QString path() const { return file; }
    // Reads the file again.
    void reload();

signals:
    void newPlanWanted(const QString &path);

private:
    QString file;
    QStandardItemModel *cells = nullptr;
    QLabel *problem = nullptr;
    QFileSystemWatcher *watcher = nullptr;
};

#endif // RECORDVIEW_H

#ifndef REGISTERVIEW_H
#define REGISTERVIEW_H

#include <QDialog>

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class SiteRun;

// "Register…": what the site register knows, as ordan-cli register shows
// it: every module (where and at what it was last verified, by whom, and
// what replaced it), searched as it is typed (a MAC, an address, a
// station, a plan), and the history of the module chosen: its rows and
// rewrites. The register it reads is the runs' (SiteRun), and the window's
// setting of it is changed here.
class RegisterView : public QDialog
{
    Q_OBJECT

public:
    explicit RegisterView(SiteRun *run, QWidget *parent = nullptr);

    // Reads the register again; false (the reason shown) when it cannot be
    // opened.
    bool refresh();
    // The rows shown after the search.
    int shownModules() const;

signals:
    // The window's register setting changed (empty: ORDAN_REGISTER, or
    // the user's file).
    void registerChanged(const QString &location);

private:
    void showHistory();
    void applyLocation();

    SiteRun *run;
    QLineEdit *location = nullptr;
    QLineEdit *search = nullptr;
    QLabel *status = nullptr;
    QStandardItemModel *modules = nullptr;
    QSortFilterProxyModel *filter = nullptr;
    QTableView *moduleTable = nullptr;
    QStandardItemModel *history = nullptr;
    QTableView *historyTable = nullptr;
};

#endif // REGISTERVIEW_H

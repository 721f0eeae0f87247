#ifndef REGISTERVIEW_H
#define REGISTERVIEW_H

#include <QDialog>
#include <QElapsedTimer>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QStandardItemModel;
class QTableView;
class RegisterDesk;
class RunRegister;
class SiteRegister;
namespace siteregister
{
struct Location;
}

// "Register…": what the site register knows, as ordan-cli register shows
// it: every module (where and at what it was last verified, by whom, and
// what replaced it), searched as it is typed (a MAC in any of its usual
// forms, an address, a station, a plan), and the history of the module
// chosen: its rows and rewrites. The register it reads is the runs'
// (RunRegister), and the window's setting of it is changed here. The
// register is read off the window's thread: a server that stalls holds up
// this view's answers, never the window.
class RegisterView : public QDialog
{
    Q_OBJECT

public:
    explicit RegisterView(RunRegister *runs, QWidget *parent = nullptr);
    ~RegisterView() override;

    // Reads the register again; the rows come when it answers (read()).
    // False (the reason shown) when its address cannot be used.
    bool refresh();
    // Whether the register has not answered a question yet.
    bool isReading() const { return asked > 0; }
    // The modules shown after the search, and the lines of the history.
    int shownModules() const;
    int historyLines() const;

signals:
    // The window's register setting changed (empty: ORDAN_REGISTER, or
    // the user's file).
    void registerChanged(const QString &location);
    // The register answered (the modules, or the history of one), or said
    // why it could not.
    void read();

private:
    // A question asked on the register's thread; its answer (none when the
    // register failed, *error saying why) runs on the window's.
    using Answer = std::function<void(RegisterView *view)>;
    using Question = std::function<Answer(SiteRegister &reg, QString *error)>;
    // Asks the register on its thread, opened there at `where` when it is
    // not yet. A question asked while the register keeps an earlier one
    // waiting goes to a reader of its own; the earlier answer is dropped.
    void ask(const siteregister::Location &where, const Question &question);
    void showHistory();
    void applyLocation();
    void updateStatus();

    RunRegister *runs;
    QLineEdit *location = nullptr;
    QLineEdit *search = nullptr;
    QLabel *status = nullptr;
    QStandardItemModel *modules = nullptr;
    class Search;
    Search *filter = nullptr;
    QTableView *moduleTable = nullptr;
    QStandardItemModel *history = nullptr;
    QTableView *historyTable = nullptr;
    std::unique_ptr<RegisterDesk> reader; // the register's thread for this view
    int asked = 0;                        // questions not answered yet
    QElapsedTimer askedSince;             // since the oldest of them
    int readings = 0;                     // of the modules, the last one's number
    QString shown;                        // the register as the status names it
    QString problem;                      // why the register could not be read
};

#endif // REGISTERVIEW_H

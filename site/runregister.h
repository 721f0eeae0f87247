#ifndef RUNREGISTER_H
#define RUNREGISTER_H

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class PlanRows;
class QWidget;
class RegisterDesk;
namespace siteregister
{
struct Location;
struct ModuleEntry;
} // namespace siteregister

// The site register as the window's runs use it: where it is (as
// ordan-cli's --register and --no-register), opened off the window's thread
// as a run starts, the engineer asked where it would stop a row (a module
// verified elsewhere, an address another's), and asked which module it
// knows in a row (for a replacement). A register that stalls holds up no
// window.
class RunRegister : public QObject
{
    Q_OBJECT

public:
    explicit RunRegister(const PlanRows *plan, QObject *parent = nullptr);
    ~RunRegister() override;

    // Named by `location` (empty: ORDAN_REGISTER, or the user's file); none
    // when `off`.
    void setLocation(const QString &location, bool off);
    QString locationText() const { return named; }
    bool isOff() const { return off; }
    bool location(siteregister::Location *location, QString *error) const;
    // Where the engineer is asked whether to write a module the register
    // would stop; none: nobody is asked, and the register's stops stand.
    void setDialogParent(QWidget *dialogs) { dialogParent = dialogs; }
    // The plan's file: while the table is that file unchanged, its bytes
    // name the plan in the register, so that stations running the same
    // file (here or in ordan-cli) split its rows.
    void setPlanFile(const QString &path) { planFile = path; }
    QByteArray planBytes() const;

    // Opens the register for a run appending to `record` (one that
    // replaces the module `replacing`, when that is given). Refused: its
    // address cannot be used (`error` says why). Unused: no register is
    // used. Opening: `done` gets whether it opened, and why not.
    enum class Start { Refused, Unused, Opening };
    using Opened = std::function<void(bool opened, const QString &error)>;
    Start open(const QString &record, const QString &replacing, const Opened &done, QString *error);
    // The run's register once it is open; null otherwise.
    RegisterDesk *desk() const { return runDesk.get(); }
    // Where it is, as its messages name it.
    QString shown() const;
    // The run's register let go, without waiting for it.
    void close();

    // The module the register knows in the table row `row` (the one last
    // verified as that row of this plan, otherwise at its planned address),
    // asked off the window's thread: `done` gets it, or why not.
    using RowModule =
        std::function<void(const siteregister::ModuleEntry &module, const QString &error)>;
    void rowModule(int row, const RowModule &done);

private:
    void askRewrite(int planRow, const QString &words, std::function<void(bool)> answer);

    const PlanRows *plan;
    QString named;
    bool off = false;
    QString planFile;
    QWidget *dialogParent = nullptr;
    std::unique_ptr<RegisterDesk> runDesk; // the running run's register
    std::unique_ptr<RegisterDesk> lookup;  // the register asked about a row
};

#endif // RUNREGISTER_H

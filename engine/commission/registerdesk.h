#ifndef REGISTERDESK_H
#define REGISTERDESK_H

#include "engine/register/admission.h"
#include "engine/register/claimbook.h"
#include "engine/register/registerentries.h"
#include "engine/register/registerlocation.h"

#include <QObject>

#include <functional>
#include <memory>

class SiteRegister;
class WorkQueue;

// The site register's worker: its connection lives on a thread of its own
// (a WorkQueue), so that a slow or stalled register holds up no port's
// timers and no window. A run opens it and is begun in it before anything
// is written; then every call goes to it as work, in the order handed
// over, and what the work answers comes back on the desk's thread through
// the event loop. registeradapter.h wires a write's admission and keeping
// to it; the claims a row takes go through it too. A window's desk may
// also only read (post() with SiteRegister::Access::Read opens).
class RegisterDesk : public QObject
{
    Q_OBJECT

public:
    // What the register's word lets a run do.
    struct Policy {
        // --rewrite: a module verified elsewhere (or at the planned values),
        // or a planned address another module holds, is written; the
        // register notes it. Rows done already are claimed again.
        bool rewrite = false;
        // ordan-cli write names its module: one verified elsewhere is
        // written, and the register notes it.
        bool namedModule = false;
        int addressMemoryDays = siteregister::defaultAddressMemoryDays;
        // How long a claim holds without being renewed.
        int leaseMs = siteregister::defaultLeaseMs;
        // How long a server's connection lost between rows is tried again
        // before the next row fails (--register-wait).
        int reconnectMs = 30000;
    };
    // Asked, where the register stops a row, whether to write the module
    // anyway (the site window's question): `words` are the register's;
    // `answer` is called once.
    using Question =
        std::function<void(int planRow, const QString &words, std::function<void(bool)> answer)>;
    // Work on the register's thread; what it returns runs back on the
    // desk's thread (nothing when the desk is gone by then).
    using Work = std::function<std::function<void()>(SiteRegister &reg)>;

    explicit RegisterDesk(QObject *parent = nullptr);
    // Ends the run in the register and closes it, after the work handed
    // over; answers not delivered yet are dropped. Unless waitAtEnd() is
    // off, it waits for that.
    ~RegisterDesk() override;

    // Whether the end waits for the register's thread (ordan-cli: it does).
    // A window's desk does not: a register that stalls holds up no window;
    // its thread ends the run and closes the register on its own when it
    // can (settle() waits for that as the program ends).
    void setWaitAtEnd(bool wait) { waitAtEnd = wait; }
    // Waits up to `ms` for the threads of desks ended without waiting;
    // false when one is still held up by its register.
    static bool settle(int ms);

    // Opens the register and begins `run` in it (its plan's identity names
    // the claims), waiting for both. Plans the register knew by their files'
    // bytes are known by their rows from then on: the run's own, and those
    // whose files are still where their runs found them. False with the
    // reason: nothing may then be written.
    bool open(const siteregister::Location &location, const siteregister::RunInfo &run,
              QString *error);
    // The same without waiting: `done` runs on the desk's thread once both
    // are done, or with why not (never when the desk is gone by then).
    using Opened = std::function<void(bool opened, const QString &error)>;
    void open(const siteregister::Location &location, const siteregister::RunInfo &run,
              const Opened &done);
    // A run of `tool` by this user now on the plan whose file holds
    // `planBytes`: known by its rows' identity (and by its bytes' hash, in
    // registers that knew it so).
    static siteregister::RunInfo planRun(const QString &tool, const QString &planPath,
                                         const QByteArray &planBytes, const QString &record);
    // The key `reg` knows the plan of `planBytes` by, to read what it holds
    // of it: its rows' identity, or its bytes' hash in a register that knew
    // it only so (an older one, the plan not run since). Empty, with the
    // reason, when the register could not be asked.
    static QString planKey(SiteRegister &reg, const QByteArray &planBytes, QString *error);
    bool isOpen() const { return runId != 0; }
    QString shown() const { return where; }
    qint64 run() const { return runId; }
    QString planHash() const { return plan; }

    void setPolicy(const Policy &policy) { rules = policy; }
    const Policy &policy() const { return rules; }
    void setQuestion(Question question) { ask = std::move(question); }
    const Question &question() const { return ask; }

    void post(const Work &job);

    // A row is about to begin: a server's connection lost since the last
    // row is opened again first (Policy::reconnectMs). A claim, which
    // begins a row too, does the same when it finds the connection lost.
    void rowBegins();
    // Claims what `request` asks (its run and lease are the desk's).
    using Claimed =
        std::function<void(const siteregister::ClaimEntry &claim, const QString &error)>;
    void claim(siteregister::ClaimRequest request, const Claimed &done);
    // Renews a claim; `takenOver` when another run holds it now.
    using Renewed = std::function<void(bool ok, bool takenOver, const QString &error)>;
    void renew(const siteregister::ClaimRequest &request, const Renewed &done);
    // Frees a claim of a row that did not run, or whose outcome the
    // register did not take.
    void release(const siteregister::ClaimRequest &request);
    // The register's word on an identified module (admission.h), with the
    // engineer's question where it stops the row and someone is there to
    // ask.
    using Admitted = std::function<void(const siteregister::Admission &admission)>;
    void admit(siteregister::AdmissionRequest request, const Admitted &done);
    // The rows of the run's plan as the register knows them now
    // (planstanding.h).
    using Standing =
        std::function<void(const QList<siteregister::RowStanding> &standing, const QString &error)>;
    void standing(const QList<siteregister::PlannedRow> &rows, const Standing &done);

private:
    // The connection and where its answers go: shared with the register's
    // thread, which may outlive the desk.
    struct Shared;

    Policy rules;
    Question ask;
    QString where;
    QString plan;
    qint64 runId = 0;
    bool waitAtEnd = true;

    std::shared_ptr<Shared> shared;
    std::unique_ptr<WorkQueue> queue;
};

#endif // REGISTERDESK_H

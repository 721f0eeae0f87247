#ifndef REGISTERDESK_H
#define REGISTERDESK_H

#include "engine/jobs/writejob.h"
#include "engine/register/registerentries.h"
#include "engine/register/registerlocation.h"
#include "engine/register/registerverdict.h"

#include <QObject>

#include <functional>
#include <memory>

class QThread;
class SiteRegister;

// A run's site register, on a thread of its own: the run opens it and is
// begun in it before anything is written, then every module identified is
// judged by it before it is written, every row of a plan is claimed in it
// before it is written (and the claim renewed while it runs), and every
// row's outcome is appended to it, in the order the rows end, before the
// record's row. A slow or stalled register holds up no port's timers: the
// answers come back on the desk's thread through the event loop.
class RegisterDesk : public QObject
{
    Q_OBJECT

public:
    // What the register's word lets a write do.
    struct Policy {
        // --rewrite: a module verified elsewhere (or at the planned values),
        // or a planned address another module holds, is written; the
        // register notes it.
        bool rewrite = false;
        // ordan-cli write names its module: one verified elsewhere is
        // written, and the register notes it.
        bool namedModule = false;
        int addressMemoryDays = siteregister::defaultAddressMemoryDays;
        // How long a claim holds without being renewed.
        int leaseMs = 60000;
    };
    // Asked, where the policy stops a row, whether to write the module
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
    // The register's thread, its queue and its connection: shared with the
    // thread, which may outlive the desk.
    struct Worker;

    // Opens the register and begins `run` in it (its plan's hash names the
    // claims), waiting for both. False with the reason: nothing may then be
    // written.
    bool open(const siteregister::Location &location, const siteregister::RunInfo &run,
              QString *error);
    // The same without waiting: `done` runs on the desk's thread once both
    // are done, or with why not (never when the desk is gone by then).
    using Opened = std::function<void(bool opened, const QString &error)>;
    void open(const siteregister::Location &location, const siteregister::RunInfo &run,
              const Opened &done);
    bool isOpen() const { return runId != 0; }
    QString shown() const { return where; }
    qint64 run() const { return runId; }

    void setPolicy(const Policy &policy) { rules = policy; }
    const Policy &policy() const { return rules; }
    void setQuestion(Question question) { ask = std::move(question); }

    // Wires a job to the register: the module it identifies judged against
    // its planned values before anything is written (not for an audit),
    // and its row appended as it ends, ending its claim when `claimed`. A
    // replacement names the module it replaces: that one is not an
    // address's other holder, and is marked replaced by the new one.
    void attach(WriteJob *job, int planRow, bool claimed, const QString &replaces = QString());

    // Claims a row of the run's plan (WriteJob rows are claimed before they
    // are written; `again` takes a done row too, --rewrite).
    using Claimed =
        std::function<void(const siteregister::ClaimEntry &claim, const QString &error)>;
    void claim(int planRow, bool again, const Claimed &done);
    // Renews a claim; `takenOver` when another station holds it now.
    using Renewed = std::function<void(bool ok, bool takenOver, const QString &error)>;
    void renew(int planRow, const Renewed &done);
    // Frees a claim of a row that did not run.
    void release(int planRow);
    // The plan's claims, by row.
    using ClaimList =
        std::function<void(const QList<siteregister::ClaimEntry> &claims, const QString &error)>;
    void claims(const ClaimList &done);

    void post(const Work &job);

private:
    // The question for a row the policy stopped: written anyway, or not.
    // `note`: what the register notes of a rewrite.
    void judge(int planRow, const QString &mac, const WriteJob::RegisterAnswer &stopped,
               const siteregister::RewriteNote &note, const WriteJob::RegisterAnswered &answered);
    // Runs `work` on the register's thread and waits for it.
    void wait(const std::function<void(SiteRegister &reg)> &work);

    Policy rules;
    Question ask;
    QString where;
    QString planHash;
    qint64 runId = 0;
    bool waitAtEnd = true;

    std::shared_ptr<Worker> worker;
    QThread *thread = nullptr;
};

#endif // REGISTERDESK_H

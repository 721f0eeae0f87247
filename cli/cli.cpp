#include "cli/cli.h"

#include "cli/output.h"
#include "console/commissionplan.h"
#include "console/commissionrecord.h"
#include "console/commissionrun.h"
#include "console/modulejobs.h"
#include "console/tracelog.h"
#include "settings/setting_module.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSerialPortInfo>

#include <memory>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{

const char helpText[] = R"(Usage: ordan-cli COMMAND [OPTIONS]

Reads, writes, restarts and resets Ordan-RS485-Ethernet modules through their
serial console.

Commands:
  ports [--json]
      The serial ports, with their stable /dev/serial/by-id/ alias where one
      exists. Give a module by that alias: it survives the module's restart.
  read PORT... [--json] [--save FILE.TRset]
      Identifies and reads the module on each port (several ports at the same
      time). --save (one port only) writes the values as a settings file the
      window opens.
  write PORT [--from FILE.TRset] [--ip A] [--mask M] [--gateway G]
        [--tcp-port N] [--parity none|odd|even] [--speed BAUD]
        [--stop-bits 1|2] [--packet-timeout MS] [--no-verify]
        [--restart-timeout S] [--record FILE.csv] [--json]
      Checks every value, sends only the given ones (the file's, then the
      options'), restarts the module, waits for it to come back (up to
      --restart-timeout seconds, default 20), reads it back and compares.
      --record appends one row per module to a CSV file; cells that come
      from a module or a file are neutralised, so the record is safe to open
      in a spreadsheet.
  commission PLAN.csv [--from BASE.TRset] [--record FILE.csv] [--json]
        [--swap-timeout S] [--dry-run] [--restart-timeout S]
      Writes and verifies a whole site from a plan: a CSV file (UTF-8, "," or
      ";") whose header names the columns: port (required), ip, mask,
      gateway, tcp_port, parity, speed, stop_bits, packet_timeout. One row
      per module; an empty cell takes the value of --from, if given,
      otherwise that parameter is not written. Unknown columns, an IP
      address planned twice and bad values are reported with their row and
      column before anything is sent. Rows on different ports run at the
      same time; rows on the same port one after another: after each, it
      says "connect the next module to PORT" and waits (polling every
      500 ms) for a module whose MAC address was not written in this run;
      --swap-timeout ends that wait (default: until Ctrl-C). Each row is a
      write with verification; --record gets one row per module as soon as
      it is done, on the disk at once (an interrupted run keeps every
      finished row; the MAC column ties each address to its module). At the
      end, a summary: verified, failed (with the reason), not reached.
      --dry-run checks the plan and shows what each row would send, sending
      nothing.
  restart PORT [--wait] [--restart-timeout S]
      Restarts the module ("RESET").
  factory-reset PORT --yes [--wait] [--restart-timeout S]
      Returns the module to its factory settings ("LOAD SETTING:DEFAULT").
      --wait: wait until the module answers again (up to S seconds, default
      20) and show its name and MAC.

The module's replies carry no tag: a reply later than --reply-timeout may be
taken for the answer to the next command. Set the time-out above the module's
slowest reply.

Options for all commands:
  --json               One JSON document on stdout.
  --log FILE           Append a timestamped trace of every command and reply.
  --reply-timeout MS   Wait at most MS for each reply (default 1000).
  --pace MS            At least MS between two commands (default 0).
  -h, --help           This text.
  --version            The version.

Values: IPv4 addresses as four numbers 0-255; a contiguous subnet mask;
TCP port 23, 502 or 10000-65535; packet time-out 1-10000 ms; speed 1200,
2400, 4800, 9600, 19200, 38400, 57600, 115200, 128000 or 256000.

Exit codes:
  0  done (and verified)
  2  usage or invalid value (nothing sent)
  3  the port could not be opened
  4  the module did not answer in time
  5  the module refused a command
  6  the verification found a difference
  1  the settings file of --save could not be written
  130 interrupted (Ctrl-C)
Several ports: the code of the first port (in argument order) that failed.
commission: 0 only when every row was verified; 2 for a plan with problems
(nothing sent); otherwise the code of the first row (in plan order) that
failed, 4 for a row not reached (no new module within --swap-timeout).
)";

struct ValueOption {
    const char *name;
    ModuleField field;
};
const ValueOption valueOptions[] = {
    {"ip", ModuleField::Ip},
    {"mask", ModuleField::Mask},
    {"gateway", ModuleField::Gateway},
    {"tcp-port", ModuleField::PortTcp},
    {"parity", ModuleField::Parity},
    {"speed", ModuleField::Speed},
    {"stop-bits", ModuleField::StopBit},
    {"packet-timeout", ModuleField::Timewait},
};

QString optionFor(ModuleField field)
{
    for (const ValueOption &o : valueOptions) {
        if (o.field == field)
            return QStringLiteral("--") + QLatin1String(o.name);
    }
    return parameters::fieldKey(field);
}

constexpr int usageExit = int(JobResult::Invalid);

int usage(const QString &message)
{
    cliout::error(QString(), message);
    cliout::err({QStringLiteral("Try 'ordan-cli --help'.")});
    return usageExit;
}

// Ctrl-C and SIGTERM reach the event loop through a pipe; the running jobs
// are interrupted there, so that their ports are closed cleanly.
#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}
#endif

class InterruptWatch
{
public:
    explicit InterruptWatch(std::function<void()> onInterrupt)
    {
#ifdef Q_OS_UNIX
        if (::pipe(signalPipe) != 0)
            return;
        for (int fd : signalPipe)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [onInterrupt] {
            char byte;
            while (::read(signalPipe[0], &byte, 1) > 0) {
            }
            onInterrupt();
        });
#else
        Q_UNUSED(onInterrupt);
#endif
    }

    ~InterruptWatch()
    {
#ifdef Q_OS_UNIX
        // Once the jobs are done, Ctrl-C ends the program as usual again.
        if (!notifier)
            return;
        notifier.reset();
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        for (int &fd : signalPipe) {
            ::close(fd);
            fd = -1;
        }
#endif
    }
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
#ifdef Q_OS_UNIX
    std::unique_ptr<QSocketNotifier> notifier;
#endif
};

struct Run;
bool secondsOption(Run &run, const char *name, int *ms, QString *problem);

struct Run {
    QCommandLineParser parser;
    QStringList ports;
    bool json = false;
    JobSettings settings;
    TraceLog trace;
};

void showProgress(bool several, const QString &port, int index, int total, const QString &what)
{
    if (!cliout::progressWanted())
        return;
    const QString prefix = several ? port + QLatin1Char(' ') : QString();
    cliout::progress(total > 0
                         ? prefix + QStringLiteral("[%1/%2] %3").arg(index).arg(total).arg(what)
                         : prefix + what);
}

void portFailure(const ModuleJob &job)
{
    QString message = QStringLiteral("cannot open the port: ") + job.error();
    if (job.permissionDenied()) {
        message +=
            QStringLiteral(" (not allowed to use the port: add yourself to the group that owns it, "
                           "usually dialout: sudo usermod -aG dialout $USER, then log in again; "
                           "or another program holds the port: close it)");
    }
    cliout::error(job.port(), message);
}

void reportFailure(const ModuleJob &job)
{
    if (job.result() == JobResult::PortUnavailable)
        portFailure(job);
    else if (job.result() != JobResult::Done)
        cliout::error(job.port(), job.error());
}

// Runs the jobs in one event loop until all have finished; Ctrl-C
// interrupts them.
void runJobs(const QList<ModuleJob *> &jobs)
{
    QEventLoop loop;
    int left = jobs.size();
    for (ModuleJob *job : jobs) {
        QObject::connect(job, &ModuleJob::finished, &loop, [&] {
            if (--left == 0)
                loop.quit();
        });
    }
    InterruptWatch watch([&jobs] {
        for (ModuleJob *job : jobs)
            job->interrupt();
    });
    for (ModuleJob *job : jobs)
        QMetaObject::invokeMethod(
            job, [job] { job->start(); }, Qt::QueuedConnection);
    if (left > 0)
        loop.exec();
}

QString byIdAlias(const QString &location)
{
    QDirIterator it(QStringLiteral("/dev/serial/by-id"), QDir::System | QDir::Files);
    while (it.hasNext()) {
        const QString link = it.next();
        if (QFileInfo(link).canonicalFilePath() == QFileInfo(location).canonicalFilePath())
            return link;
    }
    return QString();
}

int commandPorts(Run &run)
{
    if (!run.ports.isEmpty())
        return usage(QStringLiteral("ports takes no PORT"));
    QJsonArray array;
    QList<QStringList> rows{{QStringLiteral("port"), QStringLiteral("description"),
                             QStringLiteral("manufacturer"), QStringLiteral("serial"),
                             QStringLiteral("VID:PID"), QStringLiteral("stable alias")}};
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString vidPid = info.hasVendorIdentifier() && info.hasProductIdentifier()
                                   ? QStringLiteral("%1:%2")
                                         .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                         .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'))
                                   : QString();
        const QString alias = byIdAlias(info.systemLocation());
        const auto orNull = [](const QString &s) {
            return s.isEmpty() ? QJsonValue() : QJsonValue(s);
        };
        array.append(QJsonObject{{QStringLiteral("port"), info.systemLocation()},
                                 {QStringLiteral("description"), orNull(info.description())},
                                 {QStringLiteral("manufacturer"), orNull(info.manufacturer())},
                                 {QStringLiteral("serial_number"), orNull(info.serialNumber())},
                                 {QStringLiteral("vid_pid"), orNull(vidPid)},
                                 {QStringLiteral("by_id"), orNull(alias)}});
        rows << QStringList{info.systemLocation(),
                            info.description(),
                            info.manufacturer(),
                            info.serialNumber(),
                            vidPid,
                            alias};
    }
    if (run.json)
        cliout::json(array);
    else if (array.isEmpty())
        cliout::out({QStringLiteral("no serial ports")});
    else
        cliout::out(cliout::table(rows, 0));
    return 0;
}

int commandRead(Run &run)
{
    if (run.ports.isEmpty())
        return usage(QStringLiteral("read needs at least one PORT"));
    const QString save = run.parser.value(QStringLiteral("save"));
    if (!save.isEmpty() && run.ports.size() != 1)
        return usage(QStringLiteral("--save takes one port only"));
    std::vector<std::unique_ptr<ReadJob>> jobs;
    QList<ModuleJob *> running;
    const bool several = run.ports.size() > 1;
    for (const QString &port : qAsConst(run.ports)) {
        jobs.push_back(std::make_unique<ReadJob>(port, run.settings));
        jobs.back()->setProgress([several](const QString &p, int i, int n, const QString &w) {
            showProgress(several, p, i, n, w);
        });
        running << jobs.back().get();
    }
    runJobs(running);

    int exitCode = 0;
    QJsonArray array;
    QStringList lines;
    for (const auto &job : jobs) {
        reportFailure(*job);
        if (exitCode == 0 && job->result() != JobResult::Done)
            exitCode = int(job->result());
        array.append(cliout::readJson(job->port(), job->reading(), job->error()));
        if (job->result() == JobResult::Done) {
            if (!lines.isEmpty())
                lines << QString();
            lines << cliout::readTable(job->port(), job->reading());
        }
    }
    if (run.json)
        cliout::json(several ? QJsonValue(array) : QJsonValue(array.first()));
    else if (!lines.isEmpty())
        cliout::out(lines);

    if (!save.isEmpty() && exitCode == 0) {
        setting_module file;
        parameters::toSettings(jobs.front()->reading().values, &file);
        file.SaveNTSetting(save);
        if (file.outcome() != setting_module::Outcome::Done) {
            cliout::error(QString(), QStringLiteral("cannot write the settings file ") + save);
            return 1;
        }
    }
    return exitCode;
}

// What went wrong with a write, on stderr: the module as it named itself and
// the failure; for a write stopped before its restart, what was already sent.
void reportWriteFailure(const WriteJob &job, const parameters::Values &values)
{
    const QString port = job.port();
    if (job.result() == JobResult::PortUnavailable) {
        portFailure(job);
    } else if (job.result() != JobResult::Done) {
        // The module as it named itself, so that a technician with several
        // modules on the bench knows which one failed.
        const parameters::Values id = job.identity();
        const QString who = id.isEmpty()
                                ? QString()
                                : QStringLiteral("%1 (%2): ")
                                      .arg(id.value(ModuleField::Name), id.value(ModuleField::Mac));
        cliout::error(port, who + job.error());
    }
    // A write that stopped before the restart leaves the module with some
    // commands taken and none applied by a restart: say which.
    const bool stoppedEarly = job.result() == JobResult::Interrupted ||
                              (job.result() == JobResult::NoAnswer && !job.sent().isEmpty()) ||
                              job.result() == JobResult::Refused;
    if (stoppedEarly && !job.resetSent()) {
        QStringList sent;
        for (const ModuleField field : job.sent())
            sent << optionFor(field) + QLatin1Char(' ') + values.value(field);
        cliout::error(port, sent.isEmpty()
                                ? QStringLiteral("nothing was written; no reset was sent")
                                : QStringLiteral("already sent to the module: ") +
                                      sent.join(QLatin1String(", ")) +
                                      QStringLiteral("; no reset was sent"));
    }
}

int commandWrite(Run &run)
{
    if (run.ports.size() != 1)
        return usage(QStringLiteral("write needs exactly one PORT"));
    const QString port = run.ports.first();
    parameters::Values values;
    QStringList problems;
    QMap<ModuleField, QString> origin;
    const QString from = run.parser.value(QStringLiteral("from"));
    if (!from.isEmpty()) {
        if (!parameters::loadSettingsFile(from, &values))
            return usage(QStringLiteral("cannot read the settings file ") + from);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            origin.insert(it.key(),
                          from + QStringLiteral(" (for ") + optionFor(it.key()) + QLatin1Char(')'));
    }
    for (const ValueOption &o : valueOptions) {
        const QString name = QLatin1String(o.name);
        if (run.parser.isSet(name)) {
            values.insert(o.field, run.parser.value(name));
            origin.insert(o.field, QStringLiteral("--") + name);
        }
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString rule = parameters::checkValue(it.key(), it.value());
        if (!rule.isEmpty())
            problems << QStringLiteral("%1 \"%2\": must be %3")
                            .arg(origin.value(it.key()), it.value(), rule);
    }
    if (!problems.isEmpty()) {
        for (const QString &p : qAsConst(problems))
            cliout::error(QString(), p);
        cliout::err({QStringLiteral("nothing was sent")});
        return usageExit;
    }
    if (values.isEmpty())
        return usage(QStringLiteral("write needs at least one value (--from or a value option)"));

    const QString record = run.parser.value(QStringLiteral("record"));
    QString problem;
    if (!record.isEmpty() && !commissionrecord::checkWritable(record, &problem))
        return usage(QStringLiteral("cannot append to the record %1: %2").arg(record, problem));

    const bool verify = !run.parser.isSet(QStringLiteral("no-verify"));
    WriteJob job(port, values, run.settings);
    job.setVerify(verify);
    job.setRecord(record);
    job.setProgress(
        [](const QString &p, int i, int n, const QString &w) { showProgress(false, p, i, n, w); });
    runJobs({&job});

    reportWriteFailure(job, values);
    if (!job.recordError().isEmpty())
        cliout::error(QString(), job.recordError());
    if (run.json)
        cliout::json(cliout::writeJson(job, values, verify));
    else if (job.result() == JobResult::Done || job.result() == JobResult::Mismatch)
        cliout::out(cliout::writeTable(job, values, verify));
    return int(job.result());
}

int commandRestart(Run &run, bool factory)
{
    if (run.ports.size() != 1)
        return usage(
            QStringLiteral("%1 needs exactly one PORT")
                .arg(factory ? QStringLiteral("factory-reset") : QStringLiteral("restart")));
    if (factory && !run.parser.isSet(QStringLiteral("yes")))
        return usage(QStringLiteral(
            "factory-reset returns the module to its factory settings: confirm with --yes"));
    const bool wait = run.parser.isSet(QStringLiteral("wait"));
    RestartJob job(run.ports.first(), factory ? Command::factoryReset : Command::restart, wait,
                   run.settings);
    runJobs({&job});
    reportFailure(job);
    const parameters::Values id = job.identity();
    if (run.json) {
        QJsonObject object{{QStringLiteral("port"), job.port()},
                           {QStringLiteral("error"),
                            job.error().isEmpty() ? QJsonValue() : QJsonValue(job.error())}};
        if (wait) {
            for (const ModuleField f : {ModuleField::Name, ModuleField::Mac})
                object.insert(parameters::fieldKey(f),
                              id.contains(f) ? QJsonValue(id.value(f)) : QJsonValue());
        }
        cliout::json(object);
    } else if (job.result() == JobResult::Done) {
        cliout::out(
            {wait ? QStringLiteral("%1: back: %2 (%3)")
                        .arg(job.port(), id.value(ModuleField::Name), id.value(ModuleField::Mac))
                  : QStringLiteral("%1: %2 sent")
                        .arg(job.port(), factory ? QLatin1String(Command::factoryReset)
                                                 : QLatin1String(Command::restart))});
    }
    return int(job.result());
}

// Where a problem of the plan stands: "PLAN row 3, column ip".
QString planPlace(const QString &plan, const QString &from, const commissionplan::Problem &p)
{
    if (p.row == 0)
        return p.column.isEmpty() ? plan
                                  : from + QStringLiteral(" (for ") + p.column + QLatin1Char(')');
    QString place = plan + QStringLiteral(" row ") + QString::number(p.row);
    if (!p.column.isEmpty())
        place += QStringLiteral(", column ") + p.column;
    return place;
}

int commandCommission(Run &run)
{
    if (run.ports.size() != 1)
        return usage(QStringLiteral("commission needs exactly one PLAN.csv"));
    const QString planPath = run.ports.first();
    QFile planFile(planPath);
    if (!planFile.open(QIODevice::ReadOnly))
        return usage(
            QStringLiteral("cannot read the plan %1: %2").arg(planPath, planFile.errorString()));
    parameters::Values base;
    const QString from = run.parser.value(QStringLiteral("from"));
    if (!from.isEmpty() && !parameters::loadSettingsFile(from, &base))
        return usage(QStringLiteral("cannot read the settings file ") + from);
    const commissionplan::Plan plan = commissionplan::parse(planFile.readAll(), base);
    if (!plan.problems.isEmpty()) {
        for (const commissionplan::Problem &p : plan.problems)
            cliout::error(QString(),
                          planPlace(planPath, from, p) + QStringLiteral(": ") + p.message);
        cliout::err({QStringLiteral("nothing was sent")});
        return usageExit;
    }
    QString problem;
    int swapTimeoutMs = -1;
    if (!secondsOption(run, "swap-timeout", &swapTimeoutMs, &problem))
        return usage(problem);

    if (run.parser.isSet(QStringLiteral("dry-run"))) {
        if (run.json)
            cliout::json(cliout::planJson(plan.rows));
        else
            cliout::out(cliout::planTable(plan.rows));
        return 0;
    }

    const QString record = run.parser.value(QStringLiteral("record"));
    if (!record.isEmpty() && !commissionrecord::checkWritable(record, &problem))
        return usage(QStringLiteral("cannot append to the record %1: %2").arg(record, problem));

    CommissionRun commission(plan.rows, run.settings);
    commission.setRecord(record);
    commission.setSwapTimeout(swapTimeoutMs);
    commission.setProgress(
        [](const QString &p, int i, int n, const QString &w) { showProgress(true, p, i, n, w); });
    QObject::connect(&commission, &CommissionRun::swapNeeded, [&commission](int index) {
        const commissionplan::Row &row = commission.row(index);
        const QString ip = row.values.value(ModuleField::Ip);
        cliout::err({QStringLiteral("connect the next module to %1 (row %2%3)")
                         .arg(row.port)
                         .arg(row.row)
                         .arg(ip.isEmpty() ? QString() : QStringLiteral(", ip ") + ip)});
    });
    QObject::connect(&commission, &CommissionRun::rowFinished, [&commission](int index) {
        const WriteJob *job = commission.job(index);
        reportWriteFailure(*job, commission.row(index).values);
        if (!job->recordError().isEmpty())
            cliout::error(QString(), job->recordError());
        if (cliout::progressWanted())
            cliout::progress(QStringLiteral("%1 row %2: %3")
                                 .arg(job->port())
                                 .arg(commission.row(index).row)
                                 .arg(commission.verified(index) ? QStringLiteral("verified")
                                                                 : QStringLiteral("failed")));
    });

    QEventLoop loop;
    QObject::connect(&commission, &CommissionRun::finished, &loop, &QEventLoop::quit);
    {
        InterruptWatch watch([&commission] { commission.interrupt(); });
        QMetaObject::invokeMethod(
            &commission, [&commission] { commission.start(); }, Qt::QueuedConnection);
        loop.exec();
    }

    for (int i = 0; i < commission.rowCount(); ++i) {
        if (!commission.job(i))
            cliout::error(commission.row(i).port, QStringLiteral("row %1 not reached: %2")
                                                      .arg(commission.row(i).row)
                                                      .arg(commission.notReached(i)));
    }
    if (run.json)
        cliout::json(cliout::commissionJson(commission));
    else
        cliout::out(cliout::commissionTable(commission));
    return commission.exitCode();
}

// Seconds (more than 0, at most an hour) as milliseconds.
bool secondsOption(Run &run, const char *name, int *ms, QString *problem)
{
    const QString key = QLatin1String(name);
    const QString text = run.parser.value(key);
    if (text.isEmpty())
        return true;
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 3600) {
        *problem = QStringLiteral("--%1 \"%2\": must be seconds, more than 0").arg(key, text);
        return false;
    }
    *ms = int(seconds * 1000);
    return true;
}

bool intOption(Run &run, const char *name, int min, int *value, QString *problem)
{
    const QString key = QLatin1String(name);
    if (!run.parser.isSet(key))
        return true;
    bool ok = false;
    const int n = run.parser.value(key).toInt(&ok);
    if (ok && n >= min) {
        *value = n;
        return true;
    }
    *problem = QStringLiteral("--%1 \"%2\": must be a whole number of at least %3")
                   .arg(key, run.parser.value(key))
                   .arg(min);
    return false;
}

} // namespace

int runCli(const QStringList &arguments)
{
    Run run;
    QCommandLineParser &parser = run.parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto flag = [&parser](const char *name) {
        parser.addOption(QCommandLineOption(QLatin1String(name)));
    };
    const auto valued = [&parser](const char *name) {
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("V")));
    };
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    for (const char *name : {"version", "json", "no-verify", "yes", "wait", "dry-run"})
        flag(name);
    for (const char *name : {"log", "reply-timeout", "pace", "save", "from", "restart-timeout",
                             "record", "swap-timeout"})
        valued(name);
    for (const ValueOption &o : valueOptions)
        valued(o.name);

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        cliout::out(QString::fromUtf8(helpText).trimmed().split(QLatin1Char('\n')));
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        cliout::out({QStringLiteral("ordan-cli ") + QCoreApplication::applicationVersion()});
        return 0;
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString command = positional.takeFirst();
    run.ports = positional;
    run.json = parser.isSet(QStringLiteral("json"));

    // Options that do not belong to the command are mistakes: a value
    // option given to "read" would otherwise be silently ignored.
    static const QMap<QString, QStringList> commandOptions{
        {QStringLiteral("ports"), {}},
        {QStringLiteral("read"), {QStringLiteral("save")}},
        {QStringLiteral("write"),
         {QStringLiteral("from"), QStringLiteral("no-verify"), QStringLiteral("restart-timeout"),
          QStringLiteral("record"), QStringLiteral("ip"), QStringLiteral("mask"),
          QStringLiteral("gateway"), QStringLiteral("tcp-port"), QStringLiteral("parity"),
          QStringLiteral("speed"), QStringLiteral("stop-bits"), QStringLiteral("packet-timeout")}},
        {QStringLiteral("restart"), {QStringLiteral("wait"), QStringLiteral("restart-timeout")}},
        {QStringLiteral("factory-reset"),
         {QStringLiteral("yes"), QStringLiteral("wait"), QStringLiteral("restart-timeout")}},
        {QStringLiteral("commission"),
         {QStringLiteral("from"), QStringLiteral("record"), QStringLiteral("swap-timeout"),
          QStringLiteral("dry-run"), QStringLiteral("restart-timeout")}},
    };
    if (!commandOptions.contains(command))
        return usage(QStringLiteral("unknown command \"%1\"").arg(command));
    const QStringList common{QStringLiteral("json"), QStringLiteral("log"),
                             QStringLiteral("reply-timeout"), QStringLiteral("pace")};
    for (const QString &name : parser.optionNames()) {
        if (!common.contains(name) && !commandOptions.value(command).contains(name))
            return usage(QStringLiteral("--%1 does not go with %2").arg(name, command));
    }
    QString problem;
    if (!intOption(run, "reply-timeout", 1, &run.settings.replyTimeoutMs, &problem) ||
        !intOption(run, "pace", 0, &run.settings.paceMs, &problem))
        return usage(problem);
    if (!secondsOption(run, "restart-timeout", &run.settings.restartTimeoutMs, &problem))
        return usage(problem);
    const QString log = parser.value(QStringLiteral("log"));
    if (!log.isEmpty()) {
        if (!run.trace.open(log))
            return usage(
                QStringLiteral("cannot open the log %1: %2").arg(log, run.trace.errorString()));
        run.settings.trace = &run.trace;
        run.trace.event(QStringLiteral("ordan-cli"), arguments.mid(1).join(QLatin1Char(' ')));
    }

    if (command == QLatin1String("ports"))
        return commandPorts(run);
    if (command == QLatin1String("read"))
        return commandRead(run);
    if (command == QLatin1String("write"))
        return commandWrite(run);
    if (command == QLatin1String("restart"))
        return commandRestart(run, false);
    if (command == QLatin1String("factory-reset"))
        return commandRestart(run, true);
    if (command == QLatin1String("commission"))
        return commandCommission(run);
    return usageExit;
}

// ordan-cli reach, and the reach check of write and commission (--reach).
#include "cli/reach.h"

#include "cli/output.h"
#include "cli/run.h"
#include "engine/commission/commissionplan.h"
#include "engine/commission/commissionrun.h"
#include "engine/commission/reachrecord.h"
#include "engine/commission/recordpath.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/link/hostport.h"
#include "engine/platform/interruptwatch.h"
#include "engine/reach/reachcheck.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QRegularExpression>

namespace
{

// One target: from the command line, or a plan's row.
struct Entry {
    QString plan; // empty for IP:PORT
    int row = 0;
    HostPort target;
};

constexpr int defaultReachTimeoutMs = 10000;

QJsonObject reachJson(const QString &target, const ReachCheck::Result &r)
{
    const int colon = target.lastIndexOf(QLatin1Char(':'));
    return {{QStringLiteral("ip"), target.left(colon)},
            {QStringLiteral("tcp_port"), target.mid(colon + 1).toInt()},
            {QStringLiteral("result"), ReachCheck::word(r.outcome)},
            {QStringLiteral("ms"), r.ms >= 0 ? QJsonValue(r.ms) : QJsonValue()},
            {QStringLiteral("attempts"), r.attempts},
            {QStringLiteral("error"), r.detail.isEmpty() ? QJsonValue() : QJsonValue(r.detail)}};
}

// The targets of the operands: each IP:PORT, each plan's rows. Every
// problem is said, and then nothing is connected to.
bool collectTargets(Run &run, QList<Entry> *entries, QStringList *problems)
{
    parameters::Values base;
    const QString from = run.parser.value(QStringLiteral("from"));
    int exitCode = 0;
    if (!baseValues(run, &base, &exitCode))
        return false;
    // Digits, dots and colons only: meant as IP:PORT; anything else is a
    // plan file.
    static const QRegularExpression addressLike(QStringLiteral("^[0-9.:]+$"));
    for (const QString &operand : qAsConst(run.ports)) {
        QString problem;
        if (addressLike.match(operand).hasMatch()) {
            Entry e;
            if (HostPort::parse(operand, HostPort::Hosts::Ipv4Only, &e.target, &problem))
                *entries << e;
            else
                *problems << problem;
            continue;
        }
        QByteArray bytes;
        if (!commissionplan::readFile(operand, &bytes, &problem)) {
            *problems << QStringLiteral("cannot use the plan %1: %2 (a target is IP:PORT or a "
                                        "plan file)")
                             .arg(operand, problem);
            continue;
        }
        const commissionplan::Plan plan =
            commissionplan::parse(bytes, base, run.settings.allowForeignGateway);
        for (const commissionplan::Problem &p : plan.problems) {
            QString place = operand;
            if (p.row == 0 && !p.column.isEmpty())
                place = from + QStringLiteral(" (for ") + p.column + QLatin1Char(')');
            else if (p.row > 0)
                place += QStringLiteral(" row %1").arg(p.row) +
                         (p.column.isEmpty() ? QString() : QStringLiteral(", column ") + p.column);
            *problems << place + QStringLiteral(": ") + p.message;
        }
        if (!plan.problems.isEmpty())
            continue;
        for (const commissionplan::Row &row : plan.rows) {
            QStringList missing;
            for (const ModuleField field : {ModuleField::Ip, ModuleField::PortTcp}) {
                if (row.values.value(field).isEmpty())
                    missing << parameters::fieldKey(field);
            }
            const QString place = QStringLiteral("%1 row %2").arg(operand).arg(row.row);
            if (!missing.isEmpty()) {
                *problems << QStringLiteral("%1: no %2, neither in the plan nor in --from")
                                 .arg(place, missing.join(QLatin1String(" nor ")));
                continue;
            }
            Entry e;
            e.plan = operand;
            e.row = row.row;
            if (HostPort::parse(row.values.value(ModuleField::Ip),
                                row.values.value(ModuleField::PortTcp), HostPort::Hosts::Ipv4Only,
                                &e.target, &problem))
                *entries << e;
            else
                *problems << place + QStringLiteral(": ") + problem;
        }
    }
    return true;
}

} // namespace

int commandReach(Run &run)
{
    if (run.ports.isEmpty())
        return usage(QStringLiteral("reach needs at least one TARGET: IP:PORT or a plan file"));
    QString problem;
    int connectTimeoutMs = ReachCheck::defaultConnectTimeoutMs;
    if (!secondsOption(run, "connect-timeout", &connectTimeoutMs, &problem))
        return usage(problem);
    QList<Entry> entries;
    QStringList problems;
    if (!collectTargets(run, &entries, &problems))
        return usageExit; // --from said why
    if (!problems.isEmpty()) {
        for (const QString &p : qAsConst(problems))
            cliout::error(QString(), p);
        cliout::err({QStringLiteral("nothing was connected to")});
        return usageExit;
    }
    const QString record = run.parser.value(QStringLiteral("record"));
    if (!record.isEmpty() && !recordpath::checkWritable(record, reachrecord::kind(), &problem))
        return usage(QStringLiteral("cannot append to the record %1: %2").arg(record, problem));

    ReachCheck check;
    check.setConnectTimeout(connectTimeoutMs);
    for (const Entry &e : qAsConst(entries))
        check.addTarget(e.target.address, e.target.port);
    QObject::connect(&check, &ReachCheck::targetFinished, [&check, &run](int i) {
        const ReachCheck::Result r = check.result(i);
        if (run.settings.trace)
            run.settings.trace->event(
                check.target(i),
                QStringLiteral("connect: ") + ReachCheck::word(r.outcome) +
                    (r.detail.isEmpty() ? QString()
                                        : QStringLiteral(" (") + r.detail + QLatin1Char(')')));
        cliout::progress(check.target(i) + QStringLiteral(": ") + ReachCheck::describe(r));
    });
    bool interrupted = false;
    QEventLoop loop;
    QObject::connect(&check, &ReachCheck::finished, &loop, &QEventLoop::quit);
    {
        InterruptWatch watch([&check, &interrupted] {
            interrupted = true;
            check.stop();
        });
        QMetaObject::invokeMethod(
            &check, [&check] { check.start(); }, Qt::QueuedConnection);
        loop.exec();
    }

    // The outcome, target by target, in the order given.
    QList<QStringList> cells{{QStringLiteral("row"), QStringLiteral("ip"),
                              QStringLiteral("tcp_port"), QStringLiteral("result")}};
    QJsonArray rows;
    QList<reachrecord::Row> recordRows;
    QMap<ReachCheck::Outcome, int> counts;
    for (int i = 0; i < check.count(); ++i) {
        const Entry &e = entries.at(i);
        const ReachCheck::Result r = check.result(i);
        ++counts[r.outcome];
        const QString ip = e.target.address.toString();
        const QString port = QString::number(e.target.port);
        cells << QStringList{e.row ? QString::number(e.row) : QStringLiteral("-"), ip, port,
                             ReachCheck::describe(r)};
        QJsonObject object = reachJson(check.target(i), r);
        object.insert(QStringLiteral("row"), e.row ? QJsonValue(e.row) : QJsonValue());
        object.insert(QStringLiteral("plan"), e.plan.isEmpty() ? QJsonValue() : QJsonValue(e.plan));
        rows.append(object);
        if (r.outcome != ReachCheck::Outcome::Pending)
            recordRows << reachrecord::Row{r.time, e.row, ip, port, ReachCheck::word(r.outcome),
                                           r.ms};
    }
    const QList<ReachCheck::Outcome> order{
        ReachCheck::Outcome::Reachable, ReachCheck::Outcome::Refused, ReachCheck::Outcome::NoAnswer,
        ReachCheck::Outcome::Unreachable};
    QStringList counted;
    QJsonObject summary;
    for (const ReachCheck::Outcome outcome : order) {
        const QString word = ReachCheck::word(outcome);
        counted << QStringLiteral("%1 %2").arg(counts.value(outcome)).arg(word);
        summary.insert(QString(word).replace(QLatin1Char(' '), QLatin1Char('_')),
                       counts.value(outcome));
    }
    summary.insert(QStringLiteral("rows"), rows);

    QList<ReachCheck::Outcome> outcomes;
    for (int i = 0; i < check.count(); ++i)
        outcomes << check.result(i).outcome;
    bool recordFailed = false;
    if (!record.isEmpty() && !reachrecord::append(record, recordRows, &problem)) {
        cliout::error(
            QString(),
            QStringLiteral("record %1: %2 (the record lacks these rows)").arg(record, problem));
        summary.insert(QStringLiteral("record_error"), problem);
        recordFailed = true;
    }
    const int exitCode = RowOutcome::reachExitCode(outcomes, interrupted, recordFailed);
    if (run.json)
        cliout::json(summary);
    else
        cliout::out(cliout::table(cells, 0) + QStringList{counted.join(QLatin1String(", "))});
    return exitCode;
}

bool reachOptions(Run &run, QString *problem)
{
    // The bus is asked at the module's address: --bus checks the reach first.
    const bool bus = run.parser.isSet(QStringLiteral("bus"));
    const bool reach = run.parser.isSet(QStringLiteral("reach")) || bus;
    if (!reach) {
        if (run.parser.isSet(QStringLiteral("reach-timeout"))) {
            *problem = QStringLiteral("--reach-timeout goes with --reach or --bus");
            return false;
        }
        return true;
    }
    if (run.parser.isSet(QStringLiteral("no-verify"))) {
        *problem = QStringLiteral("%1 connects to a module verified on its console: it does "
                                  "not go with --no-verify")
                       .arg(bus ? QStringLiteral("--bus") : QStringLiteral("--reach"));
        return false;
    }
    run.settings.reachTimeoutMs = defaultReachTimeoutMs;
    return secondsOption(run, "reach-timeout", &run.settings.reachTimeoutMs, problem);
}

QJsonObject withReach(QJsonObject object, const RowOutcome &outcome)
{
    object.insert(QStringLiteral("reach"),
                  outcome.result().reachChecked
                      ? QJsonValue(reachJson(outcome.result().reachTarget, outcome.result().reach))
                      : QJsonValue());
    return object;
}

QJsonObject withReach(QJsonObject object, const CommissionRun &run)
{
    QJsonArray rows = object.value(QStringLiteral("rows")).toArray();
    for (int i = 0; i < rows.size() && i < run.rowCount(); ++i)
        rows[i] = withReach(rows.at(i).toObject(), run.outcome(i));
    object.insert(QStringLiteral("rows"), rows);
    return object;
}

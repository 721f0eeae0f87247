// ordan-cli commission and audit: a plan's rows, each on its port, and
// what they came to.
#include "cli/bus.h"
#include "cli/buscheck.h"
#include "cli/output.h"
#include "cli/reach.h"
#include "cli/register.h"
#include "cli/run.h"
#include "engine/commission/commissionplan.h"
#include "engine/commission/commissionrecord.h"
#include "engine/commission/commissionrun.h"
#include "engine/commission/recordpath.h"
#include "engine/commission/registerdesk.h"
#include "engine/jobs/rowwording.h"
#include "engine/platform/interruptwatch.h"

#include <QEventLoop>
#include <QJsonObject>

#include <algorithm>

namespace
{

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

} // namespace

int commandCommission(Run &run, bool audit)
{
    const QString name = audit ? QStringLiteral("audit") : QStringLiteral("commission");
    if (run.ports.size() != 1)
        return usage(QStringLiteral("%1 needs exactly one PLAN.csv").arg(name));
    const QString planPath = run.ports.first();
    QByteArray planBytes;
    QString problem;
    if (!commissionplan::readFile(planPath, &planBytes, &problem))
        return usage(QStringLiteral("cannot use the plan %1: %2").arg(planPath, problem));
    parameters::Values base;
    const QString from = run.parser.value(QStringLiteral("from"));
    int exitCode = 0;
    if (!baseValues(run, &base, &exitCode))
        return exitCode;
    const commissionplan::Plan plan =
        commissionplan::parse(planBytes, base, run.settings.allowForeignGateway);
    if (!plan.problems.isEmpty()) {
        for (const commissionplan::Problem &p : plan.problems)
            cliout::error(QString(),
                          planPlace(planPath, from, p) + QStringLiteral(": ") + p.message);
        cliout::err({QStringLiteral("nothing was sent")});
        return usageExit;
    }
    int swapTimeoutMs = -1;
    if (!secondsOption(run, "swap-timeout", &swapTimeoutMs, &problem))
        return usage(problem);
    if (run.settings.checkBus &&
        std::none_of(plan.rows.cbegin(), plan.rows.cend(),
                     [](const commissionplan::Row &row) { return !row.busIds.isEmpty(); }))
        return usage(QStringLiteral("--bus asks the devices of each row's bus_ids, and no row of "
                                    "%1 names any (a column bus_ids, as 1,2,5 or 1-4)")
                         .arg(planPath));

    if (run.parser.isSet(QStringLiteral("dry-run"))) {
        if (run.json) {
            cliout::json(cliout::planJson(plan.rows));
            cliout::error(QString(), QStringLiteral("dry run: the configuration each module would "
                                                    "run is checked against its own values only "
                                                    "in a real run"));
        } else {
            cliout::out(cliout::planTable(plan.rows));
        }
        return 0;
    }

    // The ports first: a second run of the plan leaves no trace.
    std::unique_ptr<RegisterDesk> desk;
    CommissionRun commission(plan.rows, run.settings);
    if (!commission.claimPorts(&problem)) {
        cliout::error(QString(), problem);
        cliout::err({QStringLiteral("nothing was sent")});
        return int(JobResult::PortUnavailable);
    }
    const QString record = run.parser.value(QStringLiteral("record"));
    if (!record.isEmpty() && !recordpath::checkWritable(record, commissionrecord::kind(), &problem))
        return usage(QStringLiteral("cannot append to the record %1: %2").arg(record, problem));
    // The register last, before anything is written: a run begun in it is
    // a run that writes.
    if (!openRegister(run,
                      RegisterDesk::planRun(QStringLiteral("ordan-cli ") + name,
                                            absolutePath(planPath), planBytes,
                                            absolutePath(record)),
                      &desk, &exitCode))
        return exitCode;
    commission.setRegister(desk.get());

    commission.setAuditOnly(audit);
    commission.setRecord(record);
    commission.setSwapTimeout(swapTimeoutMs);
    commission.setProgress(
        [](const QString &p, int i, int n, const QString &w) { showProgress(true, p, i, n, w); });
    QObject::connect(&commission, &CommissionRun::swapNeeded, [&commission](int index) {
        const commissionplan::Row &row = commission.row(index);
        const QString ip = row.values.value(ModuleField::Ip);
        cliout::err({QStringLiteral("connect the %1module to %2 (row %3%4)")
                         .arg(commission.isFirstOnPort(index) ? QString() : QStringLiteral("next "))
                         .arg(row.port)
                         .arg(row.row)
                         .arg(ip.isEmpty() ? QString() : QStringLiteral(", ip ") + ip)});
    });
    QObject::connect(&commission, &CommissionRun::moduleAlreadyDone,
                     [&commission](int index, const QString &mac, int doneRow) {
                         cliout::error(commission.row(index).port,
                                       QStringLiteral("this module, %1, was done in row %2: "
                                                      "connect the next one")
                                           .arg(mac)
                                           .arg(doneRow));
                     });
    QObject::connect(&commission, &CommissionRun::rowHeldElsewhere,
                     [&commission](int index, const QString &words) {
                         cliout::error(commission.row(index).port,
                                       QStringLiteral("row %1 is %2: left to it")
                                           .arg(commission.row(index).row)
                                           .arg(words));
                     });
    QObject::connect(&commission, &CommissionRun::rowFinished, [&commission](int index) {
        const RowOutcome outcome = commission.outcome(index);
        reportWriteFailure(*commission.job(index), outcome,
                           QStringLiteral("the record lacks row %1").arg(outcome.result().planRow));
        if (cliout::progressWanted())
            cliout::progress(QStringLiteral("%1 row %2: %3")
                                 .arg(outcome.result().port)
                                 .arg(outcome.result().planRow)
                                 .arg(RowWording::statusWord(outcome)));
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
            cliout::error(commission.row(i).port,
                          QStringLiteral("row %1 %2")
                              .arg(commission.row(i).row)
                              .arg(RowWording::line(commission.outcome(i))));
    }
    if (run.json) {
        QJsonObject object = cliout::commissionJson(commission);
        if (run.settings.reachTimeoutMs > 0)
            object = withReach(object, commission);
        if (run.settings.checkBus)
            object = withBus(object, commission);
        cliout::json(object);
    } else
        cliout::out(cliout::commissionTable(commission));
    return commission.exitCode();
}

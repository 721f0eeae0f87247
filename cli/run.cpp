#include "cli/run.h"

#include "cli/output.h"
#include "engine/platform/interruptwatch.h"
#include "settings/settingsmapping.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>

QString absolutePath(const QString &path)
{
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

int usage(const QString &message)
{
    cliout::error(QString(), message);
    cliout::err({QStringLiteral("Try 'ordan-cli --help'.")});
    return usageExit;
}

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
    if (job.portUnavailable())
        portFailure(job);
    else if (!job.succeeded())
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

// The parameters of --from, when given; false (a usage error said) when the
// file cannot serve as a base.
bool baseValues(Run &run, parameters::Values *values, int *exitCode)
{
    const QString from = run.parser.value(QStringLiteral("from"));
    if (!run.parser.isSet(QStringLiteral("from")))
        return true;
    QString problem;
    if (!settingsmapping::loadSettingsFile(from, values, &problem)) {
        *exitCode = usage(QStringLiteral("cannot use the settings file %1: %2").arg(from, problem));
        return false;
    }
    return true;
}

bool secondsOption(Run &run, const char *name, int *ms, QString *problem)
{
    const QString key = QLatin1String(name);
    if (!run.parser.isSet(key))
        return true;
    const QString text = run.parser.value(key);
    static const QRegularExpression format(QStringLiteral("^(0|[1-9][0-9]{0,3})(\\.[0-9]{1,3})?$"));
    const double seconds = format.match(text).hasMatch() ? text.toDouble() : 0;
    if (!(seconds > 0 && seconds <= 3600)) {
        *problem = QStringLiteral("--%1 \"%2\": must be seconds, a decimal number more than 0 "
                                  "and at most 3600")
                       .arg(key, text);
        return false;
    }
    *ms = qMax(1, qRound(seconds * 1000));
    return true;
}

bool intOption(Run &run, const char *name, int min, int *value, QString *problem)
{
    const QString key = QLatin1String(name);
    if (!run.parser.isSet(key))
        return true;
    static const QRegularExpression format(QStringLiteral("^(0|[1-9][0-9]{0,6})$"));
    const int n =
        format.match(run.parser.value(key)).hasMatch() ? run.parser.value(key).toInt() : -1;
    if (n >= min) {
        *value = n;
        return true;
    }
    *problem = QStringLiteral("--%1 \"%2\": must be a whole number of at least %3")
                   .arg(key, run.parser.value(key))
                   .arg(min);
    return false;
}

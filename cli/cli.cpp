#include "cli/cli.h"

#include "cli/bus.h"
#include "cli/gateway.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/reach.h"
#include "cli/register.h"
#include "cli/run.h"

#include <QCoreApplication>

namespace
{

int runCommand(Run &run, clioptions::Command command)
{
    switch (command) {
    case clioptions::Ports:
        return commandPorts(run);
    case clioptions::Read:
        return commandRead(run);
    case clioptions::Write:
        return commandWrite(run);
    case clioptions::Commission:
        return commandCommission(run, false);
    case clioptions::Audit:
        return commandCommission(run, true);
    case clioptions::Restart:
        return commandRestart(run, false);
    case clioptions::FactoryReset:
        return commandRestart(run, true);
    case clioptions::Bridge:
        return commandBridge(run);
    case clioptions::Reach:
        return commandReach(run);
    case clioptions::Register:
        return commandRegister(run);
    case clioptions::Bus:
        return commandBus(run);
    case clioptions::Replace:
        return commandReplace(run);
    case clioptions::Gateway:
        return commandGateway(run);
    case clioptions::AllCommands:
        break;
    }
    return usageExit;
}

} // namespace

int runCli(const QStringList &arguments)
{
    Run run;
    QCommandLineParser &parser = run.parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    parser.addOption(QCommandLineOption(QStringLiteral("version")));
    for (const clioptions::OptionInfo &option : clioptions::options()) {
        const QString name = QLatin1String(option.name);
        const bool valued = option.valueName || option.setsField;
        parser.addOption(valued ? QCommandLineOption(name, QString(), QStringLiteral("V"))
                                : QCommandLineOption(name));
    }

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        cliout::out(clioptions::helpText());
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        cliout::out({QStringLiteral("ordan-cli ") + QCoreApplication::applicationVersion()});
        return 0;
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString name = positional.takeFirst();
    const clioptions::CommandInfo *command = clioptions::findCommand(name);
    if (!command)
        return usage(QStringLiteral("unknown command \"%1\"").arg(name));
    run.ports = positional;
    run.json = parser.isSet(QStringLiteral("json"));

    // Options that do not belong to the command are mistakes: a value
    // option given to "read" would otherwise be silently ignored.
    for (const clioptions::OptionInfo &option : clioptions::options()) {
        const QString optionName = QLatin1String(option.name);
        if (parser.isSet(optionName) && !(option.commands & command->command))
            return usage(QStringLiteral("--%1 does not go with %2").arg(optionName, name));
    }
    // An empty file or port name is a slip (an unset shell variable), not
    // "no file".
    for (const char *file :
         {"from", "record", "log", "save", "console", "plan", "tls-cert", "tls-key", "tls-ca"}) {
        if (parser.isSet(QLatin1String(file)) && parser.value(QLatin1String(file)).isEmpty())
            return usage(QStringLiteral("--%1 needs a file name, not an empty text")
                             .arg(QLatin1String(file)));
    }
    if (run.ports.contains(QString()))
        return usage(QStringLiteral("an empty text is not a port (nor a plan)"));
    run.settings.allowForeignGateway = parser.isSet(QStringLiteral("allow-foreign-gateway"));
    QString problem;
    if (!intOption(run, "reply-timeout", 1, &run.settings.replyTimeoutMs, &problem) ||
        !intOption(run, "pace", 0, &run.settings.paceMs, &problem))
        return usage(problem);
    if (!secondsOption(run, "restart-timeout", &run.settings.restartTimeoutMs, &problem) ||
        !reachOptions(run, &problem) ||
        !busOptions(run, command->command == clioptions::Write, &problem))
        return usage(problem);
    // The register's address (--register, or ORDAN_REGISTER) before
    // anything is made or logged: one that is not exactly a register's is
    // refused, and the trace names it only as shown (no query, no secret).
    siteregister::Location registerAt;
    for (const clioptions::OptionInfo &option : clioptions::options()) {
        if (QLatin1String(option.name) == QLatin1String("register") &&
            (option.commands & command->command) && !registerLocation(run, &registerAt, &problem))
            return usage(problem);
    }
    const QString log = parser.value(QStringLiteral("log"));
    if (!log.isEmpty()) {
        if (!run.trace.open(log))
            return usage(
                QStringLiteral("cannot open the log %1: %2").arg(log, run.trace.errorString()));
        run.settings.trace = &run.trace;
        QStringList traced = arguments.mid(1);
        for (int i = 0; i < traced.size(); ++i) {
            if (traced.at(i) == QLatin1String("--register") && i + 1 < traced.size())
                traced[++i] = registerAt.shown();
            else if (traced.at(i).startsWith(QLatin1String("--register=")))
                traced[i] = QStringLiteral("--register=") + registerAt.shown();
        }
        run.trace.event(QStringLiteral("ordan-cli"), traced.join(QLatin1Char(' ')));
    }
    return runCommand(run, command->command);
}

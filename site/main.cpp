// ordan-site: commissions and audits a whole site from its plan, in a window.
#include "site/sitetranslation.h"
#include "site/sitewindow.h"

#include "engine/commission/registerdesk.h"
#include "engine/platform/interruptwatch.h"
#include "engine/platform/startup.h"
#include "engine/platform/textsafety.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <cstdio>

#ifndef ORDAN_VERSION
#error "ORDAN_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace
{

struct Options {
    QString plan;
    QString base;
    QString record;
    bool recordSet = false;
    bool start = false;
    bool quitWhenDone = false;
    QString registerAt;
    bool registerSet = false;
    bool noRegister = false;
};

// Reads the command line (the program's name first). -1 to go on,
// otherwise the exit code.
int readOptions(const QStringList &arguments, Options *options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Commissions a whole site of Ordan-RS485-Ethernet converter modules from its plan, in a "
        "window: the plan (the CSV file of 'ordan-cli commission') as a table, checked as it is "
        "typed; Start writes every row to its module, restarts it, reads it back and compares, "
        "rows on different ports at the same time, and shows each row's state live; a record "
        "gets one row per module."));
    startup::setUpParser(parser);
    const QCommandLineOption from(
        QStringLiteral("from"),
        QStringLiteral("Values for the plan's empty cells from a settings file, as "
                       "'ordan-cli commission --from'."),
        QStringLiteral("BASE.TRset"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Append one row per module to this CSV file "
                                                   "(default: PLAN-record.csv beside the plan)."),
                                    QStringLiteral("FILE.csv"));
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("Start the run at once."));
    const QCommandLineOption quit(
        QStringLiteral("quit-when-done"),
        QStringLiteral("Close the window when the run ends, print the run's table as 'ordan-cli "
                       "commission' does and exit with its code: 0 every row verified, 1 a row the "
                       "record could not take, 2 the plan has problems (nothing sent), 3 a port "
                       "not opened or held by another run, or the site register not reached or "
                       "not taking a row, 4 no answer or not back after the restart, 5 refused, "
                       "6 the read-back differs, 7 the register stopped a row (the module "
                       "verified elsewhere, an address another's: nothing is asked), 130 "
                       "stopped."));
    const QCommandLineOption registerOption(
        QStringLiteral("register"),
        QStringLiteral("The site register, as 'ordan-cli --register': postgresql://USER@HOST/DB "
                       "or a SQLite file (default: the window's setting, ORDAN_REGISTER, or the "
                       "user's file)."),
        QStringLiteral("URL"));
    const QCommandLineOption noRegister(
        QStringLiteral("no-register"),
        QStringLiteral("No site register: nothing consulted, nothing kept (a bench run)."));
    parser.addOptions({from, record, start, quit, registerOption, noRegister});
    parser.addPositionalArgument(QStringLiteral("PLAN.csv"), QStringLiteral("The plan to open."),
                                 QStringLiteral("[PLAN.csv]"));
    if (const int code = startup::parse(parser, arguments); code >= 0)
        return code;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        startup::printError(QStringLiteral("one plan at most, not '%1'").arg(positional.at(1)));
        return 2;
    }
    options->plan = positional.value(0);
    options->base = parser.value(from);
    options->record = parser.value(record);
    options->recordSet = parser.isSet(record);
    options->start = parser.isSet(start);
    options->quitWhenDone = parser.isSet(quit);
    options->registerAt = parser.value(registerOption);
    options->registerSet = parser.isSet(registerOption);
    options->noRegister = parser.isSet(noRegister);
    if (options->registerSet && options->noRegister) {
        startup::printError(QStringLiteral("--register and --no-register do not go together"));
        return 2;
    }
    if (options->start && options->plan.isEmpty()) {
        startup::printError(QStringLiteral("--start needs a plan"));
        return 2;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("ordan-site"));
    startup::setOrganization();
    QCoreApplication::setApplicationVersion(QStringLiteral(ORDAN_VERSION));
    Options options;
    // Read before the window's application object exists (it needs a
    // display; --help and --version do not).
    const int early = startup::withReader(
        argc, argv, [&options] { return readOptions(QCoreApplication::arguments(), &options); });
    if (early >= 0)
        return early;

    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("ordan-site"));
    installSiteTranslation(QLocale::system());

    // With --quit-when-done nothing may wait for a person: what stops the
    // run from starting is printed and the program ends with the CLI's
    // code for it (2, nothing sent).
    const bool unattended = options.start && options.quitWhenDone;
    SiteWindow window;
    // The register: the command line's, otherwise the window's setting.
    QSettings settings;
    const QString registerKey = QStringLiteral("register/location");
    window.setRegister(options.registerSet ? options.registerAt
                                           : settings.value(registerKey).toString(),
                       options.noRegister, !unattended);
    QObject::connect(&window, &SiteWindow::registerChanged, &application,
                     [&settings, registerKey](const QString &location) {
                         settings.setValue(registerKey, location);
                     });
    if (!options.base.isEmpty() && !window.loadBaseValues(options.base)) {
        startup::printError(QStringLiteral("cannot read the settings file ") + options.base);
        if (unattended)
            return 2;
    }
    if (!options.plan.isEmpty() && !window.openPlan(options.plan)) {
        startup::printError(QStringLiteral("cannot read the plan ") + options.plan);
        if (unattended)
            return 2;
    }
    if (options.recordSet)
        window.setRecordPath(options.record);
    if (unattended) {
        // A register that cannot be opened refuses the run after it was
        // started: said as a refusal before the start is.
        QObject::connect(&window, &SiteWindow::startRefused, &application, [&window, &options] {
            for (const QString &line : window.startRefusal())
                startup::printError(options.plan + QStringLiteral(": ") + line);
            QCoreApplication::exit(window.startRefusalCode());
        });
    }
    if (options.quitWhenDone) {
        // What the run came to, on stdout as ordan-cli prints it.
        QObject::connect(&window, &SiteWindow::runFinished, &application, [&window](int code) {
            QByteArray bytes;
            for (const QString &line : window.runSummary())
                bytes += textsafety::escapeControls(line).toUtf8() + '\n';
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            // A reader gone cannot be told; the exit code says it all.
            (void)std::fflush(stdout);
            QCoreApplication::exit(code);
        });
    }
    // A logout, a shutdown or a script's time-out ends the window as Ctrl-C
    // ends ordan-cli: the modules in hand are recorded as interrupted, then
    // the program exits 130. Nothing is asked.
    const InterruptWatch stopSignals([&window] {
        if (!window.isRunning()) {
            QCoreApplication::exit(130);
            return;
        }
        QObject::connect(&window, &SiteWindow::runFinished, qApp,
                         [] { QCoreApplication::exit(130); });
        window.stopRun();
    });
    window.show();

    if (options.start) {
        QStringList refusal;
        if (!window.leftOut().isEmpty()) {
            for (const QString &part : window.leftOut())
                refusal << options.plan + QStringLiteral(": not a part of a plan: ") + part;
        } else if (!window.startRun()) {
            for (const QString &line : window.startRefusal())
                refusal << options.plan + QStringLiteral(": ") + line;
        }
        for (const QString &line : qAsConst(refusal))
            startup::printError(line);
        if (!refusal.isEmpty() && options.quitWhenDone)
            return window.leftOut().isEmpty() ? window.startRefusalCode() : 2;
    }
    const int code = application.exec();
    // The register's last words (a run ended in it) before the program
    // ends, unless it stalls.
    RegisterDesk::settle(3000);
    return code;
}

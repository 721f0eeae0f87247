#include "window/commandline.h"

#include "engine/platform/startup.h"
#include "engine/platform/tracelog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>

#ifndef ORDAN_VERSION
#error "ORDAN_VERSION comes from the project version in CMakeLists.txt"
#endif

const char *programVersion()
{
    return ORDAN_VERSION;
}

int readCommandLine(int &argc, char **argv, TraceLog &log)
{
    // The same names however the program is started (a link, a wrapper):
    // --version, the messages below and the window class the desktop entry
    // matches.
    QCoreApplication::setApplicationName(QStringLiteral("ordan-configurator"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(programVersion()));
    // The desktop entry this program's windows belong to.
    QGuiApplication::setDesktopFileName(QStringLiteral("ordan-configurator"));
    if (argc <= 1)
        return -1; // nothing to read: a start from the desktop menu costs nothing here

    // The parser's help and errors need an application object; the window's
    // own one cannot be made yet (it needs a display), so a plain one reads
    // the options and goes.
    QCoreApplication reader(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Configurator for the Ordan-RS485-Ethernet converter module: reads the module's "
        "parameters over a serial port, writes them back, restarts the module or returns it "
        "to its factory settings, and keeps parameter sets in .TRset settings files."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Append one line per event of the serial link to FILE: port opened, "
                       "closed or lost, every command sent and every reply received, each with "
                       "its time. Send this file to support with a report of a problem."),
        QStringLiteral("FILE"));
    parser.addOption(logOption);
    startup::addQtOptions(parser);

    if (!parser.parse(QCoreApplication::arguments()))
        return startup::usageError(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(0); // exits
    if (parser.isSet(version))
        parser.showVersion(); // exits
    if (!parser.positionalArguments().isEmpty()) {
        startup::printError(QStringLiteral("unexpected argument '%1'")
                                .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    if (parser.isSet(logOption)) {
        const QString path = parser.value(logOption);
        if (path.isEmpty() || !log.open(path)) {
            startup::printError(QStringLiteral("cannot open the log file '%1': %2")
                                    .arg(path, path.isEmpty() ? QStringLiteral("no file name")
                                                              : log.errorString()));
            return 2;
        }
    }
    return -1;
}

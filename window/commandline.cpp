#include "window/commandline.h"

#include "engine/console/portcatalog.h"
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
    startup::setOrganization();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(programVersion()));
    // The desktop entry this program's windows belong to.
    QGuiApplication::setDesktopFileName(QStringLiteral("ordan-configurator"));
    if (argc <= 1)
        return -1; // nothing to read: a start from the desktop menu costs nothing here
    return startup::withReader(argc, argv,
                               [&log] { return readOptions(QCoreApplication::arguments(), log); });
}

int readOptions(const QStringList &arguments, TraceLog &log)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Configurator for the Ordan-RS485-Ethernet converter module: reads the module's "
        "parameters over a serial port, writes them back, restarts the module or returns it "
        "to its factory settings, and keeps parameter sets in .TRset settings files."));
    startup::setUpParser(parser);
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Append one line per event of the serial link to FILE: port opened, "
                       "closed or lost, every command sent and every reply received, each with "
                       "its time. Send this file to support with a report of a problem."),
        QStringLiteral("FILE"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("List PATH in the port list besides the ports the system reports: a "
                       "device it does not list, such as a virtual port or a pseudo-terminal. "
                       "May be given more than once."),
        QStringLiteral("PATH"));
    parser.addOptions({logOption, portOption});
    if (const int code = startup::parse(parser, arguments); code >= 0)
        return code;
    if (!parser.positionalArguments().isEmpty()) {
        startup::printError(QStringLiteral("unexpected argument '%1'")
                                .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    const QStringList ports = parser.values(portOption);
    if (ports.contains(QString()))
        return startup::usageError(QStringLiteral("--port needs a device path"));
    if (parser.isSet(logOption)) {
        const QString path = parser.value(logOption);
        if (path.isEmpty() || !log.open(path)) {
            startup::printError(QStringLiteral("cannot open the log file '%1': %2")
                                    .arg(path, path.isEmpty() ? QStringLiteral("no file name")
                                                              : log.errorString()));
            return 2;
        }
    }
    for (const QString &port : ports)
        PortCatalog::addDevicePath(port);
    return -1;
}

#include "engine/platform/startup.h"

#include "engine/platform/textsafety.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <cstdio>

namespace startup
{

void setUpParser(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    addQtOptions(parser);
}

int parse(QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0); // exits
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion(); // exits
    return -1;
}

int withReader(int &argc, char **argv, const std::function<int()> &read)
{
    const QCoreApplication reader(argc, argv);
    return read();
}

void addQtOptions(QCommandLineParser &parser)
{
    const char *const valued[] = {"platform",
                                  "platformpluginpath",
                                  "platformtheme",
                                  "plugin",
                                  "qwindowgeometry",
                                  "qwindowicon",
                                  "qwindowtitle",
                                  "display",
                                  "geometry",
                                  "style",
                                  "stylesheet",
                                  "session",
                                  "name",
                                  "title",
                                  "qmljsdebugger"};
    const char *const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    for (const char *name : valued) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

void printError(const QString &text)
{
    std::fprintf(
        stderr, "%s: %s\n",
        textsafety::escapeControls(QCoreApplication::applicationName()).toLocal8Bit().constData(),
        textsafety::escapeControls(text).toLocal8Bit().constData());
}

int usageError(const QString &text)
{
    printError(text);
    std::fprintf(
        stderr, "Try '%s --help'.\n",
        textsafety::escapeControls(QCoreApplication::applicationName()).toLocal8Bit().constData());
    return 2;
}

void setOrganization()
{
    QCoreApplication::setOrganizationName(QLatin1String(organization));
    // Where Qt kept a program's settings while no organisation was named.
    QSettings before(QSettings::NativeFormat, QSettings::UserScope,
                     QStringLiteral("Unknown Organization"), QCoreApplication::applicationName());
    QSettings now;
    if (!now.allKeys().isEmpty() || before.allKeys().isEmpty())
        return;
    for (const QString &key : before.allKeys())
        now.setValue(key, before.value(key));
    now.sync();
}

} // namespace startup

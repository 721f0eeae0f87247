// ordan-cli: the module's console from the command line (no window).
#include "cli/cli.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ordan-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORDAN_VERSION));
    return runCli(QCoreApplication::arguments());
}

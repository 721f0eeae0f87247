#ifndef STARTUP_H
#define STARTUP_H

#include <QString>

class QCommandLineParser;

// What the windows' programs share when they read their command line, before
// their application object exists (--help and --version answer without a
// display).
namespace startup
{

// Options that Qt's application object takes itself (-platform, -style,
// ...): accepted, left in the command line for it, hidden from the help.
void addQtOptions(QCommandLineParser &parser);
// "PROGRAM: text" on standard error, control characters escaped: a file
// name or an argument cannot put escape sequences on the terminal.
void printError(const QString &text);
// A usage error with the hint to --help; returns the exit code, 2.
int usageError(const QString &text);

} // namespace startup

#endif // STARTUP_H

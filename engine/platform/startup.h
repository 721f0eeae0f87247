#ifndef STARTUP_H
#define STARTUP_H

#include <QString>
#include <QStringList>

#include <functional>

class QCommandLineParser;

// What the windows' programs share when they read their command line, before
// their application object exists (--help and --version answer without a
// display).
namespace startup
{

// Sets up the parser as every window program has it: --help and
// --version, single-dash words read as long options (-platform, as Qt
// takes them) and Qt's own options. The program adds its description and
// its own options.
void setUpParser(QCommandLineParser &parser);
// Reads `arguments` with the parser set up above: answers --help and
// --version (the process ends), reports a usage error (returns 2). Returns
// -1 when the program is to go on. Needs an application object.
int parse(QCommandLineParser &parser, const QStringList &arguments);
// Calls `read` (returning -1 to go on or an exit code) with a plain
// application object made for the while: the window's own one cannot be
// made yet (it needs a display), the parser's help and errors need one.
int withReader(int &argc, char **argv, const std::function<int()> &read);

// The organisation every program of this project is under: its settings
// live in ~/.config/ordan/ (QSettings), its data in ~/.local/share/ordan/.
// Settings a window saved before the name was set (under Qt's "Unknown
// Organization") are carried over, once: when the program has none under
// the new name yet. Call after the application's name is set.
inline constexpr char organization[] = "ordan";
void setOrganization();

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

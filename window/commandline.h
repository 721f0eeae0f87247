#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QStringList>

class TraceLog;

// The window program's own options, read before the application object
// exists so that --help and --version answer without a display:
//   --help, --version   print and end (exit code 0);
//   --log FILE          append the traffic of the port to FILE (TraceLog);
//   --port PATH         list a device the system does not (a virtual port,
//                       a pseudo-terminal) in the port list; repeatable;
// the options of Qt's application object (-platform, -style, ...) pass on
// to it. A usage error or a log that cannot be opened is reported on
// standard error and ends the process with exit code 2.
// Returns -1 when the window is to start, otherwise the exit code.
int readCommandLine(int &argc, char **argv, TraceLog &log);
// The same on arguments given (the program's name first), with an
// application object already there.
int readOptions(const QStringList &arguments, TraceLog &log);

// The program's version, from the build's project version.
const char *programVersion();

#endif // COMMANDLINE_H

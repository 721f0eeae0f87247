#ifndef CLI_H
#define CLI_H

#include <QStringList>

// ordan-cli: reads, writes, restarts and resets modules from the command
// line. Runs the command in `arguments` (program name first) in the running
// QCoreApplication and returns the exit code.
int runCli(const QStringList &arguments);

#endif // CLI_H

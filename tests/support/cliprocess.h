#ifndef CLIPROCESS_H
#define CLIPROCESS_H

// ordan-cli and the module simulator as processes of their own, talking over
// pseudo-terminals. Header-only: the paths of both programs are defined per
// test (ORDAN_CLI_PATH, ORDAN_MODULE_SIM_PATH).
#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QtTest>

namespace cliprocess
{

// The simulator as a program: its device path, and the commands it got (it
// traces them on stderr as "<- command").
class Simulator
{
public:
    explicit Simulator(const QStringList &arguments)
    {
        process.start(QStringLiteral(ORDAN_MODULE_SIM_PATH), arguments);
        if (process.waitForStarted() && process.waitForReadyRead(10000))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Simulator() { stop(); }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Ends the simulator: it removes its own link (the module unplugged).
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
    }
    QStringList commands()
    {
        QTest::qWait(50);
        trace += process.readAllStandardError();
        QStringList seen;
        for (const QByteArray &line : trace.split('\n')) {
            if (line.startsWith("<- "))
                seen << QString::fromLatin1(line.mid(3));
        }
        return seen;
    }

    QProcess process;
    QString path;
    QByteArray trace;
};

struct Result {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline Result finish(QProcess &cli, int timeoutMs = 60000)
{
    cli.waitForFinished(timeoutMs);
    return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
            cli.readAllStandardOutput(), cli.readAllStandardError()};
}

inline Result runCli(const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess cli;
    cli.start(QStringLiteral(ORDAN_CLI_PATH), arguments);
    return finish(cli, timeoutMs);
}

} // namespace cliprocess

#endif // CLIPROCESS_H

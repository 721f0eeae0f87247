#ifndef CLIPROCESS_H
#define CLIPROCESS_H

// ordan-cli and the module simulator as processes of their own, talking over
// pseudo-terminals. Header-only: the paths of both programs are defined per
// test (ORDAN_CLI_PATH, ORDAN_MODULE_SIM_PATH).
#include <QByteArray>
#include <QFile>
#include <QMap>
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

// The cells of one CSV line (RFC 4180: a quoted cell may hold the separator
// and doubled quotes).
inline QStringList csvCells(const QString &line)
{
    QStringList cells{QString()};
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted && c == QLatin1Char('"') && i + 1 < line.size() && line.at(i + 1) == c)
            cells.last() += line.at(++i);
        else if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (c == QLatin1Char(',') && !quoted)
            cells << QString();
        else
            cells.last() += c;
    }
    return cells;
}

// A record's rows in the order of the file, each cell under its header's
// name ("result", "row", "planned"); none when there is no file.
using RecordRow = QMap<QString, QString>;
inline QList<RecordRow> recordOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines =
        QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QList<RecordRow> rows;
    const QStringList header = lines.isEmpty() ? QStringList() : csvCells(lines.first());
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList cells = csvCells(lines.at(i));
        RecordRow row;
        for (int c = 0; c < header.size() && c < cells.size(); ++c)
            row.insert(header.at(c), cells.at(c));
        rows << row;
    }
    return rows;
}

} // namespace cliprocess

#endif // CLIPROCESS_H

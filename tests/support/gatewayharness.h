#ifndef GATEWAYHARNESS_H
#define GATEWAYHARNESS_H

// ordan-cli gateway's tests: simulated modules with devices on their bus
// (ordan-module-sim --network), the gateway as a process, and a Modbus TCP
// client of the test's own. Header-only: the programs' paths are defined
// per test (ORDAN_CLI_PATH, ORDAN_MODULE_SIM_PATH).
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace gatewayharness
{

// The port the tests' gateways listen on, on 127.0.0.1.
constexpr quint16 defaultPort = 1502;

template <typename Done> inline bool waitFor(Done done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// A simulated module at `ip`:502: its devices (`devices`, "1,2,5@19200/8E1")
// on its bus at the same speed and parity, its packet time-out 2 ms, every
// frame its devices hear in a log.
class Module
{
public:
    Module(const QString &dir, const QString &ip, const QString &devices,
           const QStringList &more = {})
        : console(dir + QStringLiteral("/console-") + ip),
          busLog(dir + QStringLiteral("/bus-") + ip)
    {
        const QString settings = devices.section(QLatin1Char('@'), 1);
        const QString baud = settings.section(QLatin1Char('/'), 0, 0);
        const QString parity = settings.endsWith(QLatin1String("E1"))   ? QStringLiteral("even")
                               : settings.endsWith(QLatin1String("O1")) ? QStringLiteral("odd")
                                                                        : QStringLiteral("none");
        QStringList arguments{"--link",
                              console,
                              "--network",
                              "--set",
                              "ip=" + ip,
                              "--set",
                              "SPEED RS485=" + baud,
                              "--set",
                              "parity=" + parity,
                              "--set",
                              "timeout data=2",
                              "--restart-delay",
                              "500"};
        if (!devices.isEmpty())
            arguments << "--devices" << devices << "--device-delay"
                      << "1"
                      << "--bus-log" << busLog;
        process.start(QStringLiteral(ORDAN_MODULE_SIM_PATH), arguments + more);
        waitFor([this] { return (err += process.readAllStandardError()).contains("listening"); },
                10000);
    }
    ~Module()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    // The frames its devices took whole, as hex ("0103000a..."), in order.
    QStringList heard() const
    {
        QFile file(busLog);
        QStringList frames;
        if (!file.open(QIODevice::ReadOnly))
            return frames;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("heard "))
                frames << QString::fromLatin1(line.split(' ').value(1));
        }
        return frames;
    }
    // What was on the line, in order: requests heard and replies, each with
    // when it began and ended (us).
    struct OnLine {
        bool reply = false;
        QString hex;
        qint64 start = 0;
        qint64 end = 0;
    };
    QList<OnLine> line() const
    {
        QFile file(busLog);
        QList<OnLine> all;
        if (!file.open(QIODevice::ReadOnly))
            return all;
        for (const QByteArray &text : file.readAll().split('\n')) {
            const QList<QByteArray> words = text.split(' ');
            if (words.size() == 4)
                all.append({words.at(0) == "reply", QString::fromLatin1(words.at(1)),
                            words.at(2).toLongLong(), words.at(3).toLongLong()});
        }
        std::sort(all.begin(), all.end(),
                  [](const OnLine &a, const OnLine &b) { return a.start < b.start; });
        return all;
    }
    // How many of them carry `function`.
    int heardFunction(int function) const
    {
        const QString code = QStringLiteral("%1").arg(function, 2, 16, QLatin1Char('0'));
        const QStringList frames = heard();
        return int(std::count_if(frames.begin(), frames.end(),
                                 [&code](const QString &f) { return f.mid(2, 2) == code; }));
    }

    QProcess process;
    QString console, busLog;
    QByteArray err;
};

// ordan-cli gateway as a process: its lines on stderr, its counters (JSON,
// one object a line) on stdout.
class GatewayProcess
{
public:
    explicit GatewayProcess(
        const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(ORDAN_CLI_PATH), QStringList{"gateway"} + arguments);
        process.waitForStarted();
    }
    ~GatewayProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
        }
    }
    GatewayProcess(const GatewayProcess &) = delete;
    GatewayProcess &operator=(const GatewayProcess &) = delete;

    // Waits for `text` on stderr, after what was waited for before.
    bool waitForErr(const QByteArray &text, int timeoutMs = 10000)
    {
        return waitFor(
            [&] {
                err += process.readAllStandardError();
                const int at = err.indexOf(text, seen);
                if (at < 0)
                    return false;
                seen = at + text.size();
                return true;
            },
            timeoutMs);
    }
    // Listening, and every module of `modules` connected.
    bool ready(int modules = 1)
    {
        if (!waitForErr("listening on"))
            return false;
        for (int i = 0; i < modules; ++i) {
            if (!waitForErr(": connected"))
                return false;
        }
        return true;
    }
    QJsonObject status()
    {
        ::kill(pid_t(process.processId()), SIGUSR1);
        waitFor([this] { return process.canReadLine(); }, 5000);
        return QJsonDocument::fromJson(process.readLine()).object();
    }
    int stop(int signal = SIGTERM)
    {
        ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(10000))
            return -1;
        err += process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    int descriptors() const
    {
        return int(QDir(QStringLiteral("/proc/%1/fd").arg(process.processId()))
                       .entryList(QDir::Files | QDir::System)
                       .size());
    }

    QProcess process;
    QByteArray err;
    int seen = 0;
};

// A Modbus TCP client of this test's own, on one connection: a request
// out, its answer's PDU back.
class RawClient
{
public:
    // To the gateway on this machine, from the address `from` when given
    // (its ::1 when `from` is IPv6).
    explicit RawClient(quint16 port = defaultPort, const QHostAddress &from = QHostAddress())
    {
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(from.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QHostAddress(QHostAddress::LocalHostIPv6)
                                 : QHostAddress(QHostAddress::LocalHost),
                             port);
    }
    bool connected() { return socket.waitForConnected(5000); }

    static QByteArray frame(quint16 transaction, quint8 unit, const QByteArray &pdu)
    {
        QByteArray bytes;
        bytes.append(char(transaction >> 8));
        bytes.append(char(transaction & 0xff));
        bytes.append('\0');
        bytes.append('\0');
        bytes.append(char((pdu.size() + 1) >> 8));
        bytes.append(char((pdu.size() + 1) & 0xff));
        bytes.append(char(unit));
        return bytes + pdu;
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // The next answer: its transaction, unit and PDU; empty PDU when none
    // came within `timeoutMs`.
    struct Answer {
        quint16 transaction = 0;
        quint8 unit = 0;
        QByteArray pdu;
        qint64 ms = -1;
    };
    Answer next(int timeoutMs = 5000)
    {
        Answer a;
        QElapsedTimer timer;
        timer.start();
        while (buffer.size() < 6 ||
               buffer.size() < 6 + (quint8(buffer.at(4)) << 8 | quint8(buffer.at(5)))) {
            if (timer.elapsed() > timeoutMs || socket.state() != QAbstractSocket::ConnectedState)
                return a;
            socket.waitForReadyRead(20);
            buffer += socket.readAll();
        }
        const int length = quint8(buffer.at(4)) << 8 | quint8(buffer.at(5));
        a.transaction = quint16(quint8(buffer.at(0)) << 8 | quint8(buffer.at(1)));
        a.unit = quint8(buffer.at(6));
        a.pdu = buffer.mid(7, length - 1);
        buffer.remove(0, 6 + length);
        return a;
    }
    Answer ask(quint8 unit, const QByteArray &pdu, int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        send(frame(++transaction, unit, pdu));
        Answer a = next(timeoutMs);
        a.ms = timer.elapsed();
        return a;
    }

    QTcpSocket socket;
    QByteArray buffer;
    quint16 transaction = 0;
};

inline QByteArray readRegisters(int address, int count)
{
    return QByteArray::fromHex(QStringLiteral("03%1%2")
                                   .arg(address, 4, 16, QLatin1Char('0'))
                                   .arg(count, 4, 16, QLatin1Char('0'))
                                   .toLatin1());
}

// The exception PDU for `function` and `code`.
inline QByteArray exceptionOf(int function, int code)
{
    return QByteArray(1, char(function | 0x80)) + char(code);
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace gatewayharness

#endif // GATEWAYHARNESS_H

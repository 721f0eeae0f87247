// ordan-cli bridge between real programs: a program on the port it makes
// (this test, mbpoll), the simulated module on the other side (its network
// side echoing, or carrying the bytes to a bus where a libmodbus slave
// answers), each a process of its own. The module's address is a site's,
// so the whole test runs in a network namespace of its own (main()).
#include "privatenetwork.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace
{

// The module's address: only on the loopback of this test's own network
// namespace (see main()).
const char site[] = "10.20.0.31";
const char siteCidr[] = "10.20.0.31/24";
const QString target = QStringLiteral("10.20.0.31:502");

// Waits, running the event loop, until `done` or the time is up.
template <typename Done> bool waitFor(Done done, int timeoutMs)
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

// The module: the simulator with its network side (ordan-module-sim
// --network) at the site's address, its bus an echo or a pseudo-terminal
// where a Modbus slave plays the devices. It restarts when written to over
// its console, as a module does; what it received over TCP is in its state
// file once it has ended.
class Module
{
public:
    // `bus`: "echo" or the path of the bus's serial port; `more`: further
    // options (the bus's speed and parity, --no-pacing).
    Module(const QString &dir, const QString &bus, const QStringList &more = {})
        : console(dir + QStringLiteral("/console")), stateFile(dir + QStringLiteral("/state.json"))
    {
        process.start(QStringLiteral(ORDAN_MODULE_SIM_PATH),
                      QStringList{QStringLiteral("--link"), console, QStringLiteral("--network"),
                                  QStringLiteral("--bus"), bus, QStringLiteral("--set"),
                                  QStringLiteral("ip=") + QLatin1String(site),
                                  QStringLiteral("--state-file"), stateFile} +
                          more);
        waitFor([this] { return (err += process.readAllStandardError()).contains("listening"); },
                10000);
    }
    ~Module() { stop(); }
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    bool isListening() const { return err.contains("-- listening on"); }
    // Restarts it as the field does: a new packet time-out written over its
    // console with ordan-cli, which restarts the module and reads it back.
    void startRestart(int packetTimeoutMs)
    {
        write.start(QStringLiteral(ORDAN_CLI_PATH),
                    {QStringLiteral("write"), console, QStringLiteral("--packet-timeout"),
                     QString::number(packetTimeoutMs)});
    }
    // The write's exit code once it has verified the module back.
    int restartResult()
    {
        write.waitForFinished(30000);
        return write.exitStatus() == QProcess::NormalExit ? write.exitCode() : -1;
    }
    // Ends it; what went over TCP ("received_segments", "received", ...).
    QJsonObject stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
        }
        QFile file(stateFile);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll())
            .object()
            .value(QStringLiteral("tcp"))
            .toObject();
    }

    QProcess process;
    QProcess write;
    QString console, stateFile;
    QByteArray err;
};

// ordan-cli bridge as a process (through `wrapper`, such as nohup, which
// then runs it in its own place): its state lines on stderr, its counters
// (--json) on stdout.
class Bridge
{
public:
    Bridge(const QString &target, const QString &link, const QStringList &more = {},
           const QString &wrapper = QString())
    {
        const QStringList arguments =
            QStringList{QStringLiteral("bridge"), target, QStringLiteral("--link"), link,
                        QStringLiteral("--json")} +
            more;
        if (wrapper.isEmpty())
            process.start(QStringLiteral(ORDAN_CLI_PATH), arguments);
        else
            process.start(wrapper, QStringList{QStringLiteral(ORDAN_CLI_PATH)} + arguments);
        process.waitForStarted();
    }
    ~Bridge()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(3000))
                process.kill();
        }
    }
    Bridge(const Bridge &) = delete;
    Bridge &operator=(const Bridge &) = delete;

    // Waits for a line on stderr holding `text`, after those seen before.
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
    // The counters, asked for with SIGUSR1.
    QJsonObject counters()
    {
        ::kill(pid_t(process.processId()), SIGUSR1);
        waitFor([this] { return process.canReadLine(); }, 5000);
        return QJsonDocument::fromJson(process.readLine()).object();
    }
    // Sends `signal`; the exit code, or -1 when it did not exit.
    int stop(int signal = SIGINT)
    {
        ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(10000))
            return -1;
        err += process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // The counters printed at exit.
    QJsonObject finalCounters()
    {
        const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
        return QJsonDocument::fromJson(lines.last()).object();
    }

    QProcess process;
    QByteArray err;
    int seen = 0;
};

bool exists(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// A program's end of the bridge: the port opened and set as a serial
// program sets it (raw, `speed`, and `flags` such as PARENB, PARODD,
// CSTOPB; with parity, INPCK too as libmodbus sets it, unless `check` is
// false as with pyserial), or left as it is (speed B0).
class SerialEnd
{
public:
    SerialEnd(const QString &path, speed_t speed, tcflag_t flags = 0, bool check = true)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        if (fd < 0 || speed == B0)
            return;
        termios t;
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        t.c_cflag |= CLOCAL | CREAD | flags;
        t.c_iflag |= (flags & PARENB) && check ? INPCK : 0;
        setResult = ::tcsetattr(fd, TCSANOW, &t);
    }
    ~SerialEnd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    SerialEnd(const SerialEnd &) = delete;
    SerialEnd &operator=(const SerialEnd &) = delete;

    bool write(const QByteArray &bytes)
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Exactly `size` bytes, or fewer when nothing more came for `quietMs`.
    QByteArray read(int size, int quietMs = 5000)
    {
        QByteArray got;
        char buffer[8192];
        while (got.size() < size) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                break;
            const ssize_t n =
                ::read(fd, buffer, size_t(qMin<int>(sizeof buffer, size - got.size())));
            if (n <= 0)
                break;
            got.append(buffer, int(n));
        }
        return got;
    }

    int fd = -1;
    int setResult = 0;
};

// The Modbus RTU CRC of `bytes`, to build requests.
quint16 crc16(const QByteArray &bytes)
{
    quint16 crc = 0xffff;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xa001) : quint16(crc >> 1);
    }
    return crc;
}

// ordan-bridge-opens on `link`: its figures by name.
QMap<QString, QString> opens(const QString &link, const QStringList &arguments)
{
    QProcess programs;
    programs.start(QStringLiteral(ORDAN_BRIDGE_OPENS_PATH), QStringList{link} + arguments);
    if (!programs.waitForFinished(120000) || programs.exitCode() != 0)
        return {{QStringLiteral("error"), QString::fromLocal8Bit(programs.readAllStandardError())}};
    QMap<QString, QString> figures;
    for (const QByteArray &line : programs.readAllStandardOutput().split('\n')) {
        const int at = line.indexOf('=');
        if (at > 0)
            figures.insert(QString::fromLatin1(line.left(at)),
                           QString::fromLatin1(line.mid(at + 1)));
    }
    return figures;
}

// A program's poll: `request` written, and asked again (as masters do) while
// nothing comes back within 0.5 s, three times at most; what came back to
// the first request answered.
QByteArray poll(SerialEnd &port, const QByteArray &request, int size, int *tries = nullptr)
{
    QByteArray got;
    for (int attempt = 1; attempt <= 3 && got.isEmpty(); ++attempt) {
        if (tries)
            *tries = attempt;
        if (!port.write(request))
            break;
        got = port.read(size, 500);
    }
    return got;
}

} // namespace

class BridgeTest : public QObject
{
    Q_OBJECT

private slots:
    void refusedInput_data();
    void refusedInput();
    void oneBridgeALink();
    void endsOnSignal_data();
    void endsOnSignal();
    void givesUp_data();
    void givesUp();
    void moduleGoneWithoutAWord();
    void gapFollowsThePort_data();
    void gapFollowsThePort();
    void frames_data();
    void frames();
    void opensBackToBack_data();
    void opensBackToBack();
    void changeDuringASetting();
    void staleReplyDropped();
    void staleRepliesInFlight();
    void unreadDropped_data();
    void unreadDropped();
    void stallHoldsRequestsBack();
    void stallEndsWhenADeviceAnswers();
    void locks_data();
    void locks();
    void socatLinkRefused();
    void echoIntegrityAcrossRestart();
    void modbusMasterAndSlave();
};

// A read request for 10 holding registers of unit 1, its CRC right.
const QByteArray request = QByteArray::fromHex("01030000000ac5cd");

void BridgeTest::refusedInput_data()
{
    // LINK stands for the link path, FILE for a file, BYID for a symbolic
    // link to it (a mistyped /dev/serial/by-id/ name), DIR for the folder.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    const QString link = QStringLiteral("LINK");
    QTest::newRow("no target") << QStringList{"--link", link} << 2 << "exactly one HOST:PORT";
    QTest::newRow("no port") << QStringList{"127.0.0.1", "--link", link} << 2
                             << "not HOST:PORT (no TCP port given)";
    QTest::newRow("0502: no port")
        << QStringList{"0502", "--link", link} << 2 << "not HOST:PORT (no TCP port given)";
    QTest::newRow("port 0") << QStringList{"127.0.0.1:0", "--link", link} << 2 << "1-65535";
    QTest::newRow("port 0502") << QStringList{"10.20.0.31:0502", "--link", link} << 2
                               << "\"0502\" is not a TCP port (1-65535, without leading zeros)";
    QTest::newRow("port too big") << QStringList{"127.0.0.1:70000", "--link", link} << 2
                                  << "1-65535";
    QTest::newRow("300.1.1.1") << QStringList{"300.1.1.1:502", "--link", link} << 2
                               << "\"300.1.1.1\" is not an IPv4 address";
    QTest::newRow("no host") << QStringList{":502", "--link", link} << 2 << "no host given";
    QTest::newRow("bad IPv6") << QStringList{"[zz]:502", "--link", link} << 2
                              << "\"zz\" is not an IPv6 address";
    QTest::newRow("no link") << QStringList{"127.0.0.1:502"} << 2 << "--link PATH";
    QTest::newRow("empty link") << QStringList{"127.0.0.1:502", "--link", ""} << 2
                                << "not an empty text";
    QTest::newRow("a link outside --link-dir")
        << QStringList{"127.0.0.1:502", "--link", "/tmp/port", "--link-dir", "DIR"} << 2
        << "is not in";
    QTest::newRow("gap not a number")
        << QStringList{"127.0.0.1:502", "--link", link, "--gap", "two"} << 2 << "--gap";
    QTest::newRow("gap too long") << QStringList{"127.0.0.1:502", "--link", link, "--gap", "20000"}
                                  << 2 << "at most";
    QTest::newRow("give-up 0") << QStringList{"127.0.0.1:502", "--link", link, "--give-up", "0"}
                               << 2 << "--give-up";
    QTest::newRow("stall 0") << QStringList{"127.0.0.1:502", "--link", link, "--stall", "0"} << 2
                             << "--stall \"0\": must be seconds";
    QTest::newRow("option of another command")
        << QStringList{"127.0.0.1:502", "--link", link, "--record", "r.csv"} << 2
        << "does not go with bridge";
    QTest::newRow("a regular file at the link")
        << QStringList{"127.0.0.1:502", "--link", "FILE"} << 3 << "not a symbolic link";
    QTest::newRow("a link to a file") << QStringList{"127.0.0.1:502", "--link", "BYID"} << 3
                                      << "which is not a pseudo-terminal: not replaced";
    QTest::newRow("a directory at the link")
        << QStringList{"127.0.0.1:502", "--link", "DIR"} << 3 << "not a symbolic link";
    QTest::newRow("no such directory") << QStringList{"127.0.0.1:502", "--link", "DIR/missing/port"}
                                       << 3 << "No such file or directory";
}

// Refused with the reason, and nothing made or touched.
void BridgeTest::refusedInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("file"));
    const QString byId = dir.filePath(QStringLiteral("by-id"));
    QFile regular(file);
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.write("keep me");
    regular.close();
    QVERIFY(QFile::link(file, byId));
    for (QString &argument : arguments) {
        argument.replace(QLatin1String("LINK"), dir.filePath(QStringLiteral("port")))
            .replace(QLatin1String("FILE"), file)
            .replace(QLatin1String("BYID"), byId)
            .replace(QLatin1String("DIR"), dir.path());
    }
    QProcess cli;
    cli.start(QStringLiteral(ORDAN_CLI_PATH), QStringList{QStringLiteral("bridge")} + arguments);
    QVERIFY(cli.waitForFinished(10000));
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitCode(), exitCode);
    QVERIFY2(err.contains(reason.toUtf8()), err.constData());
    QVERIFY(regular.open(QIODevice::ReadOnly));
    QCOMPARE(regular.readAll(), QByteArray("keep me"));
    QCOMPARE(QFileInfo(byId).symLinkTarget(), file);
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System),
             (QStringList{QStringLiteral("by-id"), QStringLiteral("file")}));
}

// A second bridge on the link of a running one is refused, naming the
// first, which goes on; a link left by a bridge that was killed is taken
// over.
void BridgeTest::oneBridgeALink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    const QString nowhere = QLatin1String(site) + QStringLiteral(":503");
    {
        Bridge killed(nowhere, link);
        QVERIFY(killed.waitForErr("not reached"));
        killed.process.kill();
        QVERIFY(killed.process.waitForFinished(5000));
    }
    QVERIFY(QFileInfo(link).isSymLink());
    Bridge first(nowhere, link);
    QVERIFY(first.waitForErr("not reached"));
    QProcess second;
    second.start(QStringLiteral(ORDAN_CLI_PATH),
                 {QStringLiteral("bridge"), nowhere, QStringLiteral("--link"), link});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 3);
    const QByteArray err = second.readAllStandardError();
    QVERIFY2(err.contains("is the port of another bridge (process " +
                          QByteArray::number(first.process.processId()) + ")"),
             err.constData());
    SerialEnd port(link, B9600);
    QCOMPARE(port.setResult, 0);
    QCOMPARE(first.stop(), 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System),
             QStringList());
}

void BridgeTest::endsOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("ignoredAtStart"); // SIGHUP, as nohup leaves it
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGQUIT") << int(SIGQUIT) << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("SIGHUP ignored at start: it stays up") << int(SIGHUP) << true;
}

// Exit 0 once the link is removed; an old link at the path is replaced;
// the counters are printed at the end. A hang-up ignored at start stays
// ignored: the bridge goes on until SIGTERM.
void BridgeTest::endsOnSignal()
{
    QFETCH(int, signal);
    QFETCH(bool, ignoredAtStart);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/old-port"), link));
    Module module(dir.path(), QStringLiteral("echo"));
    QVERIFY(module.isListening());
    Bridge bridge(target, link, {}, ignoredAtStart ? QStringLiteral("nohup") : QString());
    QVERIFY(bridge.waitForErr("connected"));
    QVERIFY(QFileInfo(link).symLinkTarget().startsWith(QLatin1String("/dev/")));
    // The port belongs to the serial ports' group, where the bridge may give
    // it (as root here).
    const group *serial = ::getgrnam("dialout");
    struct stat port;
    QCOMPARE(::stat(QFile::encodeName(link).constData(), &port), 0);
    if (serial && ::geteuid() == 0)
        QCOMPARE(port.st_gid, serial->gr_gid);
    if (ignoredAtStart) {
        ::kill(pid_t(bridge.process.processId()), signal);
        QCOMPARE(bridge.counters().value(QStringLiteral("state")).toString(),
                 QStringLiteral("connected"));
        signal = SIGTERM;
    }
    QCOMPARE(bridge.stop(signal), 0);
    QVERIFY(!exists(link));
    const QJsonObject counters = bridge.finalCounters();
    QCOMPARE(counters.value(QStringLiteral("state")).toString(), QStringLiteral("stopped"));
    QCOMPARE(counters.value(QStringLiteral("reconnects")).toInt(-1), 0);
}

void BridgeTest::givesUp_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("refused") << QLatin1String(site) + QStringLiteral(":503")
                             << QByteArray("not reached (Connection refused)");
    QTest::newRow("a name that does not resolve")
        << QStringLiteral("module-7.invalid:502")
        << QByteArray("not reached (the name module-7.invalid does not resolve");
}

// Tried again and again with one line, until --give-up: exit 4 with the
// reason, the link removed.
void BridgeTest::givesUp()
{
    QFETCH(QString, where);
    QFETCH(QByteArray, said);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    Bridge bridge(where, link, {QStringLiteral("--give-up"), QStringLiteral("3")});
    QVERIFY(bridge.waitForErr("not reached"));
    QVERIFY(exists(link));
    QVERIFY(bridge.process.waitForFinished(10000));
    QCOMPARE(bridge.process.exitCode(), 4);
    const QByteArray err = bridge.err + bridge.process.readAllStandardError();
    QVERIFY2(err.count(said) == 1 && err.count("not reached") == 1, err.constData());
    QVERIFY(err.contains("gave up: no connection for"));
    QVERIFY(bridge.finalCounters().value(QStringLiteral("refusals")).toInt(-1) == 0);
    QVERIFY(!exists(link));
}

// A module gone without a word (its address gone from the network, so
// nothing answers and nothing closes) is noticed by the keep-alive. When it
// is back it still holds the stale connection and closes new ones at once,
// as single-client converters do, until it restarts: one line says so when
// it starts, and the line that says the bridge is back counts them; then
// traffic flows again, the port open throughout.
void BridgeTest::moduleGoneWithoutAWord()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    Module module(
        dir.path(), QStringLiteral("echo"),
        {QStringLiteral("--no-pacing"), QStringLiteral("--set"), QStringLiteral("timeout data=1")});
    Bridge bridge(target, link);
    QVERIFY(bridge.waitForErr("connected"));
    const auto ip = [](const char *what) {
        return QProcess::execute(QStringLiteral("ip"),
                                 {QStringLiteral("addr"), QLatin1String(what),
                                  QLatin1String(siteCidr), QStringLiteral("dev"),
                                  QStringLiteral("lo")});
    };
    QCOMPARE(ip("del"), 0);
    const bool lost = bridge.waitForErr("lost", 30000); // idle 5 s, 3 probes 1 s apart
    QCOMPARE(ip("add"), 0);
    QVERIFY(lost);
    QVERIFY(bridge.waitForErr("the module closes every connection at once: it may still hold an "
                              "old one; trying every 2 s",
                              10000));
    QVERIFY(bridge.waitForErr("trying every 2 s", 4500) == false); // said once
    module.startRestart(2);
    QCOMPARE(module.restartResult(), 0);
    QVERIFY(bridge.waitForErr("connections at once)", 15000));
    SerialEnd port(link, B9600);
    QVERIFY(waitFor(
        [&] {
            port.write("still here");
            return port.read(10, 1000) == "still here";
        },
        15000));
    QCOMPARE(bridge.stop(), 0);
    const QJsonObject counters = bridge.finalCounters();
    QVERIFY(counters.value(QStringLiteral("refusals")).toInt() >= 2);
    QCOMPARE(counters.value(QStringLiteral("reconnects")).toInt(), 1);
}

void BridgeTest::gapFollowsThePort_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("check"); // INPCK with parity
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("gapMs");
    // 3.5 characters of start bit, 8 data bits, parity bit, stop bits.
    QTest::newRow("9600 8N1") << int(B9600) << 0 << true << QStringList{} << 3.646;
    QTest::newRow("19200 8E1") << int(B19200) << int(PARENB) << true << QStringList{} << 2.006;
    QTest::newRow("9600 8N2") << int(B9600) << int(CSTOPB) << true << QStringList{} << 4.011;
    QTest::newRow("2400 8O2") << int(B2400) << int(PARENB | PARODD | CSTOPB) << true
                              << QStringList{} << 17.5;
    QTest::newRow("19200 8O1 without INPCK: PARODD shows the parity")
        << int(B19200) << int(PARENB | PARODD) << false << QStringList{} << 2.006;
    QTest::newRow("38400 8N1: 1.75 ms above 19200")
        << int(B38400) << 0 << true << QStringList{} << 1.75;
    QTest::newRow("no speed set: 1.75 ms") << int(B0) << 0 << true << QStringList{} << 1.75;
    QTest::newRow("--gap 7") << int(B9600) << 0 << true
                             << QStringList{QStringLiteral("--gap"), QStringLiteral("7")} << 7.0;
}

// The gap that ends a frame follows what the program set on the port.
void BridgeTest::gapFollowsThePort()
{
    QFETCH(int, speed);
    QFETCH(int, flags);
    QFETCH(bool, check);
    QFETCH(QStringList, options);
    QFETCH(double, gapMs);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    Bridge bridge(QLatin1String(site) + QStringLiteral(":503"), link, options);
    QVERIFY(bridge.waitForErr("not reached"));
    SerialEnd port(link, speed_t(speed), tcflag_t(flags), check);
    QCOMPARE(port.setResult, 0);
    QCOMPARE(bridge.counters().value(QStringLiteral("gap_ms")).toDouble(), gapMs);
}

void BridgeTest::frames_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("first");     // written a byte at a time, 0.2 ms apart
    QTest::addColumn<int>("pauseMs");          // then a pause
    QTest::addColumn<QByteArray>("second");    // and the same for these
    QTest::addColumn<QStringList>("segments"); // what the module received, in hex
    QTest::addColumn<int>("whole");            // frames sent as soon as whole
    const QStringList longGap{QStringLiteral("--gap"), QStringLiteral("10000")};
    const QString hex = QString::fromLatin1(request.toHex());
    // Written at once as libmodbus does, or a byte at a time: a request goes
    // as soon as it is whole, not after the gap (10 s here).
    QTest::newRow("a request written at once")
        << int(B19200) << longGap << QByteArray() << 0 << request << QStringList{hex} << 1;
    QTest::newRow("a request written a byte at a time")
        << int(B300) << longGap << request.left(5) << 1 << request.mid(5) << QStringList{hex} << 1;
    // Other bytes end after the gap: 3.5 characters, 117 ms at 300 8N1. A
    // pause inside the gap is far shorter than it, whatever the machine's
    // load (the gap of 300 8N1 itself: gapFollowsThePort).
    const QByteArray badCrc = request.left(6) + "\xc5\xce";
    QTest::newRow("a wrong CRC, --gap 1000: 10 ms inside it")
        << int(B300) << QStringList{QStringLiteral("--gap"), QStringLiteral("1000")} << badCrc << 10
        << QByteArray("\x1b[2J\r\n")
        << QStringList{QString::fromLatin1((badCrc + "\x1b[2J\r\n").toHex())} << 0;
    QTest::newRow("other bytes: 250 ms past the gap of 117 ms")
        << int(B300) << QStringList{} << QByteArray("\x1b[2J") << 250 << QByteArray("\r\n")
        << QStringList{QStringLiteral("1b5b324a"), QStringLiteral("0d0a")} << 0;
    QTest::newRow("other bytes, --gap 1000: 10 ms inside it")
        << int(B115200) << QStringList{QStringLiteral("--gap"), QStringLiteral("1000")}
        << QByteArray("\x1b[2J") << 10 << QByteArray("\r\n")
        << QStringList{QStringLiteral("1b5b324a0d0a")} << 0;
}

// What reaches the module, one TCP segment a frame; the echo comes back
// whole, and the log shows the traffic escaped.
void BridgeTest::frames()
{
    QFETCH(int, speed);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, first);
    QFETCH(int, pauseMs);
    QFETCH(QByteArray, second);
    QFETCH(QStringList, segments);
    QFETCH(int, whole);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    const QString log = dir.filePath(QStringLiteral("trace.log"));
    Module module(
        dir.path(), QStringLiteral("echo"),
        {QStringLiteral("--no-pacing"), QStringLiteral("--set"), QStringLiteral("timeout data=5")});
    Bridge bridge(target, link, options + QStringList{QStringLiteral("--log"), log});
    QVERIFY(bridge.waitForErr("connected"));
    SerialEnd port(link, speed_t(speed));
    QCOMPARE(port.setResult, 0);

    for (int i = 0; i < first.size(); ++i) {
        QVERIFY(port.write(first.mid(i, 1)));
        ::usleep(200);
    }
    ::usleep(useconds_t(pauseMs) * 1000);
    if (first.isEmpty())
        QVERIFY(port.write(second));
    else
        for (int i = 0; i < second.size(); ++i) {
            QVERIFY(port.write(second.mid(i, 1)));
            ::usleep(200);
        }
    QCOMPARE(port.read(first.size() + second.size()), first + second); // the echo
    const QJsonObject counters = bridge.counters();
    QCOMPARE(counters.value(QStringLiteral("frames_to_module")).toInt(), segments.size());
    QCOMPARE(counters.value(QStringLiteral("whole_frames")).toInt(), whole);
    QCOMPARE(bridge.stop(), 0);
    QStringList received;
    for (const QJsonValue segment : module.stop().value(QStringLiteral("received")).toArray())
        received << segment.toObject().value(QStringLiteral("hex")).toString();
    QCOMPARE(received, segments);

    QFile trace(log);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QByteArray text = trace.readAll();
    QVERIFY2(text.contains(whole ? " > \\x01\\x03\\x00\\x00\\x00\\n\\xc5\\xcd" : " > "),
             text.constData());
    QVERIFY(!text.contains('\x1b'));
}

void BridgeTest::opensBackToBack_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("8E1") << "8E1";
    QTest::newRow("8O1") << "8O1";
    QTest::newRow("8N2") << "8N2";
    QTest::newRow("8N1") << "8N1";
}

// Programs one after another, each a new process that opens the port, sets
// 19200 and the format as libmodbus does (glibc checks what the port took),
// exchanges a request and closes it without putting its settings back, the
// next opening it at once: every setting succeeds, and every program has
// its answer (a request read together with the end of the opening before is
// taken for that one's: its answer may then need a second request).
void BridgeTest::opensBackToBack()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    Module module(
        dir.path(), QStringLiteral("echo"),
        {QStringLiteral("--no-pacing"), QStringLiteral("--set"), QStringLiteral("timeout data=1")});
    Bridge bridge(target, link);
    QVERIFY(bridge.waitForErr("connected"));
    const QMap<QString, QString> result =
        opens(link, {"--count", "20", "--format", format, "--exchange", "--reply", "8"});
    QCOMPARE(result.value(QStringLiteral("opens")), QStringLiteral("20"));
    QCOMPARE(result.value(QStringLiteral("failed_settings")), QStringLiteral("0"));
    QCOMPARE(result.value(QStringLiteral("no_reply")), QStringLiteral("0"));
    QCOMPARE(bridge.counters().value(QStringLiteral("openings")).toInt(), 20);
    QCOMPARE(bridge.stop(), 0);
}

// glibc's tcsetattr() reads the settings before and after: when they did not
// change and the parity asked for was dropped (a pseudo-terminal drops
// PARENB), it fails with EINVAL. The bridge puts the port aside after each
// setting it notes; should that come between a program's setting and its
// check (a program preempted there), the port must still differ from what
// that program found, even when it asks for what the program before it set
// in the same opening. Played here with a pause where the preemption would
// be.
void BridgeTest::changeDuringASetting()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    Bridge bridge(QLatin1String(site) + QStringLiteral(":503"), link);
    QVERIFY(bridge.waitForErr("not reached"));
    SerialEnd first(link, B19200, PARENB);
    QCOMPARE(first.setResult, 0);
    QCOMPARE(bridge.counters().value(QStringLiteral("gap_ms")).toDouble(), 2.006); // noted
    for (int program = 0; program < 3; ++program) {
        SerialEnd next(link, B0); // the same opening: the port is not reset
        termios before, want, after;
        QCOMPARE(::tcgetattr(next.fd, &before), 0);
        want = before;
        ::cfmakeraw(&want);
        ::cfsetispeed(&want, B19200);
        ::cfsetospeed(&want, B19200);
        want.c_cflag |= CLOCAL | CREAD | PARENB;
        want.c_iflag |= INPCK;
        QCOMPARE(::tcsetattr(next.fd, TCSANOW, &want), 0);
        QTest::qWait(200); // preempted: the bridge takes note meanwhile
        QCOMPARE(::tcgetattr(next.fd, &after), 0);
        const bool unchanged = (before.c_iflag & 0x7fffffff) == (after.c_iflag & 0x7fffffff) &&
                               before.c_oflag == after.c_oflag && before.c_lflag == after.c_lflag &&
                               before.c_line == after.c_line && before.c_cflag == after.c_cflag;
        QVERIFY2(!unchanged,
                 qPrintable(QStringLiteral("program %1 would be refused").arg(program)));
    }
    QCOMPARE(bridge.stop(), 0);
}

// A reply that comes while no program has the port open (its program gave
// up and closed it) is dropped and counted: the next program, which opens
// the port without flushing it as libmodbus does, does not take it for the
// answer to its own request.
void BridgeTest::staleReplyDropped()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    // The echo after 300 ms.
    Module module(dir.path(), QStringLiteral("echo"),
                  {QStringLiteral("--no-pacing"), QStringLiteral("--set"),
                   QStringLiteral("timeout data=300")});
    Bridge bridge(target, link);
    QVERIFY(bridge.waitForErr("connected"));
    {
        SerialEnd port(link, B19200, PARENB);
        QVERIFY(port.write(request));
    }
    QVERIFY(waitFor(
        [&] {
            return bridge.counters().value(QStringLiteral("dropped_bytes")).toInt() ==
                   request.size();
        },
        5000));
    SerialEnd next(link, B19200, PARENB);
    QCOMPARE(next.read(1, 300), QByteArray());
    QCOMPARE(bridge.stop(), 0);
}

// Program A asks unit 1 for register 91 and closes the port at once; program
// B opens it within the same millisecond and asks for registers 1-10. A's
// answer comes after B has opened the port, and often after B's request has
// gone: it is dropped, and B reads its own answer and nothing else, 200
// times. (B's request may be read with A's last bytes, before the bridge has
// seen A close: it is then taken for A's, and B asks again.)
void BridgeTest::staleRepliesInFlight()
{
    const QString slavePath = QStringLiteral(ORDAN_MODBUS_SLAVE_PATH);
    if (slavePath.isEmpty())
        QSKIP("needs libmodbus (scripts/install-deps.sh installs it)");
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    const QString bus = dir.filePath(QStringLiteral("bus"));
    Module module(dir.path(), bus,
                  {QStringLiteral("--set"), QStringLiteral("SPEED RS485=19200"),
                   QStringLiteral("--set"), QStringLiteral("parity=even"), QStringLiteral("--set"),
                   QStringLiteral("timeout data=5")});
    QVERIFY(module.isListening());
    QProcess slave;
    slave.start(slavePath, {bus});
    QVERIFY(waitFor([&] { return slave.canReadLine(); }, 10000));
    QCOMPARE(slave.readLine().trimmed(), QByteArray("ready"));
    Bridge bridge(target, link);
    QVERIFY(bridge.waitForErr("connected"));

    const QByteArray askA = QByteArray::fromHex("0103005a0001a419");
    const QByteArray answerB =
        QByteArray::fromHex("01031403e803e903ea03eb03ec03ed03ee03ef03f003f1c764");
    const int rounds = 200;
    int wrong = 0, unanswered = 0, askedAgain = 0;
    for (int round = 0; round < rounds; ++round) {
        {
            SerialEnd a(link, B19200, PARENB);
            QVERIFY(a.write(askA));
        }
        SerialEnd b(link, B0); // B sets nothing: A may have set the same a moment ago
        int tries = 0;
        const QByteArray got = poll(b, request, answerB.size(), &tries) + b.read(1, 30);
        wrong += !got.isEmpty() && got != answerB;
        unanswered += got.isEmpty();
        askedAgain += tries > 1;
        if (!got.isEmpty() && got != answerB)
            qWarning("round %d: B read %s", round, got.toHex().constData());
    }
    QCOMPARE(wrong, 0);
    QCOMPARE(unanswered, 0);
    qInfo("B asked again in %d of %d rounds", askedAgain, rounds);
    const QJsonObject counters = bridge.counters();
    QVERIFY2(counters.value(QStringLiteral("stale_replies")).toInt() >= rounds,
             QJsonDocument(counters).toJson().constData());
    QCOMPARE(bridge.stop(), 0);
    module.stop();
    QVERIFY(slave.waitForFinished(5000));
}

void BridgeTest::unreadDropped_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("8 bytes (an answer)") << 8;
    QTest::newRow("100,000 bytes") << 100000;
}

// A program writes and closes without reading what came back: what waited
// for it, in the port (read out of it) and in the bridge, is dropped and
// counted exactly; the next program reads nothing but its own answer. (The
// port and the bridge hold 64 KiB and more: of 100,000 bytes, what the
// module sends after the close is dropped as the answer to an earlier
// opening's request.)
void BridgeTest::unreadDropped()
{
    QFETCH(int, size);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    Module module(
        dir.path(), QStringLiteral("echo"),
        {QStringLiteral("--no-pacing"), QStringLiteral("--set"), QStringLiteral("timeout data=1")});
    Bridge bridge(target, link);
    QVERIFY(bridge.waitForErr("connected"));
    QByteArray bytes = request;
    if (size > request.size()) {
        QRandomGenerator random{quint32(size)};
        bytes.resize(size);
        for (char &c : bytes)
            c = char(random.bounded(256));
    }
    const auto counter = [&](const char *name) {
        return bridge.counters().value(QLatin1String(name)).toInt();
    };
    const int waiting = qMin(size, 64 * 1024); // at the bridge, waiting for the port
    {
        SerialEnd a(link, B9600);
        QVERIFY(a.write(bytes));
        QVERIFY(waitFor([&] { return counter("bytes_from_module") >= waiting; }, 20000));
    }
    QVERIFY(waitFor([&] { return counter("dropped_bytes") == size; }, 20000));
    QVERIFY(counter("unread_bytes") >= waiting);
    SerialEnd b(link, B9600);
    QCOMPARE(poll(b, request, request.size()), request);
    QCOMPARE(b.read(1, 300), QByteArray());
    QCOMPARE(counter("dropped_bytes"), size);
    QCOMPARE(bridge.stop(), 0);
}

// The module stops (SIGSTOP) for 5 s while a program polls, one register
// after the other, each asked once with a time-out of 0.4 s: its TCP stack
// still takes every byte. Once a request has gone unanswered for --stall
// (2 s), requests are not sent, but one every 2 s; the module continued, it
// answers and requests go again. What reached the module before the stall
// was noticed reaches the device late, as the module took it; every request
// sent after that reaches it within --stall + 1 s, if at all. The counter
// holds every request not sent, and the lines say when it began and ended.
void BridgeTest::stallHoldsRequestsBack()
{
    const QString slavePath = QStringLiteral(ORDAN_MODBUS_SLAVE_PATH);
    if (slavePath.isEmpty())
        QSKIP("needs libmodbus (scripts/install-deps.sh installs it)");
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    const QString bus = dir.filePath(QStringLiteral("bus"));
    Module module(dir.path(), bus,
                  {QStringLiteral("--set"), QStringLiteral("SPEED RS485=19200"),
                   QStringLiteral("--set"), QStringLiteral("parity=even"), QStringLiteral("--set"),
                   QStringLiteral("timeout data=5")});
    QVERIFY(module.isListening());
    QProcess slave;
    slave.start(slavePath, {bus, QStringLiteral("--stamp"), QStringLiteral("on")});
    QVERIFY(waitFor([&] { return slave.canReadLine(); }, 10000));
    QCOMPARE(slave.readLine().trimmed(), QByteArray("ready"));
    Bridge bridge(target, link);
    QVERIFY(bridge.waitForErr("connected"));

    const auto now = [] {
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    };
    const double stall = 2.0;
    const pid_t modulePid = pid_t(module.process.processId());
    SerialEnd port(link, B19200, PARENB);
    QCOMPARE(port.setResult, 0);
    QMap<QByteArray, double> sentAt; // by request
    double stoppedAt = 0, continuedAt = 0;
    int answeredAfter = 0;
    const double start = now();
    for (int i = 0; i < 100 && now() - start < 10.5; ++i) {
        if (stoppedAt == 0 && now() - start > 1.5) {
            ::kill(modulePid, SIGSTOP);
            stoppedAt = now();
        }
        if (stoppedAt > 0 && continuedAt == 0 && now() - stoppedAt > 5.0) {
            ::kill(modulePid, SIGCONT);
            continuedAt = now();
        }
        // Register i of unit 1: each request its own.
        QByteArray ask = QByteArray::fromHex("010300") + char(i) + QByteArray::fromHex("0001");
        const quint16 crc = crc16(ask);
        ask += char(crc & 0xff);
        ask += char(crc >> 8);
        sentAt.insert(ask.toHex(), now());
        QVERIFY(port.write(ask));
        const QByteArray answer = port.read(7, 400);
        answeredAfter += continuedAt > 0 && answer.size() == 7;
        port.read(64, 50); // a late answer to an earlier request
    }
    QVERIFY(answeredAfter > 0);
    QVERIFY(bridge.waitForErr("has answered nothing for"));
    QVERIFY(bridge.waitForErr("answers again ("));
    const QJsonObject counters = bridge.counters();
    QCOMPARE(bridge.stop(), 0);
    const QJsonObject tcp = module.stop();
    QVERIFY(slave.waitForFinished(5000));

    // Every request the program wrote reached the module, or is counted.
    const int held = counters.value(QStringLiteral("stalled_frames")).toInt();
    QVERIFY(held > 0);
    QCOMPARE(tcp.value(QStringLiteral("received_bytes")).toInt() / request.size() + held,
             sentAt.size());
    QVERIFY(bridge.err.contains("answers again (" + QByteArray::number(held) + " request"));
    const double noticed = stoppedAt + stall + 1.0; // a poll's time-out and more
    int probes = 0;
    for (const QByteArray &line : slave.readAllStandardOutput().split('\n')) {
        if (!line.startsWith("request "))
            continue;
        const QList<QByteArray> words = line.split(' ');
        QVERIFY2(words.size() == 4 && sentAt.contains(words.at(1)), line.constData());
        const double sent = sentAt.value(words.at(1));
        const double late = words.at(3).toDouble() - sent;
        if (sent > noticed) {
            QVERIFY2(late <= stall + 1.0, line.constData());
            probes += sent < continuedAt;
        }
    }
    // While stalled, one request every --stall went to find out.
    QVERIFY2(probes <= int((continuedAt - noticed) / stall) + 1,
             qPrintable(QString::number(probes)));
}

// A module whose bus has no device answering looks stalled too: requests
// are held back, but one every --stall still goes, so that a device that
// comes (here: its program started) is asked, answers, and requests flow
// again.
void BridgeTest::stallEndsWhenADeviceAnswers()
{
    const QString slavePath = QStringLiteral(ORDAN_MODBUS_SLAVE_PATH);
    if (slavePath.isEmpty())
        QSKIP("needs libmodbus (scripts/install-deps.sh installs it)");
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    const QString bus = dir.filePath(QStringLiteral("bus"));
    Module module(dir.path(), bus,
                  {QStringLiteral("--set"), QStringLiteral("SPEED RS485=19200"),
                   QStringLiteral("--set"), QStringLiteral("parity=even"), QStringLiteral("--set"),
                   QStringLiteral("timeout data=5")});
    QVERIFY(module.isListening());
    Bridge bridge(target, link, {QStringLiteral("--stall"), QStringLiteral("1")});
    QVERIFY(bridge.waitForErr("connected"));
    SerialEnd port(link, B19200, PARENB);
    QVERIFY(waitFor(
        [&] {
            port.write(request);
            port.read(1, 200);
            return bridge.err.contains("has answered nothing for") ||
                   bridge.waitForErr("has answered nothing for", 1);
        },
        10000));
    {
        // What went out on the bus before is gone: only a request sent from
        // now on can be answered.
        SerialEnd drain(bus, B0);
        drain.read(1 << 16, 100);
    }
    QProcess slave;
    slave.start(slavePath, {bus});
    QVERIFY(waitFor([&] { return slave.canReadLine(); }, 10000));
    QCOMPARE(slave.readLine().trimmed(), QByteArray("ready"));
    QByteArray answer;
    QVERIFY(waitFor(
        [&] {
            port.write(request);
            answer = port.read(25, 200);
            return answer.size() == 25;
        },
        10000));
    QVERIFY(bridge.waitForErr("answers again ("));
    QVERIFY(bridge.counters().value(QStringLiteral("stalled_frames")).toInt() > 0);
    QCOMPARE(bridge.stop(), 0);
    module.stop();
    QVERIFY(slave.waitForFinished(5000));
}

void BridgeTest::locks_data()
{
    // What is at the link (x) and at its lock (x.lock) before the bridge
    // starts: "free", "user's file", "null" (a link to /dev/null), "pty" (a
    // link to a live pseudo-terminal), "link" (a link to a file), "stale
    // lock for pty" (a killed bridge's lock naming that pseudo-terminal),
    // "stale lock for another" (one naming another).
    QTest::addColumn<QString>("atLink");
    QTest::addColumn<QString>("atLock");
    QTest::addColumn<int>("exitCode"); // 0: it ran
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("a user's x.lock, x free")
        << "free"
        << "user's file" << 3 << QByteArray("x.lock exists and is not a bridge's lock");
    QTest::newRow("a user's x.lock, x a link to /dev/null")
        << "null"
        << "user's file" << 3 << QByteArray("x.lock exists and is not a bridge's lock");
    QTest::newRow("x.lock a link")
        << "free"
        << "link" << 3 << QByteArray("x.lock exists and is not a bridge's lock");
    QTest::newRow("x a live pseudo-terminal's link, no lock")
        << "pty"
        << "free" << 3 << QByteArray("the pseudo-terminal of a program that is not a bridge");
    QTest::newRow("x a live pseudo-terminal's link, a stale lock naming another")
        << "pty"
        << "stale lock for another" << 3
        << QByteArray("the pseudo-terminal of a program that is not a bridge");
    QTest::newRow("x a killed bridge's link, its number taken since")
        << "pty"
        << "stale lock for pty" << 0 << QByteArray("the port (");
}

// Only the bridge's own files are ever made, rewritten or removed: a refusal
// leaves x and x.lock as they were; a killed bridge's lock and link are
// taken over, and removed at the end.
void BridgeTest::locks()
{
    QFETCH(QString, atLink);
    QFETCH(QString, atLock);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, said);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("x"));
    const QString lock = link + QStringLiteral(".lock");
    const QString file = dir.filePath(QStringLiteral("file"));
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    QVERIFY(write(file, "precious\n"));
    // A live pseudo-terminal of another program (this test).
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString pty = QString::fromLatin1(::ptsname(master));
    if (atLink == QLatin1String("null"))
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
    if (atLink == QLatin1String("pty"))
        QVERIFY(QFile::link(pty, link));
    if (atLock == QLatin1String("user's file"))
        QVERIFY(write(lock, "precious\n"));
    if (atLock == QLatin1String("link"))
        QVERIFY(QFile::link(file, lock));
    if (atLock.startsWith(QLatin1String("stale lock")))
        QVERIFY(
            write(lock, "ordan-cli bridge lock\npid 999999\nport " +
                            (atLock.endsWith(QLatin1String("pty")) ? pty.toLatin1()
                                                                   : QByteArray("/dev/pts/9999")) +
                            "\n"));
    const auto state = [&] {
        QStringList seen;
        for (const QFileInfo &entry :
             QDir(dir.path())
                 .entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System,
                                QDir::Name)) {
            QFile f(entry.filePath());
            seen << entry.fileName() + QStringLiteral(" -> ") + entry.symLinkTarget() + ' ' +
                        QString::fromLatin1(entry.isSymLink() || !f.open(QIODevice::ReadOnly)
                                                ? QByteArray()
                                                : f.readAll());
        }
        return seen;
    };
    const QStringList before = state();
    Bridge bridge(QLatin1String(site) + QStringLiteral(":503"), link);
    if (exitCode != 0) {
        QVERIFY(bridge.process.waitForFinished(10000));
        QCOMPARE(bridge.process.exitCode(), exitCode);
        const QByteArray err = bridge.process.readAllStandardError();
        QVERIFY2(err.contains(said), err.constData());
        QCOMPARE(state(), before);
    } else {
        QVERIFY(bridge.waitForErr(said));
        QVERIFY(bridge.waitForErr("not reached"));
        QVERIFY(QFileInfo(link).symLinkTarget() != pty);
        QVERIFY(QFileInfo(link).symLinkTarget().startsWith(QLatin1String("/dev/pts/")));
        QFile taken(lock);
        QVERIFY(taken.open(QIODevice::ReadOnly));
        QVERIFY(taken.readAll().contains("pid " + QByteArray::number(bridge.process.processId()) +
                                         '\n'));
        QCOMPARE(bridge.stop(), 0);
        const QStringList after = state();
        QVERIFY2(after.size() == 1 && after.first().startsWith(QLatin1String("file ")),
                 qPrintable(after.join(QLatin1Char('|'))));
    }
    ::close(master);
}

// socat's port at x: a bridge asked for x is refused and leaves it alone,
// and socat's port goes on working.
void BridgeTest::socatLinkRefused()
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        QSKIP("needs socat (scripts/install-deps.sh installs it)");
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("x"));
    Module module(
        dir.path(), QStringLiteral("echo"),
        {QStringLiteral("--no-pacing"), QStringLiteral("--set"), QStringLiteral("timeout data=1")});
    QProcess other;
    other.start(socat, {QStringLiteral("pty,link=") + link + QStringLiteral(",raw,echo=0"),
                        QStringLiteral("tcp:") + target});
    QVERIFY(waitFor([&] { return QFileInfo(link).isSymLink(); }, 10000));
    const QString socatPty = QFileInfo(link).symLinkTarget();
    QProcess refused;
    refused.start(QStringLiteral(ORDAN_CLI_PATH),
                  {QStringLiteral("bridge"), target, QStringLiteral("--link"), link});
    QVERIFY(refused.waitForFinished(10000));
    QCOMPARE(refused.exitCode(), 3);
    QVERIFY(refused.readAllStandardError().contains("not a bridge: not replaced"));
    QCOMPARE(QFileInfo(link).symLinkTarget(), socatPty);
    QVERIFY(!exists(link + QStringLiteral(".lock")));
    SerialEnd port(link, B9600);
    QCOMPARE(port.setResult, 0);
    QCOMPARE(poll(port, request, request.size()), request); // through socat, echoed
    other.terminate();
    QVERIFY(other.waitForFinished(5000));
}

// 2,000 random bursts (a fixed seed) of 1 to 4,096 bytes come back exactly
// once and in order, each one frame and one segment. In the middle the
// module goes away: bursts written meanwhile are discarded and counted, the
// port stays open, and after the module is back the bursts flow again: the
// discarded count is exactly what is missing.
void BridgeTest::echoIntegrityAcrossRestart()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    // The echo at once (no pacing, a packet time-out of 1 ms); a restart
    // long enough for the bursts written meanwhile.
    Module module(dir.path(), QStringLiteral("echo"),
                  {QStringLiteral("--no-pacing"), QStringLiteral("--set"),
                   QStringLiteral("timeout data=1"), QStringLiteral("--restart-delay"),
                   QStringLiteral("3000")});
    Bridge bridge(target, link);
    QVERIFY(bridge.waitForErr("connected"));
    SerialEnd port(link, B9600); // frames end after 4 ms of quiet
    QCOMPARE(port.setResult, 0);

    QRandomGenerator random(20261208);
    const int bursts = 2000, restartAt = 1000, whileDown = 7;
    qint64 written = 0, echoed = 0, lost = 0;
    int framesSent = 0;
    for (int i = 0; i < bursts; ++i) {
        if (i == restartAt) {
            module.startRestart(2);
            QVERIFY(bridge.waitForErr("lost", 20000));
            for (int k = 0; k < whileDown; ++k) {
                QByteArray burst(int(random.bounded(1, 4097)), Qt::Uninitialized);
                for (char &c : burst)
                    c = char(random.bounded(256));
                QVERIFY(port.write(burst));
                written += burst.size();
                lost += burst.size();
                QVERIFY(waitFor(
                    [&] {
                        return bridge.counters().value(QStringLiteral("discarded_bytes")).toInt() ==
                               lost;
                    },
                    5000));
            }
            QVERIFY(bridge.waitForErr("back after", 20000));
            QCOMPARE(module.restartResult(), 0); // written, restarted, verified
        }
        QByteArray burst(int(random.bounded(1, 4097)), Qt::Uninitialized);
        for (char &c : burst)
            c = char(random.bounded(256));
        QVERIFY(port.write(burst));
        written += burst.size();
        const QByteArray back = port.read(burst.size());
        QVERIFY2(back == burst, qPrintable(QStringLiteral("burst %1: %2 of %3 bytes back")
                                               .arg(i)
                                               .arg(back.size())
                                               .arg(burst.size())));
        echoed += back.size();
        ++framesSent;
    }
    QCOMPARE(port.read(1, 200), QByteArray()); // nothing more, nothing twice
    QCOMPARE(bridge.stop(), 0);
    const QJsonObject tcp = module.stop();
    const QJsonObject c = bridge.finalCounters();
    QCOMPARE(c.value(QStringLiteral("bytes_to_module")).toDouble(), double(echoed));
    QCOMPARE(c.value(QStringLiteral("bytes_from_module")).toDouble(), double(echoed));
    QCOMPARE(c.value(QStringLiteral("discarded_bytes")).toDouble(), double(written - echoed));
    // Each frame one write and one segment. A burst is one frame unless the
    // pseudo-terminal handed it over with a pause longer than the gap (a
    // busy machine): never fewer frames than bursts.
    const int frames = c.value(QStringLiteral("frames_to_module")).toInt();
    QCOMPARE(tcp.value(QStringLiteral("received_segments")).toInt(), frames);
    QCOMPARE(tcp.value(QStringLiteral("received_bytes")).toDouble(), double(echoed));
    QCOMPARE(tcp.value(QStringLiteral("accepted")).toInt(), 2);
    QVERIFY(frames >= framesSent);
    QVERIFY(c.value(QStringLiteral("discarded_frames")).toInt() >= whileDown);
    QCOMPARE(c.value(QStringLiteral("reconnects")).toInt(), 1);
}

// mbpoll, a Modbus RTU master, on the bridge's port; a libmodbus slave on
// the bus behind the module. 100 polls of 10 holding registers are all
// right; the module restarts while mbpoll keeps its port open: polls fail
// meanwhile and succeed again afterwards. The slave never sees a request
// twice: it gets no more requests than mbpoll sent, each one whole.
void BridgeTest::modbusMasterAndSlave()
{
    const QString mbpoll = QStringLiteral(ORDAN_MBPOLL_PATH);
    const QString slavePath = QStringLiteral(ORDAN_MODBUS_SLAVE_PATH);
    if (mbpoll.isEmpty() || slavePath.isEmpty())
        QSKIP("needs mbpoll and libmodbus (scripts/install-deps.sh installs them)");
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("port"));
    const QString bus = dir.filePath(QStringLiteral("bus"));
    // The bus at 19200 8E1, paced; the answer gathered for 5 ms.
    Module module(dir.path(), bus,
                  {QStringLiteral("--set"), QStringLiteral("SPEED RS485=19200"),
                   QStringLiteral("--set"), QStringLiteral("parity=even"), QStringLiteral("--set"),
                   QStringLiteral("timeout data=5")});
    QVERIFY(module.isListening());
    QProcess slave;
    slave.start(slavePath, {bus});
    QVERIFY(waitFor([&] { return slave.canReadLine(); }, 10000));
    QCOMPARE(slave.readLine().trimmed(), QByteArray("ready"));
    Bridge bridge(target, link);
    QVERIFY(bridge.waitForErr("connected"));

    const QStringList common{"-m", "rtu", "-a", "1",     "-r", "1",    "-c", "10",
                             "-t", "4",   "-b", "19200", "-P", "even", "-o", "0.5"};
    // Opened, set to 19200 8E1, polled once and closed ten times, each
    // mbpoll started as the one before ended: each one's setting succeeds.
    // (A request read together with the end of the opening before is taken
    // for that one's: its mbpoll then times out, and is run again.)
    int singles = 0, singleRuns = 0;
    for (; singleRuns < 20 && singles < 10; ++singleRuns) {
        QProcess once;
        once.setProcessChannelMode(QProcess::MergedChannels);
        once.start(mbpoll, common + QStringList{"-1", link});
        QVERIFY(once.waitForFinished(10000));
        const QByteArray output = once.readAll();
        QVERIFY2(!output.contains("Invalid argument") && !output.contains("Connection failed"),
                 output.constData());
        if (once.exitCode() == 0 && output.contains("[10]: \t1009"))
            ++singles;
        else
            QVERIFY2(output.contains("timeout") || output.contains("Connection timed out"),
                     output.constData());
    }
    QCOMPARE(singles, 10);

    // Line by line (stdbuf), polling every 20 ms until interrupted.
    QProcess master;
    master.setProcessChannelMode(QProcess::MergedChannels);
    master.start(QStringLiteral("stdbuf"),
                 QStringList{"-oL", mbpoll} + common + QStringList{"-l", "20", link});
    // A poll is good when its ten values are; every value must be right.
    int good = 0, failed = 0, goodAfterRestart = 0, wrong = 0;
    bool restarted = false;
    QByteArray transcript;
    const auto poll = [&] {
        while (master.canReadLine()) {
            const QByteArray line = master.readLine().trimmed();
            transcript += line + '\n';
            const int r = line.startsWith('[') ? line.mid(1, line.indexOf(']') - 1).toInt() : 0;
            if (r > 0) {
                wrong +=
                    line != "[" + QByteArray::number(r) + "]: \t" + QByteArray::number(999 + r);
                good += r == 10;
                goodAfterRestart += r == 10 && restarted && failed > 0;
            } else if (line.contains("failed")) {
                ++failed;
            }
        }
        return good >= 100 && (!restarted || goodAfterRestart >= 20);
    };
    QVERIFY(waitFor(poll, 30000));
    QCOMPARE(failed, 0);
    QCOMPARE(wrong, 0);
    // libmodbus writes each request whole: each left as soon as it was
    // there, not after the gap.
    const QJsonObject counters = bridge.counters();
    QVERIFY(counters.value(QStringLiteral("frames_to_module")).toInt() >= 100);
    QCOMPARE(counters.value(QStringLiteral("whole_frames")).toInt(),
             counters.value(QStringLiteral("frames_to_module")).toInt());

    restarted = true;
    module.startRestart(6); // over its console, while mbpoll polls
    QVERIFY(bridge.waitForErr("lost", 20000));
    QVERIFY(bridge.waitForErr("back after", 20000));
    QCOMPARE(module.restartResult(), 0);
    QVERIFY(waitFor(poll, 30000));
    QVERIFY(failed > 0);
    QCOMPARE(wrong, 0);
    QCOMPARE(master.state(), QProcess::Running); // the same mbpoll, its port never reopened

    ::kill(pid_t(master.processId()), SIGINT);
    QVERIFY(master.waitForFinished(5000));
    poll();
    const QByteArray rest = transcript + master.readAll();
    // mbpoll's own count of the requests it sent.
    const int sentAt = rest.lastIndexOf(" frames transmitted");
    QVERIFY2(sentAt > 0, rest.right(500).constData());
    int start = sentAt;
    while (start > 0 && QChar::fromLatin1(rest.at(start - 1)).isDigit())
        --start;
    const int sent = rest.mid(start, sentAt - start).toInt();

    // The slave ends by itself once the bus is gone with the module.
    QCOMPARE(bridge.stop(), 0);
    module.stop();
    QVERIFY(slave.waitForFinished(5000));
    QCOMPARE(slave.exitCode(), 0);
    // Every request whole; at most one frame cut on the bus, by the
    // module's restart while it was going out.
    int requests = 0, cut = 0;
    for (const QByteArray &line : slave.readAllStandardOutput().split('\n')) {
        if (line.startsWith("request ")) {
            QCOMPARE(line, QByteArray("request 01030000000ac5cd"));
            ++requests;
        } else {
            QVERIFY2(line.isEmpty() || line.startsWith("error "), line.constData());
            cut += line.startsWith("error ");
        }
    }
    QVERIFY(cut <= 1);
    // One from each single poll before.
    const int polled = requests - singleRuns;
    QVERIFY2(polled <= sent,
             qPrintable(QStringLiteral("%1 requests at the slave, %2 sent").arg(polled).arg(sent)));
    QVERIFY(polled >= good); // every poll answered right reached the slave
}

ORDAN_PRIVATE_NETWORK_MAIN(BridgeTest, QCoreApplication, "--addr", QLatin1String(siteCidr))

#include "tst_bridge.moc"

// ordan-cli bus held to what the line really did: one reply for one request.
// The simulated module (ordan-module-sim --network --bus PATH) runs as a
// process with its bus on a pseudo-terminal; on the bus sit a fault relay in
// front of a libmodbus slave, a bus played by this test, or devices nobody
// here wrote (libmodbus at address 7, python3-pymodbus). A flood comes from
// a module played by this test on the site's address.
//
// The module's address belongs to a site, so the whole program runs in a
// network namespace of its own (main() re-executes it through
// scripts/netns.sh with the address on lo); no packet leaves the machine.

#include "cliprocess.h"
#include "privatenetwork.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using cliprocess::Result;
using cliprocess::Simulator;

namespace
{

const char siteCidr[] = "10.20.0.31/24";
const char target[] = "10.20.0.31:502";

QString says(const Result &r)
{
    return QString::fromUtf8(r.out + r.err);
}

QJsonObject jsonOf(const Result &r)
{
    return QJsonDocument::fromJson(r.out).object();
}

QList<int> answered(const Result &r)
{
    QList<int> units;
    for (const QJsonValue unit : jsonOf(r).value("answered").toArray())
        units << unit.toInt();
    return units;
}

// The CRC of Modbus RTU, bit by bit: the test's own, not the engine's.
QByteArray withCrc(QByteArray frame)
{
    quint16 crc = 0xffff;
    for (const char byte : qAsConst(frame)) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xa001) : quint16(crc >> 1);
    }
    frame.append(char(crc & 0xff));
    frame.append(char(crc >> 8));
    return frame;
}

// A simulated module at the site's address, its bus at 19200 8E1 on the
// pseudo-terminal `bus` (or its own devices: `extra`), its packet time-out
// 10 ms.
std::unique_ptr<Simulator> moduleWith(const QStringList &extra)
{
    auto sim = std::make_unique<Simulator>(
        QStringList{"--network", "--set", "ip=10.20.0.31", "--set", "PORT TCP=502", "--set",
                    "timeout data=10", "--set", "SPEED RS485=19200", "--set", "parity=even"} +
        extra);
    QElapsedTimer clock;
    clock.start();
    while (!sim->trace.contains("listening") && clock.elapsed() < 10000) {
        sim->process.waitForReadyRead(100);
        sim->trace += sim->process.readAllStandardError();
    }
    return sim;
}

int openRaw(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return fd; // no terminal: used as it is
    ::cfmakeraw(&t);
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        qWarning("%s: its raw settings were refused", path.constData());
    return fd;
}

// Reads what comes within `ms`, until `size` bytes are there.
QByteArray readFor(int fd, int size, int ms)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < size && clock.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(qMax<qint64>(1, ms - clock.elapsed()))) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            bytes.append(buffer, int(n));
    }
    return bytes;
}

void writeAll(int fd, const QByteArray &bytes)
{
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += int(n);
        else
            ::usleep(500);
    }
}

// The bus behind the module, played in a thread of its own: each request
// the module puts on it (function 3: 8 bytes) is handed to `answer` with
// the pseudo-terminal to write the line's answer to.
class BusPlayer
{
public:
    using Answer = std::function<void(int fd, const QByteArray &request)>;

    BusPlayer(const QString &path, Answer answer) : answer(std::move(answer))
    {
        fd = openRaw(QFile::encodeName(path));
        if (fd >= 0)
            thread = std::thread([this] { run(); });
    }
    ~BusPlayer()
    {
        stopping = true;
        if (thread.joinable())
            thread.join();
        if (fd >= 0)
            ::close(fd);
    }
    BusPlayer(const BusPlayer &) = delete;
    BusPlayer &operator=(const BusPlayer &) = delete;
    bool isOpen() const { return fd >= 0; }

private:
    void run()
    {
        QByteArray pending;
        while (!stopping) {
            pending += readFor(fd, 8 - pending.size(), 20);
            if (pending.size() < 8)
                continue;
            const QByteArray request = pending.left(8);
            pending.remove(0, 8);
            answer(fd, request);
        }
    }

    Answer answer;
    int fd = -1;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// What the fault relay did to each reply, as the bus engine must count it.
struct RelayLog {
    int deviceSilent = 0; // the slave did not answer the relay: the test is void
    int requests = 0;
    int good = 0;
    int crcErrors = 0;
    int noReply = 0;
    int wrong = 0;
    int strayFrames = 0;
    int noiseBytes = 0;
    qint64 fastestMs = -1; // of a good reply, request taken to reply written
    qint64 slowestMs = 0;
};

// A pseudo-terminal pair whose far end a device program opens.
struct DevicePty {
    int fd = -1;
    QString path;
    DevicePty()
    {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
            return;
        path = QString::fromLocal8Bit(::ptsname(fd));
        termios t{};
        if (::tcgetattr(fd, &t) == 0) {
            ::cfmakeraw(&t);
            if (::tcsetattr(fd, TCSANOW, &t) != 0)
                qWarning("%s: its raw settings were refused", qPrintable(path));
        }
    }
    ~DevicePty()
    {
        if (fd >= 0)
            ::close(fd);
    }
    DevicePty(const DevicePty &) = delete;
    DevicePty &operator=(const DevicePty &) = delete;
};

// Starts a device program; true once it said "ready".
bool startDevice(QProcess *device, const QString &program, const QStringList &arguments)
{
    device->start(program, arguments);
    if (!device->waitForReadyRead(10000))
        return false;
    return device->readLine().trimmed() == "ready";
}

void stopDevice(QProcess *device)
{
    device->terminate();
    if (!device->waitForFinished(5000))
        device->kill();
}

// A module played on the site's address: it accepts one connection and
// floods it with frames of unit 99, about 20 MB/s, until it is closed.
class FloodModule
{
public:
    FloodModule()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        if (::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
            return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(502);
        ::inet_pton(AF_INET, "10.20.0.31", &address.sin_addr);
        listening = ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                    ::listen(listener, 1) == 0;
        if (listening)
            thread = std::thread([this] { run(); });
    }
    ~FloodModule()
    {
        stopping = true;
        ::shutdown(listener, SHUT_RDWR);
        if (thread.joinable())
            thread.join();
        ::close(listener);
    }
    FloodModule(const FloodModule &) = delete;
    FloodModule &operator=(const FloodModule &) = delete;

    bool listening = false;
    std::atomic<qint64> connectedMs{-1}; // on `clock`
    std::atomic<qint64> closedMs{-1};
    std::atomic<qint64> sentBytes{0};
    QElapsedTimer clock;

private:
    void run()
    {
        clock.start();
        pollfd p{listener, POLLIN, 0};
        while (!stopping && ::poll(&p, 1, 100) <= 0) {
        }
        if (stopping)
            return;
        const int peer = ::accept(listener, nullptr, nullptr);
        if (peer < 0)
            return;
        connectedMs = clock.elapsed();
        QByteArray chunk;
        const QByteArray frame = withCrc(QByteArray::fromHex("6303020001"));
        while (chunk.size() < 200 * 1024)
            chunk += frame;
        // 200 KB every 10 ms: 20 MB/s, as the peer takes it.
        while (!stopping) {
            const qint64 due = clock.elapsed() + 10;
            const ssize_t n = ::send(peer, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL);
            if (n < 0)
                break;
            sentBytes += n;
            while (clock.elapsed() < due)
                ::usleep(500);
        }
        closedMs = clock.elapsed();
        ::close(peer);
    }

    int listener = -1;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

} // namespace

class BusLineTest : public QObject
{
    Q_OBJECT

private slots:
    void faultRelay_data();
    void faultRelay();
    void deviceSlowerThanTimeout();
    void bytesOfNoFrame_data();
    void bytesOfNoFrame();
    void lastLineNamesFailure_data();
    void lastLineNamesFailure();
    void libmodbusSlaveAt7_data();
    void libmodbusSlaveAt7();
    void pymodbusServer();
    void floodOfOtherUnits();
    void gapBeforeEachRequest();
    void networkWordsAsReach_data();
    void networkWordsAsReach();
};

void BusLineTest::faultRelay_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::newRow("seed 1") << 1u;
    QTest::newRow("seed 2") << 2u;
    QTest::newRow("seed 3") << 3u;
}

// The fault relay between the module and a libmodbus slave: with a seed it
// delays, corrupts (the byte count included), duplicates, drops and answers
// wrong, and adds noise, and logs what it did. The report counts exactly
// that, and no reply faster than it came.
void BusLineTest::faultRelay()
{
    QFETCH(quint32, seed);
    const QString slavePath = QStringLiteral(ORDAN_MODBUS_SLAVE_PATH);
    if (slavePath.isEmpty())
        QSKIP("ordan-modbus-slave is not built: Debian's libmodbus-dev is missing");
    QTemporaryDir dir;
    const QString busPath = dir.filePath("ttyBUS");
    const auto module = moduleWith({"--bus", busPath});
    DevicePty device;
    QVERIFY(device.fd >= 0);
    QProcess slave;
    QVERIFY(startDevice(&slave, slavePath, {device.path}));

    RelayLog log;
    QRandomGenerator random(seed);
    const int deviceFd = device.fd;
    auto relay = std::make_unique<BusPlayer>(busPath, [&](int fd, const QByteArray &request) {
        QElapsedTimer took;
        took.start();
        writeAll(deviceFd, request);
        QByteArray reply = readFor(deviceFd, 7, 1000);
        if (reply.size() != 7) {
            ++log.deviceSilent;
            return;
        }
        const int n = log.requests++;
        // The first reply proves the device; the repeats meet the faults.
        const int fault = n == 0 ? 99 : int(random.bounded(100));
        bool good = true;
        if (fault < 4) { // a bit flipped, the byte count or CRC included
            const int at = 2 + int(random.bounded(5));
            reply[at] = char(reply.at(at) ^ (1 << random.bounded(8)));
            writeAll(fd, reply);
            ++log.crcErrors;
            good = false;
        } else if (fault < 6) { // dropped
            ++log.noReply;
            good = false;
        } else if (fault < 10) { // sent twice
            writeAll(fd, reply + reply);
            ++log.strayFrames;
        } else if (fault < 14) { // delayed, within the answer time-out
            ::usleep(1000 * (10 + random.bounded(70)));
            writeAll(fd, reply);
        } else if (fault < 17) { // noise after it: bytes no unit starts with
            QByteArray noise;
            for (int i = int(random.bounded(1, 17)); i > 0; --i)
                noise.append(char(0xf8 | random.bounded(8)));
            writeAll(fd, reply + noise);
            log.noiseBytes += noise.size();
        } else if (fault < 19) { // a well-formed frame of another function
            writeAll(fd, withCrc(QByteArray(1, reply.at(0)) + '\x04' + reply.mid(2, 3)));
            ++log.wrong;
            good = false;
        } else {
            writeAll(fd, reply);
        }
        if (good) {
            ++log.good;
            const qint64 ms = took.elapsed();
            log.fastestMs = log.fastestMs < 0 ? ms : qMin(log.fastestMs, ms);
            log.slowestMs = qMax(log.slowestMs, ms);
        }
    });
    QVERIFY(relay->isOpen());
    const Result r =
        cliprocess::runCli({"bus", target, "--ids", "1", "--repeat", "499", "--answer-timeout",
                            "1000", "--line-speed", "19200", "--min-quality", "0", "--json"},
                           300000);
    relay.reset();
    stopDevice(&slave);
    QVERIFY2(r.exitCode == 0, qPrintable(says(r)));
    QCOMPARE(log.deviceSilent, 0);
    const QJsonObject json = jsonOf(r);
    const QJsonObject quality = json.value("quality").toObject();
    const QJsonObject unit = json.value("units").toArray().at(0).toObject();
    const QString said = says(r);
    // Every count at once, so that a difference shows them all.
    const auto counts = [](int asked, int good, int crc, int none, int wrong, int late, int stray,
                           int noise) {
        return QStringLiteral("asked %1, good %2, CRC errors %3, no reply %4, wrong %5, late %6, "
                              "stray frames %7, noise bytes %8")
            .arg(asked)
            .arg(good)
            .arg(crc)
            .arg(none)
            .arg(wrong)
            .arg(late)
            .arg(stray)
            .arg(noise);
    };
    QCOMPARE(log.requests, 500);
    QCOMPARE(counts(quality["asked"].toInt(), quality["good"].toInt(),
                    quality["crc_errors"].toInt(), quality["no_reply"].toInt(),
                    quality["wrong_replies"].toInt(), quality["late"].toInt(),
                    unit["stray_frames"].toInt(), json["noise_bytes"].toInt()),
             counts(log.requests, log.good, log.crcErrors, log.noReply, log.wrong, 0,
                    log.strayFrames, log.noiseBytes));
    // No reply reported faster than it came.
    QVERIFY2(quality.value("min_ms").toInt() >= log.fastestMs, qPrintable(said));
    QVERIFY2(quality.value("max_ms").toInt() >= log.slowestMs, qPrintable(said));
}

// A device slower than the answer time-out: each request "no reply", none
// counted good, its replies stray once the next request went out.
void BusLineTest::deviceSlowerThanTimeout()
{
    const auto module = moduleWith({"--devices", "1@19200/8E1", "--device-delay", "130"});
    const Result r = cliprocess::runCli(
        {"bus", target, "--ids", "1,2", "--repeat", "20", "--answer-timeout", "100", "--json"});
    QVERIFY2(r.exitCode == 4, qPrintable(says(r)));
    QCOMPARE(answered(r), QList<int>());
    QVERIFY(jsonOf(r).value("quality").isNull());
    for (const QJsonValue u : jsonOf(r).value("units").toArray())
        QCOMPARE(u.toObject().value("result").toString(), QStringLiteral("nothing"));
}

void BusLineTest::bytesOfNoFrame_data()
{
    // The units the played bus answers with bytes of no frame, the
    // addresses asked, and the diagnosis.
    QTest::addColumn<QList<int>>("garbled");
    QTest::addColumn<QString>("ids");
    QTest::addColumn<QString>("diagnosis");
    QTest::newRow("only where devices are: other settings")
        << QList<int>{1, 2, 5} << "1-8"
        << "nothing answers, but bytes that are no valid frame answer 1, 2, 5: devices there at "
           "other settings than the module; try --find-settings";
    QTest::newRow("one address asked: both named")
        << QList<int>{1} << "1"
        << "nothing answers, but bytes arrive that are no valid frame: the bus runs at other "
           "settings than the module, or there is noise or another master on it";
}

void BusLineTest::bytesOfNoFrame()
{
    QFETCH(QList<int>, garbled);
    QFETCH(QString, ids);
    QFETCH(QString, diagnosis);
    QTemporaryDir dir;
    const QString busPath = dir.filePath("ttyBUS");
    const auto module = moduleWith({"--bus", busPath});
    BusPlayer bus(busPath, [&garbled](int fd, const QByteArray &request) {
        if (garbled.contains(quint8(request.at(0))))
            writeAll(fd, QByteArray::fromHex("fbfefcf9fffaf8"));
    });
    QVERIFY(bus.isOpen());
    const Result r =
        cliprocess::runCli({"bus", target, "--ids", ids, "--answer-timeout", "200", "--json"});
    QVERIFY2(r.exitCode == 4, qPrintable(says(r)));
    QVERIFY2(jsonOf(r).value("diagnosis").toString().startsWith(diagnosis), qPrintable(says(r)));
}

void BusLineTest::lastLineNamesFailure_data()
{
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("found") << QStringList{"--devices", "7@19200/8E1"} << QStringList{"--ids", "7"}
                           << 0 << "1 device answers: 7";
    QTest::newRow("an expected device missing")
        << QStringList{"--devices", "7@19200/8E1"} << QStringList{"--ids", "7,8", "--expect", "7,8"}
        << 6 << "8 expected, does not answer; 1 device answers: 7";
    QTest::newRow("under --min-quality")
        << QStringList{"--devices", "7@19200/8E1", "--crc-errors", "20", "--seed", "3"}
        << QStringList{"--ids", "7", "--repeat", "60", "--min-quality", "99"} << 6
        << "line quality %1 % under --min-quality 99 %; 1 device answers: 7";
}

// Exit 6: the last line names what failed.
void BusLineTest::lastLineNamesFailure()
{
    QFETCH(QStringList, sim);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, lastLine);
    const auto module = moduleWith(sim);
    const Result r = cliprocess::runCli(QStringList{"bus", target} + arguments);
    QVERIFY2(r.exitCode == exitCode, qPrintable(says(r)));
    const QString last = QString::fromUtf8(r.out).trimmed().split('\n').last();
    if (lastLine.contains("%1")) {
        const QRegularExpression quality(
            QRegularExpression::escape(lastLine).replace("\\%1", "[0-9]+(\\.[0-9])?"));
        QVERIFY2(quality.match(last).hasMatch(), qPrintable(says(r)));
    } else {
        QCOMPARE(last, lastLine);
    }
}

void BusLineTest::libmodbusSlaveAt7_data()
{
    // After a frame for another address a libmodbus slave waits up to its
    // 500 ms for that address's reply, and takes whatever comes meanwhile
    // for it: a request for itself is lost. Under 500 ms, 7 is missed and
    // the last line says why; above, it is found. (At 500 exactly the scan
    // and the slave's own 500 ms race: a busy machine decides.)
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastWords");
    QTest::newRow("200 ms: missed, and the hint")
        << "200" << 6
        << "many devices ignore the line for up to 500 ms after a frame for another address: try "
           "--answer-timeout 500";
    QTest::newRow("600 ms: found") << "600" << 0 << "1 device answers: 7";
}

// A libmodbus slave at address 7, not asked first.
void BusLineTest::libmodbusSlaveAt7()
{
    QFETCH(QString, timeout);
    QFETCH(int, exitCode);
    QFETCH(QString, lastWords);
    const QString slavePath = QStringLiteral(ORDAN_MODBUS_SLAVE_PATH);
    if (slavePath.isEmpty())
        QSKIP("ordan-modbus-slave is not built: Debian's libmodbus-dev is missing");
    QTemporaryDir dir;
    const QString bus = dir.filePath("ttyBUS");
    const auto module = moduleWith({"--bus", bus});
    QProcess slave;
    QVERIFY(startDevice(&slave, slavePath, {bus, "--unit", "7"}));
    const Result r =
        cliprocess::runCli({"bus", target, "--ids", "1-9", "--expect", "7", "--answer-timeout",
                            timeout, "--line-speed", "19200", "--json"});
    stopDevice(&slave);
    // What the slave took, to tell its timing from the scan's.
    const QString heard = QString::fromUtf8(slave.readAllStandardOutput());
    QVERIFY2(r.exitCode == exitCode, qPrintable(says(r) + heard));
    QVERIFY2(jsonOf(r).value("diagnosis").toString().endsWith(lastWords), qPrintable(says(r)));
}

// Debian's python3-pymodbus as the devices: 1 answers, 2 with exception 2,
// 5 with exception 1.
void BusLineTest::pymodbusServer()
{
    QProcess check;
    check.start("/usr/bin/python3", {"-c", "import pymodbus"});
    if (!check.waitForFinished(10000) || check.exitStatus() != QProcess::NormalExit ||
        check.exitCode() != 0)
        QSKIP("python3-pymodbus is not installed (scripts/install-deps.sh installs it)");
    QTemporaryDir dir;
    const QString bus = dir.filePath("ttyBUS");
    // 8N1: pyserial cannot set a parity twice on a pseudo-terminal.
    const auto module = moduleWith({"--set", "parity=none", "--bus", bus});
    QProcess server;
    QVERIFY(startDevice(&server, "/usr/bin/python3",
                        {QStringLiteral(ORDAN_PYMODBUS_SERVER), bus, "--parity", "N"}));
    const Result r = cliprocess::runCli(
        {"bus", target, "--ids", "1-6", "--answer-timeout", "500", "--json"}, 120000);
    stopDevice(&server);
    QVERIFY2(r.exitCode == 0, qPrintable(says(r)));
    QCOMPARE(answered(r), (QList<int>{1, 2, 5}));
    QMap<int, int> exceptions;
    for (const QJsonValue u : jsonOf(r).value("units").toArray())
        exceptions.insert(u["unit"].toInt(), u["exception"].toInt());
    QCOMPARE(exceptions.value(1), 0);
    QCOMPARE(exceptions.value(2), 2);
    QCOMPARE(exceptions.value(5), 1);
}

// 20 MB/s of another unit's frames: each is stray and costs no more than
// its bytes; the scan of 1-3 ends within 3 x (time-out + frame) + 1 s, and
// Ctrl-C stops a longer one at once.
void BusLineTest::floodOfOtherUnits()
{
    {
        FloodModule flood;
        QVERIFY(flood.listening);
        const Result r = cliprocess::runCli(
            {"bus", target, "--ids", "1-3", "--answer-timeout", "200", "--json"}, 30000);
        QVERIFY2(r.exitCode == 4, qPrintable(says(r)));
        QTRY_VERIFY_WITH_TIMEOUT(flood.closedMs >= 0, 5000);
        const qint64 took = flood.closedMs - flood.connectedMs;
        qInfo("the scan under a flood of %lld bytes took %lld ms", qint64(flood.sentBytes), took);
        // Frames at 9600: a request and a reply, about 17 ms.
        QVERIFY2(took <= 3 * (200 + 17) + 1000, qPrintable(QString::number(took)));
        QVERIFY(jsonOf(r).value("frames_aside").toInt() > 1000);
    }
    FloodModule flood;
    QProcess cli;
    cli.start(QStringLiteral(ORDAN_CLI_PATH), {"bus", target, "--answer-timeout", "200"});
    QTRY_VERIFY_WITH_TIMEOUT(flood.connectedMs >= 0, 10000);
    QTest::qWait(300);
    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(cli.processId()), SIGINT);
    QVERIFY(cli.waitForFinished(5000));
    qInfo("Ctrl-C under the flood: ended in %lld ms", stopping.elapsed());
    QCOMPARE(cli.exitCode(), 130);
    QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
}

// A reply at once from unit 1: between it and the next request on the bus
// there are at least 3.5 characters of the line (at 1200 baud, 32 ms).
void BusLineTest::gapBeforeEachRequest()
{
    QTemporaryDir dir;
    const QString busPath = dir.filePath("ttyBUS");
    const auto module = moduleWith({"--bus", busPath});
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> repliedAt{-1};
    std::atomic<qint64> shortest{1000000};
    std::atomic<int> requests{0};
    auto bus = std::make_unique<BusPlayer>(busPath, [&](int fd, const QByteArray &request) {
        const qint64 now = clock.elapsed();
        if (repliedAt >= 0)
            shortest = qMin<qint64>(shortest, now - repliedAt);
        ++requests;
        if (request.at(0) == 1) {
            writeAll(fd, withCrc(QByteArray::fromHex("01030203e8")));
            repliedAt = clock.elapsed();
        } else {
            repliedAt = -1;
        }
    });
    QVERIFY(bus->isOpen());
    const Result r = cliprocess::runCli(
        {"bus", target, "--ids", "1", "--repeat", "10", "--line-speed", "1200", "--json"});
    bus.reset();
    QVERIFY2(r.exitCode == 0, qPrintable(says(r)));
    QCOMPARE(int(requests), 11);
    qInfo("the shortest pause from a reply to the next request: %lld ms", qint64(shortest));
    // 3.5 characters of 11 bits at 1200 baud: 32.1 ms.
    QVERIFY2(shortest >= 32, qPrintable(QString::number(shortest)));
}

void BusLineTest::networkWordsAsReach_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("word");
    QTest::newRow("nothing listens") << "10.20.0.31:10001"
                                     << "refused";
    QTest::newRow("a blackhole route") << "10.99.0.5:502"
                                       << "unreachable";
    QTest::newRow("no route") << "10.30.0.7:502"
                              << "unreachable";
}

// bus and reach say one word for one network failure.
void BusLineTest::networkWordsAsReach()
{
    QFETCH(QString, target);
    QFETCH(QString, word);
    const Result reach = cliprocess::runCli({"reach", target, "--json"});
    QCOMPARE(jsonOf(reach).value("rows").toArray().at(0)["result"].toString(), word);
    const Result bus = cliprocess::runCli({"bus", target, "--ids", "1", "--json"});
    QVERIFY2(bus.exitCode == 4, qPrintable(says(bus)));
    QCOMPARE(jsonOf(bus).value("diagnosis").toString(),
             QStringLiteral("the module cannot be reached at %1: %2").arg(target, word));
}

ORDAN_PRIVATE_NETWORK_MAIN(BusLineTest, QCoreApplication, "--addr", QLatin1String(siteCidr),
                           "--route", "blackhole 10.99.0.0/24")
#include "tst_busline.moc"

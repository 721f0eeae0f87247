// Who may ask ordan-cli gateway, and what it says of itself: --allow (by
// address, read-only clients), TLS with client certificates (Debian's
// openssl and python3-pymodbus as the clients), the control socket behind
// `gateway status`, and what systemd is told (sd_notify). Simulated modules
// with devices on their bus, in a network namespace of its own (main()),
// where the clients come from addresses of the site's.
#include "cliprocess.h"
#include "gatewayharness.h"
#include "privatenetwork.h"

#include <QJsonArray>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>

using namespace gatewayharness;

namespace
{

const char siteA[] = "10.20.0.31";
const char listenAt[] = "127.0.0.1:1502";

// A plain client from `from`: read one register of unit 1, write one.
QByteArray readOne()
{
    return readRegisters(0, 1);
}
QByteArray writeOne()
{
    return QByteArray::fromHex("0600070011");
}

// Runs a program to its end: its exit code, its output and errors.
cliprocess::Result run(const QString &program, const QStringList &arguments,
                       const QByteArray &input = QByteArray(), int timeoutMs = 30000)
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    return cliprocess::finish(process, timeoutMs);
}

// A CA, the gateway's certificate and a client's it signed, and a client's
// signed by another CA, made by openssl in `dir` (EC keys: quick to make).
bool makeCertificates(const QString &openssl, const QString &dir)
{
    const auto path = [&dir](const char *file) { return dir + QLatin1Char('/') + file; };
    const QStringList ec{"-newkey", "ec",    "-pkeyopt", "ec_paramgen_curve:prime256v1",
                         "-nodes",  "-days", "2"};
    const auto selfSigned = [&](const char *name, const char *cn) {
        return run(openssl,
                   QStringList{"req", "-x509"} + ec +
                       QStringList{"-keyout", path(name) + ".key", "-out", path(name) + ".pem",
                                   "-subj", QStringLiteral("/CN=") + cn})
                   .exitCode == 0;
    };
    const auto signedBy = [&](const char *ca, const char *name, const char *cn) {
        return run(openssl,
                   QStringList{"req", "-x509"} + ec +
                       QStringList{"-CA", path(ca) + ".pem", "-CAkey", path(ca) + ".key", "-keyout",
                                   path(name) + ".key", "-out", path(name) + ".pem", "-subj",
                                   QStringLiteral("/CN=") + cn})
                   .exitCode == 0;
    };
    return selfSigned("ca", "site CA") && selfSigned("rogue-ca", "rogue CA") &&
           signedBy("ca", "gateway", "gateway") && signedBy("ca", "scada", "scada") &&
           signedBy("rogue-ca", "rogue", "rogue");
}

// pymodbus's TLS client (its asyncio one, Modbus TCP framing inside TLS)
// reading 5 holding registers of a unit: a "registers=..." line.
const char tlsReader[] = R"(import asyncio, ssl, sys
from pymodbus.client import AsyncModbusTlsClient
from pymodbus.framer.socket_framer import ModbusSocketFramer
host, port, ca, cert, key, unit = sys.argv[1:7]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
context.check_hostname = False
context.load_verify_locations(ca)
context.load_cert_chain(cert, key)
async def main():
    client = AsyncModbusTlsClient(host, port=int(port), framer=ModbusSocketFramer,
                                  sslctx=context, timeout=5, retries=0)
    await client.connect()
    reply = await client.read_holding_registers(0, 5, slave=int(unit))
    print(reply)
    print("registers=" + ",".join(str(r) for r in getattr(reply, "registers", [])))
asyncio.run(main())
)";

} // namespace

class GatewayAccessTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refused_data();
    void refused();
    void allowByAddress();
    void tlsClientCertificates();
    void statusThroughControlSocket();
    void runtimeFolderRefused_data();
    void runtimeFolderRefused();
    void tellsSystemd();

private:
    QTemporaryDir runtime;
    QString runtimeFolder;
};

void GatewayAccessTest::initTestCase()
{
    // The control sockets in a folder of this test's own: the gateways of
    // tests running beside it have the same names.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    runtimeFolder = runtime.filePath("ordan");
}

void GatewayAccessTest::refused_data()
{
    // DIR: a folder with the test's certificates, made only by rows that
    // need them.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    const QStringList gw{"10.20.0.31:502", "--listen", listenAt};
    QTest::newRow("--allow of no address")
        << gw + QStringList{"--allow", "plc-7"} << "--allow \"plc-7\": not an address";
    QTest::newRow("--allow 300.1.1.0/24")
        << gw + QStringList{"--allow", "300.1.1.0/24"} << "--allow \"300.1.1.0/24\": not an";
    QTest::newRow("--allow /33") << gw + QStringList{"--allow", "10.20.0.0/33"}
                                 << "the prefix length must be 0-32";
    QTest::newRow("--allow IPv6 /129")
        << gw + QStringList{"--allow", "fd00::/129:ro"} << "the prefix length must be 0-128";
    QTest::newRow("--allow host bits set")
        << gw + QStringList{"--allow", "10.20.0.31/16"}
        << "bits beyond its /16 set: the network is 10.20.0.0/16";
    QTest::newRow("--allow :rw") << gw + QStringList{"--allow", "10.20.0.0/16:rw"}
                                 << "--allow \"10.20.0.0/16:rw\": only \":ro\" may follow";
    QTest::newRow("--allow an address :rw") << gw + QStringList{"--allow", "10.20.0.66:rw"}
                                            << "--allow \"10.20.0.66:rw\": not an address";
    QTest::newRow("a network twice")
        << gw + QStringList{"--allow", "10.20.0.0/16", "--allow", "10.20.0.0/16:ro"}
        << "the network of --allow \"10.20.0.0/16\" again";
    QTest::newRow("TLS without its CA")
        << gw + QStringList{"--tls-cert", "DIR/gateway.pem", "--tls-key", "DIR/gateway.key"}
        << "TLS needs --tls-cert, --tls-key and --tls-ca together";
    QTest::newRow("a key that is not there")
        << gw + QStringList{"--tls-cert",   "DIR/gateway.pem", "--tls-key",
                            "DIR/none.key", "--tls-ca",        "DIR/ca.pem"}
        << "--tls-key DIR/none.key: cannot be read";
    QTest::newRow("a key for a certificate")
        << gw + QStringList{"--tls-cert",      "DIR/gateway.key", "--tls-key",
                            "DIR/gateway.key", "--tls-ca",        "DIR/ca.pem"}
        << "--tls-cert DIR/gateway.key: no certificate in it";
    QTest::newRow("a CA that is a key")
        << gw + QStringList{"--tls-cert",      "DIR/gateway.pem", "--tls-key",
                            "DIR/gateway.key", "--tls-ca",        "DIR/ca.key"}
        << "--tls-ca DIR/ca.key: no certificate in it";
    QTest::newRow("another certificate's key")
        << gw + QStringList{"--tls-cert",    "DIR/gateway.pem", "--tls-key",
                            "DIR/scada.key", "--tls-ca",        "DIR/ca.pem"}
        << "--tls-key DIR/scada.key is not the key of --tls-cert DIR/gateway.pem";
    QTest::newRow("a certificate as the key")
        << gw + QStringList{"--tls-cert",      "DIR/gateway.pem", "--tls-key",
                            "DIR/gateway.pem", "--tls-ca",        "DIR/ca.pem"}
        << "--tls-key DIR/gateway.pem: no private key in it";
    QTest::newRow("--name with a slash")
        << gw + QStringList{"--name", "a/b"} << "the gateway's name \"a/b\"";
    QTest::newRow("status with an option of the gateway's")
        << QStringList{"status", "--listen", "1502"} << "--listen does not go with gateway status";
    QTest::newRow("status of two names") << QStringList{"status", "a", "b"} << "one NAME at most";
}

// Each refused before anything listens: exit 2, the reason naming the
// option or the file.
void GatewayAccessTest::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    QTemporaryDir dir;
    if (arguments.join(' ').contains("DIR/")) {
        if (openssl.isEmpty())
            QSKIP("openssl is missing (scripts/install-deps.sh)");
        QVERIFY(makeCertificates(openssl, dir.path()));
    }
    arguments.replaceInStrings(QStringLiteral("DIR/"), dir.path() + QLatin1Char('/'));
    reason.replace(QStringLiteral("DIR/"), dir.path() + QLatin1Char('/'));
    const cliprocess::Result r = cliprocess::runCli(QStringList{"gateway"} + arguments, 10000);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
    QVERIFY(!r.err.contains("listening on"));
}

// --allow: a client from no network given is refused as it connects; the
// longest prefix decides; a read-only client's write is answered 0x01 and
// never reaches the bus, its reads pass; IPv6 and IPv4 (mapped, on a
// listener of every address) alike.
void GatewayAccessTest::allowByAddress()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@115200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", "1502", "--speed", "115200", "--parity",
                            "even", "--allow", "10.20.0.0/24", "--allow", "10.20.0.66:ro",
                            "--allow", "::1/128:ro"});
    QVERIFY2(gateway.ready(), gateway.err.constData());

    RawClient stranger(defaultPort, QHostAddress("127.0.0.1"));
    QVERIFY(waitFor([&] { return stranger.socket.state() == QAbstractSocket::UnconnectedState; },
                    5000));
    QVERIFY2(gateway.waitForErr("client 127.0.0.1:"), gateway.err.constData());
    QVERIFY2(gateway.waitForErr("refused: its address is in no --allow network"),
             gateway.err.constData());

    const QByteArray readAnswer = QByteArray::fromHex("0302") + QByteArray::fromHex("03e8");
    const QByteArray writeAnswer = writeOne();
    const struct {
        const char *from;
        QByteArray pdu;
        QByteArray answer;
    } rows[] = {
        {"10.20.0.77", readOne(), readAnswer},
        {"10.20.0.77", writeOne(), writeAnswer},
        {"10.20.0.66", readOne(), readAnswer},
        {"10.20.0.66", writeOne(), exceptionOf(6, 1)},
        {"10.20.0.66", QByteArray::fromHex("1000000001020001"), exceptionOf(0x10, 1)},
        {"10.20.0.66", QByteArray::fromHex("0800000000"), exceptionOf(8, 1)},
        {"10.20.0.66", QByteArray::fromHex("2b0d00"), exceptionOf(0x2b, 1)},
        {"10.20.0.66", QByteArray::fromHex("2b0e0100"), QByteArray::fromHex("2b0e01")},
        {"10.20.0.66", QByteArray::fromHex("41"), exceptionOf(0x41, 1)},
        {"::1", readOne(), readAnswer},
        {"::1", writeOne(), exceptionOf(6, 1)},
    };
    for (const auto &row : rows) {
        RawClient client(defaultPort, QHostAddress(QLatin1String(row.from)));
        QVERIFY2(client.connected(), row.from);
        const RawClient::Answer answer = client.ask(1, row.pdu);
        QVERIFY2(answer.pdu.startsWith(row.answer),
                 qPrintable(QStringLiteral("%1 %2: %3")
                                .arg(QLatin1String(row.from), QString::fromLatin1(row.pdu.toHex()),
                                     QString::fromLatin1(answer.pdu.toHex()))));
    }
    // Only the one write allowed reached the line; none of the refused did.
    QCOMPARE(module.heardFunction(6), 1);
    QCOMPARE(module.heardFunction(0x10), 0);
    QCOMPARE(module.heardFunction(8), 0);
    const QJsonObject status = gateway.status();
    QCOMPARE(status.value("clients_not_admitted").toInt(), 1);
    QCOMPARE(status.value("clients_accepted").toInt(), int(std::size(rows)));
}

// TLS: pymodbus's TLS client with a certificate the CA signed reads through
// the gateway; openssl's client without a certificate, with one of another
// CA, and a client without TLS are refused, counted and said.
void GatewayAccessTest::tlsClientCertificates()
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QString python =
        QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    if (openssl.isEmpty() || run(python, {"-c", "import pymodbus.client"}).exitCode != 0)
        QSKIP("openssl or python3-pymodbus is missing (scripts/install-deps.sh)");
    QTemporaryDir dir;
    QVERIFY(makeCertificates(openssl, dir.path()));
    const auto file = [&dir](const char *name) { return dir.filePath(QLatin1String(name)); };
    Module module(dir.path(), siteA, "1@115200/8E1");
    GatewayProcess gateway({"10.20.0.31:502", "--listen", "127.0.0.1:1802", "--speed", "115200",
                            "--parity", "even", "--tls-cert", file("gateway.pem"), "--tls-key",
                            file("gateway.key"), "--tls-ca", file("ca.pem"), "--client-timeout",
                            "1"});
    QVERIFY2(gateway.ready(), gateway.err.constData());
    QVERIFY(gateway.err.contains("TLS: clients need a certificate the CA signed"));

    writeFile(file("read.py"), tlsReader);
    const cliprocess::Result read =
        run(python, {file("read.py"), "127.0.0.1", "1802", file("ca.pem"), file("scada.pem"),
                     file("scada.key"), "1"});
    QVERIFY2(read.out.contains("registers=1000,1001,1002,1003,1004"),
             (read.out + read.err).constData());

    const QByteArray request = RawClient::frame(1, 1, readOne());
    const struct {
        const char *what;
        QStringList certificate;
        const char *reason;
    } refusals[] = {
        {"no certificate", {}, "The peer did not present any certificate"},
        {"another CA's", {"-cert", file("rogue.pem"), "-key", file("rogue.key")}, "TLS: "},
    };
    for (const auto &refusal : refusals) {
        const cliprocess::Result r = run(openssl,
                                         QStringList{"s_client", "-connect", "127.0.0.1:1802",
                                                     "-quiet", "-CAfile", file("ca.pem")} +
                                             refusal.certificate,
                                         request, 10000);
        QVERIFY2(!r.out.contains(QByteArray::fromHex("0302")), refusal.what);
    }
    QVERIFY2(gateway.waitForErr("refused: TLS: The peer did not present any certificate"),
             gateway.err.constData());
    RawClient plain(1802);
    QVERIFY(plain.connected());
    QVERIFY(plain.ask(1, readOne(), 3000).pdu.isEmpty());
    // A handshake begun and never finished is given up after --client-timeout.
    RawClient silent(1802);
    QVERIFY(silent.connected());
    QVERIFY(
        waitFor([&] { return silent.socket.state() == QAbstractSocket::UnconnectedState; }, 10000));

    const QJsonObject status = gateway.status();
    QCOMPARE(status.value("tls").toBool(), true);
    QCOMPARE(status.value("clients_accepted").toInt(), 1);
    QCOMPARE(status.value("clients_tls_refused").toInt(), 4);
    QCOMPARE(module.heardFunction(3), 1);
}

// gateway status [NAME] through the control socket: the counters in words,
// and with --json the object SIGUSR1 prints. Two gateways: each by its
// name, neither without one; a name that runs twice is refused.
void GatewayAccessTest::statusThroughControlSocket()
{
    QTemporaryDir dir;
    Module module(dir.path(), siteA, "1@115200/8E1");
    GatewayProcess site1({"10.20.0.31:502", "--listen", listenAt, "--speed", "115200", "--parity",
                          "even", "--name", "site1", "--allow", "127.0.0.0/8:ro"});
    QVERIFY2(site1.ready(), site1.err.constData());
    QVERIFY2(site1.err.contains(QStringLiteral("\"ordan-cli gateway status site1\" (control "
                                               "socket %1/gateway-site1.sock)")
                                    .arg(runtimeFolder)
                                    .toUtf8()),
             site1.err.constData());
    // One that connects to the control socket and says nothing holds up
    // nobody, and is closed in time.
    QLocalSocket silent;
    silent.connectToServer(runtimeFolder + QStringLiteral("/gateway-site1.sock"));
    QVERIFY(silent.waitForConnected(5000));
    RawClient client;
    QVERIFY(client.connected());
    QCOMPARE(client.ask(1, readOne()).pdu.size(), 4);
    QCOMPARE(client.ask(1, writeOne()).pdu, exceptionOf(6, 1));

    const cliprocess::Result words = cliprocess::runCli({"gateway", "status"});
    QCOMPARE(words.exitCode, 0);
    const QString text = QString::fromUtf8(words.out);
    for (const QString &expected :
         {QStringLiteral("gateway site1 (process %1)").arg(site1.process.processId()),
          QStringLiteral("listening on 127.0.0.1:1502"), QStringLiteral("clients: 1 connected"),
          QStringLiteral("read-only"), QStringLiteral("2 requests, 1 reply, exceptions 0x01 x1"),
          QStringLiteral("10.20.0.31:502 connected, 115200 8E1")})
        QVERIFY2(text.contains(expected), qPrintable(expected + QStringLiteral(" in:\n") + text));

    const cliprocess::Result json = cliprocess::runCli({"gateway", "status", "site1", "--json"});
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(json.out.count('\n'), 1);
    const QJsonObject asked = QJsonDocument::fromJson(json.out).object();
    const QJsonObject signalled = site1.status();
    QCOMPARE(asked.keys(), signalled.keys());
    for (const char *key : {"name", "pid", "listening", "clients_accepted", "tls"})
        QCOMPARE(asked.value(key), signalled.value(key));
    QCOMPARE(asked.value("clients").toArray().at(0).toObject().value("access").toString(),
             QStringLiteral("read-only"));

    GatewayProcess again({"10.20.0.31:502", "--listen", "127.0.0.1:1503", "--name", "site1"});
    QVERIFY(again.process.waitForFinished(10000));
    QCOMPARE(again.process.exitCode(), 3);
    QVERIFY(again.process.readAllStandardError().contains("another gateway named site1 runs"));

    GatewayProcess site2({"10.20.0.31:502", "--listen", "127.0.0.1:1503"});
    QVERIFY2(site2.waitForErr("listening on"), site2.err.constData());
    const cliprocess::Result both = cliprocess::runCli({"gateway", "status"});
    QCOMPARE(both.exitCode, 2);
    QVERIFY2(both.err.contains("2 gateways run (127.0.0.1-1503, site1): name one"),
             both.err.constData());
    QCOMPARE(cliprocess::runCli({"gateway", "status", "127.0.0.1-1503"}).exitCode, 0);
    const cliprocess::Result none = cliprocess::runCli({"gateway", "status", "site9"});
    QCOMPARE(none.exitCode, 3);
    QVERIFY2(none.err.contains(QStringLiteral("no gateway named site9 runs here for this user "
                                              "(looked in %1, /run/ordan-gateway)")
                                   .arg(runtimeFolder)
                                   .toUtf8()),
             none.err.constData());

    // Gone without closing it: the next gateway of that name takes it over.
    ::kill(pid_t(site2.process.processId()), SIGKILL);
    QVERIFY(site2.process.waitForFinished(5000));
    QVERIFY(QFile::exists(runtimeFolder + QStringLiteral("/gateway-127.0.0.1-1503.sock")));
    QCOMPARE(cliprocess::runCli({"gateway", "status", "127.0.0.1-1503"}).exitCode, 3);
    GatewayProcess site3({"10.20.0.31:502", "--listen", "127.0.0.1:1503"});
    QVERIFY2(site3.waitForErr("listening on"), site3.err.constData());
    QCOMPARE(cliprocess::runCli({"gateway", "status", "127.0.0.1-1503"}).exitCode, 0);
    QVERIFY(waitFor([&] { return silent.state() == QLocalSocket::UnconnectedState; }, 15000));
    // Stopped, it takes its socket with it.
    QCOMPARE(site3.stop(), 0);
    QVERIFY(!QFile::exists(runtimeFolder + QStringLiteral("/gateway-127.0.0.1-1503.sock")));
}

void GatewayAccessTest::runtimeFolderRefused_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("reason");
    QTest::newRow("another user's") << "chown 65534 ordan"
                                    << "the runtime folder FOLDER belongs to nobody, not to you";
    QTest::newRow("world-writable")
        << "chmod 0777 ordan"
        << "others may write into the runtime folder FOLDER (mode 0777)";
    QTest::newRow("group-writable")
        << "chmod 0770 ordan"
        << "others may write into the runtime folder FOLDER (mode 0770)";
    QTest::newRow("a symbolic link") << "rmdir ordan && ln -s /tmp ordan"
                                     << "the runtime folder FOLDER is a symbolic link";
}

// A runtime folder others could change is not used: the gateway stops
// before it serves anyone (exit 3), naming the folder and why.
void GatewayAccessTest::runtimeFolderRefused()
{
    QFETCH(QString, setUp);
    QFETCH(QString, reason);
    QTemporaryDir session;
    const QString folder = session.filePath("ordan");
    QVERIFY(QDir().mkdir(folder));
    QCOMPARE(run("sh", {"-c", "cd " + session.path() + " && " + setUp}).exitCode, 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", session.path());
    GatewayProcess gateway({"10.20.0.31:502", "--listen", listenAt}, environment);
    QVERIFY(gateway.process.waitForFinished(10000));
    QCOMPARE(gateway.process.exitCode(), 3);
    const QByteArray err = gateway.process.readAllStandardError();
    QVERIFY2(err.contains(reason.replace("FOLDER", folder).toUtf8()), err.constData());
    QVERIFY(QDir(folder).entryList(QDir::System | QDir::NoDotAndDotDot).isEmpty() ||
            setUp.contains("ln -s"));
}

// Under systemd (Type=notify): READY=1 once it listens, WATCHDOG=1 while
// WATCHDOG_USEC asks for it, RELOADING=1 and READY=1 around SIGHUP,
// STOPPING=1 at the end; all on the datagram socket of NOTIFY_SOCKET.
void GatewayAccessTest::tellsSystemd()
{
#ifndef ORDAN_HAVE_SD_NOTIFY
    QSKIP("built without libsystemd (scripts/install-deps.sh installs libsystemd-dev)");
#endif
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("notify"));
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    QVERIFY(listener >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
    QCOMPARE(::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    QStringList said;
    const auto heard = [&](const QString &what) {
        return waitFor(
            [&] {
                char datagram[4096];
                const ssize_t n = ::recv(listener, datagram, sizeof datagram, 0);
                if (n > 0)
                    said << QString::fromUtf8(datagram, int(n));
                return said.contains(what) ||
                       std::any_of(said.begin(), said.end(),
                                   [&](const QString &s) { return s.startsWith(what + '\n'); });
            },
            10000);
    };
    const QString plan = dir.filePath("plan.csv");
    writeFile(plan, "port,ip,tcp_port,bus_ids\n/dev/ttyA,10.20.0.31,502,1\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NOTIFY_SOCKET", QString::fromLocal8Bit(path));
    environment.insert("WATCHDOG_USEC", "200000");
    GatewayProcess gateway({"--plan", plan, "--listen", listenAt}, environment);
    QVERIFY2(heard("READY=1"), qPrintable(said.join('|')));
    QVERIFY(said.last().contains("STATUS=listening on 127.0.0.1:1502 for 1 module"));
    said.clear();
    QVERIFY2(heard("WATCHDOG=1"), qPrintable(said.join('|')));
    ::kill(pid_t(gateway.process.processId()), SIGHUP);
    QVERIFY2(heard("RELOADING=1"), qPrintable(said.join('|')));
    QVERIFY2(heard("READY=1"), qPrintable(said.join('|')));
    QCOMPARE(gateway.stop(), 0);
    QVERIFY2(heard("STOPPING=1"), qPrintable(said.join('|')));
    ::close(listener);
}

ORDAN_PRIVATE_NETWORK_MAIN(GatewayAccessTest, QCoreApplication, "--addr", "10.20.0.31/24", "--addr",
                           "10.20.0.66/24", "--addr", "10.20.0.77/24")

#include "tst_gatewayaccess.moc"

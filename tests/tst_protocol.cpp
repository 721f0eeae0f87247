// The console's rules, row by row: reply clean-up, where values stand, the
// choice lists, the write commands' bytes, the configuration check and the
// MAC rule.
#include "protocol/parameters.h"
#include "protocol/protocol.h"

#include <QtTest>

Q_DECLARE_METATYPE(ModuleField)

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanReply_data();
    void cleanReply();
    void writeCommandBytes_data();
    void writeCommandBytes();
    void configuration_data();
    void configuration();
    void mac_data();
    void mac();
};

void ProtocolTest::cleanReply_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("only CR LF") << QByteArray("\r\n") << QString();
    QTest::newRow("NUL cuts") << QByteArray("ab\0cd", 5) << QStringLiteral("ab");
    QTest::newRow("NUL first") << QByteArray("\0ok\r\n", 5) << QString();
    QTest::newRow("lines joined") << QByteArray("o\r\nk\r\n") << QStringLiteral("ok");
    QTest::newRow("CR and LF inside") << QByteArray("na\rme:\nX") << QStringLiteral("name:X");
    QTest::newRow("blanks kept") << QByteArray(" ok \r\n") << QStringLiteral(" ok ");
    QTest::newRow("UTF-8") << QByteArray("name:Модуль\r\n") << QStringLiteral("name:Модуль");
    QTest::newRow("bad UTF-8") << QByteArray("a\xff") << QStringLiteral("a\uFFFD");
    QTest::newRow("empty") << QByteArray() << QString();
}

void ProtocolTest::cleanReply()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(::cleanReply(bytes), text);
}

void ProtocolTest::writeCommandBytes_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ip") << writeCommand("CHANGE IP:", "192.168.0.10")
                        << QByteArray("CHANGE IP:192.168.0.10");
    QTest::newRow("empty field") << writeCommand("CHANGE IP:", "") << QByteArray("CHANGE IP:");
    QTest::newRow("blanks kept") << writeCommand("CHANGE MASK:", " 255 ")
                                 << QByteArray("CHANGE MASK: 255 ");
    QTest::newRow("outside Latin-1")
        << writeCommand("CHANGE GATEWAY:", "шлюз") << QByteArray("CHANGE GATEWAY:????");
    QTest::newRow("parity blank") << writeCommandForChoice("CHANGE PARITY:", ModuleField::Parity, 0)
                                  << QByteArray("CHANGE PARITY:");
    QTest::newRow("parity none") << writeCommandForChoice("CHANGE PARITY:", ModuleField::Parity, 1)
                                 << QByteArray("CHANGE PARITY:none");
    QTest::newRow("parity odd") << writeCommandForChoice("CHANGE PARITY:", ModuleField::Parity, 2)
                                << QByteArray("CHANGE PARITY:odd");
    QTest::newRow("parity even") << writeCommandForChoice("CHANGE PARITY:", ModuleField::Parity, 3)
                                 << QByteArray("CHANGE PARITY:even");
    QTest::newRow("parity none selected")
        << writeCommandForChoice("CHANGE PARITY:", ModuleField::Parity, -1)
        << QByteArray("CHANGE PARITY:");
    QTest::newRow("speed 1200") << writeCommandForChoice("CHANGE SPEED RS485:", ModuleField::Speed,
                                                         1)
                                << QByteArray("CHANGE SPEED RS485:1200");
    QTest::newRow("speed 256000") << writeCommandForChoice(
                                         "CHANGE SPEED RS485:", ModuleField::Speed, 10)
                                  << QByteArray("CHANGE SPEED RS485:256000");
    QTest::newRow("speed 11") << writeCommandForChoice("CHANGE SPEED RS485:", ModuleField::Speed,
                                                       11)
                              << QByteArray("CHANGE SPEED RS485:");
    QTest::newRow("stop 2") << writeCommandForChoice("CHANGE STOP BIT:", ModuleField::StopBit, 2)
                            << QByteArray("CHANGE STOP BIT:2");
    QTest::newRow("stop 3") << writeCommandForChoice("CHANGE STOP BIT:", ModuleField::StopBit, 3)
                            << QByteArray("CHANGE STOP BIT:");
}

void ProtocolTest::writeCommandBytes()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, bytes);
    QCOMPARE(command, bytes);
}

void ProtocolTest::configuration_data()
{
    // ip, mask, gateway ("" for not given) -> the problems found, "*" marking
    // the one --allow-foreign-gateway accepts.
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("problems");
    QTest::newRow("sound") << QStringList{"10.0.0.5", "255.255.255.0", "10.0.0.1"} << QStringList();
    QTest::newRow("no gateway") << QStringList{"10.0.0.5", "255.255.255.0", "0.0.0.0"}
                                << QStringList();
    QTest::newRow("foreign gateway")
        << QStringList{"10.0.0.5", "255.255.255.0", "10.0.1.1"} << QStringList{"*outside"};
    QTest::newRow("network address") << QStringList{"10.0.0.0", "255.255.255.0", ""}
                                     << QStringList{"network address of 10.0.0.0/24"};
    QTest::newRow("broadcast gateway") << QStringList{"10.0.0.5", "255.255.255.0", "10.0.0.255"}
                                       << QStringList{"broadcast address of 10.0.0.0/24"};
    QTest::newRow("/31 has no ends")
        << QStringList{"10.0.0.0", "255.255.255.254", "10.0.0.1"} << QStringList();
    QTest::newRow("address is gateway")
        << QStringList{"10.0.0.5", "", "10.0.0.5"} << QStringList{"also its gateway"};
    QTest::newRow("mask alone") << QStringList{"", "255.255.255.0", ""} << QStringList();
    QTest::newRow("leading zero: not looked at")
        << QStringList{"10.0.0.05", "255.255.255.0", "10.0.1.1"} << QStringList();
}

void ProtocolTest::configuration()
{
    QFETCH(QStringList, values);
    QFETCH(QStringList, problems);
    parameters::Values given;
    const ModuleField fields[] = {ModuleField::Ip, ModuleField::Mask, ModuleField::Gateway};
    for (int i = 0; i < 3; ++i) {
        if (!values.at(i).isEmpty())
            given.insert(fields[i], values.at(i));
    }
    const QList<parameters::ConfigProblem> found = parameters::checkConfiguration(given);
    QCOMPARE(found.size(), problems.size());
    for (int i = 0; i < found.size(); ++i) {
        QString expected = problems.at(i);
        const bool foreign = expected.startsWith('*');
        QVERIFY2(found.at(i).message.contains(expected.remove(0, foreign ? 1 : 0)),
                 qPrintable(found.at(i).message));
        QCOMPARE(found.at(i).foreignGateway, foreign);
    }
}

void ProtocolTest::mac_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("normal"); // empty: not a MAC that tells a module
    QTest::newRow("colons") << "00:1a:2B:3c:4D:5e"
                            << "00:1A:2B:3C:4D:5E";
    QTest::newRow("dashes") << "00-1A-2B-3C-4D-5E"
                            << "00:1A:2B:3C:4D:5E";
    QTest::newRow("mixed separators") << "00:1A-2B:3C:4D:5E" << QString();
    QTest::newRow("short") << "00:1A:2B:3C:4D" << QString();
    QTest::newRow("trailing blank") << "00:1A:2B:3C:4D:5E " << QString();
    QTest::newRow("not hex") << "00:1A:2B:3C:4D:5G" << QString();
    QTest::newRow("all zeros") << "00:00:00:00:00:00" << QString();
    QTest::newRow("all ones") << "FF:FF:FF:FF:FF:FF" << QString();
    QTest::newRow("empty") << "" << QString();
}

void ProtocolTest::mac()
{
    QFETCH(QString, answer);
    QFETCH(QString, normal);
    QCOMPARE(parameters::normalMac(answer), normal);
}

QTEST_APPLESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"

// The console's rules, row by row: reply clean-up, where values stand, the
// choice lists, acknowledgement judgement and the write's tick table.
#include "protocol/parameters.h"
#include "protocol/protocol.h"

#include <QtTest>

Q_DECLARE_METATYPE(ModuleField)
Q_DECLARE_METATYPE(AckVerdict)
Q_DECLARE_METATYPE(WriteAction)

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanReply_data();
    void cleanReply();
    void readoutAnswer_data();
    void readoutAnswer();
    void acknowledgement_data();
    void acknowledgement();
    void writeReplyByField_data();
    void writeReplyByField();
    void writeTicks_data();
    void writeTicks();
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

void ProtocolTest::readoutAnswer_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("applies");
    QTest::addColumn<ModuleField>("field");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    const auto text = [](const char *name, int step, const QString &reply, ModuleField field,
                         const QString &value) {
        QTest::newRow(name) << step << reply << true << field << !value.isEmpty() << value << -1;
    };
    const auto choice = [](const char *name, int step, const QString &reply, ModuleField field,
                           int position) {
        QTest::newRow(name) << step << reply << true << field << (position > 0) << QString()
                            << position;
    };
    text("name", 1, "name:Ordan-RS485-ETH", ModuleField::Name, "Ordan-RS485-ETH");
    text("name cut at 18", 1, "name:ABCDEFGHIJKLMNOPQRSTU", ModuleField::Name,
         "ABCDEFGHIJKLMNOPQR");
    text("name prefix not examined", 1, "xxxxxOK", ModuleField::Name, "OK");
    text("name outside Latin-1", 1, "name:Имя", ModuleField::Name, "???");
    text("name Latin-1 byte", 1, QStringLiteral("name:caf\u00e9"), ModuleField::Name,
         QStringLiteral("caf\uFFFD"));
    text("name too short", 1, "name:", ModuleField::Name, "");
    text("version", 2, "version:1.0.3", ModuleField::Version, "1.0.3");
    text("version cut at 10", 2, "version:1234567890123", ModuleField::Version, "1234567890");
    text("MAC", 3, "MAC:00:1A:2B:3C:4D:5E", ModuleField::Mac, "00:1A:2B:3C:4D:5E");
    text("ip", 4, "ip:192.168.0.10", ModuleField::Ip, "192.168.0.10");
    text("ip cut at 15", 4, "ip:192.168.100.1000", ModuleField::Ip, "192.168.100.100");
    text("ip too short", 4, "ip", ModuleField::Ip, "");
    text("mask", 5, "MASK:255.255.255.0", ModuleField::Mask, "255.255.255.0");
    text("gateway", 6, "GATEWAY:192.168.0.254", ModuleField::Gateway, "192.168.0.254");
    text("port", 7, "PORT TCP:502", ModuleField::PortTcp, "502");
    text("port cut at 6", 7, "PORT TCP:65535999", ModuleField::PortTcp, "655359");
    text("timeout", 11, "timeout data:1000", ModuleField::Timewait, "1000");
    text("timeout of five digits", 11, "timeout data:10000", ModuleField::Timewait, "10000");
    text("timeout cut at 5", 11, "timeout data:100000", ModuleField::Timewait, "10000");
    text("timeout missing", 11, "timeout data:", ModuleField::Timewait, "");
    choice("parity none", 8, "parity:none", ModuleField::Parity, 1);
    choice("parity odd", 8, "parity:odd", ModuleField::Parity, 2);
    choice("parity even", 8, "parity:even", ModuleField::Parity, 3);
    choice("parity odd then more", 8, "parity:odd!", ModuleField::Parity, -1);
    choice("parity capital", 8, "parity:None", ModuleField::Parity, -1);
    choice("parity too long cut", 8, "parity:evenx", ModuleField::Parity, 3);
    choice("parity too short", 8, "parity:", ModuleField::Parity, -1);
    choice("speed 1200", 9, "SPEED RS485:1200", ModuleField::Speed, 1);
    choice("speed 9600", 9, "SPEED RS485:9600", ModuleField::Speed, 4);
    choice("speed 115200", 9, "SPEED RS485:115200", ModuleField::Speed, 8);
    choice("speed 256000", 9, "SPEED RS485:256000", ModuleField::Speed, 10);
    choice("speed unknown", 9, "SPEED RS485:14400", ModuleField::Speed, -1);
    choice("speed with blank", 9, "SPEED RS485: 9600", ModuleField::Speed, -1);
    choice("stop 1", 10, "STOP BIT:1", ModuleField::StopBit, 1);
    choice("stop 2", 10, "STOP BIT:2", ModuleField::StopBit, 2);
    choice("stop 3", 10, "STOP BIT:3", ModuleField::StopBit, -1);
    choice("stop 1.5", 10, "STOP BIT:1.5", ModuleField::StopBit, -1);
    QTest::newRow("step 0") << 0 << "name:x" << false << ModuleField::Name << false << QString()
                            << -1;
    QTest::newRow("step 12") << 12 << "name:x" << false << ModuleField::Name << false << QString()
                             << -1;
}

void ProtocolTest::readoutAnswer()
{
    QFETCH(int, step);
    QFETCH(QString, reply);
    const ReadoutAnswer answer = interpretReadoutAnswer(step, reply);
    QTEST(answer.applies, "applies");
    if (!answer.applies)
        return;
    QTEST(answer.field, "field");
    QTEST(answer.valid, "valid");
    QTEST(answer.text, "text");
    if (isChoiceField(answer.field))
        QTEST(answer.position, "position");
}

void ProtocolTest::acknowledgement_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<AckVerdict>("verdict");
    QTest::addColumn<ModuleField>("field");
    QTest::addColumn<bool>("acknowledgesIp");
    QTest::addColumn<QString>("failureText");
    const QString spaced = QStringLiteral("<FONT COLOR='#800000'> Ошибка записи </FONT>");
    const QString tight = QStringLiteral("<FONT COLOR='#800000'>Ошибка записи </FONT>");
    const struct {
        int step;
        ModuleField field;
        QString failure;
    } rows[] = {
        {3, ModuleField::Ip, spaced},        {4, ModuleField::Ip, spaced},
        {5, ModuleField::Mask, spaced},      {6, ModuleField::Mask, spaced},
        {7, ModuleField::Gateway, spaced},   {8, ModuleField::Gateway, spaced},
        {9, ModuleField::PortTcp, tight},    {10, ModuleField::PortTcp, tight},
        {11, ModuleField::Parity, spaced},   {12, ModuleField::Parity, spaced},
        {13, ModuleField::Speed, spaced},    {14, ModuleField::Speed, spaced},
        {15, ModuleField::StopBit, tight},   {16, ModuleField::StopBit, tight},
        {17, ModuleField::Timewait, spaced}, {18, ModuleField::Timewait, spaced},
    };
    for (const auto &row : rows) {
        const bool ip = row.field == ModuleField::Ip;
        const bool timeout = row.field == ModuleField::Timewait;
        const QByteArray name = QByteArray::number(row.step);
        QTest::newRow(name + " ok")
            << row.step << "ok" << AckVerdict::Acknowledged << row.field << ip << row.failure;
        QTest::newRow(name + " OK")
            << row.step << "OK" << (timeout ? AckVerdict::Ignore : AckVerdict::Failed) << row.field
            << false << row.failure;
        QTest::newRow(name + " ok blank")
            << row.step << "ok " << (timeout ? AckVerdict::Ignore : AckVerdict::Failed) << row.field
            << false << row.failure;
        QTest::newRow(name + " ?")
            << row.step << "?" << AckVerdict::Failed << row.field << false << row.failure;
    }
    for (int step : {1, 2}) {
        const QByteArray name = "before IP " + QByteArray::number(step);
        QTest::newRow(name + " ok")
            << step << "ok" << AckVerdict::Ignore << ModuleField::Ip << false << QString();
        QTest::newRow(name + " other")
            << step << "name:x" << AckVerdict::Failed << ModuleField::Ip << false << spaced;
    }
    for (int step : {0, 19, 20}) {
        QTest::newRow(QByteArray::number(step) + " nothing")
            << step << "?" << AckVerdict::Ignore << ModuleField::Ip << false << QString();
    }
}

void ProtocolTest::acknowledgement()
{
    QFETCH(int, step);
    QFETCH(QString, reply);
    QFETCH(AckVerdict, verdict);
    const AckJudgement judgement = judgeAcknowledgement(step, reply);
    QCOMPARE(judgement.verdict, verdict);
    QTEST(judgement.acknowledgesIp, "acknowledgesIp");
    if (verdict == AckVerdict::Ignore)
        return;
    QTEST(judgement.field, "field");
    if (verdict == AckVerdict::Failed)
        QTEST(judgement.failureText, "failureText");
}

void ProtocolTest::writeReplyByField_data()
{
    QTest::addColumn<ModuleField>("field");
    QTest::addColumn<QString>("reply");
    for (ModuleField field : allModuleFields) {
        for (const char *reply : {"ok", "OK", "?", "", "name:x"}) {
            QTest::newRow(QByteArray::number(int(field)) + " \"" + reply + '"')
                << field << QString::fromLatin1(reply);
        }
    }
}

void ProtocolTest::writeReplyByField()
{
    // A field's reply is judged alike by the field and on the ticks of the
    // window's write that take it (the command's tick and the next).
    QFETCH(ModuleField, field);
    QFETCH(QString, reply);
    const AckJudgement byField = judgeWriteReply(field, reply);
    int sent = 0;
    for (int tick = 1; tick <= writeLastTick; ++tick) {
        const WriteTick t = writeTickAt(tick);
        if (t.action == WriteAction::Send && t.field == field)
            sent = tick;
    }
    if (sent == 0) {
        QVERIFY(isInformationField(field));
        QCOMPARE(byField.verdict, AckVerdict::Ignore);
        return;
    }
    for (int step : {sent, sent + 1}) {
        const AckJudgement byTick = judgeAcknowledgement(step, reply);
        QCOMPARE(byField.verdict, byTick.verdict);
        QCOMPARE(byField.field, byTick.field);
        QCOMPARE(byField.acknowledgesIp, byTick.acknowledgesIp);
        QCOMPARE(byField.failureText, byTick.failureText);
    }
}

void ProtocolTest::writeTicks_data()
{
    QTest::addColumn<int>("tick");
    QTest::addColumn<WriteAction>("action");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QByteArray>("replyTrace");
    QTest::addColumn<QByteArray>("commandTrace");
    QTest::addColumn<bool>("traceCommand");
    const auto row = [](int tick, WriteAction action, const char *prefix,
                        const char *replyTrace = "", const char *commandTrace = "",
                        bool traceCommand = false) {
        QTest::newRow(QByteArray::number(tick).constData())
            << tick << action << QByteArray(prefix) << QByteArray(replyTrace)
            << QByteArray(commandTrace) << traceCommand;
    };
    row(0, WriteAction::Nothing, "");
    row(1, WriteAction::Nothing, "", "case_1");
    row(2, WriteAction::Nothing, "");
    row(3, WriteAction::Send, "CHANGE IP:", "case_3", "change ip---", true);
    row(4, WriteAction::CheckAcknowledgement, "", "case_2");
    row(5, WriteAction::Send, "CHANGE MASK:", "", "change mask---", true);
    row(6, WriteAction::Nothing, "");
    row(7, WriteAction::Send, "CHANGE GATEWAY:");
    row(8, WriteAction::Nothing, "");
    row(9, WriteAction::Send, "CHANGE PORT TCP:", "", "", true);
    row(10, WriteAction::Nothing, "");
    row(11, WriteAction::Send, "CHANGE PARITY:");
    row(12, WriteAction::Nothing, "");
    row(13, WriteAction::Send, "CHANGE SPEED RS485:", "", "", true);
    row(14, WriteAction::Nothing, "");
    row(15, WriteAction::Send, "CHANGE STOP BIT:");
    row(16, WriteAction::Nothing, "");
    row(17, WriteAction::Send, "change timeout data:");
    row(18, WriteAction::Nothing, "");
    row(19, WriteAction::Finish, "reset");
    row(20, WriteAction::Nothing, "");
}

void ProtocolTest::writeTicks()
{
    QFETCH(int, tick);
    const WriteTick t = writeTickAt(tick);
    QTEST(t.action, "action");
    QTEST(QByteArray(t.prefix ? t.prefix : ""), "prefix");
    QTEST(QByteArray(t.replyTrace ? t.replyTrace : ""), "replyTrace");
    QTEST(QByteArray(t.commandTrace ? t.commandTrace : ""), "commandTrace");
    QTEST(t.traceCommand, "traceCommand");
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

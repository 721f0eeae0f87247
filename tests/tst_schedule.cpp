// The window's timed sequences over the module's tables, tick by tick: the
// read-out's answers, the write's acknowledgement judgement (lenient on the
// time-out command) and its tick table.
#include "window/schedule.h"

#include <QtTest>

Q_DECLARE_METATYPE(ModuleField)
Q_DECLARE_METATYPE(AckVerdict)
Q_DECLARE_METATYPE(WriteAction)

class ScheduleTest : public QObject
{
    Q_OBJECT

private slots:
    void readoutAnswer_data();
    void readoutAnswer();
    void acknowledgement_data();
    void acknowledgement();
    void writeReplyByField_data();
    void writeReplyByField();
    void writeTicks_data();
    void writeTicks();
};

void ScheduleTest::readoutAnswer_data()
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

void ScheduleTest::readoutAnswer()
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

void ScheduleTest::acknowledgement_data()
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

void ScheduleTest::acknowledgement()
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

void ScheduleTest::writeReplyByField_data()
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

void ScheduleTest::writeReplyByField()
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

void ScheduleTest::writeTicks_data()
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

void ScheduleTest::writeTicks()
{
    QFETCH(int, tick);
    const WriteTick t = writeTickAt(tick);
    QTEST(t.action, "action");
    QTEST(QByteArray(t.prefix ? t.prefix : ""), "prefix");
    QTEST(QByteArray(t.replyTrace ? t.replyTrace : ""), "replyTrace");
    QTEST(QByteArray(t.commandTrace ? t.commandTrace : ""), "commandTrace");
    QTEST(t.traceCommand, "traceCommand");
}

QTEST_GUILESS_MAIN(ScheduleTest)
#include "tst_schedule.moc"

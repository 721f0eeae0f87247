// Untrusted text on its way to a terminal, a record cell or a log line; the
// rules its values must follow before they are sent to a module.
#include "engine/commission/commissionrecord.h"
#include "engine/platform/textsafety.h"
#include "engine/platform/tracelog.h"
#include "protocol/parameters.h"

#include <QRegularExpression>
#include <QtTest>

class TextSafetyTest : public QObject
{
    Q_OBJECT

private slots:
    void escapes_data();
    void escapes();
    void timestampHasMillisecondsAndOffset();
    void valueRules_data();
    void valueRules();
};

void TextSafetyTest::escapes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("cell");

    QTest::newRow("plain") << "Ordan-RS485"
                           << "Ordan-RS485"
                           << "Ordan-RS485";
    QTest::newRow("letters kept") << "Модуль é"
                                  << "Модуль é"
                                  << "Модуль é";
    QTest::newRow("OSC") << "\x1b]0;t\x07"
                         << "\\x1b]0;t\\x07"
                         << "\\x1b]0;t\\x07";
    QTest::newRow("CR LF tab") << "a\r\n\tb"
                               << "a\\r\\n\\tb"
                               << "a\\r\\n\\tb";
    QTest::newRow("DEL and C1") << QString::fromUtf8("a\x7f\xc2\x9b") << "a\\x7f\\x9b"
                                << "a\\x7f\\x9b";
    QTest::newRow("backslash") << "a\\x1b"
                               << "a\\\\x1b"
                               << "a\\\\x1b";
    QTest::newRow("right-to-left override") << QString::fromUtf8("a\u202Eb") << "a\\u202eb"
                                            << "a\\u202eb";
    QTest::newRow("isolates") << QString::fromUtf8("\u2066a\u2069\u202A")
                              << "\\u2066a\\u2069\\u202a"
                              << "\\u2066a\\u2069\\u202a";
    QTest::newRow("formula =") << "=1+2"
                               << "=1+2"
                               << "'=1+2";
    QTest::newRow("formula +") << "+1"
                               << "+1"
                               << "'+1";
    QTest::newRow("formula -") << "-1"
                               << "-1"
                               << "'-1";
    QTest::newRow("formula @") << "@SUM(A1)"
                               << "@SUM(A1)"
                               << "'@SUM(A1)";
    QTest::newRow("leading tab") << "\t=1"
                                 << "\\t=1"
                                 << "'\\t=1";
    QTest::newRow("leading CR") << "\r=1"
                                << "\\r=1"
                                << "'\\r=1";
    QTest::newRow("separator") << "a,b"
                               << "a,b"
                               << "\"a,b\"";
    QTest::newRow("quote") << "a\"b"
                           << "a\"b"
                           << "\"a\"\"b\"";
    QTest::newRow("formula, quoted") << "=a,b"
                                     << "=a,b"
                                     << "\"'=a,b\"";
}

void TextSafetyTest::escapes()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QString, cell);
    QCOMPARE(textsafety::escapeControls(text), shown);
    QCOMPARE(textsafety::csvCell(text), cell);
    // The trace of raw bytes: every byte outside printable ASCII escaped.
    const QByteArray bytes = textsafety::escapeBytes(text.toUtf8());
    for (const char c : bytes)
        QVERIFY(c >= 0x20 && c < 0x7f);
}

void TextSafetyTest::timestampHasMillisecondsAndOffset()
{
    const QRegularExpression iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)");
    QVERIFY2(iso.match(TraceLog::timestamp()).hasMatch(), qPrintable(TraceLog::timestamp()));
    QCOMPARE(commissionrecord::header(),
             QStringLiteral("time,port,name,version,mac,ip,mask,gateway,tcp_port,parity,speed,"
                            "stop_bits,packet_timeout,result,row,planned,bus"));
}

void TextSafetyTest::valueRules_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("sound");

    const auto row = [](const char *tag, ModuleField f, const char *value, bool sound) {
        QTest::newRow(tag) << int(f) << QString::fromLatin1(value) << sound;
    };
    row("ip", ModuleField::Ip, "192.168.0.10", true);
    row("ip 256", ModuleField::Ip, "192.168.0.256", false);
    row("ip three parts", ModuleField::Ip, "192.168.0", false);
    row("ip blank", ModuleField::Ip, " 10.0.0.1", false);
    row("ip sign", ModuleField::Ip, "+10.0.0.1", false);
    row("mask /24", ModuleField::Mask, "255.255.255.0", true);
    row("mask /0", ModuleField::Mask, "0.0.0.0", true);
    row("mask /32", ModuleField::Mask, "255.255.255.255", true);
    row("mask holes", ModuleField::Mask, "255.0.255.0", false);
    row("port 23", ModuleField::PortTcp, "23", true);
    row("port 502", ModuleField::PortTcp, "502", true);
    row("port 10000", ModuleField::PortTcp, "10000", true);
    row("port 65535", ModuleField::PortTcp, "65535", true);
    row("port 9999", ModuleField::PortTcp, "9999", false);
    row("port 65536", ModuleField::PortTcp, "65536", false);
    row("time-out 1", ModuleField::Timewait, "1", true);
    row("time-out 10000", ModuleField::Timewait, "10000", true);
    row("time-out 0", ModuleField::Timewait, "0", false);
    row("time-out 10001", ModuleField::Timewait, "10001", false);
    row("speed 115200", ModuleField::Speed, "115200", true);
    row("speed 14400", ModuleField::Speed, "14400", false);
    row("parity even", ModuleField::Parity, "even", true);
    row("parity EVEN", ModuleField::Parity, "EVEN", false);
    row("stop bits 2", ModuleField::StopBit, "2", true);
    row("stop bits 3", ModuleField::StopBit, "3", false);
}

void TextSafetyTest::valueRules()
{
    QFETCH(int, field);
    QFETCH(QString, value);
    QFETCH(bool, sound);
    QCOMPARE(parameters::checkValue(ModuleField(field), value).isEmpty(), sound);
}

QTEST_GUILESS_MAIN(TextSafetyTest)
#include "tst_textsafety.moc"

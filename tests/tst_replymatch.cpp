// One reply for one request, against known answers: the frames are those a
// libmodbus 3.1.6 master writes and a libmodbus slave answers (and the
// examples the Modbus documents publish), their CRCs as those programs
// computed them, never by the CRC function under test.

#include "engine/bus/replymatch.h"
#include "engine/bus/rtuframe.h"

#include <QtTest>

namespace
{

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A libmodbus master's requests.
const char *const hr17x3 = "1103006b00037687";     // unit 17, holding 0x6b, 3 registers
const char *const coils17x37 = "1101001300250e84"; // unit 17, coils 0x13, 37
const char *const writeReg1 = "010600010003980b";  // unit 1, register 1 := 3
const char *const reportId17 = "1111cdec";         // unit 17, report server id
// A libmodbus slave's replies to them.
const char *const hr17x3Reply = "1103066b076c076d07906d";
const char *const coils17x37Reply = "11010524499224098cee";
const char *const reportId17Reply = "11110ab4ff4c4d42332e312e36763e";
const char *const exception2 = "118302c134"; // unit 17, function 3, code 2

// "kind unit size ms exception" for one event; ms -1 for stray.
QString describe(const ReplyMatch::Event &e)
{
    static const char *const kinds[] = {"reply", "crcerror", "wrong", "noreply", "late", "stray"};
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(QLatin1String(kinds[int(e.kind)]))
        .arg(e.unit)
        .arg(e.size)
        .arg(e.ms)
        .arg(e.exceptionCode());
}

// Runs a script of steps: "send@MS:HEX" (begin), "MS:HEX" (bytes that
// came), "up@MS" (the time is up); with `byByte`, every chunk a byte at a
// time. The events, "; " between them.
QString run(const QString &script, bool byByte = false)
{
    ReplyMatch match;
    QStringList said;
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step.startsWith(QLatin1String("up@"))) {
            match.timeUp(step.mid(3).toLongLong());
        } else if (step.startsWith(QLatin1String("send@"))) {
            const QStringList parts = step.mid(5).split(QLatin1Char(':'));
            match.begin(QByteArray::fromHex(parts.at(1).toLatin1()), parts.at(0).toLongLong());
        } else {
            const QStringList parts = step.split(QLatin1Char(':'));
            const QByteArray bytes = QByteArray::fromHex(parts.at(1).toLatin1());
            const qint64 at = parts.at(0).toLongLong();
            if (byByte) {
                for (char byte : bytes)
                    match.feed(&byte, 1, at);
            } else {
                match.feed(bytes, at);
            }
        }
        ReplyMatch::Event e;
        while (match.next(&e))
            said << describe(e);
    }
    return said.join(QLatin1String("; "));
}

} // namespace

class ReplyMatchTest : public QObject
{
    Q_OBJECT

private slots:
    void crcKnownAnswers_data();
    void crcKnownAnswers();
    void expectedLength_data();
    void expectedLength();
    void matches_data();
    void matches();
    void floodIsCountedNotKept();
};

void ReplyMatchTest::crcKnownAnswers_data()
{
    QTest::addColumn<QByteArray>("frame");
    // The Modbus documents' examples, as libmodbus writes them too.
    QTest::newRow("read holding 17") << hex(hr17x3);
    QTest::newRow("read 10 holding 1") << hex("01030000000ac5cd");
    QTest::newRow("read input 1") << hex("01040000000131ca");
    QTest::newRow("write register 1") << hex(writeReg1);
    QTest::newRow("write coil 17") << hex("110500acff004e8b");
    QTest::newRow("read coils 17") << hex(coils17x37);
    QTest::newRow("read inputs 7") << hex("070200c40016b85f");
    QTest::newRow("write registers 17") << hex("11100001000204000a0102c6f0");
    QTest::newRow("write coils 17") << hex("110f0013000a02cd01bf0b");
    QTest::newRow("read 125 holding 247") << hex("f7030000007d917d");
    QTest::newRow("report id 1") << hex("0111c02c");
    QTest::newRow("write and read 1") << hex("0117000000020003000102000a948f");
    QTest::newRow("reply: registers") << hex(hr17x3Reply);
    QTest::newRow("reply: coils") << hex(coils17x37Reply);
    QTest::newRow("reply: an input") << hex("110402000078f3");
    QTest::newRow("reply: registers written") << hex("1110000100021298");
    QTest::newRow("reply: coils written") << hex("110f0013000a2699");
    QTest::newRow("reply: server id") << hex(reportId17Reply);
    QTest::newRow("reply: exception 2") << hex(exception2);
}

void ReplyMatchTest::crcKnownAnswers()
{
    QFETCH(QByteArray, frame);
    const quint16 given =
        quint16(quint8(frame.at(frame.size() - 2)) | quint8(frame.at(frame.size() - 1)) << 8);
    QCOMPARE(rtuframe::crc16(frame.constData(), frame.size() - 2), given);
    QVERIFY(rtuframe::hasRightCrc(frame.constData(), frame.size()));
    // The whole frame's CRC, its own included, is 0: the check a slave makes.
    QCOMPARE(rtuframe::crc16(frame), quint16(0));
    QByteArray bad = frame;
    bad[2] = char(bad.at(2) ^ 0x10);
    QVERIFY(!rtuframe::hasRightCrc(bad.constData(), bad.size()));
}

void ReplyMatchTest::expectedLength_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("length");
    // Each against the length of libmodbus's reply where there is one.
    QTest::newRow("3 registers") << hex(hr17x3) << int(hex(hr17x3Reply).size());
    QTest::newRow("37 coils") << hex(coils17x37) << int(hex(coils17x37Reply).size());
    QTest::newRow("1 input register") << hex("110400000001335a") << 7;
    QTest::newRow("22 inputs") << hex("070200c40016b85f") << 8;
    QTest::newRow("125 registers") << hex("f7030000007d917d") << 255;
    QTest::newRow("write register: echo") << hex(writeReg1) << 8;
    QTest::newRow("write coil: echo") << hex("110500acff004e8b") << 8;
    QTest::newRow("write registers")
        << hex("11100001000204000a0102c6f0") << int(hex("1110000100021298").size());
    QTest::newRow("write coils") << hex("110f0013000a02cd01bf0b") << 8;
    QTest::newRow("report id: by CRC") << hex(reportId17) << 0;
    QTest::newRow("write and read: by CRC") << hex("0117000000020003000102000a948f") << 0;
    QTest::newRow("diagnostics: by CRC") << hex("110800000000e29b") << 0;
    QTest::newRow("a vendor's 0x41: by CRC") << hex("1141000000cc3f") << 0;
    QTest::newRow("no quantity") << hex("110300000000") << 0;
    QTest::newRow("more than a frame holds") << hex("11030000007e") << 0;
    QTest::newRow("too short") << hex("1103") << 0;
}

void ReplyMatchTest::expectedLength()
{
    QFETCH(QByteArray, request);
    QFETCH(int, length);
    QCOMPARE(rtuframe::expectedReplyLength(request), length);
}

void ReplyMatchTest::matches_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("events");
    // Fed a byte at a time, the events are the same unless a row says.
    QTest::addColumn<QString>("byByte");
    const auto s = [](const char *text) { return QString::fromLatin1(text); };
    const auto arg = [](const char *text, std::initializer_list<const char *> frames) {
        QString out = QString::fromLatin1(text);
        for (const char *frame : frames)
            out = out.arg(QLatin1String(frame));
        return out;
    };
    QTest::newRow("a reply") << arg("send@0:%1 12:%2", {hr17x3, hr17x3Reply})
                             << s("reply 17 11 12 0") << s("reply 17 11 12 0");
    QTest::newRow("a reply in pieces") << s("send@0:1103006b00037687 5:1103066b07 9:6c076d07906d")
                                       << s("reply 17 11 9 0") << s("reply 17 11 9 0");
    QTest::newRow("coils") << arg("send@0:%1 4:%2", {coils17x37, coils17x37Reply})
                           << s("reply 17 10 4 0") << s("reply 17 10 4 0");
    QTest::newRow("an exception") << arg("send@0:%1 3:%2", {hr17x3, exception2})
                                  << s("reply 17 5 3 2") << s("reply 17 5 3 2");
    QTest::newRow("ends at its CRC") << arg("send@0:%1 6:%2", {reportId17, reportId17Reply})
                                     << s("reply 17 15 6 0") << s("reply 17 15 6 0");
    QTest::newRow("an echo") << s("send@0:010600010003980b 2:010600010003980b")
                             << s("reply 1 8 2 0") << s("reply 1 8 2 0");
    // What was waiting before the request is never its answer.
    QTest::newRow("an earlier reply waiting")
        << arg("0:%2 send@1:%1 up@101", {hr17x3, hr17x3Reply})
        << s("stray 17 11 -1 0; noreply 17 0 100 0") << s("stray 17 11 -1 0; noreply 17 0 100 0");
    QTest::newRow("late, then the next request")
        << arg("send@0:%1 up@100 158:%2 send@160:%1 318:%2", {hr17x3, hr17x3Reply})
        << s("noreply 17 0 100 0; late 17 11 158 0; reply 17 11 158 0")
        << s("noreply 17 0 100 0; late 17 11 158 0; reply 17 11 158 0");
    QTest::newRow("a late exception keeps its code")
        << arg("send@0:%1 up@100 150:%2", {hr17x3, exception2})
        << s("noreply 17 0 100 0; late 17 5 150 2") << s("noreply 17 0 100 0; late 17 5 150 2");
    QTest::newRow("late only until the next request")
        << arg("send@0:%1 up@100 send@120:%2 130:%3", {hr17x3, writeReg1, hr17x3Reply})
        << s("noreply 17 0 100 0; stray 17 11 -1 0") << s("noreply 17 0 100 0; stray 17 11 -1 0");
    QTest::newRow("late once: a second copy is stray")
        << arg("send@0:%1 up@100 150:%2%2", {hr17x3, hr17x3Reply})
        << s("noreply 17 0 100 0; late 17 11 150 0; stray 17 11 -1 0")
        << s("noreply 17 0 100 0; late 17 11 150 0; stray 17 11 -1 0");
    QTest::newRow("a duplicate after the reply")
        << arg("send@0:%1 20:%2%2", {hr17x3, hr17x3Reply})
        << s("reply 17 11 20 0; stray 17 11 -1 0") << s("reply 17 11 20 0; stray 17 11 -1 0");
    // The byte count corrupted (06 -> 16): the length comes from the request.
    QTest::newRow("a corrupted byte count")
        << s("send@0:1103006b00037687 20:1103166b076c076d07906d") << s("crcerror 17 11 20 0")
        << s("crcerror 17 11 20 0");
    QTest::newRow("a corrupted register") << s("send@0:1103006b00037687 20:1103066b076c076d17906d")
                                          << s("crcerror 17 11 20 0") << s("crcerror 17 11 20 0");
    QTest::newRow("byte count lowered: still a CRC error")
        << s("send@0:1103006b00037687 20:1103026b076c076d07906d") << s("crcerror 17 11 20 0")
        << s("crcerror 17 11 20 0");
    QTest::newRow("a byte count not asked: wrong reply")
        << s("send@0:1103006b00037687 20:11030200073845") << s("wrong 17 7 20 0")
        << s("wrong 17 7 20 0");
    QTest::newRow("a longer frame, whole: wrong reply")
        << s("send@0:1103006b00037687 20:110316000102030405060708090a0b0c0d0e0f10111213141544be")
        << s("wrong 17 27 20 0")
        << s("crcerror 17 11 20 0; stray 0 1 -1 0; stray 0 1 -1 0; stray 0 1 -1 0");
    QTest::newRow("another function: wrong reply") << s("send@0:1103006b00037687 20:110402000078f3")
                                                   << s("wrong 17 7 20 0") << s("wrong 17 7 20 0");
    QTest::newRow("an echo of another address") << s("send@0:010600010003980b 20:010600020003680b")
                                                << s("wrong 1 8 20 0") << s("wrong 1 8 20 0");
    QTest::newRow("noise before the reply") << arg("send@0:%1 12:f9fafb%2", {hr17x3, hr17x3Reply})
                                            << s("stray 0 3 -1 0; reply 17 11 12 0") << QString();
    QTest::newRow("another unit's frame meanwhile")
        << arg("send@0:%1 5:01030200017984 12:%2", {hr17x3, hr17x3Reply})
        << s("stray 1 7 -1 0; reply 17 11 12 0") << s("stray 1 7 -1 0; reply 17 11 12 0");
    QTest::newRow("a frame that may still come does not hide the reply")
        << arg("send@0:%1 12:0503fa%2", {hr17x3, hr17x3Reply})
        << s("stray 0 3 -1 0; reply 17 11 12 0") << s("stray 0 3 -1 0; reply 17 11 12 0");
    QTest::newRow("begun, not ended at the time-out")
        << arg("send@0:%1 40:1103066b07 up@100 130:6c076d07906d send@200:%2", {hr17x3, writeReg1})
        << s("crcerror 17 5 100 0; stray 0 2 -1 0; stray 0 4 -1 0") << QString();
    QTest::newRow("nothing at all")
        << arg("send@0:%1 up@100", {hr17x3}) << s("noreply 17 0 100 0") << s("noreply 17 0 100 0");
    QTest::newRow("a broadcast awaits nothing")
        << arg("send@0:0006000100030000 5:%1 up@100", {hr17x3Reply}) << s("stray 17 11 -1 0")
        << s("stray 17 11 -1 0");
    QTest::newRow("a frame in transit at the request is stray")
        << arg("0:110306 send@1:%1 3:6b076c076d07906d 9:%2", {hr17x3, hr17x3Reply})
        << s("stray 0 3 -1 0; stray 0 4 -1 0; stray 0 4 -1 0; reply 17 11 8 0") << QString();
}

void ReplyMatchTest::matches()
{
    QFETCH(QString, script);
    QFETCH(QString, events);
    QFETCH(QString, byByte);
    QCOMPARE(run(script), events);
    // Noise is said a run at a time: the pieces change its runs (a null
    // byByte: not tried).
    if (!byByte.isNull())
        QCOMPARE(run(script, true), byByte);
}

void ReplyMatchTest::floodIsCountedNotKept()
{
    // Another unit's frames without end while unit 17 is asked: each is
    // stray, none kept, and the reply in the middle of them is found.
    const QByteArray other = hex("01030200017984");
    QByteArray chunk;
    for (int i = 0; i < 8192; ++i)
        chunk += other;
    ReplyMatch match;
    match.begin(hex(hr17x3), 0);
    int stray = 0;
    int replies = 0;
    for (int round = 0; round < 200; ++round) {
        match.feed(chunk, round);
        if (round == 100)
            match.feed(hex(hr17x3Reply), round);
        ReplyMatch::Event e;
        while (match.next(&e)) {
            stray += e.kind == ReplyMatch::Event::Kind::Stray && e.unit == 1 ? e.count : 0;
            QVERIFY(e.count == 1 || e.size == e.count * other.size());
            replies += e.kind == ReplyMatch::Event::Kind::Reply ? 1 : 0;
            QVERIFY(e.kind != ReplyMatch::Event::Kind::Stray || e.frame.isEmpty());
        }
        QVERIFY(match.pendingSize() < rtuframe::maxLength);
    }
    QCOMPARE(stray, 200 * 8192);
    QCOMPARE(replies, 1);
}

QTEST_GUILESS_MAIN(ReplyMatchTest)
#include "tst_replymatch.moc"

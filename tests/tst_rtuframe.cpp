// Where a Modbus RTU frame ends, by its function code's length (Qt
// SerialBus), for a master's requests (the bridge sends a whole one at
// once) and a device's replies (the bus scan), byte by byte.

#include "engine/bus/mbapframe.h"
#include "engine/bus/rtuframe.h"

#include <QModbusRequest>

#include <QtTest>

namespace
{

// Whole frames with their CRC as known answers: the requests as a libmodbus
// 3.1.6 master writes them, the rest with the CRC an independent program
// computed; never the CRC function under test.
QByteArray frame(const char *hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace

class RtuFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void frameEnds_data();
    void frameEnds();
    void mbapEncoded_data();
    void mbapEncoded();
};

Q_DECLARE_METATYPE(rtuframe::Direction)

void RtuFrameTest::frameEnds_data()
{
    // A whole frame (CRC right) fed byte by byte: it is incomplete up to
    // its last byte, complete there; with a byte changed in its CRC it is
    // a bad CRC; with a byte more, still complete at its own length.
    QTest::addColumn<rtuframe::Direction>("direction");
    QTest::addColumn<QByteArray>("frame");
    using D = rtuframe::Direction;
    QTest::newRow("read holding registers") << D::Request << frame("010300000001840a");
    QTest::newRow("write multiple registers: a byte count")
        << D::Request << frame("0110000a000204000a0102d383");
    QTest::newRow("write multiple coils") << D::Request << frame("110f0013000a02cd01bf0b");
    QTest::newRow("read/write multiple registers")
        << D::Request << frame("011700030006000e00030600ff00ff00ff4691");
    QTest::newRow("diagnostics") << D::Request << frame("01080000a537da8d");
    QTest::newRow("reply: registers") << D::Response << frame("01030203e8b8fa");
    QTest::newRow("reply: 125 registers")
        << D::Response << frame("0503fa") + QByteArray(250, '\x01') + frame("da8c");
    QTest::newRow("reply: an exception") << D::Response << frame("018302c0f1");
    QTest::newRow("reply: write single register") << D::Response << frame("010600010003980b");
}

void RtuFrameTest::frameEnds()
{
    QFETCH(rtuframe::Direction, direction);
    QFETCH(QByteArray, frame);
    using S = rtuframe::Scan::State;
    for (int n = 0; n < frame.size(); ++n)
        QVERIFY2(rtuframe::scan(frame.left(n), direction).state == S::Incomplete,
                 qPrintable(QStringLiteral("complete after %1 bytes").arg(n)));
    const rtuframe::Scan whole = rtuframe::scan(frame, direction);
    QCOMPARE(int(whole.state), int(S::Complete));
    QCOMPARE(whole.length, frame.size());
    QVERIFY(rtuframe::isWholeFrame(frame, direction));
    QVERIFY(!rtuframe::isWholeFrame(frame + '\x00', direction));
    QCOMPARE(rtuframe::scan(frame + "\x01\x03", direction).length, frame.size());
    QByteArray bad = frame;
    bad[bad.size() - 1] = char(bad.at(bad.size() - 1) ^ 0x20);
    QCOMPARE(int(rtuframe::scan(bad, direction).state), int(S::BadCrc));
    rtuframe::Frame taken;
    QVERIFY(rtuframe::decode(frame, direction, &taken));
    QCOMPARE(rtuframe::encode(taken.unit, QModbusRequest(taken.functionCode, taken.data)), frame);
    // No frame starts at an unknown function code, nor at an exception in
    // a request.
    QCOMPARE(int(rtuframe::scan(QByteArray::fromHex("0165"), direction).state), int(S::Invalid));
    QCOMPARE(int(rtuframe::scan(QByteArray::fromHex("0183"), rtuframe::Direction::Request).state),
             int(S::Invalid));
}

void RtuFrameTest::mbapEncoded_data()
{
    // A PDU as Qt SerialBus holds it, and as its bytes (as the gateway
    // passes any function through), against the Modbus TCP frame written
    // out by hand: transaction, protocol 0, length (unit and PDU), unit.
    QTest::addColumn<QModbusPdu::FunctionCode>("function");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<QByteArray>("frame");
    using F = QModbusPdu::FunctionCode;
    QTest::newRow("read holding registers")
        << F::ReadHoldingRegisters << frame("00000001") << frame("0300000001")
        << frame("2a0100000006110300000001");
    QTest::newRow("a vendor's function") << F(0x41) << frame("abcd") << frame("41abcd")
                                         << frame("2a0100000004114"
                                                  "1abcd");
}

void RtuFrameTest::mbapEncoded()
{
    QFETCH(QModbusPdu::FunctionCode, function);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, pdu);
    QFETCH(QByteArray, frame);
    QCOMPARE(mbapframe::encode(0x2a01, 0x11, QModbusRequest(function, data)).toHex(),
             frame.toHex());
    QCOMPARE(mbapframe::encode(0x2a01, 0x11, pdu).toHex(), frame.toHex());
    // An exception: the function code with its high bit, then the code.
    QCOMPARE(mbapframe::encode(0x2a01, 0x11, QByteArray::fromHex("8302")).toHex(),
             QByteArray("2a010000000311"
                        "8302"));
}

QTEST_GUILESS_MAIN(RtuFrameTest)
#include "tst_rtuframe.moc"

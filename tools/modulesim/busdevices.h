#ifndef BUSDEVICES_H
#define BUSDEVICES_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

// An RTU frame (unit and PDU) with its Modbus CRC appended; whether a
// frame ends in the right CRC.
QByteArray withCrc(QByteArray frame);
bool crcRight(const QByteArray &frame);

// How a UART on the bus sends and hears characters: its speed, parity and
// stop bits ("19200/8E1"; eight data bits).
struct UartSettings {
    int baud = 9600;
    char parity = 'N'; // N, E or O
    int stopBits = 1;

    // "19200/8E1"; false with the reason otherwise.
    static bool parse(const QString &text, UartSettings *settings, QString *error);
    // A receiver takes a sender's characters only at the same speed and
    // parity; it checks one stop bit, so a difference there does not matter.
    bool hears(const UartSettings &sender) const
    {
        return baud == sender.baud && parity == sender.parity;
    }
    // One character on the line: start bit, 8 data bits, parity, stop bits.
    qint64 characterNs() const;
    // The quiet that ends a frame: 3.5 characters, 1.75 ms above 19200.
    qint64 frameGapNs() const;
    QString text() const;
};

// The RS-485 bus behind the simulated module, played as a UART's physics
// would have it: Modbus RTU devices in groups, each group at its speed and
// parity; noise; corrupted replies; another master.
//
// - The module's characters come with their time on the line (fromModule).
//   A group hears them only when the module runs at its speed and parity;
//   otherwise it hears as many characters of garbage. A frame ends after
//   3.5 characters of quiet at the group's speed, by the characters' times
//   on the line, however late the simulator looks at them. A frame whose
//   CRC is wrong, or that is for no unit of the group, is ignored; one for
//   the broadcast address 0 is not answered.
// - A device answers after the device delay, its reply paced at its
//   speed: the module hears it when the reply's last character ends, as it
//   is, or as garbage when the module runs at other settings.
// - Each device holds 100 holding registers, at first address x 1000 +
//   register (modulo 65536). It reads them (function 3), writes them (6 and
//   16), does both at once (23: the write first, then the read), echoes a
//   diagnostic query (8, sub-function 0), reports its id (17), its
//   identification (43/14: vendor "Ordan", product "SIM-<address>",
//   revision "1.0"), and answers the vendor function 65 with its data
//   backwards (a reply whose length only its CRC tells). Registers past
//   the 100 answer exception 2 (illegal data address), a count of 0 or over
//   the function's most exception 3, any other function exception 1. A
//   write to the broadcast address 0 is carried out by every device of the
//   group, unanswered.
// - Noise: random bytes at random times, heard by the module and by every
//   group (where they spoil a frame they fall into). Corrupted replies: one
//   byte past the address and function code changed. Both drawn from a
//   seeded generator.
// - Another master polls the devices at its settings, one address after
//   the other; what the module hears of it follows the same rule.
// Replies are heard by the module only (not by other devices). A device
// that hears two masters at once hears one spoiled frame; the module hears
// both as they come.
class BusDevices : public QObject
{
    Q_OBJECT

public:
    explicit BusDevices(QObject *parent = nullptr);
    ~BusDevices() override;

    // "1,2,5@19200/8E1" (addresses 1-247, ranges as "1-4"); false with the
    // reason otherwise.
    bool addGroup(const QString &spec, QString *error);
    // "500@9600/8N1": a poll every 500 ms at those settings.
    bool setOtherMaster(const QString &spec, QString *error);
    void setDeviceDelay(int ms) { deviceDelayMs = qMax(0, ms); }
    void setNoise(int bytesPerSecond) { noisePerSecond = qMax(0, bytesPerSecond); }
    void setCrcErrors(int percent) { crcErrorPercent = qBound(0, percent, 100); }
    void setSeed(quint32 seed) { random.seed(seed); }
    // The devices are off for the first `ms` after the start: they answer
    // nothing (what is on the line is logged all the same).
    void setOffFor(int ms) { offForMs = qMax(0, ms); }
    // Each frame a group takes whole, its CRC right, whichever unit it is
    // for ("heard HEX"), and each reply ("reply HEX") as a line appended to `path`, for a test to
    // count; false with the reason when it cannot be opened.
    bool setLog(const QString &path, QString *error);
    // The settings the module runs with, asked when it hears or sends.
    void setModuleSettings(std::function<UartSettings()> settings)
    {
        moduleSettings = std::move(settings);
    }

    // Starts the noise and the other master.
    void start();
    void stop();

    // The module put `bytes` on the line, at its settings; the last ended
    // `agoNs` before now, each directly after the one before.
    void fromModule(const QByteArray &bytes, qint64 agoNs);

    // Counters, for the state file and the tests.
    int framesHeard() const { return heardFrames; }
    int repliesSent() const { return replies; }

signals:
    // Bytes the module hears from the line, now.
    void heard(const QByteArray &bytes);

private:
    struct Group;
    QByteArray reply(quint8 unit, const QByteArray &frame);
    QVector<quint16> &registersOf(quint8 unit);
    void log(const char *what, const QByteArray &frame, qint64 startNs, qint64 endNs);
    void transmit(const QByteArray &bytes, qint64 endNs, const UartSettings &sender);
    void onGroupQuiet(Group *group);
    void answer(Group *group, const QByteArray &frame, qint64 startNs, qint64 endNs);
    void toModuleAt(const QByteArray &bytes, qint64 endNs, const UartSettings &sender);
    void onNoise();
    void onOtherMaster();
    QByteArray garbage(int size);
    UartSettings module() const;

    std::vector<std::unique_ptr<Group>> groups;
    QElapsedTimer clock;
    QRandomGenerator random{1};
    std::function<UartSettings()> moduleSettings;
    int deviceDelayMs = 5;
    int noisePerSecond = 0;
    int crcErrorPercent = 0;
    int offForMs = 0;
    QTimer noiseTimer;
    qint64 lastNoiseNs = 0;
    double noiseOwed = 0;
    bool otherMaster = false;
    int otherMasterMs = 0;
    UartSettings otherMasterUart;
    QTimer otherMasterTimer;
    int otherMasterNext = 0;
    int heardFrames = 0;
    int replies = 0;
    QHash<quint8, QVector<quint16>> registers;
    std::unique_ptr<QFile> logFile;
};

#endif // BUSDEVICES_H

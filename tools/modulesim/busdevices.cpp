#include "busdevices.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <initializer_list>
#include <utility>

// The Modbus CRC-16 (polynomial 0xA001, low byte first), the simulator's
// own: it states the module's bus independently of the configurator.
QByteArray withCrc(QByteArray frame)
{
    quint16 crc = 0xffff;
    for (const char c : std::as_const(frame)) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xa001) : quint16(crc >> 1);
    }
    frame.append(char(crc & 0xff));
    frame.append(char(crc >> 8));
    return frame;
}

bool crcRight(const QByteArray &frame)
{
    return frame.size() >= 4 && withCrc(frame.left(frame.size() - 2)) == frame;
}

namespace
{

// The bytes given, one a number.
QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (const int value : values)
        bytes.append(char(value));
    return bytes;
}

QByteArray exception(quint8 unit, quint8 function, quint8 code)
{
    return withCrc(bytesOf({unit, function | 0x80, code}));
}

// Addresses as "1,2,5" or "1-4,7", each 1-247.
bool parseUnits(const QString &text, QList<int> *units)
{
    static const QRegularExpression item(QStringLiteral("^(\\d{1,3})(?:-(\\d{1,3}))?$"));
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = item.match(part.trimmed());
        if (!m.hasMatch())
            return false;
        const int from = m.captured(1).toInt();
        const int to = m.captured(2).isEmpty() ? from : m.captured(2).toInt();
        if (from < 1 || to > 247 || to < from)
            return false;
        for (int unit = from; unit <= to; ++unit)
            *units << unit;
    }
    return !units->isEmpty();
}

qint64 msToNs(qint64 ms)
{
    return ms * 1000000;
}

} // namespace

bool UartSettings::parse(const QString &text, UartSettings *settings, QString *error)
{
    static const QRegularExpression format(QStringLiteral("^(\\d{3,7})/8([NEO])([12])$"));
    const QRegularExpressionMatch m = format.match(text);
    if (!m.hasMatch() || m.captured(1).toInt() < 300) {
        *error = QStringLiteral("\"%1\": settings are BAUD/8[NEO][12], as 19200/8E1").arg(text);
        return false;
    }
    settings->baud = m.captured(1).toInt();
    settings->parity = m.captured(2).at(0).toLatin1();
    settings->stopBits = m.captured(3).toInt();
    return true;
}

qint64 UartSettings::characterNs() const
{
    const int bits = 1 + 8 + (parity == 'N' ? 0 : 1) + stopBits;
    return qint64(bits) * 1000000000 / qMax(1, baud);
}

qint64 UartSettings::frameGapNs() const
{
    return baud > 19200 ? 1750000 : characterNs() * 7 / 2;
}

QString UartSettings::text() const
{
    return QStringLiteral("%1/8%2%3").arg(baud).arg(QLatin1Char(parity)).arg(stopBits);
}

// A group of devices at one speed and parity, and what it has heard since
// its last frame: each character with its time on the line.
struct BusDevices::Group {
    QList<int> units;
    UartSettings uart;
    QByteArray bytes;
    QList<qint64> starts;
    QList<qint64> ends;
    QTimer quiet;
};

BusDevices::BusDevices(QObject *parent) : QObject(parent)
{
    clock.start();
    noiseTimer.setSingleShot(true);
    connect(&noiseTimer, &QTimer::timeout, this, &BusDevices::onNoise);
    otherMasterTimer.setTimerType(Qt::PreciseTimer);
    connect(&otherMasterTimer, &QTimer::timeout, this, &BusDevices::onOtherMaster);
}

BusDevices::~BusDevices() = default;

bool BusDevices::addGroup(const QString &spec, QString *error)
{
    const int at = spec.indexOf(QLatin1Char('@'));
    auto group = std::make_unique<Group>();
    if (at <= 0 || !parseUnits(spec.left(at), &group->units)) {
        *error = QStringLiteral("--devices \"%1\": must be ADDRESSES@BAUD/8[NEO][12], as "
                                "1,2,5@19200/8E1 (addresses 1-247)")
                     .arg(spec);
        return false;
    }
    if (!UartSettings::parse(spec.mid(at + 1), &group->uart, error))
        return false;
    Group *g = group.get();
    g->quiet.setSingleShot(true);
    g->quiet.setTimerType(Qt::PreciseTimer);
    connect(&g->quiet, &QTimer::timeout, this, [this, g] { onGroupQuiet(g); });
    groups.push_back(std::move(group));
    return true;
}

bool BusDevices::setOtherMaster(const QString &spec, QString *error)
{
    const int at = spec.indexOf(QLatin1Char('@'));
    bool ok = false;
    const int ms = spec.left(at).toInt(&ok);
    if (at <= 0 || !ok || ms < 1) {
        *error = QStringLiteral("--other-master \"%1\": must be MS@BAUD/8[NEO][12], as "
                                "500@9600/8N1")
                     .arg(spec);
        return false;
    }
    if (!UartSettings::parse(spec.mid(at + 1), &otherMasterUart, error))
        return false;
    otherMaster = true;
    otherMasterMs = ms;
    return true;
}

void BusDevices::start()
{
    if (noisePerSecond > 0) {
        lastNoiseNs = clock.nsecsElapsed();
        noiseTimer.start(1);
    }
    if (otherMaster)
        otherMasterTimer.start(otherMasterMs);
}

void BusDevices::stop()
{
    noiseTimer.stop();
    otherMasterTimer.stop();
    for (const auto &g : groups)
        g->quiet.stop();
}

UartSettings BusDevices::module() const
{
    return moduleSettings ? moduleSettings() : UartSettings();
}

QByteArray BusDevices::garbage(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

void BusDevices::fromModule(const QByteArray &bytes, qint64 agoNs)
{
    transmit(bytes, clock.nsecsElapsed() - qMax<qint64>(0, agoNs), module());
}

// Characters a master sent, the last ending at `endNs`: each group hears
// them, or garbage, and looks at them once the line has been quiet.
void BusDevices::transmit(const QByteArray &bytes, qint64 endNs, const UartSettings &sender)
{
    const qint64 perCharacter = sender.characterNs();
    for (const auto &g : groups) {
        const QByteArray heard = g->uart.hears(sender) ? bytes : garbage(bytes.size());
        for (int i = 0; i < heard.size(); ++i) {
            const qint64 end = endNs - (heard.size() - 1 - i) * perCharacter;
            g->bytes.append(heard.at(i));
            g->starts << end - perCharacter;
            g->ends << end;
        }
        const qint64 wait = g->ends.last() + g->uart.frameGapNs() - clock.nsecsElapsed();
        g->quiet.start(int(qMax<qint64>(0, (wait + 999999) / 1000000)));
    }
}

// The frames a group has heard whole: split where the line was quiet for
// its frame gap, by the characters' times; the last stays until the quiet
// after it has passed.
void BusDevices::onGroupQuiet(Group *g)
{
    const qint64 now = clock.nsecsElapsed();
    const qint64 gap = g->uart.frameGapNs();
    int from = 0;
    for (int i = 1; i <= g->bytes.size(); ++i) {
        const bool ends = i == g->bytes.size() ? g->ends.at(i - 1) + gap <= now
                                               : g->starts.at(i) - g->ends.at(i - 1) >= gap;
        if (!ends)
            continue;
        answer(g, g->bytes.mid(from, i - from), g->starts.at(from), g->ends.at(i - 1));
        from = i;
    }
    g->bytes.remove(0, from);
    g->starts.erase(g->starts.begin(), g->starts.begin() + from);
    g->ends.erase(g->ends.begin(), g->ends.begin() + from);
    if (!g->bytes.isEmpty())
        g->quiet.start(int(qMax<qint64>(0, (g->ends.last() + gap - now + 999999) / 1000000)));
}

void BusDevices::answer(Group *g, const QByteArray &frame, qint64 startNs, qint64 endNs)
{
    if (!crcRight(frame))
        return;
    ++heardFrames;
    log("heard", frame, startNs, endNs);
    if (clock.elapsed() < offForMs)
        return;
    const quint8 unit = quint8(frame.at(0));
    if (unit == 0) {
        // A broadcast: every device of the group writes, none answers.
        for (const int each : qAsConst(g->units))
            reply(quint8(each), frame);
        return;
    }
    if (!g->units.contains(unit))
        return;
    QByteArray answer = reply(unit, frame);
    if (crcErrorPercent > 0 && int(random.bounded(100)) < crcErrorPercent) {
        const int at = 2 + int(random.bounded(answer.size() - 2));
        answer[at] = char(answer.at(at) ^ (1 + random.bounded(255)));
    }
    ++replies;
    const qint64 replyEnd = endNs + msToNs(deviceDelayMs) + answer.size() * g->uart.characterNs();
    log("reply", answer, replyEnd - answer.size() * g->uart.characterNs(), replyEnd);
    toModuleAt(answer, replyEnd, g->uart);
}

bool BusDevices::setLog(const QString &path, QString *error)
{
    logFile = std::make_unique<QFile>(path);
    if (logFile->open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    *error = QStringLiteral("--bus-log %1: %2").arg(path, logFile->errorString());
    logFile.reset();
    return false;
}

void BusDevices::log(const char *what, const QByteArray &frame, qint64 startNs, qint64 endNs)
{
    if (!logFile)
        return;
    logFile->write(QByteArray(what) + ' ' + frame.toHex() + ' ' +
                   QByteArray::number(startNs / 1000) + ' ' + QByteArray::number(endNs / 1000) +
                   '\n');
    logFile->flush();
}

QVector<quint16> &BusDevices::registersOf(quint8 unit)
{
    auto it = registers.find(unit);
    if (it == registers.end()) {
        QVector<quint16> values(100);
        for (int r = 0; r < values.size(); ++r)
            values[r] = quint16(unit * 1000 + r);
        it = registers.insert(unit, values);
    }
    return *it;
}

// The device's answer to a whole frame for it (CRC included; the CRC is
// right); for a broadcast the same writes are made, the answer unsent.
QByteArray BusDevices::reply(quint8 unit, const QByteArray &frame)
{
    const quint8 function = quint8(frame.at(1));
    const QByteArray data = frame.mid(2, frame.size() - 4);
    const auto word = [&data](int at) {
        return int(quint8(data.at(at)) << 8 | quint8(data.at(at + 1)));
    };
    QVector<quint16> &regs = registersOf(unit);
    const int size = int(regs.size());
    QByteArray out = bytesOf({unit, function});
    const auto appendWord = [&out](int value) {
        out.append(char(value >> 8));
        out.append(char(value & 0xff));
    };
    switch (function) {
    case 3: {
        if (data.size() != 4)
            return exception(unit, function, 3);
        const int first = word(0);
        const int count = word(2);
        if (count < 1 || count > 125)
            return exception(unit, function, 3);
        if (first + count > size)
            return exception(unit, function, 2);
        out.append(char(count * 2));
        for (int r = first; r < first + count; ++r)
            appendWord(regs.at(r));
        return withCrc(out);
    }
    case 6: {
        if (data.size() != 4)
            return exception(unit, function, 3);
        if (word(0) >= size)
            return exception(unit, function, 2);
        regs[word(0)] = quint16(word(2));
        return withCrc(out + data);
    }
    case 16: {
        if (data.size() < 5)
            return exception(unit, function, 3);
        const int first = word(0);
        const int count = word(2);
        if (count < 1 || count > 123 || quint8(data.at(4)) != count * 2 ||
            data.size() != 5 + count * 2)
            return exception(unit, function, 3);
        if (first + count > size)
            return exception(unit, function, 2);
        for (int i = 0; i < count; ++i)
            regs[first + i] = quint16(word(5 + i * 2));
        return withCrc(out + data.left(4));
    }
    case 23: {
        if (data.size() < 9)
            return exception(unit, function, 3);
        const int readFirst = word(0);
        const int readCount = word(2);
        const int writeFirst = word(4);
        const int writeCount = word(6);
        if (readCount < 1 || readCount > 125 || writeCount < 1 || writeCount > 121 ||
            quint8(data.at(8)) != writeCount * 2 || data.size() != 9 + writeCount * 2)
            return exception(unit, function, 3);
        if (readFirst + readCount > size || writeFirst + writeCount > size)
            return exception(unit, function, 2);
        for (int i = 0; i < writeCount; ++i)
            regs[writeFirst + i] = quint16(word(9 + i * 2));
        out.append(char(readCount * 2));
        for (int r = readFirst; r < readFirst + readCount; ++r)
            appendWord(regs.at(r));
        return withCrc(out);
    }
    case 8:
        // Return query data: the request as it came.
        if (data.size() < 2 || word(0) != 0)
            return exception(unit, function, 1);
        return withCrc(out + data);
    case 17: {
        const QByteArray id = "SIM-" + QByteArray::number(unit);
        out.append(char(id.size() + 1));
        out.append(id);
        out.append(char(0xff)); // running
        return withCrc(out);
    }
    case 43: {
        // Read device identification, basic objects, all at once.
        if (data.size() != 3 || quint8(data.at(0)) != 0x0e || quint8(data.at(1)) < 1 ||
            quint8(data.at(1)) > 4)
            return exception(unit, function, !data.isEmpty() && quint8(data.at(0)) == 0x0e ? 3 : 1);
        const QList<QByteArray> objects{"Ordan", "SIM-" + QByteArray::number(unit), "1.0"};
        out.append(char(0x0e));
        out.append(data.at(1));
        out.append(char(0x01)); // conformity: basic, stream access
        out.append('\0');       // no more follows
        out.append('\0');
        out.append(char(objects.size()));
        for (int i = 0; i < objects.size(); ++i) {
            out.append(char(i));
            out.append(char(objects.at(i).size()));
            out.append(objects.at(i));
        }
        return withCrc(out);
    }
    case 65: {
        // A vendor's function: its data backwards.
        QByteArray backwards = data;
        std::reverse(backwards.begin(), backwards.end());
        return withCrc(out + backwards);
    }
    default:
        return exception(unit, function, 1);
    }
}

// What the module hears of a transmission, when its last character ends.
void BusDevices::toModuleAt(const QByteArray &bytes, qint64 endNs, const UartSettings &sender)
{
    const qint64 waitNs = endNs - clock.nsecsElapsed();
    QTimer::singleShot(int(qMax<qint64>(0, (waitNs + 999999) / 1000000)), Qt::PreciseTimer, this,
                       [this, bytes, sender] {
                           emit heard(module().hears(sender) ? bytes : garbage(bytes.size()));
                       });
}

// Random bytes at random moments, noisePerSecond a second on average: a
// tick every 1-19 ms puts on the line the bytes its share of time owes.
void BusDevices::onNoise()
{
    if (noisePerSecond <= 0)
        return;
    const qint64 now = clock.nsecsElapsed();
    noiseOwed += double(noisePerSecond) * double(now - lastNoiseNs) / 1e9;
    lastNoiseNs = now;
    const int count = int(noiseOwed);
    noiseOwed -= count;
    if (count > 0) {
        const QByteArray bytes = garbage(count);
        emit heard(bytes);
        for (const auto &g : groups) {
            for (int i = 0; i < count; ++i) {
                g->bytes.append(bytes.at(i));
                g->starts << now - g->uart.characterNs();
                g->ends << now;
            }
            g->quiet.start(int((g->uart.frameGapNs() + 999999) / 1000000));
        }
    }
    noiseTimer.start(1 + int(random.bounded(19)));
}

// The other master's poll: "read holding registers 0, count 1" to the next
// address of the devices at its settings (1 when none is).
void BusDevices::onOtherMaster()
{
    QList<int> units;
    for (const auto &g : groups) {
        if (g->uart.hears(otherMasterUart))
            units += g->units;
    }
    if (units.isEmpty())
        units << 1;
    const quint8 unit = quint8(units.at(otherMasterNext++ % units.size()));
    QByteArray request(1, char(unit));
    request.append("\x03\x00\x00\x00\x01", 5);
    request = withCrc(request);
    const qint64 end = clock.nsecsElapsed() + request.size() * otherMasterUart.characterNs();
    transmit(request, end, otherMasterUart);
    toModuleAt(request, end, otherMasterUart);
}

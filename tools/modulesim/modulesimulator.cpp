#include "modulesimulator.h"

#include "posixhelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace
{

using posix::closeFd;
using posix::ErrnoKeeper;
using posix::isSymlink;
using posix::systemError;

const char timeoutChange[] = "change timeout data:";
const char factoryReset[] = "LOAD SETTING:DEFAULT";

bool isDecimal(const QByteArray &value, int maxDigits)
{
    if (value.isEmpty() || value.size() > maxDigits)
        return false;
    for (char c : value) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool isDottedQuad(const QByteArray &value)
{
    const QList<QByteArray> parts = value.split('.');
    if (parts.size() != 4)
        return false;
    for (const QByteArray &part : parts) {
        if (!isDecimal(part, 3) || part.toInt() > 255)
            return false;
    }
    return true;
}

bool isTcpPort(const QByteArray &value)
{
    if (!isDecimal(value, 5))
        return false;
    const int port = value.toInt();
    return port == 23 || port == 502 || (port >= 10000 && port <= 65535);
}

bool isParity(const QByteArray &value)
{
    return value == "none" || value == "odd" || value == "even";
}

bool isSpeed(const QByteArray &value)
{
    static const QList<QByteArray> speeds = {"1200",  "2400",  "4800",   "9600",   "19200",
                                             "38400", "57600", "115200", "128000", "256000"};
    return speeds.contains(value);
}

bool isStopBit(const QByteArray &value)
{
    return value == "1" || value == "2";
}

bool isTimeout(const QByteArray &value)
{
    if (!isDecimal(value, 5))
        return false;
    const int ms = value.toInt();
    return ms >= 1 && ms <= 10000;
}

// One line of the module's console: the query that reads a setting and the
// command prefix (if any) that writes it.
struct Field {
    const char *query;
    const char *change;
    QString ModuleState::*member;
    bool (*sound)(const QByteArray &);
};

const Field fields[] = {
    {"name", nullptr, &ModuleState::name, nullptr},
    {"version", nullptr, &ModuleState::version, nullptr},
    {"MAC", nullptr, &ModuleState::mac, nullptr},
    {"ip", "CHANGE IP:", &ModuleState::ip, isDottedQuad},
    {"MASK", "CHANGE MASK:", &ModuleState::mask, isDottedQuad},
    {"GATEWAY", "CHANGE GATEWAY:", &ModuleState::gateway, isDottedQuad},
    {"PORT TCP", "CHANGE PORT TCP:", &ModuleState::portTcp, isTcpPort},
    {"parity", "CHANGE PARITY:", &ModuleState::parity, isParity},
    {"SPEED RS485", "CHANGE SPEED RS485:", &ModuleState::speed, isSpeed},
    {"STOP BIT", "CHANGE STOP BIT:", &ModuleState::stopBit, isStopBit},
    {"timeout data", timeoutChange, &ModuleState::timeout, isTimeout},
};

bool isRefused(const QList<QByteArray> &refused, const QByteArray &command)
{
    for (const QByteArray &r : refused) {
        if (command.startsWith(r))
            return true;
    }
    return false;
}

bool isRestart(const QByteArray &command)
{
    return command == "reset" || command == "RESET" || command == factoryReset;
}

} // namespace

bool ModuleState::operator==(const ModuleState &o) const
{
    return name == o.name && version == o.version && mac == o.mac && ip == o.ip && mask == o.mask &&
           gateway == o.gateway && portTcp == o.portTcp && parity == o.parity && speed == o.speed &&
           stopBit == o.stopBit && timeout == o.timeout;
}

ModuleState ModuleSimulator::factoryState()
{
    ModuleState s;
    s.name = QStringLiteral("Ordan-RS485-ETH");
    s.version = QStringLiteral("1.0.3");
    s.mac = QStringLiteral("00:1A:2B:3C:4D:5E");
    s.ip = QStringLiteral("192.168.0.1");
    s.mask = QStringLiteral("255.255.255.0");
    s.gateway = QStringLiteral("192.168.0.254");
    s.portTcp = QStringLiteral("502");
    s.parity = QStringLiteral("none");
    s.speed = QStringLiteral("9600");
    s.stopBit = QStringLiteral("1");
    s.timeout = QStringLiteral("1000");
    return s;
}

ModuleSimulator::ModuleSimulator(QObject *parent)
    : QObject(parent), current(factoryState()), staged(current), running(current)
{
    gapTimer.setSingleShot(true);
    gapTimer.setTimerType(Qt::PreciseTimer);
    gapTimer.setInterval(commandGapMs);
    connect(&gapTimer, &QTimer::timeout, this, &ModuleSimulator::onCommandComplete);

    paceTimer.setSingleShot(true);
    paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&paceTimer, &QTimer::timeout, this, &ModuleSimulator::onPaceTimeout);

    restartTimer.setSingleShot(true);
    connect(&restartTimer, &QTimer::timeout, this, [this] {
        ErrnoKeeper keep;
        if (!comeBack())
            qWarning("module simulator: cannot come back: %s", qPrintable(lastError));
    });
}

ModuleSimulator::~ModuleSimulator()
{
    ErrnoKeeper keep;
    stop();
}

bool ModuleSimulator::start(const QString &path)
{
    ErrnoKeeper keep;
    if (started) {
        lastError = QStringLiteral("already started");
        return false;
    }
    if (path.isEmpty()) {
        privateDir =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/ordan-sim-XXXXXX"));
        if (!privateDir->isValid()) {
            lastError =
                QStringLiteral("cannot create a private directory: ") + privateDir->errorString();
            privateDir.reset();
            return false;
        }
        linkPath = privateDir->path() + QStringLiteral("/ttyORDAN");
    } else {
        linkPath = QFileInfo(path).absoluteFilePath();
        struct stat st;
        if (::lstat(QFile::encodeName(linkPath).constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            lastError = linkPath + QStringLiteral(" exists and is not a symlink");
            linkPath.clear();
            return false;
        }
    }
    started = true;
    restarting = false;
    if (!openLink()) {
        const QString why = lastError;
        stop();
        lastError = why;
        return false;
    }
    emit upChanged(true);
    return true;
}

void ModuleSimulator::stop()
{
    ErrnoKeeper keep;
    const bool wasUp = isUp();
    restartTimer.stop();
    dropLink(false);
    if (!linkPath.isEmpty() && isSymlink(linkPath))
        ::unlink(QFile::encodeName(linkPath).constData());
    privateDir.reset();
    linkPath.clear();
    started = false;
    restarting = false;
    if (wasUp)
        emit upChanged(false);
}

void ModuleSimulator::setState(const ModuleState &state)
{
    current = staged = state;
    if (running != state) {
        running = state;
        emit runningStateChanged();
    }
}

void ModuleSimulator::setUp(bool up)
{
    if (restarting != up)
        return;
    restarting = !up;
    emit upChanged(up);
}

void ModuleSimulator::setAcknowledgement(const QByteArray &prefix, const QByteArray &text)
{
    acknowledgements.append({prefix, text});
}

void ModuleSimulator::setChunking(int chunks, int gapMs)
{
    chunkCount = qMax(1, chunks);
    chunkGapMs = qMax(0, gapMs);
}

void ModuleSimulator::refuseCommand(const QByteArray &command)
{
    if (!command.isEmpty() && !refused.contains(command))
        refused.append(command);
}

bool ModuleSimulator::sendRaw(const QByteArray &bytes)
{
    ErrnoKeeper keep;
    if (!isLinked())
        return false;
    writeToLine(bytes);
    return true;
}

void ModuleSimulator::restartNow()
{
    ErrnoKeeper keep;
    if (!started)
        return;
    if (applyAtRestart)
        current = staged;
    if (!returnAsMac.isEmpty()) {
        // Another module answers on the line from now on.
        current.mac = std::exchange(returnAsMac, QString());
    }
    staged = current;
    const bool runningChanged = running != current;
    running = current;

    if (keepLink && isLinked()) {
        // The adapter keeps the line; the module behind it says nothing
        // until it is up again, and what it was sending is cut off.
        paceTimer.stop();
        pieces.clear();
    } else {
        dropLink(true);
    }
    setUp(false);
    restartTimer.start(restartDelayMs);
    emit stateChanged();
    if (runningChanged)
        emit runningStateChanged(); // down already: nothing follows it before it is up
}

void ModuleSimulator::dropLinkFor(int ms)
{
    dropLink(true);
    if (started)
        restartTimer.start(ms);
}

void ModuleSimulator::hangUp()
{
    ErrnoKeeper keep;
    restartTimer.stop();
    dropLink(true);
}

bool ModuleSimulator::comeBack()
{
    ErrnoKeeper keep;
    restartTimer.stop();
    if (!started)
        return false;
    if (!isLinked()) {
        if (!openLink())
            return false;
        emit linkRestored();
    }
    setUp(true);
    return true;
}

bool ModuleSimulator::openLink()
{
    int master = -1;
    int slave = -1;
    QString target;
    if (!posix::openRawPty(master, slave, target, lastError, B9600))
        return false;
    if (!pointLinkAt(target)) {
        closeFd(master);
        closeFd(slave);
        return false;
    }

    // Opens and closes of the node by clients. Without inotify every byte
    // is delivered, as if a client were always there.
    watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const QByteArray name = QFile::encodeName(target);
    if (watchFd >= 0 && ::inotify_add_watch(watchFd, name.constData(), IN_OPEN | IN_CLOSE) < 0)
        closeFd(watchFd);
    if (watchFd < 0)
        qWarning("module simulator: cannot watch %s: %s", name.constData(), strerror(errno));

    masterFd = master;
    slaveFd = slave; // held only so the master sees no hang-up between clients
    slavePath = target;
    clients = 0;
    if (watchFd >= 0) {
        watchNotifier = new QSocketNotifier(watchFd, QSocketNotifier::Read, this);
        connect(watchNotifier, &QSocketNotifier::activated, this, &ModuleSimulator::onWatchEvents);
    }
    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &ModuleSimulator::onMasterReadable);
    writeNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &ModuleSimulator::onMasterWritable);
    return true;
}

void ModuleSimulator::dropLink(bool notify)
{
    if (!isLinked())
        return;
    gapTimer.stop();
    paceTimer.stop();
    pieces.clear();
    incoming.clear();
    outgoing.clear();
    // Disabled at once, deleted later: this may run inside their handlers.
    for (QSocketNotifier *n : {readNotifier, writeNotifier, watchNotifier}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    readNotifier = nullptr;
    writeNotifier = nullptr;
    watchNotifier = nullptr;
    closeFd(watchFd);
    closeFd(masterFd); // a client holding the device sees a hang-up now
    closeFd(slaveFd);
    slavePath.clear();
    const bool hadClients = clients > 0;
    clients = 0;
    // The old /dev/pts/N may soon belong to someone else: no path meanwhile.
    if (isSymlink(linkPath))
        ::unlink(QFile::encodeName(linkPath).constData());
    if (notify && hadClients)
        emit clientCountChanged(0);
    if (notify)
        emit linkDropped();
}

bool ModuleSimulator::pointLinkAt(const QString &target)
{
    // A symlink cannot be overwritten in place; renaming a new one over it
    // is atomic, so a client never finds the path missing or half made.
    const QFileInfo link(linkPath);
    const QByteArray temp =
        QFile::encodeName(link.absolutePath() + QLatin1Char('/') + QLatin1Char('.') +
                          link.fileName() + QStringLiteral(".new%1").arg(::getpid()));
    ::unlink(temp.constData());
    if (::symlink(QFile::encodeName(target).constData(), temp.constData()) != 0) {
        lastError = systemError("symlink");
        return false;
    }
    if (::rename(temp.constData(), QFile::encodeName(linkPath).constData()) != 0) {
        lastError = systemError("rename");
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

void ModuleSimulator::onMasterReadable()
{
    ErrnoKeeper keep;
    bool got = false;
    for (;;) {
        char buf[4096];
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n > 0) {
            incoming.append(buf, int(n));
            got = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        // EOF or EIO: cannot happen while our own slave fd is open; do not
        // spin on a notifier that would fire for ever.
        qWarning("module simulator: line read failed: %s", n < 0 ? strerror(errno) : "EOF");
        readNotifier->setEnabled(false);
        break;
    }
    if (got)
        gapTimer.start(); // a command ends when the line stays quiet
}

void ModuleSimulator::onMasterWritable()
{
    ErrnoKeeper keep;
    flushOutput();
}

void ModuleSimulator::onWatchEvents()
{
    ErrnoKeeper keep;
    const int before = clients;
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while (watchFd >= 0 && (n = ::read(watchFd, buf, sizeof buf)) > 0) {
        for (const char *p = buf; p < buf + n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            if (event->mask & IN_OPEN)
                ++clients;
            else if ((event->mask & IN_CLOSE) && clients > 0)
                --clients;
            p += sizeof(inotify_event) + event->len;
        }
    }
    if (clients == before)
        return;
    if (clients == 0 && slaveFd >= 0) {
        // The last client is gone: what it did not read goes with it, and
        // so does an exclusive hold it may have left behind by crashing.
        if (::tcflush(slaveFd, TCIFLUSH) != 0 || ::ioctl(slaveFd, TIOCNXCL) != 0)
            qWarning("module simulator: cannot reset the line: %s", strerror(errno));
        outgoing.clear();
    }
    emit clientCountChanged(clients);
}

void ModuleSimulator::onCommandComplete()
{
    ErrnoKeeper keep;
    const QByteArray command = incoming;
    incoming.clear();
    if (command.isEmpty())
        return;
    commands.append(command);
    emit commandReceived(command);
    if (silent || !isLinked() || restarting)
        return;

    if (isRestart(command) && !isRefused(refused, command)) {
        if (!ignoreRestart)
            restartCommand(command);
        else
            repliesToLose = loseAfterIgnoredReset;
        return;
    }
    const QByteArray reply = answer(command);
    if (reply.isEmpty())
        return;
    if (repliesToLose > 0) {
        --repliesToLose; // lost on the line: never sent
        return;
    }
    queueReply(reply);
}

void ModuleSimulator::restartCommand(const QByteArray &command)
{
    if (applyAtRestart)
        current = staged;
    if (command == factoryReset) {
        // Factory settings for the parameters; the module stays itself.
        const ModuleState before = current;
        current = factoryState();
        current.name = before.name;
        current.version = before.version;
        current.mac = before.mac;
    }
    staged = current;
    restartNow();
}

QByteArray ModuleSimulator::answer(const QByteArray &command)
{
    if (isRefused(refused, command))
        return command.startsWith(timeoutChange) ? "?\r\n" : "error\r\n";
    for (const Field &f : fields) {
        if (command != f.query)
            continue;
        QString value = current.*f.member;
        if (f.member == &ModuleState::mac) {
            ++macAnswers;
            if (droppedMacAnswers.contains(macAnswers))
                return QByteArray();
            if (garbledMacAnswers.contains(macAnswers)) {
                // One hex digit off, a different one for each answer, as
                // noise on the line would do: still a MAC, not this one's.
                QList<int> digits;
                for (int i = 0; i < value.size(); ++i) {
                    if (isxdigit(value.at(i).toLatin1()))
                        digits << i;
                }
                if (!digits.isEmpty()) {
                    const int at = digits.at((macAnswers - 1) % digits.size());
                    const int digit = QString(value.at(at)).toInt(nullptr, 16);
                    value[at] = QString::number(digit ^ 1, 16).toUpper().at(0);
                }
            }
        }
        return command + ':' + value.toUtf8() + "\r\n";
    }
    for (const Field &f : fields) {
        if (!f.change || !command.startsWith(f.change))
            continue;
        if (++writes == dropLinkAtWrite) {
            // The cable is pulled in the middle of the write.
            dropLinkFor(restartDelayMs);
            return QByteArray();
        }
        const QByteArray value = command.mid(int(qstrlen(f.change)));
        if (f.sound(value)) {
            if (!ignoreWrites) {
                staged.*f.member = QString::fromLatin1(value);
                if (!applyAtRestart)
                    current.*f.member = QString::fromLatin1(value);
                emit stateChanged();
            }
            for (const auto &ack : qAsConst(acknowledgements)) {
                if (command.startsWith(ack.first))
                    return ack.second + "\r\n";
            }
            return wrongAck ? "OK\r\n" : "ok\r\n";
        }
        return f.change == timeoutChange ? "?\r\n" : "error\r\n";
    }
    return "unknown command\r\n";
}

void ModuleSimulator::queueReply(const QByteArray &reply)
{
    const int n = qBound(1, chunkCount, qMax(1, reply.size()));
    const int base = reply.size() / n;
    const int extra = reply.size() % n;
    int pos = 0;
    for (int i = 0; i < n; ++i) {
        const int len = base + (i < extra ? 1 : 0);
        pieces.append({reply.mid(pos, len), i == 0 ? replyDelayMs : chunkGapMs});
        pos += len;
    }
    if (!paceTimer.isActive())
        paceTimer.start(pieces.first().waitMs);
}

void ModuleSimulator::onPaceTimeout()
{
    ErrnoKeeper keep;
    if (pieces.isEmpty())
        return;
    writeToLine(pieces.takeFirst().bytes);
    if (!pieces.isEmpty())
        paceTimer.start(pieces.first().waitMs);
}

void ModuleSimulator::writeToLine(const QByteArray &bytes)
{
    if (!isLinked() || bytes.isEmpty())
        return;
    emit bytesSent(bytes);
    // A client's open() queues its event at once: take it in before deciding
    // that nobody listens.
    if (clients == 0 && watchFd >= 0)
        onWatchEvents();
    if (!isLinked() || (clients == 0 && watchFd >= 0))
        return; // nobody listens: the bytes are lost, as on a real line
    outgoing.append(bytes);
    flushOutput();
}

void ModuleSimulator::flushOutput()
{
    posix::writePending(isLinked() ? masterFd : -1, outgoing, writeNotifier,
                        "module simulator: line");
}

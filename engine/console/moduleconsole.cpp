#include "engine/console/moduleconsole.h"

#include "engine/console/hangup.h"
#include "engine/console/portcatalog.h"
#include "engine/platform/tracelog.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSignalBlocker>

#include <utility>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace
{
constexpr int hangUpPollMs = 25;

bool mayUse(const QString &device)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(device);
    return false;
#endif
}
} // namespace

ModuleConsole::ModuleConsole(const QString &path, QObject *parent) : QObject(parent), portPath(path)
{
    sendTimer.setSingleShot(true);
    sendTimer.setTimerType(Qt::PreciseTimer);
    replyTimer.setSingleShot(true);
    replyTimer.setTimerType(Qt::PreciseTimer);
    drainTimer.setSingleShot(true);
    watchTimer.setInterval(hangUpPollMs);
    connect(&sendTimer, &QTimer::timeout, this, &ModuleConsole::trySend);
    connect(&replyTimer, &QTimer::timeout, this, &ModuleConsole::onReplyTimeout);
    connect(&drainTimer, &QTimer::timeout, this, [this] {
        // The bytes did not leave: the line is stuck.
        tellInFlight = false;
        if (trace)
            trace->event(portPath, QStringLiteral("command not sent in time"));
        if (auto done = std::exchange(pendingTell, nullptr))
            done(false);
    });
    connect(&watchTimer, &QTimer::timeout, this, [this] {
        if (!port.isOpen() || portHungUp(port))
            linkLost();
        else if (!unframed && watchClock.elapsed() >= watchMs)
            endWatch(LineEvent::Quiet);
    });
    connect(&port, &QSerialPort::bytesWritten, this, &ModuleConsole::onBytesWritten);
    connect(&framer, &ReplyFramer::replyFramed, this, &ModuleConsole::onFramed);
    connect(&port, &QSerialPort::readyRead, this, &ModuleConsole::onReadyRead);
    connect(&port, &QSerialPort::errorOccurred, this, &ModuleConsole::onError);
}

ModuleConsole::~ModuleConsole()
{
    cancel();
    close();
}

bool ModuleConsole::exists(const QString &port)
{
#ifdef Q_OS_UNIX
    return QFileInfo::exists(PortCatalog::devicePath(port));
#else
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.portName().compare(port, Qt::CaseInsensitive) == 0 ||
            info.systemLocation().compare(port, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
#endif
}

bool ModuleConsole::isStale() const
{
    return !port.isOpen() || !exists(portPath) || PortCatalog::devicePath(portPath) != openedDevice;
}

bool ModuleConsole::open()
{
    close();
    lockedOut = false;
    QString busy;
    if (!lock.acquire(portPath, &busy))
        return refuse(busy);
    port.setPortName(PortCatalog::location(portPath));
    openedDevice = PortCatalog::devicePath(portPath);
    if (!port.open(QIODevice::ReadWrite)) {
        lock.release();
        // The serial library reports a device another program has locked
        // or holds exclusively as a permission error; it is not one when
        // the device may be read and written.
        if (port.error() == QSerialPort::PermissionError && mayUse(openedDevice))
            return refuse(PortLock::deviceHolder(portPath));
        lastOpenError = port.error();
        lastError = port.errorString();
        if (trace)
            trace->event(portPath, QStringLiteral("cannot open: ") + lastError);
        return false;
    }
    if (!PortLock::holdDevice(int(port.handle()), portPath, &busy)) {
        const QSignalBlocker quiet(port);
        port.close();
        lock.release();
        return refuse(busy);
    }
    lastError.clear();
    lastOpenError = QSerialPort::NoError;
    if (trace)
        trace->event(portPath, QStringLiteral("opened"));
    return true;
}

bool ModuleConsole::refuse(const QString &holder)
{
    lockedOut = true;
    lastOpenError = QSerialPort::NoError;
    lastError = holder;
    if (trace)
        trace->event(portPath, QStringLiteral("cannot open: ") + lastError);
    return false;
}

void ModuleConsole::close()
{
    lock.release();
    if (!port.isOpen())
        return;
    {
        // Restoring the line settings of a hung-up device fails: no news.
        const QSignalBlocker quiet(port);
        port.close();
    }
    framer.clear();
    unframed = false;
    if (trace)
        trace->event(portPath, QStringLiteral("closed"));
}

void ModuleConsole::ask(const QByteArray &command, ReplyHandler done)
{
    queued = command;
    queuedIsTell = false;
    pendingReply = std::move(done);
    trySend();
}

void ModuleConsole::tell(const QByteArray &command, std::function<void(bool)> done)
{
    queued = command;
    queuedIsTell = true;
    pendingTell = std::move(done);
    trySend();
}

void ModuleConsole::watchLine(int ms, std::function<void(LineEvent, const QByteArray &)> done)
{
    pendingWatch = std::move(done);
    watchMs = ms;
    watchClock.start();
    const quint64 watch = ++watches;
    if (!port.isOpen()) {
        // Nothing to watch: the link is gone already (told from outside the
        // caller's own call).
        QTimer::singleShot(0, this, [this, watch] {
            if (watch == watches)
                endWatch(LineEvent::Lost);
        });
        return;
    }
    watchTimer.start();
}

void ModuleConsole::endWatch(LineEvent event, const QByteArray &reply)
{
    watchTimer.stop();
    if (auto done = std::exchange(pendingWatch, nullptr))
        done(event, reply);
}

void ModuleConsole::cancel()
{
    ++cancels;
    queued.clear();
    pendingReply = nullptr;
    pendingTell = nullptr;
    tellInFlight = false;
    pendingWatch = nullptr;
    sendTimer.stop();
    replyTimer.stop();
    drainTimer.stop();
    watchTimer.stop();
}

void ModuleConsole::trySend()
{
    if (queued.isNull())
        return;
    if (!port.isOpen()) {
        // Nothing can go out: the module cannot answer.
        queued.clear();
        if (auto done = std::exchange(pendingReply, nullptr))
            done(Reply::LinkLost, QByteArray());
        if (auto done = std::exchange(pendingTell, nullptr))
            done(false);
        return;
    }
    // A reply still coming in (a late one) must end before the next
    // command, or it would be taken as that command's answer.
    if (unframed)
        return; // onFramed() calls again
    const int spacing = qMax(ReplyFramer::quietGapMs, paceMs);
    if (sinceSend.isValid() && sinceSend.elapsed() < spacing) {
        sendTimer.start(int(spacing - sinceSend.elapsed()));
        return;
    }
    const QByteArray command = std::exchange(queued, QByteArray());
    port.write(command);
    sinceSend.start();
    if (trace)
        trace->sent(portPath, command);
    if (queuedIsTell) {
        // The bytes must leave before the caller closes the port; the
        // event loop goes on meanwhile.
        tellInFlight = true;
        drainTimer.start(replyTimeoutMs);
        onBytesWritten();
        return;
    }
    replyTimer.start(replyTimeoutMs);
}

void ModuleConsole::onBytesWritten()
{
    if (!tellInFlight || port.bytesToWrite() > 0)
        return;
    tellInFlight = false;
    drainTimer.stop();
    if (auto done = std::exchange(pendingTell, nullptr))
        done(true);
}

void ModuleConsole::onReadyRead()
{
    const QByteArray bytes = port.readAll();
    if (bytes.isEmpty())
        return;
    unframed = true;
    framer.feed(bytes);
}

void ModuleConsole::onFramed(const QByteArray &bytes)
{
    unframed = false;
    if (trace)
        trace->received(portPath, bytes);
    if (pendingReply && replyTimer.isActive()) {
        replyTimer.stop();
        auto done = std::exchange(pendingReply, nullptr);
        done(Reply::Answered, bytes);
        return;
    }
    if (pendingWatch) {
        endWatch(LineEvent::Replied, bytes);
        return;
    }
    // A reply nobody waits for (a late one) is dropped; a command held back
    // for it may go now.
    if (pendingReply && trace)
        trace->event(portPath, QStringLiteral("late reply dropped"));
    trySend();
}

void ModuleConsole::onReplyTimeout()
{
    if (unframed) {
        // The reply is arriving: let the quiet gap end it.
        replyTimer.start(ReplyFramer::quietGapMs);
        return;
    }
    if (trace)
        trace->event(portPath, QStringLiteral("no reply"));
    if (auto done = std::exchange(pendingReply, nullptr))
        done(Reply::TimedOut, QByteArray());
}

void ModuleConsole::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || !port.isOpen())
        return;
    // A hung-up line reports endless read errors: the link is lost.
    if (portLost(port, error))
        linkLost();
}

void ModuleConsole::linkLost()
{
    if (trace && port.isOpen())
        trace->event(portPath, QStringLiteral("link lost"));
    close();
    // Whatever waits on the line ends now: nothing more can come.
    queued.clear();
    sendTimer.stop();
    replyTimer.stop();
    drainTimer.stop();
    watchTimer.stop();
    tellInFlight = false;
    const auto watch = std::exchange(pendingWatch, nullptr);
    const auto reply = std::exchange(pendingReply, nullptr);
    const auto told = std::exchange(pendingTell, nullptr);
    if (watch)
        watch(LineEvent::Lost, QByteArray());
    if (reply)
        reply(Reply::LinkLost, QByteArray());
    if (told)
        told(false);
}

#include "engine/moduleconsole.h"

#include "engine/hangup.h"
#include "engine/tracelog.h"

#include <QSignalBlocker>

#include <utility>

namespace
{
constexpr int lossPollMs = 25;
}

ModuleConsole::ModuleConsole(const QString &path, QObject *parent) : QObject(parent), portPath(path)
{
    sendTimer.setSingleShot(true);
    sendTimer.setTimerType(Qt::PreciseTimer);
    replyTimer.setSingleShot(true);
    replyTimer.setTimerType(Qt::PreciseTimer);
    lossTimer.setInterval(lossPollMs);
    connect(&sendTimer, &QTimer::timeout, this, &ModuleConsole::trySend);
    connect(&replyTimer, &QTimer::timeout, this, &ModuleConsole::onReplyTimeout);
    connect(&lossTimer, &QTimer::timeout, this, [this] {
        if (!port.isOpen() || portHungUp(port)) {
            linkLost();
        } else if (lossClock.elapsed() >= lossGraceMs) {
            lossTimer.stop();
            if (auto done = std::exchange(pendingLoss, nullptr))
                done(false);
        }
    });
    connect(&framer, &ReplyFramer::replyFramed, this, &ModuleConsole::onFramed);
    connect(&port, &QSerialPort::readyRead, this, &ModuleConsole::onReadyRead);
    connect(&port, &QSerialPort::errorOccurred, this, &ModuleConsole::onError);
}

ModuleConsole::~ModuleConsole()
{
    cancel();
    close();
}

bool ModuleConsole::open()
{
    close();
    port.setPortName(portPath);
    if (port.open(QIODevice::ReadWrite)) {
        lastError.clear();
        lastOpenError = QSerialPort::NoError;
        if (trace)
            trace->event(portPath, QStringLiteral("opened"));
        return true;
    }
    lastOpenError = port.error();
    lastError = port.errorString();
    if (trace)
        trace->event(portPath, QStringLiteral("cannot open: ") + lastError);
    return false;
}

void ModuleConsole::close()
{
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

void ModuleConsole::awaitLinkLoss(int graceMs, std::function<void(bool)> done)
{
    pendingLoss = std::move(done);
    lossGraceMs = graceMs;
    lossClock.start();
    lossTimer.start();
}

void ModuleConsole::cancel()
{
    ++cancels;
    queued.clear();
    pendingReply = nullptr;
    pendingTell = nullptr;
    pendingLoss = nullptr;
    sendTimer.stop();
    replyTimer.stop();
    lossTimer.stop();
}

void ModuleConsole::trySend()
{
    if (queued.isNull())
        return;
    if (!port.isOpen()) {
        // Nothing can go out: the module cannot answer.
        queued.clear();
        if (auto done = std::exchange(pendingReply, nullptr))
            done(false, QByteArray());
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
        // The bytes must leave before the caller closes the port.
        port.waitForBytesWritten(replyTimeoutMs);
        if (auto done = std::exchange(pendingTell, nullptr))
            done(true);
        return;
    }
    replyTimer.start(replyTimeoutMs);
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
        done(true, bytes);
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
        done(false, QByteArray());
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
    if (trace)
        trace->event(portPath, QStringLiteral("link lost"));
    close();
    lossTimer.stop();
    replyTimer.stop();
    if (auto done = std::exchange(pendingLoss, nullptr))
        done(true);
    if (auto done = std::exchange(pendingReply, nullptr))
        done(false, QByteArray());
}

#include "engine/console/replyframer.h"

ReplyFramer::ReplyFramer(QObject *parent) : QObject(parent)
{
    quietTimer.setSingleShot(true);
    quietTimer.setInterval(quietGapMs);
    quietTimer.setTimerType(Qt::PreciseTimer);
    connect(&quietTimer, &QTimer::timeout, this, &ReplyFramer::finish);
    collectTimer.setSingleShot(true);
    collectTimer.setInterval(maxCollectMs);
    connect(&collectTimer, &QTimer::timeout, this, &ReplyFramer::finish);
}

void ReplyFramer::feed(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (pending.isEmpty())
        collectTimer.start();
    pending.append(bytes);
    quietTimer.start();
    // Full replies go out at once; what is left over starts the next reply
    // and collects time of its own.
    while (pending.size() >= maxReplyBytes) {
        const QByteArray reply = pending.left(maxReplyBytes);
        pending.remove(0, maxReplyBytes);
        if (pending.isEmpty()) {
            quietTimer.stop();
            collectTimer.stop();
        } else {
            collectTimer.start();
        }
        emit replyFramed(reply);
    }
}

void ReplyFramer::clear()
{
    quietTimer.stop();
    collectTimer.stop();
    pending.clear();
}

void ReplyFramer::finish()
{
    quietTimer.stop();
    collectTimer.stop();
    if (pending.isEmpty())
        return;
    // The receiver may open a modal box whose event loop frames the next
    // reply meanwhile: it gets a copy, and the framer is already empty.
    const QByteArray reply = pending;
    pending.clear();
    emit replyFramed(reply);
}

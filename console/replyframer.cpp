#include "console/replyframer.h"

ReplyFramer::ReplyFramer(QObject *parent) : QObject(parent)
{
    quietTimer.setSingleShot(true);
    quietTimer.setInterval(quietGapMs);
    quietTimer.setTimerType(Qt::PreciseTimer);
    connect(&quietTimer, &QTimer::timeout, this, &ReplyFramer::finish);
}

void ReplyFramer::feed(const QByteArray &bytes)
{
    pending.append(bytes);
    quietTimer.start();
}

void ReplyFramer::clear()
{
    quietTimer.stop();
    pending.clear();
}

void ReplyFramer::finish()
{
    // Hand over a copy and start empty: the receiver may open a modal box
    // whose event loop frames the next reply meanwhile.
    const QByteArray reply = pending;
    pending.clear();
    emit replyFramed(reply);
}

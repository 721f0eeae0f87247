#ifndef REPLYFRAMER_H
#define REPLYFRAMER_H

#include <QByteArray>
#include <QObject>
#include <QTimer>

// Collects the bytes the port delivers into one reply: a reply is everything
// received until the line has been quiet for quietGapMs. A USB adapter at
// 9600 bit/s hands a 25-character answer over in several notifications; they
// belong together.
//
// A line that never goes quiet (a device streaming noise, a wrong device on
// the port) must not be collected forever: a reply is also closed when it
// reaches maxReplyBytes (the bytes beyond start the next reply) and when it
// has been collecting for maxCollectMs since its first byte, whichever comes
// first. The module's longest answer is a few dozen bytes, well inside both.
class ReplyFramer : public QObject
{
    Q_OBJECT

public:
    static constexpr int quietGapMs = 50;
    static constexpr int maxReplyBytes = 4096;
    static constexpr int maxCollectMs = 1000;

    explicit ReplyFramer(QObject *parent = nullptr);

    // Appends bytes of one notification and restarts the quiet gap.
    void feed(const QByteArray &bytes);
    // Forgets bytes not yet framed (the link was closed).
    void clear();
    // Closes the reply collected so far at once, as a quiet gap does.
    void frameNow() { finish(); }
    // Bytes collected and not yet framed; never more than maxReplyBytes
    // once feed() returns.
    int pendingSize() const { return pending.size(); }

signals:
    void replyFramed(const QByteArray &bytes);

private:
    void finish();

    QTimer quietTimer;
    QTimer collectTimer;
    QByteArray pending;
};

#endif // REPLYFRAMER_H

#ifndef REPLYFRAMER_H
#define REPLYFRAMER_H

#include <QByteArray>
#include <QObject>
#include <QTimer>

// Collects the bytes the port delivers into one reply: a reply is everything
// received until the line has been quiet for quietGapMs. A USB adapter at
// 9600 bit/s hands a 25-character answer over in several notifications; they
// belong together.
class ReplyFramer : public QObject
{
    Q_OBJECT

public:
    static constexpr int quietGapMs = 50;

    explicit ReplyFramer(QObject *parent = nullptr);

    // Appends bytes of one notification and restarts the quiet gap.
    void feed(const QByteArray &bytes);
    // Forgets bytes not yet framed (the link was closed).
    void clear();

signals:
    void replyFramed(const QByteArray &bytes);

private:
    void finish();

    QTimer quietTimer;
    QByteArray pending;
};

#endif // REPLYFRAMER_H

#ifndef PTYPORT_H
#define PTYPORT_H

#include "engine/bridge/portlink.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>

class QSocketNotifier;

// The bridge's serial end: a pseudo-terminal in raw mode that programs open
// through a symbolic link (PortLink) as they would a serial port. It says
// what they write and in which opening, takes what goes to them, and knows
// which character format they set.
//
// Openings: an opening of the port lasts from the moment a program opens it
// while none has it open until no program has it open any more (the
// kernel's record of opens and closes, inotify on the device; Linux). They
// are numbered from 1. What the programs wrote is given with the opening it
// was written in; at the end of an opening, what they wrote before they
// closed is given first, with that opening, and what was meant for them and
// waits unread is dropped and counted (read out of the port, so the count
// is exact). Bytes whose opening cannot be told (written around a close and
// the next open before the bridge looked) are given with the earlier one:
// a reply is then dropped rather than given to a program that did not ask.
//
// What a pseudo-terminal does with a program's settings (Linux):
// - It keeps the speed, the stop bits (CSTOPB), odd parity (PARODD) and the
//   input checks (INPCK); it drops the parity flag (PARENB) and always has 8
//   data bits. The format is read from what is kept: parity when PARENB,
//   PARODD or INPCK shows (libmodbus sets INPCK with any parity; a program
//   that sets even parity without INPCK looks like no parity).
// - glibc's tcsetattr() reads the settings before and after, and fails with
//   EINVAL when they did not change and the port dropped parity that was
//   asked for: 19200 8E1 on a port already at 19200 8E1.
// - So each time the bridge has taken note of a program's settings (packet
//   mode reports every change as it happens, EXTPROC keeps it reporting),
//   it puts the port at a speed no program asks for, and at the end of an
//   opening it resets it (raw, such a speed). Those speeds take turns (50,
//   75, 134 baud): a change the bridge makes while a program's tcsetattr()
//   is under way then never leaves the port as that program found it, so
//   it never makes that program's setting fail.
// - What no design can avoid: a program that asks for exactly what the
//   previous program set, before the bridge has had the moment to take note
//   of that (it does within microseconds, and always before it forwards a
//   byte the previous program wrote), gets EINVAL.
//
// The bridge holds the pseudo-terminal's other side open itself, so that a
// program's close is no hang-up for it. POSIX only: elsewhere open() fails.
class PtyPort : public QObject
{
    Q_OBJECT

public:
    // A character as the programs set it: its bits on the line (start, data,
    // parity, stop) and the speed, 0 until a program sets one.
    struct Format {
        int baud = 0;
        int bitsPerCharacter = 10;
    };
    // What happened at the port, in order.
    struct Event {
        enum class Kind {
            Opened, // a program opened it while none had it open
            Bytes,  // the programs wrote `bytes`
            Closed, // no program has it open any more; `unread` bytes meant
                    // for them were not read and are gone
        };
        Kind kind = Kind::Bytes;
        quint64 opening = 0;
        QByteArray bytes;
        qint64 unread = 0;
    };

    explicit PtyPort(QObject *parent = nullptr);
    ~PtyPort() override;
    PtyPort(const PtyPort &) = delete;
    PtyPort &operator=(const PtyPort &) = delete;

    static bool available();

    // Makes the pseudo-terminal and the link to it at `link` (see
    // PortLink for what may be replaced). False with the reason, nothing left
    // behind; false too when it is open already.
    bool open(const QString &link, QString *problem);
    // Removes the link (when it still points here) and closes the port.
    void close();
    bool isOpen() const { return masterFd >= 0; }
    // "/dev/pts/4"
    QString device() const { return devicePath; }

    Format format();

    enum class Reading { Everything, OpeningsOnly };
    // What happened since the last look: openings begun and ended, and what
    // the programs wrote (nothing while reading is paused or only openings
    // are asked for, except what they wrote before an opening ended).
    QList<Event> take(Reading what = Reading::Everything);
    // Paused, the programs' writes wait in the pseudo-terminal (and block
    // once it is full).
    void setReading(bool on);
    bool isReading() const { return reading; }
    // To the programs of the opening now, in order; what the port cannot take
    // yet waits here.
    void write(const QByteArray &bytes);
    int waiting() const { return int(outBytes - outAt); }

signals:
    // take() has something.
    void readyRead();
    // Most of what waited has gone into the port: room for more (not said
    // when a write() went in at once).
    void drained();

private:
    void syncOpens(QList<Event> *events);
    void endOpening(QList<Event> *events);
    bool readMaster(QByteArray *into, int reads);
    void noteSettings();
    bool resetSettings(); // false when the port could not be made raw
    void flushOut();

    PortLink portLink;
    QString devicePath;
    int masterFd = -1;
    int slaveFd = -1;
    int openWatchFd = -1;
    int openCount = 0;
    quint64 openings = 0; // the last opening begun
    bool packetMode = false;
    bool reading = true;
    unsigned turn = 0; // which of the unset speeds the port is put at next
    Format noted;
    // What waits for the port, in the pieces it came in (never copied): the
    // first written from outAt on.
    std::deque<QByteArray> out;
    qint64 outBytes = 0;
    int outAt = 0;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QSocketNotifier> writable;
    std::unique_ptr<QSocketNotifier> openWatch;
};

#endif // PTYPORT_H

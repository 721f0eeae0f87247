#ifndef PTYPORT_H
#define PTYPORT_H

#include "engine/bridge/portlink.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

// The bridge's serial end: a pseudo-terminal in raw mode that programs open
// through a symbolic link (PortLink) as they would a serial port. It says
// what they write, takes what goes to them, and knows which character format
// they set and whether any of them has it open.
//
// What a pseudo-terminal does with a program's settings (Linux):
// - It keeps the speed, the stop bits (CSTOPB), odd parity (PARODD) and the
//   input checks (INPCK); it drops the parity flag (PARENB) and always has 8
//   data bits. The format is read from what is kept: parity when PARENB,
//   PARODD or INPCK shows (libmodbus sets INPCK with any parity; a program
//   that sets even parity without INPCK looks like no parity).
// - glibc's tcsetattr() fails with EINVAL when a program asks for parity and
//   nothing else it asked changes what the port holds: 19200 8E1 on a port
//   already at 19200. So the port stands at 50 baud, which no program asks
//   for: the bridge puts it back there each time it has taken note of a
//   program's speed (told at once by the pseudo-terminal's packet mode, which
//   reports every change of settings), and every program's setting then
//   changes the speed and succeeds.
// - When the last program closes the port, it is reset: raw, 50 baud, what
//   that program left unread dropped (and counted), the format forgotten.
//   The opens and closes are the kernel's record (inotify on the device),
//   read again before every decision, so that a close and the next open in
//   quick succession are seen in their order.
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

    // Programs that have the port open, as of now.
    int programs();
    Format format();

    // What the programs wrote and the bridge has not taken yet; empty when
    // nothing is there or reading is paused.
    QByteArray take();
    // Paused, the programs' writes wait in the pseudo-terminal (and block
    // once it is full).
    void setReading(bool on);
    bool isReading() const { return reading; }
    // To the programs, in order; what the port cannot take yet waits here.
    void write(const QByteArray &bytes);
    int waiting() const { return out.size() - outAt; }

signals:
    void readyRead();
    // Most of what waited has gone into the port: room for more (not said
    // when a write() went in at once).
    void drained();
    // The last program closed the port; `dropped` bytes it had not read (and
    // that waited for it) are gone.
    void closedByAll(qint64 dropped);

private:
    void syncOpens();
    void noteSettings();
    bool resetSettings(); // false when the port could not be made raw
    void flushOut();

    PortLink portLink;
    QString devicePath;
    int masterFd = -1;
    int slaveFd = -1;
    int openWatchFd = -1;
    int openCount = 0;
    bool packetMode = false;
    bool reading = true;
    Format noted;
    QByteArray out;
    int outAt = 0;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QSocketNotifier> writable;
    std::unique_ptr<QSocketNotifier> openWatch;
};

#endif // PTYPORT_H

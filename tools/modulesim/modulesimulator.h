#ifndef MODULESIMULATOR_H
#define MODULESIMULATOR_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>

#include <memory>

class QSocketNotifier;
class QTemporaryDir;

// What the module holds in its memory, as its console reports it.
struct ModuleState {
    QString name;
    QString version;
    QString mac;
    QString ip;
    QString mask;
    QString gateway;
    QString portTcp;
    QString parity;
    QString speed;
    QString stopBit;
    QString timeout;

    bool operator==(const ModuleState &other) const;
    bool operator!=(const ModuleState &other) const { return !(*this == other); }
};

// Stand-in for the Ordan-RS485-Ethernet module: plays the module's console on
// a pseudo-terminal and keeps a stable path (a symlink) that a serial port
// client opens like any device. Event driven: it runs in the thread and event
// loop that own it, so it can share a process with a QSerialPort.
//
// A burst of bytes (no byte for commandGapMs) is one command. Restart
// commands drop the link: the client sees a hang-up, and the module comes
// back on a fresh pseudo-terminal under the same path after restartDelay().
// While the link is down the path does not exist, as the node of an unplugged
// adapter vanishes. With setKeepLinkOnRestart() the line stays as it is and
// the module is only quiet for the restart delay, as behind a USB-serial
// adapter that is not the module's own.
//
// The module is "up" from start() on, down from a restart's beginning to its
// end (upChanged()). The network side (ModuleNetwork) follows that and what
// the module runs with.
//
// The simulator watches the device node to know whether a client has it
// open. Bytes sent while none has are lost, and what a client left unread is
// discarded when the last one closes, as on a real line; otherwise the next
// client would read replies meant for the previous one.
class ModuleSimulator : public QObject
{
    Q_OBJECT

public:
    static constexpr int commandGapMs = 15;
    static constexpr int defaultRestartDelayMs = 500;

    explicit ModuleSimulator(QObject *parent = nullptr);
    ~ModuleSimulator() override;

    // Opens the line. linkPath empty: the link is made in a fresh private
    // directory (/tmp/ordan-sim-XXXXXX/ttyORDAN). An existing symlink at
    // linkPath is replaced; any other file there makes start() fail.
    bool start(const QString &linkPath = QString());
    // Closes the line and removes the link (and the private directory).
    void stop();
    bool isStarted() const { return started; }
    QString errorString() const { return lastError; }

    QString devicePath() const { return linkPath; } // the stable symlink
    QString ptyPath() const { return slavePath; }   // current /dev/pts/N
    bool isLinked() const { return masterFd >= 0; }
    // Clients that have the current device open (the simulator's own hold
    // on it not counted). Two opens in a row with no close between may count
    // as one: the kernel merges identical pending events.
    int clientCount() const { return clients; }

    // What the module holds in its memory (and its queries answer).
    ModuleState state() const { return current; }
    void setState(const ModuleState &state);
    // What it runs with: its memory as it was at its last start. A value
    // written takes effect only with a restart.
    ModuleState runningState() const { return running; }
    // Started and not in the middle of a restart.
    bool isUp() const { return started && !restarting; }
    static ModuleState factoryState();

    // Every command received, exact bytes, oldest first.
    QList<QByteArray> received() const { return commands; }
    void clearReceived() { commands.clear(); }

    // Misbehaviours. A silent module records commands and does nothing else:
    // no answer, no change, no restart.
    void setSilent(bool on) { silent = on; }
    void setReplyDelay(int ms) { replyDelayMs = qMax(0, ms); }
    void setChunking(int chunks, int gapMs);
    void setWrongAck(bool on) { wrongAck = on; }
    // Acknowledges sound write commands with "ok" but keeps its values: a
    // module whose memory does not take the write.
    void setIgnoreWrites(bool on) { ignoreWrites = on; }
    // Refuses commands equal to or starting with this text: "?" for the
    // time-out command, "error" for the others.
    void refuseCommand(const QByteArray &command);
    void clearRefusals() { refused.clear(); }
    // Answers write commands starting with `prefix` with `text` instead of
    // "ok" (a sound value is still taken).
    void setAcknowledgement(const QByteArray &prefix, const QByteArray &text);
    // Takes no notice of the restart commands: no answer, no restart.
    void setIgnoreRestart(bool on) { ignoreRestart = on; }
    // With setIgnoreRestart(): after each ignored restart command the next
    // n replies are lost on the line (not sent), then it answers again.
    void setLoseRepliesAfterIgnoredReset(int n) { loseAfterIgnoredReset = qMax(0, n); }
    // A restart keeps the pseudo-terminal and its path: no hang-up. The
    // module is quiet for restartDelay() (commands recorded, not answered,
    // not applied), then answers with what it runs with after the restart.
    void setKeepLinkOnRestart(bool on) { keepLink = on; }
    // Keeps written values aside until the next restart, as modules that
    // store settings only when they start do; the queries answer the old
    // values meanwhile.
    void setApplyAtRestart(bool on) { applyAtRestart = on; }
    // Comes back from its next restart as another module: this MAC, the
    // values kept.
    void setReturnAs(const QString &mac) { returnAsMac = mac; }
    // The n-th answer to "MAC" (from 1) is left out, or garbled into another
    // well-formed MAC.
    void dropMacAnswer(int n) { droppedMacAnswers.append(n); }
    void garbleMacAnswer(int n) { garbledMacAnswers.append(n); }
    // The link drops at the n-th write command (from 1), which is neither
    // taken nor answered, and comes back after restartDelay(). Only the line
    // drops: the module keeps running with what it ran with, and the link
    // drops with setKeepLinkOnRestart() too.
    void setDropLinkAtWrite(int n) { dropLinkAtWrite = n; }
    void setRestartDelay(int ms) { restartDelayMs = qMax(0, ms); }
    int restartDelay() const { return restartDelayMs; }

    // Writes bytes to the line now, bypassing delay and chunking. False when
    // the link is down; the bytes are lost when no client has the device
    // open.
    bool sendRaw(const QByteArray &bytes);
    // Restarts as "reset" does: what it holds becomes what it runs with
    // (setApplyAtRestart() and setReturnAs() apply), the link drops (or the
    // module goes quiet) and it is up again after restartDelay().
    void restartNow();
    // Drops the link and stays away until comeBack(). The module itself
    // keeps running (its network side too); a restart under way stays
    // unfinished until comeBack().
    void hangUp();
    // Opens a fresh pseudo-terminal and re-points the link if it is down,
    // and ends a restart under way.
    bool comeBack();

signals:
    void commandReceived(const QByteArray &command);
    // The module's memory changed (a write taken, a restart, a reset).
    void stateChanged();
    // Bytes handed to the line: each reply chunk and each sendRaw().
    void bytesSent(const QByteArray &bytes);
    void linkDropped();
    void linkRestored();
    void clientCountChanged(int count);
    // The module came up (start(), the end of a restart) or went down (a
    // restart begins, stop()).
    void upChanged(bool up);
    // What it runs with changed: a restart, setState().
    void runningStateChanged();

private:
    struct Piece {
        QByteArray bytes;
        int waitMs;
    };

    bool openLink();
    void dropLink(bool notify);
    bool pointLinkAt(const QString &target);
    void onMasterReadable();
    void onMasterWritable();
    void onWatchEvents();
    void onCommandComplete();
    void onPaceTimeout();
    QByteArray answer(const QByteArray &command);
    void restartCommand(const QByteArray &command);
    void dropLinkFor(int ms);
    void setUp(bool up);
    void queueReply(const QByteArray &reply);
    void writeToLine(const QByteArray &bytes);
    void flushOutput();

    bool started = false;
    QString lastError;
    QString linkPath;
    QString slavePath;
    std::unique_ptr<QTemporaryDir> privateDir;
    int masterFd = -1;
    int slaveFd = -1;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    int watchFd = -1; // inotify on the device node: opens and closes
    QSocketNotifier *watchNotifier = nullptr;
    int clients = 0;

    QByteArray incoming;
    QByteArray outgoing;
    QList<Piece> pieces;
    QTimer gapTimer;
    QTimer paceTimer;
    QTimer restartTimer;

    ModuleState current;
    QList<QByteArray> commands;
    QList<QByteArray> refused;
    QList<QPair<QByteArray, QByteArray>> acknowledgements;
    ModuleState staged;  // written, not yet in memory (applyAtRestart)
    ModuleState running; // in effect since the last start
    bool ignoreRestart = false;
    int loseAfterIgnoredReset = 0;
    int repliesToLose = 0;
    bool keepLink = false;
    bool restarting = false; // down between a restart's beginning and its end
    bool applyAtRestart = false;
    QString returnAsMac;
    QList<int> droppedMacAnswers;
    QList<int> garbledMacAnswers;
    int macAnswers = 0;
    int dropLinkAtWrite = 0;
    int writes = 0;
    bool silent = false;
    bool wrongAck = false;
    bool ignoreWrites = false;
    int replyDelayMs = 0;
    int chunkCount = 1;
    int chunkGapMs = 0;
    int restartDelayMs = defaultRestartDelayMs;
};

#endif // MODULESIMULATOR_H

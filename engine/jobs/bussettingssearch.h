#ifndef BUSSETTINGSSEARCH_H
#define BUSSETTINGSSEARCH_H

#include "engine/bus/busscan.h"
#include "engine/console/portlock.h"
#include "engine/jobs/modulejob.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>

class ReadJob;
class WriteJob;

// Finds the speed and parity of the bus behind a module, through the
// module's console: reads the module (its MAC, its settings, its address),
// probes the bus at the settings it runs with, and when nothing answers
// writes each setting in turn, most common first, each write verified with
// its restart proof (the same module, by its MAC), then probes again. Stop
// bits are kept: receivers check one stop bit.
//
// It stops at the first setting where a device answers: the module stays
// there, verified. When nothing answers anywhere, or the time given is up,
// the module is written back to the settings it had, verified. The port's
// lock is held from start to end, across every write.
class BusSettingsSearch : public QObject
{
    Q_OBJECT

public:
    // A speed and parity, as the module's console words them.
    struct Setting {
        QString speed;  // "19200"
        QString parity; // "none", "even", "odd"
        bool operator==(const Setting &o) const { return speed == o.speed && parity == o.parity; }
    };
    // The order tried: 9600 and 19200 with none, even and odd parity, then
    // 38400, 115200, 57600, 4800, 2400, 1200, 128000, 256000 likewise.
    static QList<Setting> order();
    // "19200 8E1", with the stop bits given.
    static QString text(const Setting &setting, const QString &stopBits);

    struct Try {
        Setting setting;
        bool written = false;  // false: the settings the module ran with
        bool verified = false; // written and verified
        int ms = 0;            // the whole try: its cost
        int writeMs = 0;       // the verified write, restart and read-back
        int probeMs = 0;       // the probe, from when the module was back
        JobResult writeResult = JobResult::Done;
        QString writeError;
        BusReport report;
    };

    enum class Outcome {
        Found,         // a device answers; the module is verified there
        NotFound,      // nothing anywhere; the module is back, verified
        TimeUp,        // the time ran out; the module is back, verified
        NotReached,    // the module's TCP port could not be used; back
        WrongModule,   // the module on the console is not at HOST:PORT
        Failed,        // a read or write failed (error(), jobResult())
        RestoreFailed, // writing the old settings back failed
        Interrupted,
    };

    struct Settings {
        QString consolePort;
        JobSettings job;
        BusScanSettings scan;  // the target and the probe (ids: default 1-10)
        int findTimeoutMs = 0; // 0: no bound
        // How long the module's network may take to come up after a restart.
        int networkTimeoutMs = 10000;
    };

    explicit BusSettingsSearch(const Settings &settings, QObject *parent = nullptr);
    ~BusSettingsSearch() override;

    // Called when the module is left at settings other than it had, with
    // its MAC and the values read back after the write (the register
    // records it as a rewrite of the same module).
    using Rewritten = std::function<void(const QString &mac, const parameters::Values &values)>;
    void setRewritten(Rewritten hook) { rewritten = std::move(hook); }
    void setProgress(JobProgress progress) { progressHandler = std::move(progress); }

    void start();
    void interrupt();

    const QList<Try> &tries() const { return done; }
    Outcome outcome() const { return result; }
    QString error() const { return failure; }
    QString mac() const { return moduleMac; }
    Setting oldSetting() const { return old; }
    QString stopBits() const { return oldStopBits; }
    // The try that found the bus; nullptr when none did.
    const Try *found() const;
    // Settings written, not counting the one the module ran with.
    int triesWritten() const;
    // ordan-cli's exit code: the found probe's (0, or 6 when an expected
    // device is missing); 4 not found or time up (the module back); the
    // failed job's code; 2 another module; 3 not reached; 130 interrupted.
    int exitCode() const;
    // One line for the terminal and the record: "bus found at 19200 8E1
    // after 4 tries", "nothing answers at any setting: the module is back at
    // 9600 8N1, verified", ...
    QString conclusion() const;

signals:
    void tryStarted(int index, const QString &settingText, bool writing);
    void tryFinished(int index);
    void restoringSettings(const QString &settingText);
    void finished();

private:
    void onRead();
    void probe(bool afterWrite);
    void onProbed();
    void advance();
    void nextTry();
    void write(const Setting &setting, std::function<void()> then);
    void restore(Outcome why);
    void end(Outcome outcome, const QString &error = QString(), int jobExit = 0);

    Settings config;
    PortLock lock;
    Rewritten rewritten;
    JobProgress progressHandler;
    std::unique_ptr<ReadJob> reader;
    std::unique_ptr<WriteJob> writer;
    std::unique_ptr<BusScan> scan;
    QList<Setting> queue;
    QList<Try> done;
    Setting old;
    Setting writerSetting; // what the writer writes
    QString oldStopBits;
    QString moduleMac;
    QElapsedTimer clock;
    QElapsedTimer tryClock;
    QElapsedTimer writeClock;
    QElapsedTimer probeClock;
    bool consoleDone = false; // the try's read or write has ended
    bool probeStarted = false;
    bool restoring = false;
    // The write back was verified: the module read back at its old settings.
    // The conclusion says "back at" only then.
    bool restoredVerified = false;
    Outcome result = Outcome::Failed;
    QString failure;
    int failedExit = 0;
    bool finishedFlag = false;
    QString interruptedWrite; // the setting being written when interrupted
    parameters::Values lastReadBack;
};

#endif // BUSSETTINGSSEARCH_H

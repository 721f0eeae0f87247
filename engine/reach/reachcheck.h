#ifndef REACHCHECK_H
#define REACHCHECK_H

#include "engine/link/connectpolicy.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QTcpSocket;

// Whether modules can be reached on the network: a TCP connection to each
// one's address and TCP port, nothing sent, closed as soon as it is made.
// Many targets at once, at most maxAtOnce connections in progress, all in
// the event loop (no threads, no waiting in place).
//
// What a target comes to:
// - reachable: connected, in so many milliseconds;
// - refused: the host answered that nothing listens there (its TCP port
//   is another, or its one connection is taken);
// - no answer: nothing came back within the connect time-out (a wrong
//   address, subnet, gateway or cable; a host that is off), or the network
//   said on the way that nothing is there (an address on the subnet that
//   no device takes, a router without a route for it);
// - unreachable: this computer would not even send to it: it has no route
//   to the address (the connect fails at once, before anything went out;
//   a blackhole route is one too).
//
// With setRetryFor(), a target that is not reachable is tried again until
// it is or the time is up (a module whose network is still coming up after
// a restart), by the connect policy of everything that waits for a module
// (ConnectPolicy::within): after a time-out at once, after a quick failure
// a quarter second later. Its last try is its outcome.
class ReachCheck : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxAtOnce = 32;
    static constexpr int defaultConnectTimeoutMs = 3000;

    enum class Outcome { Pending, Reachable, Refused, NoAnswer, Unreachable };
    struct Result {
        Outcome outcome = Outcome::Pending;
        int ms = -1;      // to connect, when reachable
        int attempts = 0; // connections tried
        QString detail;   // the system's words for a failure
        QString time;     // when it was decided (ISO 8601, local, with offset)
    };

    explicit ReachCheck(QObject *parent = nullptr);
    ~ReachCheck() override;

    void setConnectTimeout(int ms) { connectTimeoutMs = ms; }
    int connectTimeout() const { return connectTimeoutMs; }
    // Tries each target again until it is reachable or `ms` have passed
    // since its first try; 0 (the default): once.
    void setRetryFor(int ms) { retryForMs = ms; }

    // Before start(); returns the target's index.
    int addTarget(const QHostAddress &address, quint16 port);
    int count() const { return int(targets.size()); }
    QHostAddress address(int index) const { return targets.at(size_t(index))->address; }
    quint16 port(int index) const { return targets.at(size_t(index))->port; }
    // "10.20.0.31:502"
    QString target(int index) const;
    Result result(int index) const { return targets.at(size_t(index))->result; }

    void start();
    // Ends every try at once; targets not decided stay Pending.
    void stop();
    bool isFinished() const { return finishedFlag; }

    // "reachable", "refused", "no answer", "unreachable": the words of the
    // record and of JSON, never translated ("" for Pending).
    static QString word(Outcome outcome);
    // The outcome for a person, translated: "reachable (12 ms)", "refused",
    // "no answer", "unreachable"; "not checked" for Pending.
    static QString describe(const Result &result);

signals:
    void targetFinished(int index);
    void finished();

private:
    struct Target {
        QHostAddress address;
        quint16 port = 0;
        Result result;
        QTcpSocket *socket = nullptr;
        QTimer timer; // the try's time-out, or the pause before the next try
        QElapsedTimer tryClock;
        QElapsedTimer sinceFirst;
        ConnectPolicy policy;
        bool inConnectCall = false;
        bool done = false;
    };

    void pump();
    void attempt(int index);
    void onConnected(int index);
    void onError(int index);
    void onTimer(int index);
    void endTry(int index, Outcome outcome, const QString &detail, bool timedOut = false);
    void closeSocket(Target *t, bool graceful);
    void checkFinished();

    std::vector<std::unique_ptr<Target>> targets;
    QList<int> ready; // targets whose next try may start, in order
    int connectTimeoutMs = defaultConnectTimeoutMs;
    int retryForMs = 0;
    int inProgress = 0;
    bool pumping = false;
    bool started = false;
    bool finishedFlag = false;
};

#endif // REACHCHECK_H

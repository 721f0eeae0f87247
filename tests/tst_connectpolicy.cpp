// The connect policy of everything that connects to a module, on a clock
// of its own: each row a schedule and a run of tries (how each ended and
// when), and the pauses and time-outs it is told.
#include "engine/link/connectpolicy.h"

#include <QtTest>

using Ended = ConnectPolicy::Ended;
Q_DECLARE_METATYPE(ConnectPolicy::Schedule)

namespace
{

struct Try {
    Ended how;
    int tookMs; // from the try's start to its end
};

} // namespace
Q_DECLARE_METATYPE(QList<Try>)

class ConnectPolicyTest : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void failureWords_data();
    void failureWords();
};

void ConnectPolicyTest::run_data()
{
    QTest::addColumn<ConnectPolicy::Schedule>("schedule");
    QTest::addColumn<QList<Try>>("tries");
    // Per try: the time-out it was given, then the pause after it (-1: the
    // run is over).
    QTest::addColumn<QList<int>>("timeouts");
    QTest::addColumn<QList<int>>("pauses");

    const Try refused{Ended::Failed, 5};
    const Try silent{Ended::TimedOut, 3000};
    const Try closed{Ended::ClosedAtOnce, 20};

    QTest::newRow("a check without retries: one try")
        << ConnectPolicy::within(0) << QList<Try>{refused} << QList<int>{3000} << QList<int>{-1};
    QTest::newRow("a check within 1 s: refused every quarter second, the last cut")
        << ConnectPolicy::within(1000) << QList<Try>{refused, refused, refused, refused, refused}
        << QList<int>{1000, 745, 490, 250, 250} << QList<int>{250, 250, 250, 230, -1};
    QTest::newRow("a check: after a time-out the next try at once, given what is left")
        << ConnectPolicy::within(5000) << QList<Try>{silent, {Ended::TimedOut, 2000}}
        << QList<int>{3000, 2000} << QList<int>{0, -1};
    QTest::newRow("a check: the last try gets at least 250 ms")
        << ConnectPolicy::within(300, 1000) << QList<Try>{{Ended::Failed, 200}, refused}
        << QList<int>{300, 250} << QList<int>{100, -1};
    QTest::newRow("a link kept up: 250, 500, 1000, then 2000 ms")
        << ConnectPolicy::keptUp() << QList<Try>{refused, refused, refused, refused, refused}
        << QList<int>{3000, 3000, 3000, 3000, 3000} << QList<int>{250, 500, 1000, 2000, 2000};
    QTest::newRow("a link kept up: a module that closes at once is asked every 2 s")
        << ConnectPolicy::keptUp() << QList<Try>{closed, refused, closed}
        << QList<int>{3000, 3000, 3000} << QList<int>{2000, 2000, 2000};
    QTest::newRow("a link kept up: a silent module is asked again at once")
        << ConnectPolicy::keptUp() << QList<Try>{silent, silent} << QList<int>{3000, 3000}
        << QList<int>{0, 0};
}

void ConnectPolicyTest::run()
{
    QFETCH(ConnectPolicy::Schedule, schedule);
    QFETCH(QList<Try>, tries);
    QFETCH(QList<int>, timeouts);
    QFETCH(QList<int>, pauses);
    ConnectPolicy policy(schedule);
    qint64 now = 1000000; // any monotonic clock
    policy.begin(now);
    for (int i = 0; i < tries.size(); ++i) {
        QCOMPARE(policy.tryTimeout(now), timeouts.at(i));
        now += tries.at(i).tookMs;
        const int pause = policy.afterFailure(tries.at(i).how, now);
        QCOMPARE(pause, pauses.at(i));
        if (pause < 0)
            QCOMPARE(i, tries.size() - 1);
        now += qMax(0, pause);
    }
    // A run begun afresh starts again from the first pause.
    policy.begin(now);
    if (schedule.giveUpMs != 0)
        QCOMPARE(policy.afterFailure(Ended::Failed, now), schedule.firstPauseMs);
}

void ConnectPolicyTest::failureWords_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("inConnectCall");
    QTest::addColumn<QString>("word");
    QTest::newRow("refused by the host")
        << int(QAbstractSocket::ConnectionRefusedError) << false << "refused";
    QTest::newRow("refused inside the connect call: no route")
        << int(QAbstractSocket::ConnectionRefusedError) << true << "unreachable";
    QTest::newRow("the network's word")
        << int(QAbstractSocket::NetworkError) << false << "no answer";
    QTest::newRow("a time-out") << int(QAbstractSocket::SocketTimeoutError) << false << "no answer";
}

void ConnectPolicyTest::failureWords()
{
    QFETCH(int, error);
    QFETCH(bool, inConnectCall);
    QFETCH(QString, word);
    QCOMPARE(ConnectPolicy::word(
                 ConnectPolicy::failureOf(QAbstractSocket::SocketError(error), inConnectCall)),
             word);
}

QTEST_GUILESS_MAIN(ConnectPolicyTest)
#include "tst_connectpolicy.moc"

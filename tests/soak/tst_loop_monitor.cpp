// The responsiveness monitor: what it counts as a blocked loop and as held input, from a
// scripted sequence of ticks, and that its timer really notices a blocked loop.
#include "app/LoopMonitor.h"

#include <QTest>
#include <QThread>

struct Tick
{
    qint64 at;
    bool held;
};
Q_DECLARE_METATYPE(QList<Tick>)

class TestLoopMonitor : public QObject
{
    Q_OBJECT

private slots:
    void figures_data()
    {
        QTest::addColumn<QList<Tick>>("ticks");
        QTest::addColumn<qint64>("longestGap");
        QTest::addColumn<qint64>("longestUnresponsive");

        const auto steady = [](qint64 from, qint64 to, bool held) {
            QList<Tick> ticks;
            for (qint64 t = from; t <= to; t += 100)
                ticks.append({t, held});
            return ticks;
        };
        QTest::newRow("steady ticks") << steady(0, 2000, false) << qint64(100) << qint64(0);
        QTest::newRow("timer slack below the threshold")
            << QList<Tick>{{0, false}, {100, false}, {299, false}, {400, false}} << qint64(199)
            << qint64(0);
        QTest::newRow("a blocked loop counts from the tick before")
            << QList<Tick>{{0, false}, {100, false}, {1600, false}, {1700, false}} << qint64(1500)
            << qint64(1500);
        QTest::newRow("a waiting call holds input from its first tick")
            << steady(0, 0, false) + steady(100, 1000, true) + steady(1100, 1300, false)
            << qint64(100) << qint64(1000);
        QTest::newRow("a blocked stretch inside a waiting call is one stretch")
            << QList<Tick>{{0, false}, {100, true}, {200, true}, {1200, true}, {1300, false}}
            << qint64(1000) << qint64(1200);
        QTest::newRow("the longer of two stretches")
            << steady(0, 0, false) + steady(100, 400, true) + steady(500, 600, false) +
                   QList<Tick>{{1400, false}, {1500, false}}
            << qint64(800) << qint64(800);
    }

    void figures()
    {
        QFETCH(QList<Tick>, ticks);
        QFETCH(qint64, longestGap);
        QFETCH(qint64, longestUnresponsive);

        bool held = false;
        LoopMonitor monitor([&held] { return held; });
        for (const Tick& tick : ticks) {
            held = tick.held;
            monitor.tickAt(tick.at);
        }
        QCOMPARE(monitor.longestGapMs(), longestGap);
        QCOMPARE(monitor.longestUnresponsiveMs(), longestUnresponsive);
        QCOMPARE(monitor.ticks(), qint64(ticks.size()));
    }

    void onlyTheEnvironmentSwitchStartsIt()
    {
        qunsetenv("TALLYFRAME_LOOP_MONITOR");
        QVERIFY(!LoopMonitor::startIfRequested([] { return false; }));
        qputenv("TALLYFRAME_LOOP_MONITOR", "0");
        QVERIFY(!LoopMonitor::startIfRequested([] { return false; }));
        qputenv("TALLYFRAME_LOOP_MONITOR", "1");
        std::unique_ptr<LoopMonitor> monitor(LoopMonitor::startIfRequested([] { return false; }));
        QVERIFY(monitor);
        qunsetenv("TALLYFRAME_LOOP_MONITOR");
    }

    void noticesABlockedEventLoop()
    {
        LoopMonitor monitor([] { return false; });
        monitor.start();
        QTRY_VERIFY(monitor.ticks() >= 2);
        QThread::msleep(700); // the loop does nothing else meanwhile
        QTRY_VERIFY(monitor.ticks() >= 4);
        QVERIFY2(monitor.longestGapMs() >= 700, QByteArray::number(monitor.longestGapMs()));
        QVERIFY(monitor.longestUnresponsiveMs() >= 700);
    }
};

QTEST_MAIN(TestLoopMonitor)
#include "tst_loop_monitor.moc"

// The window's timers: Enabled and Interval as the handlers rely on them.
#include "app/formtimer.h"

#include <QSignalSpy>
#include <QTest>

using morven::FormTimer;

class FormTimerTest : public QObject
{
    Q_OBJECT
private slots:
    void startSettingsAreKept()
    {
        FormTimer t(QStringLiteral("Timer3"), true, 0);
        QCOMPARE(t.objectName(), QStringLiteral("Timer3"));
        QVERIFY(t.isEnabled());
        QCOMPARE(t.interval(), 0);
        QVERIFY(!t.isRunning());
    }

    void zeroIntervalNeverFiresUntilOneIsSet()
    {
        FormTimer t(QStringLiteral("t"), true, 0);
        QSignalSpy ticks(&t, &FormTimer::tick);
        QVERIFY(!ticks.wait(150));
        t.setInterval(20);
        QVERIFY(ticks.wait(5000));
        t.setInterval(0);
        QVERIFY(t.isEnabled());
        QVERIFY(!t.isRunning());
    }

    void disabledTimerNeverFires()
    {
        FormTimer t(QStringLiteral("t"), false, 10);
        QSignalSpy ticks(&t, &FormTimer::tick);
        QVERIFY(!ticks.wait(100));
        QVERIFY(!t.isRunning());
    }

    void enablingAnEnabledTimerKeepsItsCount()
    {
        FormTimer t(QStringLiteral("t"), false, 1000);
        t.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(t.remainingTime() < 900, 5000);
        t.setEnabled(true);
        QVERIFY(t.remainingTime() < 900);
    }

    void reenablingADisabledTimerStartsAFreshCount()
    {
        FormTimer t(QStringLiteral("t"), true, 1000);
        QTRY_VERIFY_WITH_TIMEOUT(t.remainingTime() < 900, 5000);
        t.setEnabled(false);
        QCOMPARE(t.remainingTime(), -1);
        t.setEnabled(true);
        QVERIFY(t.remainingTime() > 900);
    }

    void newIntervalRestartsTheCount()
    {
        FormTimer t(QStringLiteral("t"), true, 1000);
        QTRY_VERIFY_WITH_TIMEOUT(t.remainingTime() < 900, 5000);
        t.setInterval(2000);
        QVERIFY(t.remainingTime() > 1900);
    }

    void keepsTickingUntilDisabled()
    {
        FormTimer t(QStringLiteral("t"), true, 10);
        QSignalSpy ticks(&t, &FormTimer::tick);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 5000);
        t.setEnabled(false);
        const auto seen = ticks.count();
        QVERIFY(!ticks.wait(100));
        QCOMPARE(ticks.count(), seen);
    }

    void disablingInsideTheTickStopsIt()
    {
        FormTimer t(QStringLiteral("t"), true, 10);
        int ticks = 0;
        connect(&t, &FormTimer::tick, &t, [&] {
            ++ticks;
            t.setEnabled(false);
        });
        QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 5000);
        QTest::qWait(100);
        QCOMPARE(ticks, 1);
    }
};

QTEST_GUILESS_MAIN(FormTimerTest)
#include "test_formtimer.moc"

#include "platform/QuitSignals.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TestQuitSignals : public QObject
{
    Q_OBJECT

    static bool handledByDefault(int signal)
    {
        struct sigaction current {};
        ::sigaction(signal, nullptr, &current);
        return current.sa_handler == SIG_DFL;
    }

private Q_SLOTS:
    // A termination signal arrives as a quit request through the event loop, each kind
    // named, several in a row as the last one; once the listener goes, the default is back.
    void signalsBecomeQuitRequests()
    {
        {
            QuitSignals signals;
            QSignalSpy requested(&signals, &QuitSignals::quitRequested);
            QVERIFY(!handledByDefault(SIGTERM));
            ::raise(SIGTERM);
            QVERIFY(requested.wait(2000));
            QCOMPARE(requested.takeFirst().first().toInt(), SIGTERM);
            ::raise(SIGINT);
            ::raise(SIGHUP);
            QVERIFY(requested.wait(2000));
            QTest::qWait(20);
            QCOMPARE(requested.size(), 1);
            QCOMPARE(requested.first().first().toInt(), SIGHUP);
            QCOMPARE(signals.received(), SIGHUP);
        }
        QVERIFY(handledByDefault(SIGTERM));
        QVERIFY(handledByDefault(SIGINT));
        QVERIFY(handledByDefault(SIGHUP));
        // A second listener works as the first did.
        QuitSignals again;
        QSignalSpy requested(&again, &QuitSignals::quitRequested);
        ::raise(SIGTERM);
        QVERIFY(requested.wait(2000));
    }
};

QTEST_GUILESS_MAIN(TestQuitSignals)
#include "tst_QuitSignals.moc"

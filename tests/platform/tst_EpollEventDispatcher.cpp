#include "platform/EpollEventDispatcher.h"
#include "platform/EpollLoop.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

#include <sys/socket.h>
#include <unistd.h>

namespace {
// Runs `work` on the thread of `context` and waits for it.
void on(QObject *context, const std::function<void()> &work)
{
    QMetaObject::invokeMethod(context, work, Qt::BlockingQueuedConnection);
}

struct Counter : EpollLoop::Watcher
{
    std::atomic<int> calls{0};
    std::atomic<std::uint32_t> last{0};
    void ready(std::uint32_t events) override
    {
        last = events;
        ++calls;
    }
};

struct Pair
{
    int fd[2] = {-1, -1};
    Pair() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fd); }
    ~Pair()
    {
        ::close(fd[0]);
        ::close(fd[1]);
    }
    void send() { (void)!::write(fd[1], "x", 1); }
    void drain()
    {
        char buffer[64];
        while (::read(fd[0], buffer, sizeof buffer) > 0) {
        }
    }
};
}

class TestEpollEventDispatcher : public QObject
{
    Q_OBJECT

    QThread m_thread;
    QObject *m_context = nullptr;   // lives on m_thread

private Q_SLOTS:
    void initTestCase()
    {
        m_thread.setEventDispatcher(new EpollEventDispatcher);
        m_thread.start();
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
    }
    void cleanupTestCase()
    {
        QMetaObject::invokeMethod(m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        QVERIFY(m_thread.wait(5000));
    }

    void timersPostedCallsAndDeleteLater()
    {
        QVERIFY(qobject_cast<EpollEventDispatcher *>(m_thread.eventDispatcher()));
        std::atomic<bool> ranThere{false};
        QMetaObject::invokeMethod(m_context, [&] { ranThere = QThread::currentThread() == &m_thread; });
        QTRY_VERIFY(ranThere);

        std::atomic<int> ticks{0};
        std::atomic<qint64> tookMs{0};
        std::atomic<int> remaining{-2};
        std::atomic<bool> singleShot{false};
        on(m_context, [&] {
            auto *timer = new QTimer(m_context);
            auto *clock = new QElapsedTimer;
            clock->start();
            connect(timer, &QTimer::timeout, timer, [&, timer, clock] {
                if (++ticks == 5) {
                    tookMs = clock->elapsed();
                    delete clock;
                    timer->deleteLater();   // stopped from its own slot, then gone
                }
            });
            timer->start(20);
            QTimer::singleShot(30, m_context, [&] { singleShot = true; });
            auto *far = new QTimer(m_context);
            far->start(60000);
            remaining = far->remainingTime();
            delete far;
        });
        QTRY_COMPARE(ticks.load(), 5);
        QTRY_VERIFY(singleShot);
        QVERIFY2(tookMs >= 95 && tookMs < 2000, qPrintable(QString::number(tookMs)));
        QVERIFY2(remaining > 59000 && remaining <= 60000, qPrintable(QString::number(remaining)));
        QTest::qWait(100);
        QCOMPARE(ticks.load(), 5);   // deleted with its timer: no tick after

        QPointer<QObject> doomed;
        on(m_context, [&] {
            doomed = new QObject;
            doomed->deleteLater();
        });
        QTRY_VERIFY(doomed.isNull());
    }

    void socketNotifiersAndDirectWatchers()
    {
        Pair notified;
        Pair watched;
        std::atomic<int> activations{0};
        Counter counter;
        std::atomic<int> rounds{0};
        EpollLoop *loop = nullptr;
        QSocketNotifier *notifier = nullptr;
        on(m_context, [&] {
            notifier = new QSocketNotifier(notified.fd[0], QSocketNotifier::Read, m_context);
            connect(notifier, &QSocketNotifier::activated, notifier, [&] {
                notified.drain();
                ++activations;
            });
            loop = new EpollLoop(m_context);
            loop->setAfterRound([&] { ++rounds; });
            QVERIFY(loop->add(watched.fd[0], EpollLoop::kReadable, &counter));
        });
        notified.send();
        QTRY_COMPARE(activations.load(), 1);
        watched.send();
        QTRY_VERIFY(counter.calls >= 1);
        QVERIFY(counter.last & EpollLoop::kReadable);
        QVERIFY(rounds >= 1);

        // Level-triggered until read, silent once the watch asks for nothing.
        QTRY_VERIFY(counter.calls >= 3);
        on(m_context, [&] { loop->modify(watched.fd[0], 0, &counter); });
        const int settled = counter.calls;
        QTest::qWait(50);
        QCOMPARE(counter.calls.load(), settled);

        on(m_context, [&] {
            delete notifier;
            loop->remove(watched.fd[0]);
            delete loop;
        });
        notified.send();
        QTest::qWait(50);
        QCOMPARE(activations.load(), 1);
    }

    // On a thread with the stock dispatcher the loop keeps a set of its own.
    void loopWorksUnderTheDefaultDispatcher()
    {
        QVERIFY(!qobject_cast<EpollEventDispatcher *>(QThread::currentThread()->eventDispatcher()));
        Pair watched;
        Counter counter;
        int rounds = 0;
        EpollLoop loop;
        loop.setAfterRound([&] { ++rounds; });
        QVERIFY(loop.add(watched.fd[0], EpollLoop::kReadable, &counter));
        watched.send();
        QTRY_VERIFY(counter.calls >= 1);
        QVERIFY(rounds >= 1);
        watched.drain();
    }
};

QTEST_GUILESS_MAIN(TestEpollEventDispatcher)
#include "tst_EpollEventDispatcher.moc"

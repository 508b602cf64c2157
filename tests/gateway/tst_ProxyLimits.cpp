#include "gateway/LocalAPIProxyService.h"
#include "support/LoopbackPeers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <memory>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {
const QByteArray kBusyReply =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
    "{\"error\": \"Quillmoor's local API proxy is busy: too many connections are open. Try again shortly.\"}";

bool startOn(LocalAPIProxyService &proxy)
{
    proxy.startProxy(0);
    return QTest::qWaitFor([&] { return proxy.isRunning(); }, 5000);
}

// Everything a client receives until the proxy closes, or until `ms` passed.
QByteArray receiveUntilClosed(QTcpSocket &client, int ms = 5000)
{
    QByteArray got;
    bool closed = false;
    QEventLoop loop;
    QObject::connect(&client, &QTcpSocket::readyRead, &loop, [&] { got += client.readAll(); });
    QObject::connect(&client, &QTcpSocket::disconnected, &loop, [&] {
        got += client.readAll();
        closed = true;
        loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (client.state() != QAbstractSocket::UnconnectedState)
        loop.exec();
    client.disconnect(&loop);
    return closed ? got : got + "<still open>";
}

bool echoes(QTcpSocket &client, const QByteArray &bytes)
{
    client.write(bytes);
    return QTest::qWaitFor([&] { return client.bytesAvailable() >= bytes.size(); }, 5000) && client.readAll() == bytes;
}

// CPU time (in clock ticks) of this process's thread whose name starts with `name`, read
// through a descriptor opened beforehand: the test fills the descriptor table.
class ThreadClock
{
public:
    explicit ThreadClock(const QString &name)
    {
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
            if (comm.open(QIODevice::ReadOnly) && name.startsWith(QString::fromLatin1(comm.readAll().trimmed())))
                m_fd = ::open(tasks.filePath(tid + QStringLiteral("/stat")).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        }
    }
    ~ThreadClock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isValid() const { return m_fd >= 0; }
    long ticks() const
    {
        char buffer[1024] = {};
        if (::pread(m_fd, buffer, sizeof buffer - 1, 0) <= 0)
            return -1;
        // utime and stime are the 12th and 13th fields after the parenthesised name.
        const QList<QByteArray> fields = QByteArray(std::strrchr(buffer, ')') + 2).split(' ');
        return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
    }

private:
    int m_fd = -1;
};
}

class TestProxyLimits : public QObject
{
    Q_OBJECT

    int m_descriptors = 0;

private Q_SLOTS:
    void init() { m_descriptors = openDescriptors(); }
    void cleanup() { QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), m_descriptors, 10000); }

    // Nobody pays for the proxy until it is switched on, and nothing of it stays after it
    // has gone: not its thread's loop, not its listeners, not a spare descriptor.
    void descriptorsComeBackWhenTheProxyGoes()
    {
        const int before = openDescriptors();
        {
            LocalAPIProxyService unused;
            QCOMPARE(openDescriptors(), before);
        }
        QCOMPARE(openDescriptors(), before);
        {
            LocalAPIProxyService used;
            QVERIFY(startOn(used));
            QVERIFY(openDescriptors() > before);
        }
        QCOMPARE(openDescriptors(), before);
    }

    void clientOverTheLimitIsToldTheProxyIsBusy()
    {
        ScriptedServer upstream(ScriptedServer::echo());
        RelayTarget target;
        target.port = upstream.port();
        target.maxConnections = 3;
        LocalAPIProxyService proxy(target);
        QStringList logs;
        connect(&proxy, &LocalAPIProxyService::logged, this, [&](const QString &line) { logs << line; });
        QVERIFY(startOn(proxy));

        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 3; ++i) {
            held.push_back(std::make_unique<QTcpSocket>());
            held.back()->connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
            QVERIFY(held.back()->waitForConnected(2000));
        }
        QTRY_COMPARE(proxy.openConnections(), 3);
        QTcpSocket extra;
        extra.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(extra.waitForConnected(2000));
        extra.write("GET /api/tags HTTP/1.1\r\n\r\n");
        QCOMPARE(receiveUntilClosed(extra), kBusyReply);
        QCOMPARE(RelayedConnection::busyReply(), kBusyReply);
        QTcpSocket another;   // a second refusal in the same spell adds no line
        another.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(another.waitForConnected(2000));
        QCOMPARE(receiveUntilClosed(another), kBusyReply);
        const auto busyLines = [&] { return logs.filter(QStringLiteral("Proxy busy")); };
        QTRY_COMPARE(busyLines().size(), 1);
        QVERIFY(busyLines().first().contains(QStringLiteral("3 connections")));

        // The three within the limit were not disturbed, and a freed place is taken again.
        for (auto &client : held)
            QVERIFY(echoes(*client, "POST /api/generate HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}"));
        held.front()->disconnectFromHost();
        QTRY_COMPARE(proxy.openConnections(), 2);
        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(next.waitForConnected(2000));
        QVERIFY(echoes(next, "GET / HTTP/1.1\r\n\r\n"));
        QTRY_VERIFY(logs.contains(QStringLiteral("✅ Proxy accepting again after turning away 2 client(s)")));
        QCOMPARE(busyLines().size(), 1);
        QCOMPARE(proxy.requestCount(), 4);   // three held and the next; the refused one is not counted
        held.clear();
        next.disconnectFromHost();
        QTRY_COMPARE(proxy.openConnections(), 0);
    }

    // Silence is allowed only before the first byte: a reply that takes long between
    // its pieces (a model loading, a slow generation) is never cut.
    void silentClientIsClosedButSlowReplyIsNot()
    {
        constexpr int kGrace = 300;
        ScriptedServer upstream([](QTcpSocket *socket) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\n\r\n");
                auto *tick = new QTimer(socket);
                auto sent = std::make_shared<int>(0);
                QObject::connect(tick, &QTimer::timeout, socket, [socket, tick, sent] {
                    socket->write("{\"response\": \"" + QByteArray::number((*sent)++) + "\"}\n");
                    if (*sent == 3) {
                        tick->stop();
                        socket->disconnectFromHost();
                    }
                });
                tick->start(2 * kGrace + 100);
            });
        });
        RelayTarget target;
        target.port = upstream.port();
        target.silentClientMs = kGrace;
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));

        QTcpSocket silent;
        QTcpSocket slow;
        QElapsedTimer clock;
        clock.start();
        silent.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        slow.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(silent.waitForConnected(2000) && slow.waitForConnected(2000));
        slow.write("POST /api/generate HTTP/1.1\r\nContent-Length: 20\r\n\r\n{\"model\": \"slow:1b\"}");

        QCOMPARE(receiveUntilClosed(silent), QByteArray());
        const qint64 silentFor = clock.elapsed();
        QVERIFY2(silentFor >= kGrace - 20 && silentFor < 5 * kGrace, qPrintable(QString::number(silentFor)));
        const QByteArray streamed = receiveUntilClosed(slow, 10000);
        QVERIFY2(streamed.endsWith("{\"response\": \"0\"}\n{\"response\": \"1\"}\n{\"response\": \"2\"}\n"), streamed.constData());
        QVERIFY(clock.elapsed() > 3 * (2 * kGrace + 100) - 50);
        QCOMPARE(upstream.accepted(), 1);   // the silent client never reached it
        QTRY_COMPARE(proxy.openConnections(), 0);
    }

    // Each deadline keeps its own span, whichever was set first: a client that waits a
    // moment before it speaks (its 10 s grace running) still gets the 503 reply once the
    // upstream connect has had its 0.3 s.
    void deadlinesOfDifferentSpansEachKeepTheirOwn()
    {
        FullBacklogListener silent;
        QVERIFY(silent.isFull());
        RelayTarget target;
        target.port = silent.port();
        target.connectTimeoutMs = 300;
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(2000));
        QTest::qWait(100);
        QElapsedTimer clock;
        clock.start();
        client.write("GET /api/tags HTTP/1.1\r\n\r\n");
        QVERIFY(receiveUntilClosed(client, 8000).startsWith("HTTP/1.1 503 Service Unavailable\r\n"));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(proxy.openConnections(), 0);
    }

    // Any local user can open thousands of connections. With the descriptor table full,
    // the proxy thread must rest rather than spin on a listener it cannot serve, and
    // carry on once the table has room again.
    void thousandsOfIdleClientsUnderADescriptorLimit()
    {
        constexpr int kIdle = 2000;
        ScriptedServer upstream(ScriptedServer::echo());
        RelayTarget target;
        target.port = upstream.port();
        target.maxConnections = 100000;   // the descriptor table is the limit here
        target.silentClientMs = 120000;
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        ThreadClock proxyThread(QStringLiteral("com.quillmoor.proxy.queue"));
        QVERIFY(proxyThread.isValid());

        rlimit original{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &original), 0);
        QVERIFY(original.rlim_max >= rlim_t(kIdle + 64));
        const rlimit low{1024, original.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &original); });

        int opened[2];
        int release[2];
        QVERIFY(::pipe2(opened, O_CLOEXEC) == 0 && ::pipe2(release, O_CLOEXEC) == 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(proxy.listeningPort());
        const pid_t child = ::fork();
        if (child == 0) {
            // The clients live in a child of their own, with room for all of them; only
            // plain system calls here.
            const rlimit roomy{rlim_t(kIdle + 64), original.rlim_max};
            ::setrlimit(RLIMIT_NOFILE, &roomy);
            for (int i = 0; i < kIdle; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
            }
            char byte = 1;
            (void)!::write(opened[1], &byte, 1);
            (void)!::read(release[0], &byte, 1);
            ::_exit(0);
        }
        QVERIFY(child > 0);
        ::close(opened[1]);
        ::close(release[0]);
        char byte = 0;
        QCOMPARE(::read(opened[0], &byte, 1), ssize_t(1));
        ::close(opened[0]);

        // Give the proxy time to take what it can, then watch it with the table full.
        QTest::qWait(1000);
        const int held = proxy.openConnections();
        const long before = proxyThread.ticks();
        QTest::qWait(1000);
        const long busy = proxyThread.ticks() - before;
        (void)!::write(release[1], &byte, 1);
        ::close(release[1]);
        QCOMPARE(::waitpid(child, nullptr, 0), child);
        QVERIFY2(held > 500, qPrintable(QString::number(held)));
        // A spinning thread would show about 100 ticks in that second.
        QVERIFY2(busy >= 0 && busy <= 10, qPrintable(QString::number(busy)));

        QTRY_COMPARE_WITH_TIMEOUT(proxy.openConnections(), 0, 20000);
        restore.dismiss();
        ::setrlimit(RLIMIT_NOFILE, &original);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(2000));
        QVERIFY(echoes(client, "POST /api/generate HTTP/1.1\r\nContent-Length: 20\r\n\r\n{\"model\": \"after:1b\"}"));
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("after:1b"));
        client.disconnectFromHost();
        QTRY_COMPARE(proxy.openConnections(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProxyLimits)
#include "tst_ProxyLimits.moc"

#include "gateway/LocalAPIProxyService.h"
#include "platform/SocketTableReader.h"
#include "support/LoopbackPeers.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkInterface>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
// The largest buffer the kernel's TCP tuning may give a socket in one direction
// ("tcp_rmem" or "tcp_wmem": the third figure); 4 MiB where it cannot be read.
qsizetype tcpLimit(const char *name)
{
    QFile file(QStringLiteral("/proc/sys/net/ipv4/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return 4 << 20;
    const QList<QByteArray> fields = file.readAll().simplified().split(' ');
    bool ok = false;
    const qsizetype limit = fields.value(2).toLongLong(&ok);
    return ok && limit > 0 ? limit : qsizetype(4 << 20);
}

const QByteArray kFailsafe =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
    "{\"error\": \"Local Ollama service (port 11434) is not running or suspended by Quillmoor battery protectors.\"}";

QByteArray generate(const QByteArray &model)
{
    const QByteArray body = "{\"model\": \"" + model + "\", \"prompt\": \"hi\"}";
    return "POST /api/generate HTTP/1.1\r\nHost: localhost\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

struct Exchange
{
    QByteArray received;
    bool closedByProxy = false;
};

// Sends `request` and collects the answer until the proxy closes or `expect` bytes came.
Exchange exchange(quint16 port, const QByteArray &request, qsizetype expect = -1)
{
    Exchange result;
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    if (!client.waitForConnected(2000))
        return result;
    bool done = false;
    QObject::connect(&client, &QTcpSocket::readyRead, [&] {
        result.received += client.readAll();
        if (expect >= 0 && result.received.size() >= expect)
            done = true;
    });
    QObject::connect(&client, &QTcpSocket::disconnected, [&] {
        result.received += client.readAll();
        result.closedByProxy = true;
        done = true;
    });
    client.write(request);
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        result.closedByProxy = false;   // timed out: what came so far is all there is
    client.disconnect();   // the socket's own close on the way out is not the proxy's
    return result;
}

bool isListening(quint16 port)
{
    for (const SocketEntry &entry : SocketTableReader("/proc").readTcp())
        if (entry.localPort == port && entry.state == SocketEntry::kListen)
            return true;
    return false;
}

bool startOn(LocalAPIProxyService &proxy, int port = 0)
{
    proxy.startProxy(port);
    return QTest::qWaitFor([&] { return proxy.isRunning(); }, 5000);
}
}

class TestLocalAPIProxyService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modelNames_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("model");
        QTest::newRow("plain") << QByteArray(R"({"model":"llama3:8b"})") << "llama3:8b";
        QTest::newRow("spaced") << QByteArray("{\"model\" \t:\n  \"llama3:8b\", \"x\": 1}") << "llama3:8b";
        QTest::newRow("first of two") << QByteArray(R"({"model": "a", "model": "b"})") << "a";
        QTest::newRow("listing") << QByteArray("GET /api/tags HTTP/1.1\r\n\r\n") << "General Request";
        QTest::newRow("empty value") << QByteArray(R"({"model": ""})") << "General Request";
        QTest::newRow("not a string") << QByteArray(R"({"model": 3})") << "General Request";
        QTest::newRow("bad utf-8") << QByteArray("\xff\xfe{\"model\": \"qwen2\"}") << "qwen2";
    }
    void modelNames()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, model);
        QCOMPARE(RelayedConnection::modelNamed(request), model);
    }

    void failsafeReplyWhenUpstreamIsAbsent()
    {
        RelayTarget target;
        target.port = closedPort();
        LocalAPIProxyService proxy(target);
        QSignalSpy logged(&proxy, &LocalAPIProxyService::logged);
        QVERIFY(startOn(proxy));

        const Exchange answer = exchange(proxy.listeningPort(), generate("llama3:8b"));
        QCOMPARE(answer.received, kFailsafe);
        QCOMPARE(RelayedConnection::failsafeReply(), kFailsafe);
        QVERIFY(answer.closedByProxy);
        QTRY_COMPARE(proxy.requestCount(), 1);
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("llama3:8b"));
        QTRY_VERIFY(std::any_of(logged.begin(), logged.end(), [](const QList<QVariant> &args) {
            return args.at(0).toString().startsWith(QStringLiteral("❌ Local Ollama (11434) is offline or unavailable: "));
        }));
    }

    void upstreamThatNeverAnswersGetsTheFailsafeReply()
    {
        FullBacklogListener silent;
        QVERIFY(silent.isFull());
        RelayTarget target;
        target.port = silent.port();
        target.connectTimeoutMs = 300;
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        const Exchange answer = exchange(proxy.listeningPort(), generate("phi3"));
        QCOMPARE(answer.received, kFailsafe);
        QVERIFY(answer.closedByProxy);
    }

    void routesAndRelaysWholeRequests()
    {
        ScriptedServer upstream(ScriptedServer::echo());
        RelayTarget target;
        target.port = upstream.port();
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));

        const QByteArray small = generate("llama3:8b");
        QCOMPARE(exchange(proxy.listeningPort(), small, small.size()).received, small);
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("llama3:8b"));

        // A key past the first 4096 bytes is not seen, but every byte still goes through.
        const QByteArray large = QByteArray(5000, ' ') + R"({"model": "mistral"})";
        QCOMPARE(exchange(proxy.listeningPort(), large, large.size()).received, large);
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("General Request"));
        QTRY_COMPARE(proxy.requestCount(), 2);
    }

    void streamedReplyArrivesInOrder()
    {
        QByteArray expected;
        for (int i = 0; i < 40; ++i)
            expected += "{\"response\": \"token " + QByteArray::number(i) + "\"}\n";
        // Writes one line every few milliseconds once asked, then hangs up.
        ScriptedServer upstream([](QTcpSocket *socket) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                auto *tick = new QTimer(socket);
                auto sent = std::make_shared<int>(0);
                QObject::connect(tick, &QTimer::timeout, socket, [socket, tick, sent] {
                    socket->write("{\"response\": \"token " + QByteArray::number((*sent)++) + "\"}\n");
                    socket->flush();
                    if (*sent == 40) {
                        tick->stop();
                        socket->disconnectFromHost();
                    }
                });
                tick->start(3);
            });
        });
        RelayTarget target;
        target.port = upstream.port();
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        const Exchange answer = exchange(proxy.listeningPort(), generate("llama3:8b"));
        QCOMPARE(answer.received, expected);
        QVERIFY(answer.closedByProxy);   // the upstream's hang-up reaches the client
    }

    void manyClientsAtOnceGetTheirBytesBack()
    {
        ScriptedServer upstream(ScriptedServer::echo());
        RelayTarget target;
        target.port = upstream.port();
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        const int before = openDescriptors();

        constexpr int kClients = 200;
        QRandomGenerator random(20261207);
        std::vector<QByteArray> bodies(kClients);
        std::vector<QByteArray> received(kClients);
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        int complete = 0;
        for (int i = 0; i < kClients; ++i) {
            bodies[i].resize(1 + random.bounded(1 << 20));
            for (char &c : bodies[i])
                c = char(random.bounded(256));
            auto client = std::make_unique<QTcpSocket>();
            QTcpSocket *socket = client.get();
            connect(socket, &QTcpSocket::connected, socket, [socket, &bodies, i] { socket->write(bodies[i]); });
            connect(socket, &QTcpSocket::readyRead, socket, [socket, &bodies, &received, &complete, i] {
                received[i] += socket->readAll();
                if (received[i].size() >= bodies[i].size()) {
                    ++complete;
                    socket->disconnectFromHost();
                }
            });
            socket->connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
            clients.push_back(std::move(client));
        }
        QVERIFY(QTest::qWaitFor([&] { return complete == kClients; }, 120000));
        for (int i = 0; i < kClients; ++i)
            QVERIFY2(received[i] == bodies[i], qPrintable(QStringLiteral("client %1").arg(i)));
        QTRY_COMPARE(proxy.requestCount(), kClients);

        clients.clear();
        QTRY_COMPARE_WITH_TIMEOUT(proxy.openConnections(), 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), before, 10000);
    }

    void slowClientHoldsTheUpstreamBack()
    {
        // The kernel may hold up to its tuning limits on the proxy's two sockets of this
        // stream (what the proxy read from the upstream, what it handed the client): that is
        // backpressure working. Anything past those and the relay's own pipe and chunk would
        // sit in the proxy. The stream is longer than all of it by 32 MiB; the two test ends'
        // own buffers are pinned small.
        const qsizetype kernelHeld = tcpLimit("tcp_rmem") + tcpLimit("tcp_wmem") + (4 << 20);
        const qsizetype kStream = kernelHeld + (32 << 20);
        QPointer<QTcpSocket> streaming;
        ScriptedServer upstream([&streaming, kStream](QTcpSocket *socket) {
            streaming = socket;
            socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 << 10);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, kStream] {
                socket->readAll();
                socket->write(QByteArray(kStream, 'z'));
            });
        });
        RelayTarget target;
        target.port = upstream.port();
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));

        QTcpSocket client;
        client.setReadBufferSize(64 << 10);   // and nothing read yet: the client is stalled
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(2000));
        client.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 << 10);
        client.write(generate("llama3:8b"));
        QTRY_VERIFY(streaming && streaming->bytesToWrite() > 0);
        QTest::qWait(300);
        // The proxy took no more than socket buffers' worth off the upstream.
        QVERIFY2(streaming->bytesToWrite() > kStream - kernelHeld,
                 qPrintable(QStringLiteral("%1 of %2 left").arg(streaming->bytesToWrite()).arg(kStream)));

        qsizetype got = 0;
        bool intact = true;
        // A real event loop, not qWaitFor's naps: both ends of this stream are on this thread.
        QEventLoop loop;
        const auto drain = [&] {
            const QByteArray chunk = client.readAll();
            intact = intact && chunk.count('z') == chunk.size();
            got += chunk.size();
            if (got >= kStream)
                loop.quit();
        };
        client.setReadBufferSize(0);
        connect(&client, &QTcpSocket::readyRead, &client, drain);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        drain();
        if (got < kStream)
            loop.exec();
        QCOMPARE(got, kStream);
        QVERIFY(intact);
    }

    void silentClientOpensNoUpstream()
    {
        ScriptedServer upstream(ScriptedServer::echo());
        RelayTarget target;
        target.port = upstream.port();
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        {
            QTcpSocket client;
            client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
            QVERIFY(client.waitForConnected(2000));
            client.disconnectFromHost();
        }
        QTRY_COMPARE(proxy.requestCount(), 1);
        QTRY_COMPARE(proxy.openConnections(), 0);
        QTest::qWait(50);
        QCOMPARE(upstream.accepted(), 0);
        QCOMPARE(proxy.lastRoutedModel(), QStringLiteral("None"));
    }

    void startStopAndBindFailure()
    {
        LocalAPIProxyService proxy(RelayTarget{QHostAddress(QHostAddress::LocalHost), closedPort(), 5000});
        QSignalSpy logged(&proxy, &LocalAPIProxyService::logged);
        QCOMPARE(proxy.isRunning(), false);
        QCOMPARE(proxy.lastRoutedModel(), QStringLiteral("None"));

        // Taken already: the bind fails and nothing changes.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        proxy.startProxy(squatter.serverPort());
        QTRY_COMPARE(logged.count(), 1);
        QVERIFY(logged.at(0).at(0).toString().startsWith(QStringLiteral("❌ Failed to bind local proxy: ")));
        QVERIFY(!proxy.isRunning());

        proxy.startProxy(0);
        proxy.startProxy(0);   // still opening: ignored
        QTRY_VERIFY(proxy.isRunning());
        const quint16 port = proxy.listeningPort();
        proxy.startProxy(0);   // running: ignored
        QTest::qWait(50);
        QCOMPARE(proxy.listeningPort(), port);
        QCOMPARE(logged.count(), 2);
        QCOMPARE(logged.at(1).at(0).toString(), QStringLiteral("🚀 Local API Proxy listening on port %1").arg(port));

        exchange(port, generate("gemma2"));
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("gemma2"));
        proxy.stopProxy();
        QVERIFY(!proxy.isRunning());
        QCOMPARE(proxy.lastRoutedModel(), QStringLiteral("None"));
        QCOMPARE(proxy.requestCount(), 1);
        QCOMPARE(logged.last().at(0).toString(), QStringLiteral("🛑 Local API Proxy stopped"));
        proxy.stopProxy();   // not running: nothing
        QCOMPARE(logged.count(), 4);   // bind failure, listening, offline upstream, stopped
        QTRY_VERIFY(!isListening(port));   // the listener closes on the proxy thread, soon after
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!late.waitForConnected(1000));
    }

    void listensOnLoopbackOnly()
    {
        LocalAPIProxyService proxy;
        QVERIFY(startOn(proxy));
        const quint16 port = proxy.listeningPort();
        SocketTableReader sockets("/proc");
        int listeners = 0;
        for (const SocketEntry &entry : sockets.readTcp()) {
            if (entry.localPort != port || entry.state != SocketEntry::kListen)
                continue;
            ++listeners;
            QVERIFY2(QHostAddress(QString::fromStdString(entry.localAddress)).isLoopback(), entry.localAddress.c_str());
        }
        QVERIFY(listeners >= 1);
        for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
            if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            QTcpSocket outside;
            outside.connectToHost(address, port);
            QVERIFY2(!outside.waitForConnected(1000), qPrintable(address.toString()));
        }
    }
};

QTEST_GUILESS_MAIN(TestLocalAPIProxyService)
#include "tst_LocalAPIProxyService.moc"

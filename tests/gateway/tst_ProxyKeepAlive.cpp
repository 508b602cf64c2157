#include "gateway/LocalAPIProxyService.h"
#include "support/LoopbackPeers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <sys/socket.h>
#include <unistd.h>

namespace {
QByteArray post(const QByteArray &path, const QByteArray &body, const QByteArray &extra = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: localhost:11430\r\nContent-Type: application/json\r\n" + extra
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray jsonReply(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

QByteArray chunkedReply(const QList<QByteArray> &lines)
{
    QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const QByteArray &line : lines)
        reply += QByteArray::number(line.size(), 16) + "\r\n" + line + "\r\n";
    return reply + "0\r\n\r\n";
}

// Answers the requests of `script`, in order, on one kept-alive connection: each reply
// goes out once its request has arrived whole and byte for byte as the client sent it.
ScriptedServer::Serve keptAlive(QList<std::pair<QByteArray, QByteArray>> script)
{
    return [script](QTcpSocket *socket) {
        auto received = std::make_shared<QByteArray>();
        auto next = std::make_shared<int>(0);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, script, received, next] {
            *received += socket->readAll();
            while (*next < script.size() && received->startsWith(script[*next].first)) {
                received->remove(0, script[*next].first.size());
                socket->write(script[(*next)++].second);
            }
        });
    };
}

// Pipe ends this process has open.
int pipesOpen()
{
    int pipes = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::AllEntries)) {
        char target[64] = {};
        const QByteArray path = fds.filePath(name).toLocal8Bit();
        if (::readlink(path.constData(), target, sizeof target - 1) > 0 && std::strncmp(target, "pipe:", 5) == 0)
            ++pipes;
    }
    return pipes;
}

bool startOn(LocalAPIProxyService &proxy)
{
    proxy.startProxy(0);
    return QTest::qWaitFor([&] { return proxy.isRunning(); }, 5000);
}

// Reads from `client` until `size` bytes came or `ms` passed, in a real event loop (both
// ends of the stream may be on this thread).
QByteArray readExactly(QTcpSocket &client, qsizetype size, int ms = 10000)
{
    QByteArray got = client.readAll();
    if (got.size() >= size)
        return got;
    QEventLoop loop;
    QObject::connect(&client, &QTcpSocket::readyRead, &loop, [&] {
        got += client.readAll();
        if (got.size() >= size)
            loop.quit();
    });
    QObject::connect(&client, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return got;
}
}

class TestProxyKeepAlive : public QObject
{
    Q_OBJECT

    int m_descriptors = 0;

private Q_SLOTS:
    void init() { m_descriptors = openDescriptors(); }
    void cleanup() { QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), m_descriptors, 10000); }

    // Modern clients keep their connection alive: every request on it counts and names
    // its model, whichever way its body and its reply are framed.
    void eachRequestOnAKeptAliveConnectionCounts()
    {
        const QByteArray chat = post("/api/chat", R"({"model": "alpha:7b", "messages": [{"role": "user", "content": "hi"}], "stream": false})");
        const QByteArray streamed = post("/api/generate", R"({"model":"beta:7b","prompt":"count to three"})");
        const QByteArray chunkedBody =
            "POST /api/generate HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n"
            "1c\r\n{\"model\": \"gamma:2b\", \"prom\r\n"
            "e\r\npt\": \"why?\"}  \r\n0\r\n\r\n";
        const QByteArray farKey = post("/api/generate", QByteArray(5000, ' ') + R"({"model": "hidden:1b"})");
        const QByteArray listing = "GET /api/tags HTTP/1.1\r\nHost: localhost\r\n\r\n";
        const QByteArray pipelinedChat = post("/api/chat", R"({"model": "delta:13b", "messages": []})");
        const QByteArray pipelinedGenerate = post("/api/generate", R"({"model": "epsilon:70b", "prompt": "x", "stream": false})");

        const QByteArray chatReply = jsonReply(R"({"model":"alpha:7b","message":{"content":"hello"},"done":true})");
        const QByteArray streamedReply = chunkedReply({R"({"response":"one"})" "\n", R"({"response":"two"})" "\n",
                                                       R"({"response":"","done":true,"eval_count":2})" "\n"});
        const QByteArray gammaReply = jsonReply(R"({"response":"because","done":true})");
        const QByteArray farReply = jsonReply(R"({"response":"far","done":true})");
        const QByteArray tagsReply = jsonReply(R"({"models":[]})");
        const QByteArray deltaReply = chunkedReply({R"({"message":{"content":"d"},"done":true})"});
        const QByteArray epsilonReply = jsonReply(R"({"response":"e","done":true})");
        ScriptedServer upstream(keptAlive({{chat, chatReply}, {streamed, streamedReply}, {chunkedBody, gammaReply},
                                           {farKey, farReply}, {listing, tagsReply}, {pipelinedChat, deltaReply},
                                           {pipelinedGenerate, epsilonReply}}));
        RelayTarget target;
        target.port = upstream.port();
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(2000));
        const auto ask = [&](const QByteArray &request, const QByteArray &reply) {
            client.write(request);
            return readExactly(client, reply.size()) == reply;
        };
        QVERIFY(ask(chat, chatReply));
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("alpha:7b"));
        QTRY_COMPARE(proxy.requestCount(), 1);
        QVERIFY(ask(streamed, streamedReply));
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("beta:7b"));
        QTRY_COMPARE(proxy.requestCount(), 2);
        QVERIFY(ask(chunkedBody, gammaReply));
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("gamma:2b"));
        QVERIFY(ask(farKey, farReply));
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("General Request"));
        QVERIFY(ask(listing, tagsReply));
        QTRY_COMPARE(proxy.requestCount(), 5);
        // Two requests in one write: both are counted, the later one names the model.
        QVERIFY(ask(pipelinedChat + pipelinedGenerate, deltaReply + epsilonReply));
        QTRY_COMPARE(proxy.requestCount(), 7);
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("epsilon:70b"));
        QCOMPARE(upstream.accepted(), 1);   // all of it on the one upstream connection
        client.disconnectFromHost();
        QTRY_COMPARE(proxy.openConnections(), 0);
    }

    // Counts reach the GUI thread in batches, at most one every 50 ms however fast the
    // requests come, and none is lost.
    void countsArriveInBatches()
    {
        constexpr int kRequests = 300;
        const QByteArray listing = "GET /api/tags HTTP/1.1\r\nHost: localhost\r\n\r\n";
        const QByteArray tagsReply = jsonReply(R"({"models":[]})");
        QList<std::pair<QByteArray, QByteArray>> exchanges;
        for (int i = 0; i < kRequests; ++i)
            exchanges.append({listing, tagsReply});
        ScriptedServer upstream(keptAlive(exchanges));
        RelayTarget target;
        target.port = upstream.port();
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        QSignalSpy changes(&proxy, &LocalAPIProxyService::requestCountChanged);

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(2000));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kRequests; ++i) {
            client.write(listing);
            QVERIFY(readExactly(client, tagsReply.size()) == tagsReply);
        }
        QTRY_COMPARE(proxy.requestCount(), kRequests);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(changes.count() <= elapsed / 50 + 2,
                 qPrintable(QStringLiteral("%1 signals in %2 ms").arg(changes.count()).arg(elapsed)));
        client.disconnectFromHost();
        QTRY_COMPARE(proxy.openConnections(), 0);
    }

    // Bulk bytes take the kernel pipe unless it is switched off; both ways must deliver
    // the very same bytes, a reply of 64 MiB and an upload of 8 MiB alike.
    void spliceAndReadWriteCarryTheSameBytes_data()
    {
        QTest::addColumn<bool>("splice");
        QTest::newRow("splice") << true;
        QTest::newRow("read/write") << false;
    }
    void spliceAndReadWriteCarryTheSameBytes()
    {
        QFETCH(bool, splice);
        constexpr qsizetype kReply = 64 << 20;
        constexpr qsizetype kUpload = 8 << 20;
        QByteArray payload(kReply, Qt::Uninitialized);
        QRandomGenerator random(7);
        random.fillRange(reinterpret_cast<quint32 *>(payload.data()), kReply / 4);
        const QByteArray upload = payload.left(kUpload);
        const QByteArray sent = QCryptographicHash::hash(payload, QCryptographicHash::Sha256);

        auto uploadHash = std::make_shared<QCryptographicHash>(QCryptographicHash::Sha256);
        auto uploaded = std::make_shared<qsizetype>(0);
        const QByteArray head = post("/api/blobs/sha256:x", {}).replace("Content-Length: 0", "Content-Length: " + QByteArray::number(kUpload));
        ScriptedServer upstream([&](QTcpSocket *socket) {
            auto headSeen = std::make_shared<bool>(false);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &payload, head, headSeen, uploadHash, uploaded] {
                QByteArray data = socket->readAll();
                if (!*headSeen) {
                    *headSeen = true;
                    data.remove(0, head.size());
                }
                uploadHash->addData(data);
                *uploaded += data.size();
                if (*uploaded == kUpload) {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kReply) + "\r\n\r\n");
                    socket->write(payload);
                }
            });
        });
        RelayTarget target;
        target.port = upstream.port();
        target.splice = splice;
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        const int pipesBefore = pipesOpen();

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(2000));
        client.write(head + upload);
        const QByteArray replyHead = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kReply) + "\r\n\r\n";
        QCryptographicHash received(QCryptographicHash::Sha256);
        qsizetype got = 0;
        int pipesSeen = 0;
        QEventLoop loop;
        connect(&client, &QTcpSocket::readyRead, &loop, [&] {
            QByteArray chunk = client.readAll();
            if (got < replyHead.size()) {
                const qsizetype headPart = std::min(replyHead.size() - got, chunk.size());
                got += headPart;
                chunk.remove(0, headPart);
            }
            received.addData(chunk);
            got += chunk.size();
            pipesSeen = std::max(pipesSeen, pipesOpen() - pipesBefore);
            if (got >= replyHead.size() + kReply)
                loop.quit();
        });
        QTimer::singleShot(90000, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(*uploaded, kUpload);
        QCOMPARE(uploadHash->result(), QCryptographicHash::hash(upload, QCryptographicHash::Sha256));
        QCOMPARE(got, replyHead.size() + kReply);
        QCOMPARE(received.result(), sent);
        // The pipe's two ends exist exactly when splice is in use.
        if (splice)
            QVERIFY(pipesSeen >= 2);
        else
            QCOMPARE(pipesSeen, 0);
        client.disconnectFromHost();
        QTRY_COMPARE(proxy.openConnections(), 0);
    }

    // A reset in the middle of a streamed reply, from either end, closes the other end
    // and leaves nothing open.
    void resetMidStreamClosesTheOtherSide_data()
    {
        QTest::addColumn<bool>("clientResets");
        QTest::newRow("client resets") << true;
        QTest::newRow("upstream resets") << false;
    }
    void resetMidStreamClosesTheOtherSide()
    {
        QFETCH(bool, clientResets);
        QPointer<QTcpSocket> server;
        bool upstreamClosed = false;
        ScriptedServer upstream([&](QTcpSocket *socket) {
            server = socket;
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [&] { upstreamClosed = true; });
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
                auto *tick = new QTimer(socket);
                QObject::connect(tick, &QTimer::timeout, socket, [socket] { socket->write("11\r\n{\"response\":\"t\"}\r\n"); });
                tick->start(5);
            });
        });
        RelayTarget target;
        target.port = upstream.port();
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));

        QTcpSocket client;
        bool clientClosed = false;
        connect(&client, &QTcpSocket::disconnected, &client, [&] { clientClosed = true; });
        connect(&client, &QTcpSocket::errorOccurred, &client, [&] { clientClosed = true; });
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(2000));
        client.write(post("/api/generate", R"({"model": "llama3:8b"})"));
        QVERIFY(readExactly(client, 200).size() >= 200);   // the stream is flowing

        // A zero linger turns the close into a reset.
        const linger abortive{1, 0};
        QTcpSocket *resetting = clientResets ? &client : server.data();
        QVERIFY(resetting);
        QCOMPARE(::setsockopt(int(resetting->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
        resetting->abort();
        if (clientResets)
            QTRY_VERIFY_WITH_TIMEOUT(upstreamClosed, 5000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(clientClosed, 5000);
        QTRY_COMPARE(proxy.openConnections(), 0);
    }

    // A client that half-closes after its request (as `nc -N`, curl's upload from a pipe or
    // a shell script do) still gets the whole reply, from an upstream that waits for the
    // end of the request before it answers, as simple servers do.
    void halfClosedClientStillGetsItsReply()
    {
        const QByteArray reply = jsonReply(R"({"model":"llama3:8b","done":true})");
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(listener >= 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QCOMPARE(::listen(listener, 4), 0);
        QCOMPARE(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
        QByteArray heard;
        std::thread upstream([&] {
            const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                return;
            const timeval limit{5, 0};
            ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(peer, buffer, sizeof buffer)) > 0)   // to the end of the request
                heard.append(buffer, n);
            if (n == 0)
                (void)!::write(peer, reply.constData(), size_t(reply.size()));
            ::close(peer);
        });

        RelayTarget target;
        target.port = ntohs(address.sin_port);
        LocalAPIProxyService proxy(target);
        QVERIFY(startOn(proxy));
        const QByteArray request = post("/api/generate", R"({"model": "llama3:8b"})");
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(proxy.listeningPort());
        QCOMPARE(::connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        QCOMPARE(::write(client, request.constData(), size_t(request.size())), ssize_t(request.size()));
        QCOMPARE(::shutdown(client, SHUT_WR), 0);
        const timeval limit{5, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        QByteArray got;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(client, buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        ::close(client);
        upstream.join();
        ::close(listener);

        QCOMPARE(n, ssize_t(0));   // the stream ended, it did not time out
        QCOMPARE(heard, request);
        QCOMPARE(got, reply);
        QTRY_COMPARE(proxy.openConnections(), 0);
        QTRY_COMPARE(proxy.lastRoutedModel(), QStringLiteral("llama3:8b"));
    }
};

QTEST_GUILESS_MAIN(TestProxyKeepAlive)
#include "tst_ProxyKeepAlive.moc"

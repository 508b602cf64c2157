#include "gateway/LocalAPIProxyService.h"
#include "support/LoopbackPeers.h"
#include "support/OllamaReplies.h"

#include <QEventLoop>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
QByteArray post(const QByteArray &path, const QByteArray &body)
{
    return "POST " + path + " HTTP/1.1\r\nHost: localhost:11430\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

GenerationFigures figures(const QString &model, quint64 scale)
{
    GenerationFigures f;
    f.model = model;
    f.promptTokens = 11 * scale;
    f.generatedTokens = 97 * scale;
    f.loadNs = 20'000'000 * scale;
    f.promptEvalNs = 50'000'000 * scale;
    f.evalNs = 1'000'000'000 * scale;
    return f;
}

// Reads from `socket` until `size` bytes came or ten seconds passed.
QByteArray readExactly(QTcpSocket &socket, qsizetype size)
{
    QByteArray got = socket.read(size);
    if (got.size() >= size)
        return got;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        got += socket.read(size - got.size());
        if (got.size() >= size)
            loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return got;
}

// The upstream's end of the one connection the proxy opens to it.
struct Upstream
{
    QTcpServer server;
    QPointer<QTcpSocket> socket;
    Upstream() { server.listen(QHostAddress::LocalHost, 0); }
    bool accept()
    {
        if (!socket && QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 5000)) {
            socket = server.nextPendingConnection();
            // Each piece goes out at once, not held for the peer's delayed acknowledgement.
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        }
        return socket;
    }
};

const ModelThroughput *rowFor(const QList<ModelThroughput> &rows, const QString &model)
{
    for (const ModelThroughput &row : rows)
        if (row.model == model)
            return &row;
    return nullptr;
}
}

class TestProxyMetering : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // One kept-alive connection, one streamed chat reply after another, each cut in two
    // reads at a different byte of its last object: every reply reaches the client byte
    // for byte, and every one is counted with its figures, exactly.
    void streamedRepliesCutAtEveryByteOfTheLastObject()
    {
        Upstream upstream;
        LocalAPIProxyService proxy(RelayTarget{QHostAddress(QHostAddress::LocalHost), upstream.server.serverPort(), 5000});
        proxy.startProxy(0);
        QTRY_VERIFY(proxy.isRunning());
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(5000));

        const GenerationFigures each = figures(QStringLiteral("llama3.1:8b"), 1);
        const QByteArray last = finalObject(each);
        const QByteArray reply = chunkedNdjson(partialLines("llama3.1:8b", 60) << last);
        const qsizetype lastStart = reply.indexOf(last);
        const qsizetype lastEnd = lastStart + last.size();
        const QByteArray request = post("/api/chat", R"({"model":"llama3.1:8b","messages":[{"role":"user","content":"hi"}]})");
        int replies = 0;
        for (qsizetype cut = lastStart; cut <= lastEnd; ++cut, ++replies) {
            client.write(request);
            if (!upstream.accept())
                QFAIL("the proxy never connected upstream");
            QCOMPARE(readExactly(*upstream.socket, request.size()), request);
            upstream.socket->write(reply.left(cut));
            // The first piece is through before the second is written: the relay reads them apart.
            const QByteArray first = readExactly(client, cut);
            upstream.socket->write(reply.mid(cut));
            const QByteArray got = first + readExactly(client, reply.size() - cut);
            QVERIFY2(got == reply, qPrintable(QStringLiteral("reply cut at %1 arrived changed").arg(cut)));
        }

        QTRY_COMPARE(proxy.modelThroughput().size(), 1);
        QTRY_COMPARE(proxy.modelThroughput().first().requests, qint64(replies));
        const ModelThroughput row = proxy.modelThroughput().first();
        QCOMPARE(row.model, QStringLiteral("llama3.1:8b"));
        QCOMPARE(row.meteredRequests, qint64(replies));
        QCOMPARE(row.promptTokens, qint64(each.promptTokens) * replies);
        QCOMPARE(row.generatedTokens, qint64(each.generatedTokens) * replies);
        QCOMPARE(row.loadNs, qint64(each.loadNs) * replies);
        QCOMPARE(row.promptEvalNs, qint64(each.promptEvalNs) * replies);
        QCOMPARE(row.evalNs, qint64(each.evalNs) * replies);
        QCOMPARE(row.tokensPerSecond(), 97.0);
        QCOMPARE(row.lastLoadSeconds(), 0.02);
        QCOMPARE(proxy.requestCount(), replies);
    }

    // Replies of every kind on one connection: generate and chat, streamed or whole,
    // an error, a reply that is not JSON, one cut short by its server, and requests that
    // are not generations. Each generation counts for its model; only complete figures
    // add tokens; nothing else is metered.
    void mixedRepliesCountPerModel()
    {
        const GenerationFigures alpha = figures(QStringLiteral("alpha:7b"), 1);
        const GenerationFigures beta = figures(QStringLiteral("beta:2b"), 3);
        const QByteArray cutShort = finalObject(beta);
        const QList<std::pair<QByteArray, QByteArray>> script{
            {post("/api/generate", R"({"model":"alpha:7b","prompt":"a"})"), chunkedNdjson(partialLines("alpha:7b", 5, false) << finalObject(alpha, false))},
            {post("/api/chat", R"({"model":"beta:2b","stream":false})"), jsonReply(finalObject(beta))},
            {post("/api/chat", R"({"model":"beta:2b"})"), jsonReply(R"({"error":"model 'beta:2b' not found"})", 404)},
            {"GET /api/tags HTTP/1.1\r\nHost: x\r\n\r\n", jsonReply(R"({"models":[]})")},
            {post("/api/embed", R"({"model":"alpha:7b","input":"x"})"), jsonReply(finalObject(alpha))},
            {post("/api/generate", R"({"model":"alpha:7b"})"), jsonReply("<html>Bad Gateway</html>")},
            {post("/api/chat", R"({"model":"beta:2b"})"), chunkedNdjson({cutShort.left(cutShort.size() - 5)})},
            {post("/api/generate", R"({"model":"alpha:7b","prompt":"b"})"), jsonReply(finalObject(alpha, false))},
        };
        QByteArray everything;
        QByteArray expected;
        for (const auto &[request, reply] : script) {
            everything += request;
            expected += reply;
        }
        ScriptedServer server([script](QTcpSocket *socket) {
            auto received = std::make_shared<QByteArray>();
            auto next = std::make_shared<int>(0);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, script, received, next] {
                *received += socket->readAll();
                while (*next < script.size() && received->startsWith(script[*next].first)) {
                    received->remove(0, script[*next].first.size());
                    socket->write(script[(*next)++].second);
                }
            });
        });
        LocalAPIProxyService proxy(RelayTarget{QHostAddress(QHostAddress::LocalHost), server.port(), 5000});
        QSignalSpy changes(&proxy, &LocalAPIProxyService::modelThroughputChanged);
        proxy.startProxy(0);
        QTRY_VERIFY(proxy.isRunning());
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(5000));
        client.write(everything);   // pipelined: the replies come back in order
        QCOMPARE(readExactly(client, expected.size()), expected);

        QTRY_COMPARE(proxy.modelThroughput().size(), 2);
        const QList<ModelThroughput> rows = proxy.modelThroughput();
        const ModelThroughput *a = rowFor(rows, QStringLiteral("alpha:7b"));
        const ModelThroughput *b = rowFor(rows, QStringLiteral("beta:2b"));
        QVERIFY(a && b);
        QCOMPARE(a->requests, 3);           // two with figures, one not JSON; the embedding is no generation
        QCOMPARE(a->meteredRequests, 2);
        QCOMPARE(a->generatedTokens, qint64(alpha.generatedTokens) * 2);
        QCOMPARE(a->promptEvalNs, qint64(alpha.promptEvalNs) * 2);
        QCOMPARE(b->requests, 3);           // whole, an error, cut short
        QCOMPARE(b->meteredRequests, 1);
        QCOMPARE(b->generatedTokens, qint64(beta.generatedTokens));
        QCOMPARE(b->lastTokensPerSecond(), 97.0);
        QVERIFY(changes.count() >= 1);
        QCOMPARE(proxy.requestCount(), int(script.size()));
    }

    // A reply without a length ends with its connection: its figures count once the
    // upstream closes, and a request the upstream drops mid-reply counts with no tokens.
    void repliesEndingWithTheConnection()
    {
        const GenerationFigures whole = figures(QStringLiteral("gamma:3b"), 2);
        for (bool cut : {false, true}) {
            const QByteArray last = finalObject(whole);
            const QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nConnection: close\r\n\r\n"
                + ndjson(partialLines("gamma:3b", 4)) + (cut ? last.left(last.size() / 2) : last + "\n");
            ScriptedServer server([reply](QTcpSocket *socket) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, reply] {
                    socket->readAll();
                    socket->write(reply);
                    socket->disconnectFromHost();
                });
            });
            LocalAPIProxyService proxy(RelayTarget{QHostAddress(QHostAddress::LocalHost), server.port(), 5000});
            proxy.startProxy(0);
            QTRY_VERIFY(proxy.isRunning());
            QTcpSocket client;
            client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
            QVERIFY(client.waitForConnected(5000));
            client.write(post("/api/generate", R"({"model":"gamma:3b"})"));
            QCOMPARE(readExactly(client, reply.size()), reply);
            QTRY_COMPARE(proxy.modelThroughput().size(), 1);
            const ModelThroughput row = proxy.modelThroughput().first();
            QCOMPARE(row.model, QStringLiteral("gamma:3b"));
            QCOMPARE(row.requests, 1);
            QCOMPARE(row.meteredRequests, cut ? 0 : 1);
            QCOMPARE(row.generatedTokens, cut ? 0 : qint64(whole.generatedTokens));
        }
    }

    // Model names come from clients: a client naming a new one each time fills the list
    // only so far, and what comes after is still counted, in one row.
    void modelRowsBounded()
    {
        ScriptedServer server([](QTcpSocket *socket) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write(jsonReply("not json"));
            });
        });
        LocalAPIProxyService proxy(RelayTarget{QHostAddress(QHostAddress::LocalHost), server.port(), 5000});
        proxy.startProxy(0);
        QTRY_VERIFY(proxy.isRunning());
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(5000));
        const int names = int(LocalAPIProxyService::kMaxModels) + 36;
        const QByteArray reply = jsonReply("not json");
        for (int i = 0; i < names; ++i) {
            client.write(post("/api/generate", "{\"model\":\"m" + QByteArray::number(i) + "\"}"));
            QCOMPARE(readExactly(client, reply.size()), reply);
        }
        auto total = [&] {
            qint64 sum = 0;
            for (const ModelThroughput &row : proxy.modelThroughput())
                sum += row.requests;
            return sum;
        };
        QTRY_COMPARE(total(), qint64(names));
        const QList<ModelThroughput> rows = proxy.modelThroughput();
        QCOMPARE(rows.size(), LocalAPIProxyService::kMaxModels + 1);
        QCOMPARE(rows.last().model, LocalAPIProxyService::otherModels());
        QCOMPARE(rows.last().requests, 36);
        QCOMPARE(rows.first().model, QStringLiteral("m0"));
    }

    // Switched off, replies pass as before and nothing is read from them.
    void meteringOffReadsNothing()
    {
        const QByteArray request = post("/api/chat", R"({"model":"alpha:7b"})");
        const QByteArray reply = jsonReply(finalObject(figures(QStringLiteral("alpha:7b"), 1)));
        ScriptedServer server([&](QTcpSocket *socket) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, reply] {
                socket->readAll();
                socket->write(reply);
            });
        });
        RelayTarget target{QHostAddress(QHostAddress::LocalHost), server.port(), 5000};
        target.meterGenerations = false;
        LocalAPIProxyService proxy(target);
        proxy.startProxy(0);
        QTRY_VERIFY(proxy.isRunning());
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, proxy.listeningPort());
        QVERIFY(client.waitForConnected(5000));
        client.write(request);
        QCOMPARE(readExactly(client, reply.size()), reply);
        QTRY_COMPARE(proxy.requestCount(), 1);
        QTest::qWait(100);   // longer than the relay's report interval
        QVERIFY(proxy.modelThroughput().isEmpty());
    }
};

QTEST_MAIN(TestProxyMetering)
#include "tst_ProxyMetering.moc"

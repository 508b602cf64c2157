#include "gateway/LocalAPIProxyService.h"
#include "support/OllamaReplies.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {
// What each model answers with: fixed figures, so every sum is known.
GenerationFigures figuresOf(const QString &model)
{
    GenerationFigures f;
    f.model = model;
    const bool alpha = model == QLatin1String("alpha:7b");
    f.promptTokens = alpha ? 26 : 9;
    f.generatedTokens = alpha ? 298 : 41;
    f.loadNs = alpha ? 12'000'000 : 8'000'000;
    f.promptEvalNs = alpha ? 130'000'000 : 40'000'000;
    f.evalNs = alpha ? 4'232'710'000 : 512'000'000;
    return f;
}

// A stand-in for Ollama's chat and generate endpoints that keeps connections alive and
// streams NDJSON unless the request says "stream": false, as Ollama does.
class FakeOllama : public QObject
{
public:
    FakeOllama()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++m_connections;
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                auto pending = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, pending] {
                    *pending += socket->readAll();
                    while (answerOne(socket, *pending)) {
                    }
                });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }
    int requests() const { return m_requests; }

private:
    bool answerOne(QTcpSocket *socket, QByteArray &pending)
    {
        const qsizetype headEnd = pending.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        const QByteArray head = pending.left(headEnd).toLower();
        const qsizetype at = head.indexOf("content-length:");
        const qsizetype length = at < 0 ? 0 : head.mid(at + 15, head.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
        if (pending.size() < headEnd + 4 + length)
            return false;
        const bool chat = head.startsWith("post /api/chat");
        const QJsonObject request = QJsonDocument::fromJson(pending.mid(headEnd + 4, length)).object();
        pending.remove(0, headEnd + 4 + length);
        ++m_requests;
        const QString model = request.value(QStringLiteral("model")).toString();
        const QByteArray last = finalObject(figuresOf(model), chat);
        if (request.value(QStringLiteral("stream")).toBool(true))
            socket->write(chunkedNdjson(partialLines(model.toUtf8(), 25, chat) << last));
        else
            socket->write(jsonReply(last));
        return true;
    }

    QTcpServer m_server;
    int m_connections = 0;
    int m_requests = 0;
};
}

class TestOllamaClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Ollama's own client, chatting and generating through the relay over its kept-alive
    // connections: the relay's figures per model are exactly what the client itself read.
    void officialClientThroughTheRelay()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        const QString clients = QStringLiteral(QUILLMOOR_NODE_CLIENTS);
        if (node.isEmpty() || !QFileInfo::exists(clients + QStringLiteral("/node_modules/ollama/package.json")))
            QFAIL("Node.js and the npm package ollama are needed: ./scripts/test installs them (npm ci --prefix tests/node)");

        FakeOllama ollama;
        LocalAPIProxyService proxy(RelayTarget{QHostAddress(QHostAddress::LocalHost), ollama.port(), 5000});
        proxy.startProxy(0);
        QTRY_VERIFY(proxy.isRunning());

        constexpr int kRounds = 5;
        QProcess client;
        client.setWorkingDirectory(clients);
        client.start(node, {QStringLiteral("ollama-calls.mjs"), QString::number(proxy.listeningPort()), QString::number(kRounds)});
        QVERIFY(client.waitForStarted(10000));
        // The relay's thread and this one serve the client, so wait in the event loop.
        QTRY_VERIFY_WITH_TIMEOUT(client.state() == QProcess::NotRunning, 60000);
        QVERIFY2(client.exitCode() == 0, client.readAllStandardError().constData());
        const QJsonObject seen = QJsonDocument::fromJson(client.readAllStandardOutput()).object();
        QCOMPARE(seen.keys(), (QStringList{QStringLiteral("alpha:7b"), QStringLiteral("beta:2b")}));
        QCOMPARE(ollama.requests(), 4 * kRounds);
        QVERIFY2(ollama.connections() < ollama.requests(), "the client did not keep its connection alive");

        QTRY_COMPARE(proxy.modelThroughput().size(), 2);
        auto requests = [&] {
            qint64 sum = 0;
            for (const ModelThroughput &row : proxy.modelThroughput())
                sum += row.requests;
            return sum;
        };
        QTRY_COMPARE(requests(), qint64(4 * kRounds));
        for (const ModelThroughput &row : proxy.modelThroughput()) {
            const QJsonObject client = seen.value(row.model).toObject();
            const GenerationFigures each = figuresOf(row.model);
            QCOMPARE(row.requests, qint64(2 * kRounds));
            QCOMPARE(row.meteredRequests, row.requests);
            QCOMPARE(row.promptTokens, qint64(client.value(QStringLiteral("promptTokens")).toInteger()));
            QCOMPARE(row.generatedTokens, qint64(client.value(QStringLiteral("generatedTokens")).toInteger()));
            QCOMPARE(row.evalNs, qint64(client.value(QStringLiteral("evalNs")).toInteger()));
            QCOMPARE(row.generatedTokens, qint64(each.generatedTokens) * 2 * kRounds);
            QCOMPARE(row.loadNs, qint64(each.loadNs) * 2 * kRounds);
            QCOMPARE(row.promptEvalNs, qint64(each.promptEvalNs) * 2 * kRounds);
        }
        QCOMPARE(proxy.requestCount(), 4 * kRounds);
    }
};

QTEST_GUILESS_MAIN(TestOllamaClient)
#include "tst_OllamaClient.moc"

#pragma once

// A stand-in for Ollama's chat endpoint on loopback, for pictures only: each chat gets a
// reply whose last object carries fixed figures for the model it names. With a few chats
// sent through the relay in front of it, the API Sentinel page shows its throughput card at
// work on a machine without Ollama; the app itself only ever relays to the real server.

#include "gateway/LocalAPIProxyService.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

class SampleOllama : public QObject
{
public:
    SampleOllama()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                auto pending = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [socket, pending] {
                    *pending += socket->readAll();
                    const qsizetype headEnd = pending->indexOf("\r\n\r\n");
                    if (headEnd < 0)
                        return;
                    const QJsonObject request = QJsonDocument::fromJson(pending->mid(headEnd + 4)).object();
                    if (request.isEmpty())
                        return;   // the body is still coming
                    pending->clear();
                    socket->write(replyFor(request.value(QStringLiteral("model")).toString()));
                });
            }
        });
    }

    // A relay in front of this server, with `rounds` chats per model already through it.
    std::unique_ptr<LocalAPIProxyService> relayWithTraffic(int rounds = 3)
    {
        auto proxy = std::make_unique<LocalAPIProxyService>(RelayTarget{QHostAddress(QHostAddress::LocalHost), m_server.serverPort()});
        proxy->startProxy(0);
        QEventLoop wait;
        QTimer::singleShot(3000, &wait, &QEventLoop::quit);
        QTimer poll;
        QTcpSocket client;
        int sent = 0;
        const QStringList models{QStringLiteral("llama3.1:8b"), QStringLiteral("qwen2.5-coder:7b"), QStringLiteral("deepseek-r1:14b")};
        connect(&poll, &QTimer::timeout, &wait, [&] {
            if (!proxy->isRunning())
                return;
            if (client.state() == QAbstractSocket::UnconnectedState)
                client.connectToHost(QHostAddress::LocalHost, proxy->listeningPort());
            if (client.state() != QAbstractSocket::ConnectedState)
                return;
            client.readAll();
            if (sent < rounds * models.size()) {
                const QByteArray body = R"({"model":")" + models[sent++ % models.size()].toUtf8() + R"(","stream":false})";
                client.write("POST /api/chat HTTP/1.1\r\nHost: localhost\r\nContent-Length: " + QByteArray::number(body.size())
                             + "\r\n\r\n" + body);
            } else if (proxy->modelThroughput().size() == models.size()) {
                qint64 done = 0;
                for (const ModelThroughput &row : proxy->modelThroughput())
                    done += row.requests;
                if (done == sent)
                    wait.quit();
            }
        });
        poll.start(20);
        wait.exec();
        return proxy;
    }

private:
    static QByteArray replyFor(const QString &model)
    {
        // Figures of the order a mid-range GPU gives such models.
        const bool small = model.startsWith(QLatin1String("llama3.1")) || model.startsWith(QLatin1String("qwen"));
        const qint64 tokens = small ? 412 : 655;
        const qint64 evalNs = small ? (model.startsWith(QLatin1String("qwen")) ? 5'350'000'000 : 4'830'000'000) : 19'850'000'000;
        const QByteArray body = R"({"model":")" + model.toUtf8() + R"(","created_at":"2026-12-08T10:00:00Z","message":{"role":"assistant","content":""},)"
            R"("done":true,"done_reason":"stop","load_duration":)" + QByteArray::number(small ? 18'400'000 : 3'920'000'000)
            + R"(,"prompt_eval_count":)" + QByteArray::number(small ? 38 : 52) + R"(,"prompt_eval_duration":)"
            + QByteArray::number(small ? 41'000'000 : 96'000'000) + R"(,"eval_count":)" + QByteArray::number(tokens)
            + R"(,"eval_duration":)" + QByteArray::number(evalNs) + "}";
        return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body;
    }

    QTcpServer m_server;
};

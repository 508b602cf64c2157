#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// A loopback HTTP/1.1 server that answers every request with one canned reply and keeps
// what it was sent. A delay holds the reply back, to stand in for a slow server.
class FakeHttpServer : public QObject
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray headers;
        QByteArray body;
    };

    FakeHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }
    void reply(int status, const QByteArray &body) { m_status = status; m_body = body; }
    void setDelay(int ms) { m_delayMs = ms; }
    const QList<Request> &requests() const { return m_requests; }

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = m_pending[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Request request;
        request.headers = buffer.left(end);
        const QList<QByteArray> first = request.headers.left(request.headers.indexOf("\r\n")).split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        qsizetype length = 0;
        for (const QByteArray &line : request.headers.split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        m_pending.remove(socket);
        m_requests.append(request);
        const QByteArray answer = "HTTP/1.1 " + QByteArray::number(m_status) + " X\r\nContent-Type: application/json\r\n"
                                  "Content-Length: " + QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body;
        QTimer::singleShot(m_delayMs, socket, [socket, answer] {
            socket->write(answer);
            socket->disconnectFromHost();
        });
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QList<Request> m_requests;
    int m_status = 200;
    QByteArray m_body = "{}";
    int m_delayMs = 0;
};

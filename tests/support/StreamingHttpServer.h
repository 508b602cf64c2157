#pragma once

#include <QByteArray>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

// A loopback HTTP server whose answer the test shapes: any head (a redirect's Location,
// say), then a body of `bodyBytes` (negative: one that never ends), written as fast as the
// client takes it, or one `trickleBytes` every `trickleMs` when those are set; the
// connection closes once the body is out unless `hold` keeps it open. Counts what it sent.
class StreamingHttpServer : public QObject
{
public:
    struct Shape
    {
        QByteArray head;
        qint64 bodyBytes = 0;
        bool hold = false;
        int trickleMs = 0;
        qint64 trickleBytes = 1;
    };

    explicit StreamingHttpServer(Shape shape)
        : m_shape(std::move(shape))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }
    qint64 sent() const { return m_sent; }
    int requests() const { return m_requests; }

private:
    void serve(QTcpSocket *socket)
    {
        if (!socket->readAll().contains("\r\n\r\n") || socket->property("answered").toBool())
            return;
        socket->setProperty("answered", true);
        ++m_requests;
        socket->write(m_shape.head);
        auto left = std::make_shared<qint64>(m_shape.bodyBytes);
        const qint64 piece = m_shape.trickleMs > 0 ? m_shape.trickleBytes : 64 * 1024;
        const QByteArray chunk(piece, 'x');
        const auto more = [this, socket, left, chunk] {
            // Writes while the socket's own buffer is small, so the client's pace sets ours.
            while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * chunk.size()
                   && *left != 0) {
                const qint64 n = *left < 0 ? chunk.size() : std::min<qint64>(*left, chunk.size());
                socket->write(chunk.constData(), n);
                m_sent += n;
                if (*left > 0)
                    *left -= n;
                if (m_shape.trickleMs > 0)
                    break;
            }
            if (*left == 0 && !m_shape.hold)
                socket->disconnectFromHost();
        };
        if (m_shape.trickleMs > 0) {
            auto *tick = new QTimer(socket);
            connect(tick, &QTimer::timeout, socket, more);
            tick->start(m_shape.trickleMs);
        } else {
            connect(socket, &QTcpSocket::bytesWritten, socket, more);
        }
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        more();
    }

    QTcpServer m_server;
    Shape m_shape;
    qint64 m_sent = 0;
    int m_requests = 0;
};

// This process's resident memory now, in bytes.
inline qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

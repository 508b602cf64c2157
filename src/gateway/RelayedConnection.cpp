#include "RelayedConnection.h"

#include <QNetworkProxy>
#include <QRegularExpression>
#include <QTcpSocket>

#include <algorithm>

namespace {
void tune(QTcpSocket *socket)
{
    // Requests and replies are relayed as they come; Nagle would hold small ones back.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Qt stops reading from the kernel once this much is buffered, which is what keeps a
    // side from outrunning the other.
    socket->setReadBufferSize(RelayedConnection::kChunkMax);
}

bool isOpen(const QTcpSocket *socket)
{
    return socket && socket->state() != QAbstractSocket::UnconnectedState;
}
}

RelayedConnection::RelayedConnection(QTcpSocket *client, const RelayTarget &target, QObject *parent)
    : QObject(parent)
    , m_target(target)
    , m_client(client)
{
    m_client->setParent(this);
    tune(m_client);
    m_deadline.setSingleShot(true);
    connect(m_client, &QTcpSocket::readyRead, this, &RelayedConnection::onClientReadable);
    connect(m_client, &QTcpSocket::disconnected, this, &RelayedConnection::onClientClosed);
    connect(m_client, &QTcpSocket::errorOccurred, this, &RelayedConnection::onClientError);
    connect(m_client, &QTcpSocket::bytesWritten, this, [this] {
        if (m_stage == Stage::Relaying)
            pump(m_upstream, m_client);
    });
}

void RelayedConnection::start()
{
    // A client usually sends its request right behind the handshake, so it is mostly here
    // already: taking it now saves a turn of the event loop. A zero wait only polls (its
    // time-out is not an error of the connection, see onClientError).
    if (m_client->bytesAvailable() > 0 || m_client->waitForReadyRead(0))
        onClientReadable();
}

RelayedConnection::~RelayedConnection() = default;

QString RelayedConnection::modelNamed(const QByteArray &firstRead)
{
    static const QRegularExpression pattern(QStringLiteral(R"re("model"\s*:\s*"([^"]+)")re"));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(firstRead));
    return match.hasMatch() ? match.captured(1) : QStringLiteral("General Request");
}

const QByteArray &RelayedConnection::failsafeReply()
{
    static const QByteArray reply = QByteArrayLiteral(
        "HTTP/1.1 503 Service Unavailable\r\n"
        "Content-Type: application/json\r\n"
        "Connection: close\r\n"
        "\r\n"
        R"({"error": "Local Ollama service (port 11434) is not running or suspended by Quillmoor battery protectors."})");
    return reply;
}

void RelayedConnection::onClientReadable()
{
    switch (m_stage) {
    case Stage::FirstRead: {
        m_firstRead = m_client->read(kFirstReadMax);
        if (m_firstRead.isEmpty())
            return;
        m_stage = Stage::Connecting;
        Q_EMIT routed(modelNamed(m_firstRead));
        m_upstream = new QTcpSocket(this);
        connect(m_upstream, &QTcpSocket::connected, this, &RelayedConnection::onUpstreamConnected);
        connect(m_upstream, &QTcpSocket::disconnected, this, &RelayedConnection::onUpstreamClosed);
        connect(m_upstream, &QTcpSocket::errorOccurred, this, &RelayedConnection::onUpstreamError);
        connect(m_upstream, &QTcpSocket::readyRead, this, [this] {
            if (m_stage == Stage::Relaying)
                pump(m_upstream, m_client);
        });
        connect(m_upstream, &QTcpSocket::bytesWritten, this, [this](qint64 bytes) {
            m_firstUnsent = std::max<qint64>(0, m_firstUnsent - bytes);
            if (m_stage == Stage::Relaying)
                pump(m_client, m_upstream);
        });
        m_deadline.disconnect();
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            if (m_stage == Stage::Connecting)
                failOver(QStringLiteral("Connection timed out"));
        });
        m_deadline.start(m_target.connectTimeoutMs);
        // Loopback, so no proxy lookup for every connection.
        m_upstream->setProxy(QNetworkProxy::NoProxy);
        m_upstream->connectToHost(m_target.host, m_target.port);
        return;
    }
    case Stage::Relaying:
        pump(m_client, m_upstream);
        return;
    case Stage::Failsafe:
    case Stage::Closing:
        // Unread input makes the kernel answer the close with a reset, which can destroy
        // the reply still on its way; what the client sends now has nowhere to go.
        m_client->readAll();
        return;
    case Stage::Connecting:   // stays buffered (at most one chunk) until the upstream is up
    case Stage::Done:
        return;
    }
}

void RelayedConnection::onClientClosed()
{
    switch (m_stage) {
    case Stage::FirstRead:
    case Stage::Connecting:
        // Nothing was relayed yet: nobody is waiting for anything.
        m_stage = Stage::Closing;
        if (m_upstream)
            m_upstream->abort();
        break;
    case Stage::Relaying:
        pump(m_client, m_upstream, true);
        closeBoth();
        break;
    default:
        break;
    }
    finishIfClosed();
}

void RelayedConnection::onClientError()
{
    const QAbstractSocket::SocketError error = m_client->error();
    if (error == QAbstractSocket::RemoteHostClosedError || error == QAbstractSocket::SocketTimeoutError)
        return;   // the end of the stream, handled by onClientClosed; or the poll found nothing
    if (m_stage == Stage::FirstRead)
        Q_EMIT logged(QStringLiteral("❌ Inbound connection read error: ") + m_client->errorString());
    m_client->abort();
    if (m_stage == Stage::Relaying || m_stage == Stage::Connecting) {
        m_stage = Stage::Closing;
        if (m_upstream)
            m_upstream->abort();
    }
    finishIfClosed();
}

void RelayedConnection::onUpstreamConnected()
{
    if (m_stage != Stage::Connecting)
        return;
    m_deadline.stop();
    m_stage = Stage::Relaying;
    tune(m_upstream);
    m_firstUnsent = m_firstRead.size();
    m_upstream->write(m_firstRead);
    m_firstRead.clear();
    m_upstream->flush();
    if (m_stage != Stage::Relaying)
        return;
    pump(m_client, m_upstream);
    if (m_stage == Stage::Relaying)
        pump(m_upstream, m_client);
}

void RelayedConnection::onUpstreamClosed()
{
    if (m_stage == Stage::Relaying) {
        pump(m_upstream, m_client, true);
        closeBoth();
    }
    finishIfClosed();
}

void RelayedConnection::onUpstreamError()
{
    const QAbstractSocket::SocketError error = m_upstream->error();
    if (m_stage == Stage::Connecting) {
        failOver(m_upstream->errorString());
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;   // the end of the stream, handled by onUpstreamClosed
    if (m_stage == Stage::Relaying) {
        if (m_firstUnsent > 0)
            Q_EMIT logged(QStringLiteral("❌ Failed to forward data to Ollama: ") + m_upstream->errorString());
        m_upstream->abort();
        m_client->abort();
        m_stage = Stage::Closing;
    }
    finishIfClosed();
}

void RelayedConnection::failOver(const QString &error)
{
    m_deadline.stop();
    m_stage = Stage::Failsafe;
    Q_EMIT logged(QStringLiteral("❌ Local Ollama (11434) is offline or unavailable: ") + error);
    // Disconnected first, so the abort's own signals don't come back here.
    m_upstream->disconnect(this);
    m_upstream->abort();
    if (isOpen(m_client)) {
        m_client->readAll();
        m_client->write(failsafeReply());
        closeBoth();
    }
    finishIfClosed();
}

void RelayedConnection::pump(QTcpSocket *from, QTcpSocket *to, bool drain)
{
    // `drain`: `from` has ended, so whatever it still holds goes out now; the amount is
    // bounded by its read buffer.
    while (from->bytesAvailable() > 0 && (drain || to->bytesToWrite() < kHighWater)) {
        if (!isOpen(to)) {
            from->readAll();
            return;
        }
        to->write(from->read(std::min(kChunkMax, from->bytesAvailable())));
        // Hand the bytes to the kernel now rather than on the next turn of the loop.
        to->flush();
        if (m_stage != Stage::Relaying && !drain)
            return;
    }
}

void RelayedConnection::closeBoth()
{
    if (m_stage == Stage::Done)
        return;
    if (m_stage != Stage::Failsafe)
        m_stage = Stage::Closing;
    m_deadline.disconnect();
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        // A peer that stopped reading would keep this pair open for ever.
        if (m_client)
            m_client->abort();
        if (m_upstream)
            m_upstream->abort();
        finishIfClosed();
    });
    m_deadline.start(kLingerMs);
    // disconnectFromHost() sends what is still buffered before it closes.
    if (isOpen(m_client))
        m_client->disconnectFromHost();
    if (isOpen(m_upstream))
        m_upstream->disconnectFromHost();
}

void RelayedConnection::finishIfClosed()
{
    if (m_stage == Stage::Done || isOpen(m_client) || isOpen(m_upstream))
        return;
    if (m_stage == Stage::FirstRead || m_stage == Stage::Connecting || m_stage == Stage::Relaying)
        return;   // not yet closed on purpose; a close is on its way
    m_stage = Stage::Done;
    m_deadline.stop();
    Q_EMIT finished();
}

#include "ProxyRelay.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
// Many clients may connect at once; the default queue of 50 would drop their first SYNs.
constexpr int kBacklog = 1024;
}

ProxyRelay::ProxyRelay(RelayTarget target, QObject *parent)
    : QObject(parent)
    , m_target(std::move(target))
    , m_ipv4(new QTcpServer(this))
    , m_ipv6(new QTcpServer(this))
{
    for (QTcpServer *server : {m_ipv4, m_ipv6}) {
        server->setListenBacklogSize(kBacklog);
        server->setProxy(QNetworkProxy::NoProxy);
        connect(server, &QTcpServer::newConnection, this, [this, server] { acceptPending(server); });
    }
}

ProxyRelay::~ProxyRelay() = default;

void ProxyRelay::listen(quint16 port, int attempt)
{
    close();
    if (!m_ipv4->listen(QHostAddress(QHostAddress::LocalHost), port)) {
        Q_EMIT listenFailed(m_ipv4->errorString(), attempt);
        return;
    }
    // Same port on ::1 for clients that resolve "localhost" to it first. A machine without
    // IPv6 is served on 127.0.0.1 alone.
    m_ipv6->listen(QHostAddress(QHostAddress::LocalHostIPv6), m_ipv4->serverPort());
    Q_EMIT listening(m_ipv4->serverPort(), attempt);
}

void ProxyRelay::close()
{
    m_ipv4->close();
    m_ipv6->close();
}

void ProxyRelay::acceptPending(QTcpServer *server)
{
    while (QTcpSocket *client = server->nextPendingConnection()) {
        Q_EMIT accepted();
        auto *connection = new RelayedConnection(client, m_target, this);
        ++m_connections;
        connect(connection, &RelayedConnection::routed, this, &ProxyRelay::routed);
        connect(connection, &RelayedConnection::logged, this, &ProxyRelay::logged);
        connect(connection, &RelayedConnection::finished, this, [this, connection] {
            --m_connections;
            connection->deleteLater();
        });
        connection->start();
    }
}

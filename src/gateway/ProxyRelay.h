#pragma once

#include "RelayedConnection.h"

#include <QObject>
#include <QString>

class QTcpServer;

// The proxy's listeners and its connections, all on the proxy thread. Listens on the
// loopback addresses only: the model server behind it is meant for this machine alone.
class ProxyRelay : public QObject
{
    Q_OBJECT

public:
    explicit ProxyRelay(RelayTarget target, QObject *parent = nullptr);
    ~ProxyRelay() override;

    // Replaces any listeners; reports listening() or listenFailed(). Port 0 picks one.
    void listen(quint16 port, int attempt);
    // Closes the listeners; connections being relayed carry on.
    void close();
    int connectionCount() const { return m_connections; }

Q_SIGNALS:
    void listening(quint16 port, int attempt);
    void listenFailed(const QString &error, int attempt);
    void accepted();
    void routed(const QString &model);
    void logged(const QString &line);

private:
    void acceptPending(QTcpServer *server);

    RelayTarget m_target;
    QTcpServer *m_ipv4;
    QTcpServer *m_ipv6;
    int m_connections = 0;
};

#pragma once

#include <QByteArray>
#include <QDir>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback server that hands each accepted connection to `serve` and counts them.
class ScriptedServer : public QObject
{
public:
    using Serve = std::function<void(QTcpSocket *)>;

    explicit ScriptedServer(Serve serve)
        : m_serve(std::move(serve))
    {
        m_server.setListenBacklogSize(1024);
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++m_accepted;
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                m_serve(socket);
            }
        });
    }

    // Writes back whatever it reads.
    static Serve echo()
    {
        return [](QTcpSocket *socket) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->write(socket->readAll()); });
        };
    }

    quint16 port() const { return m_server.serverPort(); }
    int accepted() const { return m_accepted; }

private:
    QTcpServer m_server;
    Serve m_serve;
    int m_accepted = 0;
};

// A port nothing listens on: bound for a moment, then released.
inline quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// A listener that never accepts, with its queue full: further connects hang, as with a
// server that has stopped answering.
class FullBacklogListener
{
public:
    FullBacklogListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(m_listener, 0) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        // Connect until one no longer completes: the queue is then full.
        for (int i = 0; i < 16; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            m_fillers.push_back(fd);
            ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
            pollfd entry{fd, POLLOUT, 0};
            if (::poll(&entry, 1, 200) == 0) {
                m_full = true;
                break;
            }
        }
    }
    ~FullBacklogListener()
    {
        for (int fd : m_fillers)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    FullBacklogListener(const FullBacklogListener &) = delete;
    FullBacklogListener &operator=(const FullBacklogListener &) = delete;

    quint16 port() const { return m_port; }
    bool isFull() const { return m_full; }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    bool m_full = false;
    std::vector<int> m_fillers;
};

// Descriptors this process has open.
inline int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

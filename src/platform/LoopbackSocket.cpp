#include "LoopbackSocket.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
socklen_t toSockaddr(const QHostAddress &address, quint16 port, sockaddr_storage *storage)
{
    std::memset(storage, 0, sizeof *storage);
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, 16);
        return sizeof *in6;
    }
    auto *in4 = reinterpret_cast<sockaddr_in *>(storage);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    in4->sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof *in4;
}

void noDelay(int fd)
{
    // Requests and replies are relayed as they come; Nagle would hold small ones back.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}
}

LoopbackSocket &LoopbackSocket::operator=(LoopbackSocket &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

LoopbackSocket LoopbackSocket::listen(const QHostAddress &address, quint16 port, int backlog, QString *error)
{
    sockaddr_storage storage;
    const socklen_t length = toSockaddr(address, port, &storage);
    LoopbackSocket socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.isValid()) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return socket;
    }
    const int on = 1;
    // A restarted proxy can take its port back while old connections sit in TIME_WAIT.
    ::setsockopt(socket.m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (storage.ss_family == AF_INET6)
        ::setsockopt(socket.m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(socket.m_fd, reinterpret_cast<sockaddr *>(&storage), length) != 0
        || ::listen(socket.m_fd, backlog) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        socket.close();
    }
    return socket;
}

LoopbackSocket LoopbackSocket::connectTo(const QHostAddress &address, quint16 port, bool *inProgress, int *error)
{
    sockaddr_storage storage;
    const socklen_t length = toSockaddr(address, port, &storage);
    *inProgress = false;
    LoopbackSocket socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.isValid()) {
        *error = errno;
        return socket;
    }
    noDelay(socket.m_fd);
    if (::connect(socket.m_fd, reinterpret_cast<sockaddr *>(&storage), length) != 0) {
        if (errno == EINPROGRESS) {
            *inProgress = true;
        } else {
            *error = errno;
            socket.close();
        }
    }
    return socket;
}

int LoopbackSocket::reserveDescriptor()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

quint16 LoopbackSocket::localPort() const
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&storage), &length) != 0)
        return 0;
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in *>(&storage)->sin_port);
}

LoopbackSocket LoopbackSocket::accept(int *error) const
{
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return LoopbackSocket();
    }
    noDelay(fd);
    return LoopbackSocket(fd);
}

bool LoopbackSocket::refuse(int &spare, const char *reply, std::size_t size) const
{
    if (spare >= 0) {
        ::close(spare);
        spare = -1;
    }
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        LoopbackSocket client(fd);
        (void)client.write(reply, size);
        client.shutdownWrite();
        client.discardInput();
    }
    spare = reserveDescriptor();
    return fd >= 0 && spare >= 0;
}

int LoopbackSocket::pendingError() const
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

IoResult LoopbackSocket::read(char *data, std::size_t size) const
{
    const ssize_t n = ::read(m_fd, data, size);
    if (n > 0)
        return {IoResult::Done, std::size_t(n), 0};
    if (n == 0)
        return {IoResult::Closed, 0, 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return {IoResult::WouldBlock, 0, 0};
    return {IoResult::Failed, 0, errno};
}

IoResult LoopbackSocket::write(const char *data, std::size_t size) const
{
    const ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL);
    if (n >= 0)
        return {IoResult::Done, std::size_t(n), 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return {IoResult::WouldBlock, 0, 0};
    return {IoResult::Failed, 0, errno};
}

void LoopbackSocket::shutdownWrite() const
{
    ::shutdown(m_fd, SHUT_WR);
}

void LoopbackSocket::discardInput() const
{
    char sink[4096];
    while (::recv(m_fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

void LoopbackSocket::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

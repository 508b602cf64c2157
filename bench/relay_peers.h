#pragma once

// The peers the relay bench measures the proxy against, and the sockets they share: socat
// as a user would run it, the least relay epoll allows, and a crowd of idle clients. Plain
// blocking or non-blocking sockets, so that what is timed is the relay in between.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

extern char **environ;

namespace relay_bench {
using Clock = std::chrono::steady_clock;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int listenOn(quint16 port, quint16 *bound)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = loopback(port);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(fd, 1024) != 0)
        return -1;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    *bound = ntohs(address.sin_port);
    return fd;
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Reads until the peer closes; returns the byte count.
size_t readToEnd(int fd, std::vector<char> &buffer)
{
    size_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            return total;
        total += size_t(n);
    }
}

// socat relaying one port to the upstream, as a user would run it.
class Socat
{
public:
    Socat(quint16 upstream)
    {
        quint16 port = 0;
        const int probe = listenOn(0, &port);
        ::close(probe);
        const std::string listen = "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,fork,reuseaddr";
        const std::string target = "TCP:127.0.0.1:" + std::to_string(upstream);
        char *argv[] = {const_cast<char *>("socat"), const_cast<char *>(listen.c_str()),
                        const_cast<char *>(target.c_str()), nullptr};
        if (::posix_spawnp(&m_pid, "socat", nullptr, nullptr, argv, environ) != 0) {
            m_pid = 0;
            return;
        }
        for (int i = 0; i < 200; ++i) {
            const int fd = connectTo(port);
            if (fd >= 0) {
                ::close(fd);
                m_port = port;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Socat()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    quint16 port() const { return m_port; }

private:
    pid_t m_pid = 0;
    quint16 m_port = 0;
};

// The least a relay can do: one thread, epoll, non-blocking sockets, no framework. It
// shows what relaying itself costs on this machine, apart from Qt's socket layer.
class BareRelay
{
public:
    explicit BareRelay(quint16 upstream)
        : m_upstream(upstream)
    {
        m_listener = listenOn(0, &m_port);
        m_epoll = ::epoll_create1(0);
        m_stop = ::eventfd(0, 0);
        watch(m_listener, EPOLLIN, nullptr);
        watch(m_stop, EPOLLIN, nullptr);
        m_thread = std::thread([this] { run(); });
    }
    ~BareRelay()
    {
        const uint64_t one = 1;
        (void)!::write(m_stop, &one, sizeof one);
        m_thread.join();
        ::close(m_listener);
        ::close(m_stop);
        ::close(m_epoll);
    }
    quint16 port() const { return m_port; }

private:
    struct Pair
    {
        int fd[2] = {-1, -1};          // client, upstream
        std::vector<char> buffer[2];   // bytes read from side i, not yet written to the other
        size_t offset[2] = {0, 0};
        bool connected = false;
    };
    struct Tag { Pair *pair; int side; };

    void watch(int fd, uint32_t events, Tag *tag, int op = EPOLL_CTL_ADD)
    {
        epoll_event event{};
        event.events = events;
        event.data.ptr = tag;
        if (!tag)
            event.data.fd = fd;
        ::epoll_ctl(m_epoll, op, fd, &event);
    }
    // Side i reads while its outgoing buffer is empty and writes while the other's is not.
    void rearm(Pair *pair, Tag *tags)
    {
        for (int i = 0; i < 2; ++i) {
            uint32_t events = 0;
            if (i == 1 && !pair->connected)
                events = EPOLLOUT;
            else {
                if (pair->buffer[i].empty() && (pair->connected || i == 0))
                    events |= EPOLLIN;
                if (!pair->buffer[1 - i].empty())
                    events |= EPOLLOUT;
                if (i == 0 && !pair->connected)
                    events = 0;   // the client waits until the upstream is up
            }
            watch(pair->fd[i], events, &tags[i], EPOLL_CTL_MOD);
        }
    }
    void closePair(Pair *pair, Tag *tags)
    {
        ::close(pair->fd[0]);
        ::close(pair->fd[1]);
        delete[] tags;
        delete pair;
    }
    void run()
    {
        epoll_event events[64];
        std::vector<char> chunk(65536);
        for (;;) {
            const int n = ::epoll_wait(m_epoll, events, 64, -1);
            for (int e = 0; e < n; ++e) {
                if (!events[e].data.ptr || events[e].data.fd == m_listener || events[e].data.fd == m_stop) {
                    if (events[e].data.fd == m_stop)
                        return;
                    accept();
                    continue;
                }
                Tag *tag = static_cast<Tag *>(events[e].data.ptr);
                Pair *pair = tag->pair;
                Tag *tags = tag - tag->side;
                const int i = tag->side;
                bool end = false;
                if (i == 1 && !pair->connected) {
                    int error = 0;
                    socklen_t length = sizeof error;
                    ::getsockopt(pair->fd[1], SOL_SOCKET, SO_ERROR, &error, &length);
                    if (error) {
                        closePair(pair, tags);
                        continue;
                    }
                    pair->connected = true;
                } else {
                    if ((events[e].events & EPOLLOUT) && !pair->buffer[1 - i].empty()) {
                        std::vector<char> &out = pair->buffer[1 - i];
                        const ssize_t w = ::send(pair->fd[i], out.data() + pair->offset[1 - i],
                                                 out.size() - pair->offset[1 - i], MSG_NOSIGNAL);
                        if (w < 0)
                            end = true;
                        else if ((pair->offset[1 - i] += size_t(w)) == out.size()) {
                            out.clear();
                            pair->offset[1 - i] = 0;
                        }
                    }
                    if (!end && (events[e].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) && pair->buffer[i].empty()) {
                        const ssize_t r = ::read(pair->fd[i], chunk.data(), chunk.size());
                        if (r <= 0)
                            end = true;
                        else {
                            const ssize_t w = ::send(pair->fd[1 - i], chunk.data(), size_t(r), MSG_NOSIGNAL);
                            if (w < r)
                                pair->buffer[i].assign(chunk.data() + std::max<ssize_t>(w, 0), chunk.data() + r);
                        }
                    }
                }
                if (end) {
                    closePair(pair, tags);
                    continue;
                }
                rearm(pair, tags);
            }
        }
    }
    void accept()
    {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (client < 0)
            return;
        auto *pair = new Pair;
        auto *tags = new Tag[2]{{pair, 0}, {pair, 1}};
        pair->fd[0] = client;
        pair->fd[1] = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const int on = 1;
        ::setsockopt(pair->fd[0], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(pair->fd[1], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const sockaddr_in address = loopback(m_upstream);
        ::connect(pair->fd[1], reinterpret_cast<const sockaddr *>(&address), sizeof address);
        watch(pair->fd[0], 0, &tags[0]);
        watch(pair->fd[1], EPOLLOUT, &tags[1]);
    }

    quint16 m_upstream;
    quint16 m_port = 0;
    int m_listener = -1;
    int m_epoll = -1;
    int m_stop = -1;
    std::thread m_thread;
};

// Clients that connect and never send, each replaced as soon as the proxy closes it.
// Records how long each one stayed open.
class IdleCrowd
{
public:
    IdleCrowd(quint16 port, int size)
        : m_port(port)
    {
        m_stop = ::eventfd(0, 0);
        for (int i = 0; i < size; ++i)
            open();
        m_thread = std::thread([this] { watch(); });
    }
    ~IdleCrowd()
    {
        const uint64_t one = 1;
        (void)!::write(m_stop, &one, sizeof one);
        m_thread.join();
        for (const Member &member : m_members)
            ::close(member.fd);
        ::close(m_stop);
    }
    int opened() const { return m_opened; }
    int closed() const { return int(m_lifetimes.size()); }
    double longestSeconds() const   // those still open count as old as they are now
    {
        double longest = m_lifetimes.empty() ? 0 : *std::max_element(m_lifetimes.begin(), m_lifetimes.end());
        for (const Member &member : m_members)
            longest = std::max(longest, std::chrono::duration<double>(Clock::now() - member.since).count());
        return longest;
    }

private:
    struct Member { int fd; Clock::time_point since; };

    void open()
    {
        const int fd = connectTo(m_port);
        if (fd < 0)
            return;
        ++m_opened;
        m_members.push_back({fd, Clock::now()});
    }
    void watch()
    {
        std::vector<pollfd> fds;
        for (;;) {
            fds.assign(1, pollfd{m_stop, POLLIN, 0});
            for (const Member &member : m_members)
                fds.push_back({member.fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0 || fds[0].revents)
                return;
            std::vector<Member> kept;
            int gone = 0;
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) { kept.push_back(m_members[i - 1]); continue; }
                m_lifetimes.push_back(std::chrono::duration<double>(Clock::now() - m_members[i - 1].since).count());
                ::close(fds[i].fd);
                ++gone;
            }
            m_members.swap(kept);
            for (int i = 0; i < gone; ++i)
                open();
        }
    }

    quint16 m_port;
    int m_stop = -1;
    int m_opened = 0;
    std::vector<Member> m_members;
    std::vector<double> m_lifetimes;
    std::thread m_thread;
};
}

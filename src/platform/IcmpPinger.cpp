#include "IcmpPinger.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr unsigned char kEchoRequest4 = 8, kEchoReply4 = 0;
constexpr unsigned char kEchoRequest6 = 128, kEchoReply6 = 129;

struct Target
{
    bool ipv6 = false;
    sockaddr_storage address{};
    socklen_t length = 0;
};

bool parseTarget(const QString &text, Target &target)
{
    const QByteArray host = text.toLatin1();
    auto *v4 = reinterpret_cast<sockaddr_in *>(&target.address);
    if (::inet_pton(AF_INET, host.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        target.length = sizeof(sockaddr_in);
        return true;
    }
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&target.address);
    if (::inet_pton(AF_INET6, host.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        target.ipv6 = true;
        target.length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

struct Socket
{
    int fd = -1;
    bool raw = false;
};

// A datagram socket where ping_group_range admits this user; else, as ping itself does, a
// raw one where the process may open it (root, or CAP_NET_RAW). Raw sockets see every
// echo reply reaching the machine, so only those are let through and ours are picked out
// by identifier and sequence.
Socket openSocket(bool ipv6)
{
    const int family = ipv6 ? AF_INET6 : AF_INET;
    const int protocol = ipv6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP);
    Socket s;
    s.fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (s.fd >= 0)
        return s;
    const int refusal = errno;
    s.fd = ::socket(family, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (s.fd < 0) {
        errno = refusal;   // the datagram socket's reason is the one to report
        return s;
    }
    s.raw = true;
    if (ipv6) {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(kEchoReply6, &filter);
        ::setsockopt(s.fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    } else {
        icmp_filter filter{~(1u << kEchoReply4)};
        ::setsockopt(s.fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    return s;
}

// The Internet checksum; the kernel fills it in on datagram and ICMPv6 sockets only.
quint16 checksum(const unsigned char *data, size_t length)
{
    quint32 sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<quint32>(data[i] << 8 | data[i + 1]);
    if (length % 2)
        sum += static_cast<quint32>(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<quint16>(~sum);
}

quint16 nextSequence()
{
    static quint16 sequence = 0;
    return ++sequence;
}

// One echo in flight; deletes itself once it has answered.
class Echo : public QObject
{
public:
    Echo(Socket socket, bool ipv6, quint16 identifier, quint16 sequence, IcmpPinger::Done done, QObject *parent)
        : QObject(parent), m_fd(socket.fd), m_raw(socket.raw), m_ipv6(ipv6), m_identifier(identifier),
          m_sequence(sequence), m_done(std::move(done)), m_notifier(socket.fd, QSocketNotifier::Read, this)
    {
        m_clock.start();
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { receive(); });
    }
    ~Echo() override { ::close(m_fd); }

    void expire(int timeoutMs, const QString &error)
    {
        QTimer::singleShot(timeoutMs, this, [this, error] { finish(std::nullopt, error); });
    }

private:
    void receive()
    {
        unsigned char packet[1500];
        for (;;) {
            ssize_t n = ::recv(m_fd, packet, sizeof packet, 0);
            if (n < 0)
                return;   // EAGAIN: wait for the next datagram
            const unsigned char *reply = packet;
            // A raw IPv4 socket hands over the IP header too.
            if (m_raw && !m_ipv6) {
                const ssize_t header = (packet[0] & 0x0f) * 4;
                if (n < header)
                    continue;
                reply += header;
                n -= header;
            }
            // type, code, checksum, identifier, sequence
            if (n < 8 || reply[0] != (m_ipv6 ? kEchoReply6 : kEchoReply4))
                continue;
            const quint16 identifier = static_cast<quint16>(reply[4] << 8 | reply[5]);
            const quint16 sequence = static_cast<quint16>(reply[6] << 8 | reply[7]);
            // On a datagram socket the kernel owns the identifier and filters by it.
            if (sequence != m_sequence || (m_raw && identifier != m_identifier))
                continue;
            finish(m_clock.nsecsElapsed() / 1e6, {});
            return;
        }
    }

    void finish(std::optional<double> milliseconds, const QString &error)
    {
        if (!m_done)
            return;
        m_notifier.setEnabled(false);
        IcmpPinger::Done done = std::move(m_done);
        m_done = nullptr;
        deleteLater();
        done(milliseconds, error);
    }

    int m_fd;
    bool m_raw;
    bool m_ipv6;
    quint16 m_identifier;
    quint16 m_sequence;
    IcmpPinger::Done m_done;
    QSocketNotifier m_notifier;
    QElapsedTimer m_clock;
};
}

IcmpPinger::IcmpPinger(QObject *parent)
    : QObject(parent)
{
}

bool IcmpPinger::permitted(const QString &address)
{
    Target target;
    if (!parseTarget(address, target))
        return false;
    const Socket socket = openSocket(target.ipv6);
    if (socket.fd < 0)
        return false;
    ::close(socket.fd);
    return true;
}

void IcmpPinger::ping(const QString &address, int timeoutMs, Done done)
{
    auto failLater = [this, &done](const QString &error) {
        QMetaObject::invokeMethod(this, [done = std::move(done), error] { done(std::nullopt, error); }, Qt::QueuedConnection);
    };
    Target target;
    if (!parseTarget(address, target)) {
        failLater(QStringLiteral("not a numeric address: %1").arg(address));
        return;
    }
    const Socket socket = openSocket(target.ipv6);
    if (socket.fd < 0) {
        failLater(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const quint16 sequence = nextSequence();
    const auto identifier = static_cast<quint16>(::getpid() & 0xffff);
    unsigned char packet[8 + 16] = {};
    packet[0] = target.ipv6 ? kEchoRequest6 : kEchoRequest4;
    packet[4] = static_cast<unsigned char>(identifier >> 8);
    packet[5] = static_cast<unsigned char>(identifier & 0xff);
    packet[6] = static_cast<unsigned char>(sequence >> 8);
    packet[7] = static_cast<unsigned char>(sequence & 0xff);
    std::memcpy(packet + 8, "quillmoor-ping..", 16);
    if (socket.raw && !target.ipv6) {
        const quint16 sum = checksum(packet, sizeof packet);
        packet[2] = static_cast<unsigned char>(sum >> 8);
        packet[3] = static_cast<unsigned char>(sum & 0xff);
    }

    auto *echo = new Echo(socket, target.ipv6, identifier, sequence, std::move(done), this);
    const int fd = socket.fd;
    if (::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&target.address), target.length) < 0) {
        echo->expire(0, QString::fromLocal8Bit(std::strerror(errno)));   // answers on the next turn
        return;
    }
    echo->expire(timeoutMs, QStringLiteral("no reply within %1 ms").arg(timeoutMs));
}

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

// A raw socket's echoes carry the process's own identifier; a datagram socket's get the
// kernel's.
quint16 echoIdentifier()
{
    return static_cast<quint16>(::getpid() & 0xffff);
}

quint16 nextSequence()
{
    static quint16 sequence = 0;
    return ++sequence;
}
}

IcmpPinger::IcmpPinger(QObject *parent)
    : QObject(parent)
{
}

IcmpPinger::~IcmpPinger()
{
    for (Channel &c : m_channels) {
        delete c.notifier;
        if (c.fd >= 0)
            ::close(c.fd);
    }
}

IcmpPinger::Channel *IcmpPinger::channel(bool ipv6)
{
    Channel &c = m_channels[ipv6 ? 1 : 0];
    if (c.fd >= 0)
        return &c;
    // Not kept after a refusal: the groups allowed to ping can change while this runs.
    const Socket socket = openSocket(ipv6);
    if (socket.fd < 0)
        return nullptr;
    c.fd = socket.fd;
    c.raw = socket.raw;
    c.notifier = new QSocketNotifier(c.fd, QSocketNotifier::Read, this);
    c.notifier->setEnabled(false);
    connect(c.notifier, &QSocketNotifier::activated, this, [this, ipv6] { receive(m_channels[ipv6 ? 1 : 0], ipv6); });
    return &c;
}

bool IcmpPinger::permitted(const QString &address)
{
    Target target;
    return parseTarget(address, target) && channel(target.ipv6);
}

void IcmpPinger::receive(Channel &c, bool ipv6)
{
    unsigned char packet[1500];
    const quint16 identifier = echoIdentifier();
    for (;;) {
        ssize_t n = ::recv(c.fd, packet, sizeof packet, 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            continue;   // EINTR, or an ICMP error queued on the socket: reading clears it
        }
        const unsigned char *reply = packet;
        // A raw IPv4 socket hands over the IP header too.
        if (c.raw && !ipv6) {
            const ssize_t header = (packet[0] & 0x0f) * 4;
            if (n < header)
                continue;
            reply += header;
            n -= header;
        }
        // type, code, checksum, identifier, sequence
        if (n < 8 || reply[0] != (ipv6 ? kEchoReply6 : kEchoReply4))
            continue;
        const quint16 from = static_cast<quint16>(reply[4] << 8 | reply[5]);
        const quint16 sequence = static_cast<quint16>(reply[6] << 8 | reply[7]);
        // On a datagram socket the kernel owns the identifier and filters by it; a raw one
        // also sees every other echo reply reaching the machine, and replies that came
        // after their echo timed out.
        const auto it = c.pending.find(sequence);
        if (it == c.pending.end() || (c.raw && from != identifier))
            continue;
        finish(c, sequence, it->second.clock.nsecsElapsed() / 1e6, {});
    }
}

void IcmpPinger::finish(Channel &c, quint16 sequence, std::optional<double> milliseconds, const QString &error)
{
    const auto it = c.pending.find(sequence);
    if (it == c.pending.end())
        return;
    Done done = std::move(it->second.done);
    it->second.timeout->deleteLater();   // it may be the timer whose timeout called this
    c.pending.erase(it);
    if (c.pending.empty() && c.notifier)
        c.notifier->setEnabled(false);
    done(milliseconds, error);
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
    Channel *c = channel(target.ipv6);
    if (!c) {
        failLater(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (c->pending.empty())
        receive(*c, target.ipv6);   // let go of late replies queued while nothing listened
    quint16 sequence = nextSequence();
    while (c->pending.count(sequence))
        sequence = nextSequence();
    const quint16 identifier = echoIdentifier();
    unsigned char packet[8 + 16] = {};
    packet[0] = target.ipv6 ? kEchoRequest6 : kEchoRequest4;
    packet[4] = static_cast<unsigned char>(identifier >> 8);
    packet[5] = static_cast<unsigned char>(identifier & 0xff);
    packet[6] = static_cast<unsigned char>(sequence >> 8);
    packet[7] = static_cast<unsigned char>(sequence & 0xff);
    std::memcpy(packet + 8, "quillmoor-ping..", 16);
    if (c->raw && !target.ipv6) {
        const quint16 sum = checksum(packet, sizeof packet);
        packet[2] = static_cast<unsigned char>(sum >> 8);
        packet[3] = static_cast<unsigned char>(sum & 0xff);
    }

    Pending &pending = c->pending[sequence];
    pending.done = std::move(done);
    pending.clock.start();
    pending.timeout = new QTimer(this);
    pending.timeout->setSingleShot(true);
    const bool ipv6 = target.ipv6;
    QString error;
    int wait = timeoutMs;
    if (::sendto(c->fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&target.address), target.length) < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        wait = 0;   // answers on the next turn
    } else {
        error = QStringLiteral("no reply within %1 ms").arg(timeoutMs);
        c->notifier->setEnabled(true);
    }
    connect(pending.timeout, &QTimer::timeout, this, [this, ipv6, sequence, error] {
        finish(m_channels[ipv6 ? 1 : 0], sequence, std::nullopt, error);
    });
    pending.timeout->start(wait);
}

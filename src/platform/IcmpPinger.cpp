#include "IcmpPinger.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
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

int openSocket(bool ipv6)
{
    return ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    ipv6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP));
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
    Echo(int fd, bool ipv6, quint16 sequence, IcmpPinger::Done done, QObject *parent)
        : QObject(parent), m_fd(fd), m_ipv6(ipv6), m_sequence(sequence), m_done(std::move(done)),
          m_notifier(fd, QSocketNotifier::Read, this)
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
        unsigned char reply[1500];
        for (;;) {
            const ssize_t n = ::recv(m_fd, reply, sizeof reply, 0);
            if (n < 0)
                return;   // EAGAIN: wait for the next datagram
            // type, code, checksum, identifier, sequence: the header the kernel hands back.
            if (n < 8 || reply[0] != (m_ipv6 ? kEchoReply6 : kEchoReply4))
                continue;
            const quint16 sequence = static_cast<quint16>(reply[6] << 8 | reply[7]);
            if (sequence != m_sequence)
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
    bool m_ipv6;
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
    const int fd = openSocket(target.ipv6);
    if (fd < 0)
        return false;
    ::close(fd);
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
    const int fd = openSocket(target.ipv6);
    if (fd < 0) {
        failLater(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const quint16 sequence = nextSequence();
    unsigned char packet[8 + 16] = {};
    packet[0] = target.ipv6 ? kEchoRequest6 : kEchoRequest4;
    packet[6] = static_cast<unsigned char>(sequence >> 8);
    packet[7] = static_cast<unsigned char>(sequence & 0xff);
    std::memcpy(packet + 8, "quillmoor-ping..", 16);

    auto *echo = new Echo(fd, target.ipv6, sequence, std::move(done), this);
    if (::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&target.address), target.length) < 0) {
        echo->expire(0, QString::fromLocal8Bit(std::strerror(errno)));   // answers on the next turn
        return;
    }
    echo->expire(timeoutMs, QStringLiteral("no reply within %1 ms").arg(timeoutMs));
}

#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <optional>

class QSocketNotifier;
class QTimer;

// One ICMP echo through an unprivileged datagram socket (the kernel fills in the
// identifier and checksum), allowed for the groups in net.ipv4.ping_group_range. Outside
// them, a process that may open raw sockets (root, CAP_NET_RAW) uses one, as ping does;
// otherwise the socket cannot be opened and ping() says so.
//
// The socket of each family is opened once and kept: a pinger that runs every two seconds
// would otherwise open, set up and close a socket (and try the refused kind first) for
// every echo. Its reads are watched only while an echo is out.
class IcmpPinger : public QObject
{
    Q_OBJECT

public:
    // Round-trip time in milliseconds, or absent with the reason.
    using Done = std::function<void(std::optional<double> milliseconds, const QString &error)>;

    explicit IcmpPinger(QObject *parent = nullptr);
    ~IcmpPinger() override;

    // Whether this pinger has (or can now open) an ICMP socket for the address's family.
    bool permitted(const QString &address);

    // Sends one echo to a numeric IPv4 or IPv6 address. `done` is always called, later,
    // on this thread: with the reply's time, or after `timeoutMs` without one.
    void ping(const QString &address, int timeoutMs, Done done);

private:
    struct Pending
    {
        QElapsedTimer clock;
        Done done;
        QTimer *timeout = nullptr;
    };
    struct Channel
    {
        int fd = -1;
        bool raw = false;
        QSocketNotifier *notifier = nullptr;
        std::map<quint16, Pending> pending;   // by sequence
    };

    Channel *channel(bool ipv6);      // the family's socket, opened if need be; null when refused
    void receive(Channel &channel, bool ipv6);
    void finish(Channel &channel, quint16 sequence, std::optional<double> milliseconds, const QString &error);

    Channel m_channels[2];   // IPv4, IPv6
};

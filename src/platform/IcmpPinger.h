#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// One ICMP echo through an unprivileged datagram socket (the kernel fills in the
// identifier and checksum), allowed for the groups in net.ipv4.ping_group_range. Outside
// them, a process that may open raw sockets (root, CAP_NET_RAW) uses one, as ping does;
// otherwise the socket cannot be opened and ping() says so.
class IcmpPinger : public QObject
{
    Q_OBJECT

public:
    // Round-trip time in milliseconds, or absent with the reason.
    using Done = std::function<void(std::optional<double> milliseconds, const QString &error)>;

    explicit IcmpPinger(QObject *parent = nullptr);

    // Whether an ICMP socket can be opened for the address's family right now.
    static bool permitted(const QString &address);

    // Sends one echo to a numeric IPv4 or IPv6 address. `done` is always called, later,
    // on this thread: with the reply's time, or after `timeoutMs` without one.
    void ping(const QString &address, int timeoutMs, Done done);
};

#pragma once

#include "platform/CommandRunner.h"
#include "platform/IcmpPinger.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

struct PingSources
{
    QString host = QStringLiteral("1.1.1.1");   // Cloudflare's anycast resolver
    // How the echo is sent: Auto uses an ICMP datagram socket where this user may open
    // one, else the ping program.
    enum class Method { Auto, Socket, Command };
    Method method = Method::Auto;
    // Where the ping program is looked up; unset, PATH.
    std::optional<QStringList> searchPath;
};

// Round-trip latency to a public host, one echo every two seconds, never waited for on
// the GUI thread. A lost echo records 0.
class PingService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double currentLatency READ currentLatency NOTIFY currentLatencyChanged)
    Q_PROPERTY(QList<double> latencyHistory READ latencyHistory NOTIFY latencyHistoryChanged)

public:
    enum class Polling { Start, Manual };
    static constexpr int kHistoryLength = 60;
    static constexpr int kIntervalMs = 2000;
    static constexpr int kTimeoutMs = 1000;

    explicit PingService(PingSources sources = {}, Polling polling = Polling::Start, QObject *parent = nullptr);

    void startPolling();
    // Sends one echo; a call while one is still out is ignored.
    Q_INVOKABLE void ping();
    bool isPinging() const { return m_pinging; }

    double currentLatency() const { return m_currentLatency; }
    QList<double> latencyHistory() const { return m_latencyHistory; }

    // The milliseconds between the first "time=" and the " ms" after it.
    static std::optional<double> parseLatency(const QString &output);

Q_SIGNALS:
    void currentLatencyChanged();
    void latencyHistoryChanged();
    // After every echo, answered or not.
    void pinged();

private:
    void record(std::optional<double> milliseconds);

    PingSources m_sources;
    CommandRunner m_runner;
    IcmpPinger m_pinger;
    QTimer m_timer;
    bool m_pinging = false;
    double m_currentLatency = 0;
    QList<double> m_latencyHistory;
};

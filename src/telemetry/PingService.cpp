#include "PingService.h"

#include <cstdio>

PingService::PingService(PingSources sources, Polling polling, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_runner(m_sources.searchPath)
    , m_latencyHistory(kHistoryLength, 0.0)
{
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PingService::ping);
    if (polling == Polling::Start)
        startPolling();
}

void PingService::startPolling()
{
    m_timer.start();
}

std::optional<double> PingService::parseLatency(const QString &output)
{
    const qsizetype time = output.indexOf(QLatin1String("time="));
    if (time < 0)
        return std::nullopt;
    const qsizetype start = time + 5;
    const qsizetype unit = output.indexOf(QLatin1String(" ms"), start);
    if (unit < 0)
        return std::nullopt;
    bool ok = false;
    const double value = output.mid(start, unit - start).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

void PingService::ping()
{
    if (m_pinging)
        return;
    m_pinging = true;
    const bool socket = m_sources.method == PingSources::Method::Socket
                     || (m_sources.method == PingSources::Method::Auto && m_pinger.permitted(m_sources.host));
    if (socket) {
        m_pinger.ping(m_sources.host, kTimeoutMs, [this](std::optional<double> milliseconds, const QString &) {
            record(milliseconds);
        });
        return;
    }
    // -W is the reply timeout in seconds (-t would be the TTL here).
    m_runner.run(QStringLiteral("ping"), {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("1"), m_sources.host},
                 [this](const CommandRunner::Result &result) {
        if (!result.started) {
            std::printf("Ping failed: %s\n", qPrintable(result.error));
            std::fflush(stdout);
            record(std::nullopt);
            return;
        }
        record(parseLatency(QString::fromUtf8(result.output)));
    }, 3000);
}

void PingService::record(std::optional<double> milliseconds)
{
    m_pinging = false;
    const double value = milliseconds.value_or(0.0);
    if (value != m_currentLatency) {
        m_currentLatency = value;
        Q_EMIT currentLatencyChanged();
    }
    m_latencyHistory.removeFirst();
    m_latencyHistory.append(value);
    Q_EMIT latencyHistoryChanged();
    Q_EMIT pinged();
}

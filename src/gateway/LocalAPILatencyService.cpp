#include "LocalAPILatencyService.h"

#include <QElapsedTimer>
#include <QTcpSocket>

#include <algorithm>
#include <memory>

struct LocalAPILatencyService::Sweep
{
    QList<LocalPortInfo> ports;
    qsizetype next = 0;
    QList<PortLatencyInfo> results;
    Done done;
};

LocalAPILatencyService::LocalAPILatencyService(LatencySources sources, Polling polling, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
{
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { measureLatencies(); });
    if (polling == Polling::Start)
        startPolling();
}

LocalAPILatencyService::~LocalAPILatencyService() = default;

void LocalAPILatencyService::startPolling()
{
    m_timer.start();
    measureLatencies();
}

QList<PortLatencyInfo> LocalAPILatencyService::sampleLatencies()
{
    const auto row = [](int port, const char *name, int pid, double ms) {
        return PortLatencyInfo{port, QString::fromUtf8(name), pid, ms, QStringLiteral("Online")};
    };
    // The sandbox's sample listeners, with the owners the sample port scan gives them.
    return {row(11434, "ollama", 90281, 2.4), row(5432, "postgres", 8812, 0.8), row(6379, "redis-server", 8815, 0.5),
            row(3000, "node (next-dev)", 82918, 8.5), row(8000, "uvicorn (python)", 82955, 12.1)};
}

void LocalAPILatencyService::measureLatencies(Done done)
{
    if (m_sources.demoMode && m_sources.demoMode()) {
        setActivePortLatencies(sampleLatencies());
        if (done)
            done();
        return;
    }
    auto sweep = std::make_shared<Sweep>();
    if (m_sources.ports)
        sweep->ports = m_sources.ports();
    sweep->done = std::move(done);
    probeNext(sweep);
}

void LocalAPILatencyService::probeNext(const std::shared_ptr<Sweep> &sweep)
{
    if (sweep->next == sweep->ports.size()) {
        std::stable_sort(sweep->results.begin(), sweep->results.end(),
                         [](const PortLatencyInfo &a, const PortLatencyInfo &b) { return a.port < b.port; });
        setActivePortLatencies(sweep->results);
        if (sweep->done)
            sweep->done();
        return;
    }
    const LocalPortInfo row = sweep->ports.at(sweep->next++);
    auto clock = std::make_shared<QElapsedTimer>();   // monotonic
    clock->start();
    pingLocalPort(quint16(row.port), [this, sweep, row, clock](bool online) {
        const qint64 elapsedNs = clock->nsecsElapsed();
        PortLatencyInfo result{row.port, row.processName, row.pid, 0, QStringLiteral("Offline")};
        if (online) {
            result.latencyMs = double(elapsedNs) / 1'000'000.0;
            result.status = QStringLiteral("Online");
        }
        sweep->results.append(result);
        probeNext(sweep);
    });
}

void LocalAPILatencyService::pingLocalPort(quint16 port, std::function<void(bool)> done)
{
    auto *socket = new QTcpSocket(this);
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    auto reported = std::make_shared<bool>(false);
    // Exactly one answer; what the socket does after it (its own abort included) is ignored.
    const auto finish = [socket, reported, done = std::move(done)](bool online) {
        if (*reported)
            return;
        *reported = true;
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        if (done)
            done(online);
    };
    connect(socket, &QTcpSocket::connected, socket, [finish] { finish(true); });
    connect(socket, &QTcpSocket::errorOccurred, socket, [finish] { finish(false); });
    connect(deadline, &QTimer::timeout, socket, [finish] { finish(false); });
    deadline->start(kProbeDeadlineMs);
    socket->connectToHost(m_sources.host, port);
}

void LocalAPILatencyService::setActivePortLatencies(const QList<PortLatencyInfo> &rows)
{
    m_activePortLatencies = rows;
    Q_EMIT activePortLatenciesChanged();
}

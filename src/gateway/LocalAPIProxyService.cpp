#include "LocalAPIProxyService.h"

#include "ProxyRelay.h"
#include "platform/EpollEventDispatcher.h"

#include <algorithm>
#include <cstdio>

LocalAPIProxyService::LocalAPIProxyService(RelayTarget upstream, QObject *parent)
    : QObject(parent)
    , m_upstream(std::move(upstream))
{
    m_thread.setObjectName(QStringLiteral("com.quillmoor.proxy.queue"));
}

LocalAPIProxyService::~LocalAPIProxyService()
{
    if (!m_relay)
        return;
    // The relay and its sockets belong to the proxy thread and must go there.
    QMetaObject::invokeMethod(m_relay, [relay = m_relay] { delete relay; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void LocalAPIProxyService::startProxy(int port)
{
    if (m_isRunning || m_starting || port < 0 || port > 65535)
        return;
    if (!m_relay) {
        // Started on first use: nobody pays for the thread until the proxy is switched on.
        m_relay = new ProxyRelay(m_upstream);
        m_relay->moveToThread(&m_thread);
        connect(m_relay, &ProxyRelay::listening, this, [this](quint16 actual, int attempt) {
            if (attempt != m_attempt || !m_starting)
                return;   // stopped, or started again, before the listener was ready
            m_starting = false;
            m_port = actual;
            setRunning(true);
            log(QStringLiteral("🚀 Local API Proxy listening on port %1").arg(actual));
        });
        connect(m_relay, &ProxyRelay::listenFailed, this, [this](const QString &error, int attempt) {
            if (attempt != m_attempt || !m_starting)
                return;
            m_starting = false;
            log(QStringLiteral("❌ Failed to bind local proxy: ") + error);
        });
        connect(m_relay, &ProxyRelay::counted, this, [this](int requests, const QString &model, bool routed) {
            if (requests > 0) {
                m_requestCount += requests;
                Q_EMIT requestCountChanged();
            }
            if (routed)
                setLastRoutedModel(model);
        });
        connect(m_relay, &ProxyRelay::metered, this, [this](const QList<ModelThroughput> &since) {
            for (ModelThroughput later : since) {
                auto find = [this](const QString &model) {
                    return std::find_if(m_modelThroughput.begin(), m_modelThroughput.end(),
                                        [&](const ModelThroughput &row) { return row.model == model; });
                };
                auto it = find(later.model);
                // Names come from clients: past so many, the rest share one row, so a
                // client naming a new model in every request cannot grow the list.
                if (it == m_modelThroughput.end() && m_modelThroughput.size() >= kMaxModels) {
                    later.model = otherModels();
                    it = find(later.model);
                }
                if (it == m_modelThroughput.end())
                    m_modelThroughput.append(later);
                else
                    it->merge(later);
            }
            Q_EMIT modelThroughputChanged();
        });
        connect(m_relay, &ProxyRelay::logged, this, &LocalAPIProxyService::log);
        // The thread does little but wait on sockets: a plain epoll turn serves it better
        // than a GLib main-context iteration.
        m_thread.setEventDispatcher(new EpollEventDispatcher);
        m_thread.start();
    }
    m_starting = true;
    const int attempt = ++m_attempt;
    QMetaObject::invokeMethod(m_relay, [relay = m_relay, port, attempt] { relay->listen(quint16(port), attempt); });
}

void LocalAPIProxyService::stopProxy()
{
    // A switch turned off before the listener came up cancels it too.
    if (!m_isRunning && !m_starting)
        return;
    m_starting = false;
    QMetaObject::invokeMethod(m_relay, [relay = m_relay] { relay->close(); });
    const bool wasRunning = m_isRunning;
    setRunning(false);
    setLastRoutedModel(QStringLiteral("None"));
    if (wasRunning)
        log(QStringLiteral("🛑 Local API Proxy stopped"));
}

int LocalAPIProxyService::openConnections() const
{
    if (!m_relay)
        return 0;
    int count = 0;
    QMetaObject::invokeMethod(m_relay, [relay = m_relay, &count] { count = relay->connectionCount(); },
                              Qt::BlockingQueuedConnection);
    return count;
}

void LocalAPIProxyService::log(const QString &line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
    Q_EMIT logged(line);
}

void LocalAPIProxyService::setRunning(bool running)
{
    if (m_isRunning == running)
        return;
    m_isRunning = running;
    Q_EMIT isRunningChanged();
}

void LocalAPIProxyService::setLastRoutedModel(const QString &model)
{
    m_lastRoutedModel = model;
    Q_EMIT lastRoutedModelChanged();
}

#pragma once

#include "MetricsCollector.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class HttpGetListener;
struct HttpReply;
struct HttpRequestHead;

// The metrics endpoint: GET /metrics, read-only, on loopback unless the user names
// another address. Each scrape is collected and formatted when it is asked for, on this
// thread; the listener keeps stuck and hostile clients from pinning it.
class MetricsEndpoint : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool listening READ isListening NOTIFY listeningChanged)
    Q_PROPERTY(QString address READ address NOTIFY listeningChanged)
    Q_PROPERTY(QString errorString READ errorString NOTIFY listeningChanged)

public:
    static constexpr quint16 kDefaultPort = 11440;
    static constexpr const char *kDefaultAddress = "127.0.0.1:11440";

    // The sources are asked for when the endpoint first starts, so that services it reads
    // (the cache walker, say) are not started while it is off.
    using SourcesFactory = std::function<MetricsSources()>;
    explicit MetricsEndpoint(SourcesFactory sources, QObject *parent = nullptr);
    explicit MetricsEndpoint(MetricsSources sources, QObject *parent = nullptr);
    ~MetricsEndpoint() override;

    // The app's endpoint, following the user's settings.
    static MetricsEndpoint &shared();

    // "host:port", "[v6]:port" or "localhost:port"; port 0 lets the system pick one. False,
    // with errorString set, when the text is not an address or it cannot be listened on.
    Q_INVOKABLE bool start(const QString &address);
    Q_INVOKABLE void stop();

    bool isListening() const;
    // Where it listens ("127.0.0.1:11440"); empty while it does not.
    QString address() const;
    QString errorString() const { return m_error; }
    quint16 port() const;
    int openConnections() const;
    int scrapes() const { return m_scrapes; }
    // How long a client may take to send its request; tests shorten it.
    void setIdleTimeoutMs(int ms);

    // The answer to one request head, as the listener sends it.
    HttpReply answer(const HttpRequestHead &request);
    // One scrape's families, as GET /metrics would write them.
    QList<MetricFamily> collect();

    static std::optional<std::pair<QHostAddress, quint16>> parseAddress(const QString &text);

Q_SIGNALS:
    void listeningChanged();

private:
    SourcesFactory m_sources;
    std::unique_ptr<MetricsCollector> m_collector;
    std::unique_ptr<HttpGetListener> m_listener;
    QHostAddress m_host;
    QString m_error;
    int m_scrapes = 0;
};

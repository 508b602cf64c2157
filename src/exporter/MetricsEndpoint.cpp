#include "MetricsEndpoint.h"

#include "MetricsFormatter.h"
#include "platform/HttpGetListener.h"

MetricsEndpoint::MetricsEndpoint(SourcesFactory sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_listener(std::make_unique<HttpGetListener>([this](const HttpRequestHead &request) { return answer(request); }))
{
}

MetricsEndpoint::MetricsEndpoint(MetricsSources sources, QObject *parent)
    : MetricsEndpoint([sources] { return sources; }, parent)
{
}

MetricsEndpoint::~MetricsEndpoint() = default;

std::optional<std::pair<QHostAddress, quint16>> MetricsEndpoint::parseAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = trimmed.left(colon);
    bool ok = false;
    const uint port = trimmed.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535)
        return std::nullopt;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt;   // a bare IPv6 address is ambiguous before a port: it takes brackets
    QHostAddress address;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(host))
        return std::nullopt;
    return std::make_pair(address, static_cast<quint16>(port));
}

QList<MetricFamily> MetricsEndpoint::collect()
{
    if (!m_collector)
        m_collector = std::make_unique<MetricsCollector>(m_sources ? m_sources() : MetricsSources{});
    return m_collector->collect();
}

bool MetricsEndpoint::start(const QString &address)
{
    stop();
    if (!m_collector)
        m_collector = std::make_unique<MetricsCollector>(m_sources ? m_sources() : MetricsSources{});
    const auto parsed = parseAddress(address);
    if (!parsed) {
        m_error = tr("“%1” is not an address and port, such as %2").arg(address, QLatin1String(kDefaultAddress));
        Q_EMIT listeningChanged();
        return false;
    }
    QString reason;
    if (!m_listener->listen(parsed->first, parsed->second, &reason)) {
        m_error = tr("Cannot listen on %1: %2").arg(address.trimmed(), reason);
        Q_EMIT listeningChanged();
        return false;
    }
    m_host = parsed->first;
    m_error.clear();
    Q_EMIT listeningChanged();
    return true;
}

void MetricsEndpoint::stop()
{
    if (!m_listener->isListening())
        return;
    m_listener->close();
    Q_EMIT listeningChanged();
}

bool MetricsEndpoint::isListening() const
{
    return m_listener->isListening();
}

quint16 MetricsEndpoint::port() const
{
    return m_listener->port();
}

void MetricsEndpoint::setIdleTimeoutMs(int ms)
{
    m_listener->setIdleTimeoutMs(ms);
}

int MetricsEndpoint::openConnections() const
{
    return m_listener->openConnections();
}

QString MetricsEndpoint::address() const
{
    if (!isListening())
        return {};
    const QString host = m_host.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + m_host.toString() + QLatin1Char(']')
                             : m_host.toString();
    return host + QLatin1Char(':') + QString::number(port());
}

HttpReply MetricsEndpoint::answer(const HttpRequestHead &request)
{
    const qsizetype query = request.target.indexOf('?');
    const QByteArray path = query < 0 ? request.target : request.target.left(query);
    if (path != "/metrics")
        return {404, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArrayLiteral("Only /metrics is served here.\n"), {}};
    if (request.method != "GET")
        return {405, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArrayLiteral("Only GET is answered.\n"),
                QByteArrayLiteral("GET")};
    const MetricsFormatter::Format format = MetricsFormatter::formatFor(request.accept);
    ++m_scrapes;
    return {200, MetricsFormatter::contentType(format), MetricsFormatter::write(collect(), format), {}};
}

#include "AddressWatcher.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
constexpr qint64 kRefreshMs = 60000;
constexpr qint64 kRetryMs = 10000;
constexpr int kTimeoutMs = 10000;
}

AddressWatcher::AddressWatcher(std::string procRoot, AddressList addresses, QUrl publicUrl, Sinks sinks)
    : m_reader(std::move(procRoot))
    , m_addresses(std::move(addresses))
    , m_publicUrl(std::move(publicUrl))
    , m_sinks(std::move(sinks))
{
}

AddressWatcher::~AddressWatcher()
{
    // A fetch still out must not report into a watcher half torn down.
    if (m_reply)
        QObject::disconnect(m_reply, nullptr, m_network.get(), nullptr);
}

QString AddressWatcher::pickLocal(const std::vector<InterfaceAddress> &addresses, const std::string &defaultInterface)
{
    QString onRoute;
    QString anyOther;
    for (const InterfaceAddress &a : addresses) {
        if (a.ipv6)
            continue;
        if (!defaultInterface.empty() && a.interface == defaultInterface)
            onRoute = QString::fromStdString(a.address);
        if (a.address.compare(0, 4, "127.") != 0)
            anyOther = QString::fromStdString(a.address);
    }
    if (!onRoute.isEmpty())
        return onRoute;
    return anyOther.isEmpty() ? QStringLiteral("127.0.0.1") : anyOther;
}

void AddressWatcher::poll()
{
    // Addresses are enumerated again only after the kernel announces a change, which it
    // does on the routing socket the reader listens to: the same answer every tick for a
    // fraction of the cost.
    if (m_addresses)
        m_sinks.localAddress(pickLocal(m_addresses(), m_reader.defaultRouteInterface()));
    else if (m_reader.changed())
        m_sinks.localAddress(pickLocal(InterfaceAddressReader::enumerate(), m_reader.defaultRouteInterface()));

    if (m_publicUrl.isEmpty() || m_reply)
        return;
    if (!m_sinceFetch.isValid() || m_sinceFetch.elapsed() >= (m_havePublic ? kRefreshMs : kRetryMs))
        fetchPublic();
}

void AddressWatcher::fetchPublic()
{
    if (m_publicUrl.isEmpty() || m_reply)
        return;
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();
    m_sinceFetch.start();
    QNetworkRequest request(m_publicUrl);
    request.setTransferTimeout(kTimeoutMs);
    m_reply = m_network->get(request);
    QObject::connect(m_reply, &QNetworkReply::finished, m_network.get(), [this, reply = m_reply] {
        reply->deleteLater();
        m_reply = nullptr;
        const QString body = QString::fromUtf8(reply->readAll()).trimmed();
        // A captive portal answers with a page of its own; only an address is shown.
        const bool ok = reply->error() == QNetworkReply::NoError && !QHostAddress(body).isNull();
        m_havePublic = m_havePublic || ok;
        m_sinks.publicFetched(ok, ok ? body : QString());
    });
}

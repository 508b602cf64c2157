#include "AddressWatcher.h"

#include "platform/BoundedHttpGet.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace {
constexpr qint64 kRefreshMs = 60000;
constexpr qint64 kRetryMs = 10000;
constexpr int kTimeoutMs = 10000;
constexpr qint64 kMaxReplyBytes = 4096;
}

AddressWatcher::AddressWatcher(std::string procRoot, AddressList addresses, QUrl publicUrl, Sinks sinks)
    : m_reader(std::move(procRoot))
    , m_addresses(std::move(addresses))
    , m_publicUrl(std::move(publicUrl))
    , m_sinks(std::move(sinks))
{
}

// A fetch still out reports to the network manager, which goes first: the watcher half
// torn down hears nothing.
AddressWatcher::~AddressWatcher() = default;

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

    if (m_publicUrl.isEmpty() || m_fetching)
        return;
    if (!m_sinceFetch.isValid() || m_sinceFetch.elapsed() >= (m_havePublic ? kRefreshMs : kRetryMs))
        fetchPublic();
}

void AddressWatcher::fetchPublic()
{
    if (m_publicUrl.isEmpty() || m_fetching)
        return;
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();
    m_sinceFetch.start();
    m_fetching = true;
    // An address is a few dozen bytes; a reply that keeps coming is not one, and one
    // deadline covers the whole exchange however slowly bytes trickle in.
    BoundedHttpGet::get(*m_network, QNetworkRequest(m_publicUrl), {kMaxReplyBytes, kTimeoutMs}, m_network.get(),
                        [this](const BoundedReply &reply) {
                            m_fetching = false;
                            const QString body = QString::fromUtf8(reply.body).trimmed();
                            // A captive portal answers with a page of its own; only an address is shown.
                            const bool ok = reply.outcome == BoundedReply::Answered && reply.complete
                                && reply.status == 200 && !QHostAddress(body).isNull();
                            m_havePublic = m_havePublic || ok;
                            m_sinks.publicFetched(ok, ok ? body : QString());
                        });
}

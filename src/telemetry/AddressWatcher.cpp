#include "AddressWatcher.h"

#include "platform/BoundedHttpGet.h"
#include "platform/SteadyClock.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <algorithm>

namespace {
constexpr qint64 kRefreshMs = 60000;
constexpr qint64 kRetryMs = 10000;
constexpr qint64 kRetryMaxMs = 300000;
constexpr int kTimeoutMs = 10000;
constexpr qint64 kMaxReplyBytes = 4096;
}

AddressWatcher::AddressWatcher(std::string procRoot, AddressList addresses, QUrl publicUrl, Sinks sinks,
                               std::function<qint64()> monotonicMs)
    : m_reader(std::move(procRoot))
    , m_addresses(std::move(addresses))
    , m_publicUrl(std::move(publicUrl))
    , m_sinks(std::move(sinks))
    , m_monotonicMs(monotonicMs ? std::move(monotonicMs) : steadyMilliseconds)
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

qint64 AddressWatcher::fetchIntervalMs(int failures, bool havePublic)
{
    if (failures <= 0)
        return kRefreshMs;
    const qint64 backOff = std::min(kRetryMaxMs, kRetryMs << std::min(failures - 1, 8));
    // Once an address is shown, a failure never brings the next fetch closer than a refresh.
    return havePublic ? std::max(kRefreshMs, backOff) : backOff;
}

void AddressWatcher::poll()
{
    // Addresses are enumerated again only after the kernel announces a change, which it
    // does on the routing socket the reader listens to: the same answer every tick for a
    // fraction of the cost.
    QString local;
    if (m_addresses)
        local = pickLocal(m_addresses(), m_reader.defaultRouteInterface());
    else if (m_reader.changed())
        local = pickLocal(InterfaceAddressReader::enumerate(), m_reader.defaultRouteInterface());
    if (!local.isEmpty()) {
        // A new local address is a new network, perhaps the first one with a way out: the
        // public address is asked for again at once, whatever failed on the last one.
        if (!m_local.isEmpty() && local != m_local) {
            m_failures = 0;
            m_lastFetchMs = -1;
        }
        m_local = local;
        m_sinks.localAddress(local);
    }

    if (m_publicUrl.isEmpty() || m_fetching)
        return;
    // Offline, each fetch is a name lookup on a thread of its own and a connection that
    // fails: backing off keeps a machine without a network from paying for it all day.
    if (m_lastFetchMs < 0 || m_monotonicMs() - m_lastFetchMs >= fetchIntervalMs(m_failures, m_havePublic))
        fetchPublic();
}

void AddressWatcher::fetchPublic()
{
    if (m_publicUrl.isEmpty() || m_fetching)
        return;
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();
    m_lastFetchMs = m_monotonicMs();
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
                            m_failures = ok ? 0 : m_failures + 1;
                            m_sinks.publicFetched(ok, ok ? body : QString());
                        });
}

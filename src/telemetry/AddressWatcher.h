#pragma once

#include "platform/InterfaceAddressReader.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QNetworkAccessManager;

// The machine's addresses: the local one, re-read when the kernel announces a change, and
// the public one, fetched from an address echo at a slow pace.
class AddressWatcher
{
public:
    using AddressList = std::function<std::vector<InterfaceAddress>()>;
    struct Sinks
    {
        std::function<void(const QString &)> localAddress;   // called when it may have changed
        // After each fetch: whether it gave an address, and the address when it did.
        std::function<void(bool ok, const QString &address)> publicFetched;
    };

    // `addresses` unset: getifaddrs, re-read only on a change. `publicUrl` empty: the public
    // address is never fetched. `monotonicMs` unset: the steady clock.
    AddressWatcher(std::string procRoot, AddressList addresses, QUrl publicUrl, Sinks sinks,
                   std::function<qint64()> monotonicMs = {});
    ~AddressWatcher();
    AddressWatcher(const AddressWatcher &) = delete;
    AddressWatcher &operator=(const AddressWatcher &) = delete;

    // The tick: the local address when it may have changed, and a public fetch when one is
    // due: every 60 s; after failures 10 s, then twice as long after each, up to 5 minutes;
    // and at once when the local address changes, as it does when a network comes up.
    void poll();
    // Starts a public-address fetch unless one is out.
    void fetchPublic();
    bool fetching() const { return m_fetching; }

    // The address of the default route's interface; without one the last non-loopback
    // IPv4 address; "127.0.0.1" when there is none.
    static QString pickLocal(const std::vector<InterfaceAddress> &addresses, const std::string &defaultInterface);
    // How long after a fetch the next one is due, after `failures` failed fetches in a row.
    static qint64 fetchIntervalMs(int failures, bool havePublic);

private:
    InterfaceAddressReader m_reader;
    AddressList m_addresses;
    QUrl m_publicUrl;
    Sinks m_sinks;
    std::function<qint64()> m_monotonicMs;
    std::unique_ptr<QNetworkAccessManager> m_network;   // made on the first fetch
    bool m_fetching = false;
    qint64 m_lastFetchMs = -1;   // -1: a fetch is due
    int m_failures = 0;          // failed fetches in a row
    bool m_havePublic = false;
    QString m_local;             // the local address last reported
};

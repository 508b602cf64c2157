#pragma once

#include "platform/InterfaceAddressReader.h"

#include <QElapsedTimer>
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
    // address is never fetched.
    AddressWatcher(std::string procRoot, AddressList addresses, QUrl publicUrl, Sinks sinks);
    ~AddressWatcher();
    AddressWatcher(const AddressWatcher &) = delete;
    AddressWatcher &operator=(const AddressWatcher &) = delete;

    // The tick: the local address when it may have changed, and a public fetch when one is
    // due (every 60 s, every 10 s until the first succeeds).
    void poll();
    // Starts a public-address fetch unless one is out.
    void fetchPublic();

    // The address of the default route's interface; without one the last non-loopback
    // IPv4 address; "127.0.0.1" when there is none.
    static QString pickLocal(const std::vector<InterfaceAddress> &addresses, const std::string &defaultInterface);

private:
    InterfaceAddressReader m_reader;
    AddressList m_addresses;
    QUrl m_publicUrl;
    Sinks m_sinks;
    std::unique_ptr<QNetworkAccessManager> m_network;   // made on the first fetch
    bool m_fetching = false;
    QElapsedTimer m_sinceFetch;
    bool m_havePublic = false;
};

#pragma once

#include <QDBusConnection>

// The system's caching resolver (systemd-resolved) over D-Bus.
class DnsResolverControl
{
public:
    explicit DnsResolverControl(QDBusConnection bus = QDBusConnection::systemBus());

    // Asks resolved to drop its cache. Fire and forget: where resolved is absent the call
    // fails unseen, as nothing cached means nothing to flush.
    void flushCaches();

private:
    QDBusConnection m_bus;
};

#include "DnsResolverControl.h"

#include <QDBusMessage>

DnsResolverControl::DnsResolverControl(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

void DnsResolverControl::flushCaches()
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.resolve1"),
                                                       QStringLiteral("/org/freedesktop/resolve1"),
                                                       QStringLiteral("org.freedesktop.resolve1.Manager"),
                                                       QStringLiteral("FlushCaches"));
    // No auto-start: activating resolved just to flush an empty cache would be wrong.
    call.setAutoStartService(false);
    m_bus.send(call);
}

#include "CpuAlert.h"

#include "platform/DesktopNotifier.h"

CpuAlert::CpuAlert() = default;
CpuAlert::~CpuAlert() = default;

void CpuAlert::setBus(const QDBusConnection &bus)
{
    m_notifier.reset();
    m_bus = bus;
}

DesktopNotifier *CpuAlert::notifier()
{
    if (!m_notifier)
        m_notifier = std::make_unique<DesktopNotifier>(m_bus.value_or(QDBusConnection::sessionBus()),
                                                       QStringLiteral("Quillmoor"));
    return m_notifier.get();
}

void CpuAlert::check(double cpuUsage, double threshold)
{
    const bool continuing = m_above;
    m_above = cpuUsage > threshold;
    if (!m_above)
        return;
    // One fixed key, so each alert replaces the bubble of the previous one.
    notifier()->notify(QStringLiteral("HighCPU"), QStringLiteral("High CPU Usage Alert"),
                       QStringLiteral("System CPU usage is at %1%. Consider checking intensive processes.")
                           .arg(static_cast<qint64>(cpuUsage)),
                       continuing ? DesktopNotifier::Sound::Silent : DesktopNotifier::Sound::Play);
}

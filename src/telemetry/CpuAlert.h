#pragma once

#include <QDBusConnection>

#include <memory>
#include <optional>

class DesktopNotifier;

// The desktop notification raised while the CPU runs above the user's threshold.
class CpuAlert
{
public:
    CpuAlert();
    ~CpuAlert();
    CpuAlert(const CpuAlert &) = delete;
    CpuAlert &operator=(const CpuAlert &) = delete;

    // Where the alert goes; the session bus unless set.
    void setBus(const QDBusConnection &bus);
    DesktopNotifier *notifier();

    // Raises the alert when `cpuUsage` is above `threshold` (both in percent), every tick
    // it stays there, each replacing the last; only the first of such a run asks for the
    // alert sound, so a long build does not chime once a second.
    void check(double cpuUsage, double threshold);

private:
    std::optional<QDBusConnection> m_bus;
    std::unique_ptr<DesktopNotifier> m_notifier;   // made on the first alert
    bool m_above = false;                          // the last tick raised the alert
};

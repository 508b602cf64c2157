#pragma once

#include <QDBusConnection>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class PowerProfilesClient;

// The low power switch, as power-profiles-daemon's power-saver profile. Switching it off
// goes back to the profile that was active before it was switched on.
class LowPowerMode
{
public:
    struct Sinks
    {
        std::function<void(bool)> available;        // whether a daemon answers
        std::function<void(bool)> enabled;          // the daemon's profile is power-saver
        std::function<void(const QString &)> refused;   // a switch that did not happen, and why
    };

    // No bus: no daemon, every switch is refused.
    LowPowerMode(const std::optional<QDBusConnection> &bus, Sinks sinks);
    ~LowPowerMode();
    LowPowerMode(const LowPowerMode &) = delete;
    LowPowerMode &operator=(const LowPowerMode &) = delete;

    // Asks the daemon for power-saver, or for the profile before it; the answer comes back
    // through the sinks.
    void request(bool on);

private:
    std::unique_ptr<PowerProfilesClient> m_client;
    Sinks m_sinks;
    QString m_profileBefore;
};

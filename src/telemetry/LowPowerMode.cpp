#include "LowPowerMode.h"

#include "platform/PowerProfilesClient.h"

#include <cstdio>

LowPowerMode::LowPowerMode(const std::optional<QDBusConnection> &bus, Sinks sinks)
    : m_sinks(std::move(sinks))
{
    if (!bus)
        return;
    m_client = std::make_unique<PowerProfilesClient>(*bus);
    PowerProfilesClient *client = m_client.get();
    QObject::connect(client, &PowerProfilesClient::probed, client, [this, client](bool available) {
        m_sinks.available(available);
        if (available)
            m_sinks.enabled(client->activeProfile() == PowerProfilesClient::kPowerSaver);
    });
    QObject::connect(client, &PowerProfilesClient::activeProfileChanged, client, [this](const QString &profile) {
        m_sinks.enabled(profile == PowerProfilesClient::kPowerSaver);
    });
    QObject::connect(client, &PowerProfilesClient::profileSet, client, [this](bool ok, const QString &error) {
        if (ok)
            return;
        std::printf("Failed to switch the power profile: %s\n", qPrintable(error));
        std::fflush(stdout);
        m_sinks.refused(error);
    });
    client->probe();
}

LowPowerMode::~LowPowerMode() = default;

void LowPowerMode::request(bool on)
{
    if (!m_client || !m_client->available()) {
        m_sinks.refused(QStringLiteral("no power profile daemon"));
        return;
    }
    if (on) {
        const QString active = m_client->activeProfile();
        m_profileBefore = active.isEmpty() || active == PowerProfilesClient::kPowerSaver ? QStringLiteral("balanced") : active;
        m_client->setActiveProfile(PowerProfilesClient::kPowerSaver);
    } else {
        m_client->setActiveProfile(m_profileBefore.isEmpty() ? QStringLiteral("balanced") : m_profileBefore);
    }
}

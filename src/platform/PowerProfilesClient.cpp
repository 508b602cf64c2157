#include "PowerProfilesClient.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <array>

namespace {
struct Daemon { const char *service; const char *path; };
// Debian 12's daemon answers only to the first; newer ones to both.
constexpr std::array<Daemon, 2> kDaemons{{
    {"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles"},
    {"org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles"},
}};
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kActiveProfile = QStringLiteral("ActiveProfile");
}

PowerProfilesClient::PowerProfilesClient(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
}

void PowerProfilesClient::probe()
{
    probeFrom(0);
}

void PowerProfilesClient::probeFrom(int service)
{
    if (service >= static_cast<int>(kDaemons.size()) || !m_bus.isConnected()) {
        m_service = -1;
        Q_EMIT probed(false);
        return;
    }
    const Daemon &daemon = kDaemons[static_cast<size_t>(service)];
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(daemon.service), QString::fromLatin1(daemon.path),
                                                      kProperties, QStringLiteral("Get"));
    get << QString::fromLatin1(daemon.service) << kActiveProfile;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, service] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (reply.isError()) {
            probeFrom(service + 1);
            return;
        }
        const Daemon &found = kDaemons[static_cast<size_t>(service)];
        if (m_service != service)
            m_bus.connect(QString::fromLatin1(found.service), QString::fromLatin1(found.path), kProperties,
                          QStringLiteral("PropertiesChanged"), this,
                          SLOT(onPropertiesChanged(QString,QVariantMap,QStringList)));
        m_service = service;
        m_activeProfile = reply.value().variant().toString();
        Q_EMIT probed(true);
    });
}

void PowerProfilesClient::setActiveProfile(const QString &profile)
{
    if (m_service < 0) {
        Q_EMIT profileSet(false, QStringLiteral("no power profile daemon"));
        return;
    }
    const Daemon &daemon = kDaemons[static_cast<size_t>(m_service)];
    QDBusMessage set = QDBusMessage::createMethodCall(QString::fromLatin1(daemon.service), QString::fromLatin1(daemon.path),
                                                      kProperties, QStringLiteral("Set"));
    set << QString::fromLatin1(daemon.service) << kActiveProfile << QVariant::fromValue(QDBusVariant(profile));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(set), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, profile] {
        watcher->deleteLater();
        const QDBusPendingReply<> reply = *watcher;
        if (reply.isError()) {
            Q_EMIT profileSet(false, reply.error().message());
            return;
        }
        if (m_activeProfile != profile) {
            m_activeProfile = profile;
            Q_EMIT activeProfileChanged(profile);
        }
        Q_EMIT profileSet(true, {});
    });
}

void PowerProfilesClient::onPropertiesChanged(const QString &, const QVariantMap &changed, const QStringList &)
{
    const auto it = changed.find(kActiveProfile);
    if (it == changed.end())
        return;
    const QString profile = it->toString();
    if (profile == m_activeProfile)
        return;
    m_activeProfile = profile;
    Q_EMIT activeProfileChanged(profile);
}

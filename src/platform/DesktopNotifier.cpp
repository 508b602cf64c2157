#include "DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QString appName, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_appName(std::move(appName))
{
}

void DesktopNotifier::notify(const QString &key, const QString &title, const QString &body, Sound sound)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("quillmoor")}};
    // The freedesktop sound-theme name for an alert: servers that play sounds play this one.
    if (sound == Sound::Play)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("dialog-warning"));
    else
        hints.insert(QStringLiteral("suppress-sound"), true);
    call << m_appName << m_ids.value(key) << QString() << title << body << QStringList() << hints << qint32(-1);

    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<quint32> reply = *w;
        if (reply.isError())
            return;
        m_ids.insert(key, reply.value());
        Q_EMIT delivered(key, reply.value());
    });
}

#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

// Desktop notifications through org.freedesktop.Notifications. A notification posted
// under a key that was used before replaces the one still on screen (replaces_id)
// instead of stacking a new bubble.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QDBusConnection bus, QString appName, QObject *parent = nullptr);

    // Whether the server should play the alert sound: a notification that only updates
    // one already on screen is shown silently.
    enum class Sound { Play, Silent };

    // Fire and forget: the call is asynchronous and a missing notification service is
    // silently ignored.
    void notify(const QString &key, const QString &title, const QString &body, Sound sound = Sound::Play);

    // The id the server gave the latest notification of `key`; 0 before the first answer.
    quint32 lastId(const QString &key) const { return m_ids.value(key); }

Q_SIGNALS:
    // The server answered a notify call (tests wait on this).
    void delivered(const QString &key, quint32 id);

private:
    QDBusConnection m_bus;
    QString m_appName;
    QHash<QString, quint32> m_ids;
};

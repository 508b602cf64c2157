#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// power-profiles-daemon on the system bus, under its original name or the one it took
// when it moved to UPower. Every call is asynchronous; answers come back as signals on
// the caller's thread.
class PowerProfilesClient : public QObject
{
    Q_OBJECT

public:
    static inline const QString kPowerSaver = QStringLiteral("power-saver");

    explicit PowerProfilesClient(const QDBusConnection &bus, QObject *parent = nullptr);

    // Looks for a daemon; answered by probed().
    void probe();
    // Switches the profile; answered by profileSet(). Needs a daemon found by probe().
    void setActiveProfile(const QString &profile);

    bool available() const { return m_service >= 0; }
    QString activeProfile() const { return m_activeProfile; }

Q_SIGNALS:
    void probed(bool available);
    void profileSet(bool succeeded, const QString &error);
    // The profile changed, by us or by anyone else.
    void activeProfileChanged(const QString &profile);

private Q_SLOTS:
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);

private:
    void probeFrom(int service);

    QDBusConnection m_bus;
    int m_service = -1;   // index into the known names, -1 while none answers
    QString m_activeProfile;
};

#include "SleepInhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

SleepInhibitor::SleepInhibitor(std::optional<QDBusConnection> bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
}

void SleepInhibitor::inhibit(const QString &why, Done done)
{
    if (!m_bus || !m_bus->isConnected()) {
        QMetaObject::invokeMethod(this, [done = std::move(done)] { done({}, QStringLiteral("no login manager")); },
                                  Qt::QueuedConnection);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle:sleep") << QStringLiteral("Quillmoor") << why << QStringLiteral("block");
    auto *watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (reply.isError() || !reply.value().isValid()) {
            done({}, reply.isError() ? reply.error().message() : QStringLiteral("no descriptor in the reply"));
            return;
        }
        done(reply.value(), {});
    });
}

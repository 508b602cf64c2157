#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// Idle-sleep inhibitors from systemd-logind. logind keeps the inhibitor while the
// descriptor it hands back stays open anywhere, so holding one is holding that
// descriptor and releasing it is closing it.
class SleepInhibitor : public QObject
{
    Q_OBJECT

public:
    // An invalid descriptor: logind refused, or none answers.
    using Done = std::function<void(const QDBusUnixFileDescriptor &held, const QString &error)>;

    // `bus`: where logind answers (the system bus); unset, every request fails.
    explicit SleepInhibitor(std::optional<QDBusConnection> bus, QObject *parent = nullptr);

    // Asks for an "idle:sleep" block in the name of Quillmoor; `done` is always called,
    // later, on this thread.
    void inhibit(const QString &why, Done done);

private:
    std::optional<QDBusConnection> m_bus;
};

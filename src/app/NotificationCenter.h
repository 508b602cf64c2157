#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// The in-process notifications screens use to reach the shell and each other.
// Anyone may post; observers subscribe by name.
class NotificationCenter : public QObject
{
    Q_OBJECT

public:
    static inline const QString OpenDashboard = QStringLiteral("OpenDashboard");           // user info "tab"
    static inline const QString OpenPopover = QStringLiteral("OpenPopover");
    static inline const QString ClosePopover = QStringLiteral("ClosePopover");
    static inline const QString StartTour = QStringLiteral("StartTour");
    static inline const QString TourUpdatePopoverTab = QStringLiteral("TourUpdatePopoverTab"); // user info "tabIndex"

    explicit NotificationCenter(QObject *parent = nullptr);

    static NotificationCenter &shared();

    Q_INVOKABLE void post(const QString &name, const QVariantMap &userInfo = {});

    // Calls `handler` for every later post of `name`, until `context` is destroyed.
    QMetaObject::Connection observe(const QString &name, const QObject *context,
                                    std::function<void(const QVariantMap &)> handler);

Q_SIGNALS:
    void posted(const QString &name, const QVariantMap &userInfo);
};

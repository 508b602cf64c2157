#include "NotificationCenter.h"

NotificationCenter::NotificationCenter(QObject *parent)
    : QObject(parent)
{
}

void NotificationCenter::post(const QString &name, const QVariantMap &userInfo)
{
    Q_EMIT posted(name, userInfo);
}

QMetaObject::Connection NotificationCenter::observe(const QString &name, const QObject *context,
                                                    std::function<void(const QVariantMap &)> handler)
{
    return connect(this, &NotificationCenter::posted, context,
                   [name, handler = std::move(handler)](const QString &posted, const QVariantMap &info) {
                       if (posted == name)
                           handler(info);
                   });
}

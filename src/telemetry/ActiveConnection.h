#pragma once

#include <QString>
#include <QVariantMap>

// One established connection and the process that owns it.
struct ActiveConnection
{
    QString remote;        // "local:port->remote:port"
    QString status;        // a state word such as "ESTABLISHED"
    QString processName;
    QString pid;

    QVariantMap toVariantMap() const
    {
        return {{QStringLiteral("remote"), remote},
                {QStringLiteral("status"), status},
                {QStringLiteral("processName"), processName},
                {QStringLiteral("pid"), pid}};
    }
    bool operator==(const ActiveConnection &) const = default;
};

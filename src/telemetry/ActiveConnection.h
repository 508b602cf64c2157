#pragma once

#include <QMetaType>
#include <QString>

// One established connection and the process that owns it.
struct ActiveConnection
{
    Q_GADGET
    Q_PROPERTY(QString id MEMBER remote)
    Q_PROPERTY(QString remote MEMBER remote)
    Q_PROPERTY(QString status MEMBER status)
    Q_PROPERTY(QString processName MEMBER processName)
    Q_PROPERTY(QString pid MEMBER pid)

public:
    QString remote;        // "local:port->remote:port", which names the connection
    QString status;        // a state word such as "ESTABLISHED"
    QString processName;
    QString pid;

    bool operator==(const ActiveConnection &) const = default;
};

Q_DECLARE_METATYPE(ActiveConnection)

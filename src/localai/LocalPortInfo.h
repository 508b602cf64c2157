#pragma once

#include <QMetaType>
#include <QString>

// A listening local TCP port and its owner.
struct LocalPortInfo
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(int port MEMBER port)
    Q_PROPERTY(QString processName MEMBER processName)
    Q_PROPERTY(int pid MEMBER pid)
    Q_PROPERTY(QString address MEMBER address)

public:
    int port = 0;
    QString processName;         // command name of the owner; "?" when it cannot be seen
    int pid = 0;                 // owner; 0 when it cannot be seen
    // The numeric address listened on, "127.0.0.1" or "::1": two listeners may share a
    // port number, one on each family, and each is its own row.
    QString address;

    QString id() const { return QStringLiteral("%1-%2-%3").arg(port).arg(address).arg(pid); }
    bool operator==(const LocalPortInfo &) const = default;
};

Q_DECLARE_METATYPE(LocalPortInfo)

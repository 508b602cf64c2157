#pragma once

#include <QMetaType>
#include <QString>
#include <QMetaType>

// A listening local TCP port and its owner.
struct LocalPortInfo
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(int port MEMBER port)
    Q_PROPERTY(QString processName MEMBER processName)
    Q_PROPERTY(int pid MEMBER pid)

public:
    int port = 0;
    QString processName;         // command name of the owner; "?" when it cannot be seen
    int pid = 0;                 // owner; 0 when it cannot be seen

    QString id() const { return QStringLiteral("%1-%2").arg(port).arg(pid); }
    bool operator==(const LocalPortInfo &) const = default;
};

Q_DECLARE_METATYPE(LocalPortInfo)

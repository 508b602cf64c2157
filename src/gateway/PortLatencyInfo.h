#pragma once

#include <QMetaType>
#include <QString>

// How long one listening local port took to accept a connection.
struct PortLatencyInfo
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(int port MEMBER port)
    Q_PROPERTY(QString processName MEMBER processName)
    Q_PROPERTY(int pid MEMBER pid)
    Q_PROPERTY(double latencyMs MEMBER latencyMs)
    Q_PROPERTY(QString status MEMBER status)

public:
    int port = 0;
    QString processName;
    int pid = 0;
    double latencyMs = 0;   // 0 when the probe failed
    QString status;         // "Online" or "Offline"

    QString id() const { return QStringLiteral("%1-%2").arg(port).arg(pid); }
    bool operator==(const PortLatencyInfo &) const = default;
};

Q_DECLARE_METATYPE(PortLatencyInfo)

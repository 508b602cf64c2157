#pragma once

#include <QMetaType>
#include <QString>
#include <QMetaType>

// A running vector-database container.
struct VectorDatabaseInfo
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(int port MEMBER port)
    Q_PROPERTY(QString memoryUsage MEMBER memoryUsage)
    Q_PROPERTY(QString containerId MEMBER containerId)
    Q_PROPERTY(QString status MEMBER status)

public:
    QString name;                // container name; also the identity
    int port = 0;                // the usual service port, inferred from the name
    QString memoryUsage;         // display text of its memory footprint
    QString containerId;         // as the container tool prints it
    QString status;              // "Running", or "Suspended (Battery Shield)"

    QString id() const { return name; }
    bool operator==(const VectorDatabaseInfo &) const = default;
};

Q_DECLARE_METATYPE(VectorDatabaseInfo)

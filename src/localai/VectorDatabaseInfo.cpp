#include "VectorDatabaseInfo.h"

QVariantMap VectorDatabaseInfo::toVariantMap() const
{
    return {{QStringLiteral("id"), id()},
            {QStringLiteral("name"), name},
            {QStringLiteral("port"), port},
            {QStringLiteral("memoryUsage"), memoryUsage},
            {QStringLiteral("containerId"), containerId},
            {QStringLiteral("status"), status}};
}

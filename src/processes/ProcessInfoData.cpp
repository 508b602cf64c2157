#include "ProcessInfoData.h"

QVariantMap ProcessInfoData::toVariantMap() const
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("fullPath"), fullPath},
            {QStringLiteral("cpuUsage"), cpuUsage},
            {QStringLiteral("energyImpact"), energyImpact},
            {QStringLiteral("icon"), icon},
            {QStringLiteral("isSuspended"), isSuspended},
            {QStringLiteral("totalBatteryDrain"), totalBatteryDrain},
            {QStringLiteral("memoryBytes"), memoryBytes}};
}

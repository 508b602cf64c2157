#include "OrphanedCompanionInfo.h"

QVariantMap OrphanedCompanionInfo::toVariantMap() const
{
    return {{QStringLiteral("id"), id()},
            {QStringLiteral("name"), name},
            {QStringLiteral("pid"), pid},
            {QStringLiteral("memoryUsage"), memoryUsage},
            {QStringLiteral("targetIDE"), targetIDE}};
}

#include "LocalPortInfo.h"

QVariantMap LocalPortInfo::toVariantMap() const
{
    return {{QStringLiteral("id"), id()},
            {QStringLiteral("port"), port},
            {QStringLiteral("processName"), processName},
            {QStringLiteral("pid"), pid}};
}

#include "PortLatencyInfo.h"

QVariantMap PortLatencyInfo::toVariantMap() const
{
    return {{QStringLiteral("id"), id()},
            {QStringLiteral("port"), port},
            {QStringLiteral("processName"), processName},
            {QStringLiteral("pid"), pid},
            {QStringLiteral("latencyMs"), latencyMs},
            {QStringLiteral("status"), status}};
}

#include "DVRSnapshot.h"

#include <QVariantList>

QVariantMap DVRSnapshot::toVariantMap() const
{
    QVariantList rows;
    rows.reserve(topProcesses.size());
    for (const ProcessInfoData &row : topProcesses)
        rows.append(row.toVariantMap());
    return {{QStringLiteral("id"), id.toString(QUuid::WithoutBraces)},
            {QStringLiteral("timestamp"), timestamp},
            {QStringLiteral("topProcesses"), rows},
            {QStringLiteral("cpuUsage"), cpuUsage}};
}

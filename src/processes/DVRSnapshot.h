#pragma once

#include "ProcessInfoData.h"

#include <QDateTime>
#include <QList>
#include <QUuid>

// One entry of the process table's rolling history.
struct DVRSnapshot
{
    Q_GADGET
    Q_PROPERTY(QUuid id MEMBER id)
    Q_PROPERTY(QDateTime timestamp MEMBER timestamp)
    Q_PROPERTY(double cpuUsage MEMBER cpuUsage)
    Q_PROPERTY(QList<ProcessInfoData> topProcesses MEMBER topProcesses)

public:
    QUuid id;
    QDateTime timestamp;
    QList<ProcessInfoData> topProcesses;   // exactly the rows published with it
    double cpuUsage = 0;                   // whole-machine CPU use at that moment

};

Q_DECLARE_METATYPE(DVRSnapshot)

#pragma once

#include <QMetaType>
#include <QString>

// One row of the process table.
struct ProcessInfoData
{
    Q_GADGET
    Q_PROPERTY(int id MEMBER id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString fullPath MEMBER fullPath)
    Q_PROPERTY(double cpuUsage MEMBER cpuUsage)
    Q_PROPERTY(double energyImpact MEMBER energyImpact)
    Q_PROPERTY(QString icon MEMBER icon)
    Q_PROPERTY(bool isSuspended MEMBER isSuspended)
    Q_PROPERTY(double totalBatteryDrain MEMBER totalBatteryDrain)
    Q_PROPERTY(qint64 memoryBytes MEMBER memoryBytes)

public:
    int id = 0;
    QString name;               // last path component of fullPath
    QString fullPath;           // the executable, see ProcessTableReader::fullPath
    double cpuUsage = 0;        // percent of one core over the last interval; may exceed 100
    double energyImpact = 0;    // cpuUsage * 0.8
    QString icon;               // theme icon name or icon file path; empty when none was found
    bool isSuspended = false;
    double totalBatteryDrain = 0;
    qint64 memoryBytes = 0;     // resident set size

    bool hasIcon() const { return !icon.isEmpty(); }

    friend bool operator==(const ProcessInfoData &, const ProcessInfoData &) = default;
};

Q_DECLARE_METATYPE(ProcessInfoData)

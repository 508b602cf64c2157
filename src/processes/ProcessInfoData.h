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
    Q_PROPERTY(bool usesGpu MEMBER usesGpu)
    Q_PROPERTY(bool gpuMemoryReported MEMBER gpuMemoryReported)
    Q_PROPERTY(qint64 gpuMemoryBytes MEMBER gpuMemoryBytes)

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
    // GPU memory as the driver accounts it to the process: NVML's figure, or the device's
    // own memory (VRAM, local) of its DRM clients; system memory mapped for the GPU is not
    // in it. usesGpu: a driver lists the process at all; gpuMemoryReported: it gave a
    // figure, so a 0 there is a real zero and not a driver that keeps none.
    bool usesGpu = false;
    bool gpuMemoryReported = false;
    qint64 gpuMemoryBytes = 0;

    bool hasIcon() const { return !icon.isEmpty(); }

    friend bool operator==(const ProcessInfoData &, const ProcessInfoData &) = default;
};

Q_DECLARE_METATYPE(ProcessInfoData)

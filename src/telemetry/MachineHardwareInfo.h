#pragma once

#include <QObject>
#include <QString>

// A static description of the machine for the system-information panel.
struct MachineHardwareInfo
{
    Q_GADGET
    Q_PROPERTY(QString modelName MEMBER modelName CONSTANT)
    Q_PROPERTY(QString modelIdentifier MEMBER modelIdentifier CONSTANT)
    Q_PROPERTY(QString processor MEMBER processor CONSTANT)
    Q_PROPERTY(double physicalMemoryGB MEMBER physicalMemoryGB CONSTANT)
    Q_PROPERTY(int cpuCores MEMBER cpuCores CONSTANT)
    Q_PROPERTY(int performanceCores MEMBER performanceCores CONSTANT)
    Q_PROPERTY(int efficiencyCores MEMBER efficiencyCores CONSTANT)
    Q_PROPERTY(int gpuCores MEMBER gpuCores CONSTANT)
    Q_PROPERTY(QString neuralEngine MEMBER neuralEngine CONSTANT)
    Q_PROPERTY(QString osVersion MEMBER osVersion CONSTANT)
    Q_PROPERTY(QString serialNumber MEMBER serialNumber CONSTANT)
    Q_PROPERTY(QString memoryBandwidth MEMBER memoryBandwidth CONSTANT)
    Q_PROPERTY(QString gpuName MEMBER gpuName CONSTANT)
    Q_PROPERTY(QString gpuComputeStack MEMBER gpuComputeStack CONSTANT)
    Q_PROPERTY(QString gpuDriver MEMBER gpuDriver CONSTANT)
    Q_PROPERTY(QString npuName MEMBER npuName CONSTANT)

public:
    QString modelName;
    QString modelIdentifier;
    QString processor;
    double physicalMemoryGB = 0;
    int cpuCores = 0;
    int performanceCores = 0;
    int efficiencyCores = 0;
    int gpuCores = 0;
    QString neuralEngine;
    QString osVersion;
    QString serialNumber;
    QString memoryBandwidth;
    // The GPU the machine is described by (a discrete one first): its name, "" when there
    // is none; the stack that runs compute on it, "CUDA", "ROCm" or "Vulkan", "" for none;
    // and its kernel driver (nvidia, amdgpu, i915…).
    QString gpuName;
    QString gpuComputeStack;
    QString gpuDriver;
    // The neural processing unit ("Intel NPU"); "" when the machine has none.
    QString npuName;

    // The friendly family name for a model identifier.
    static QString modelNameFor(const QString &identifier);
    // The neural-engine and bandwidth texts for a processor's brand string.
    static QString neuralEngineFor(const QString &brand);
    static QString memoryBandwidthFor(const QString &brand);
    // "KTV-" and up to 8 digits of the identifier's hash and "-SYS": stable within a run,
    // never the machine's real serial number.
    static QString serialNumberFor(const QString &identifier);

    // The plain-text report the system-information page copies: twelve lines, the last
    // a rule of "=", joined by line feeds with none after the last, so pasting it into an
    // issue or a chat leaves no stray blank line.
    Q_INVOKABLE QString specReport() const;
};

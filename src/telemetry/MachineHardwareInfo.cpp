#include "MachineHardwareInfo.h"

#include "MaintenanceActions.h"

#include <QHash>

#include <array>
#include <utility>

QString MachineHardwareInfo::modelNameFor(const QString &identifier)
{
    static const std::array<std::pair<const char *, const char *>, 6> kFamilies{{
        {"MacBookPro", "MacBook Pro"}, {"MacBookAir", "MacBook Air"}, {"MacStudio", "Mac Studio"},
        {"MacMini", "Mac mini"}, {"MacPro", "Mac Pro"}, {"iMac", "iMac"},
    }};
    for (const auto &[prefix, name] : kFamilies)
        if (identifier.startsWith(QLatin1String(prefix)))
            return QString::fromLatin1(name);
    // Firmware that names no model (many virtual machines) must not pass for a Mac.
    return identifier.isEmpty() ? QStringLiteral("Unknown model") : identifier;
}

QString MachineHardwareInfo::neuralEngineFor(const QString &brand)
{
    if (!brand.contains(QLatin1String("Apple"))) {
        // Named after the processor's maker: the Intel text is wrong on anything else.
        QString vendor;
        if (brand.contains(QLatin1String("Intel")))
            vendor = QStringLiteral("Intel");
        else if (brand.contains(QLatin1String("AMD")) || brand.contains(QLatin1String("Ryzen"))
                 || brand.contains(QLatin1String("EPYC")))
            vendor = QStringLiteral("AMD");
        else
            vendor = brand.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
        return (vendor.isEmpty() ? QStringLiteral("CPU") : vendor + QStringLiteral(" CPU"))
             + QStringLiteral(" (No Apple Neural Engine)");
    }
    if (brand.contains(QLatin1String("Ultra")))
        return QStringLiteral("32-Core Apple Neural Engine (Up to 31.6 TOPS)");
    if (brand.contains(QLatin1String("Max")) || brand.contains(QLatin1String("Pro")))
        return QStringLiteral("16-Core Apple Neural Engine (Up to 15.8 TOPS)");
    return QStringLiteral("16-Core Apple Neural Engine");
}

QString MachineHardwareInfo::memoryBandwidthFor(const QString &brand)
{
    struct Generation { const char *chip; const char *max; const char *pro; const char *base; };
    static const std::array<Generation, 4> kGenerations{{
        {"M1", "400 GB/s", "200 GB/s", "68.25 GB/s"},
        {"M2", "400 GB/s", "200 GB/s", "100 GB/s"},
        {"M3", "300 - 400 GB/s", "150 GB/s", "100 GB/s"},
        {"M4", "410 GB/s", "273 GB/s", "150 GB/s"},
    }};
    for (const Generation &g : kGenerations) {
        if (!brand.contains(QLatin1String(g.chip)))
            continue;
        if (brand.contains(QLatin1String("Max")))
            return QString::fromLatin1(g.max);
        if (brand.contains(QLatin1String("Pro")))
            return QString::fromLatin1(g.pro);
        return QString::fromLatin1(g.base);
    }
    return QStringLiteral("Dual-Channel System RAM");
}

QString MachineHardwareInfo::serialNumberFor(const QString &identifier)
{
    const auto hash = static_cast<qint64>(qHash(identifier));
    const quint64 magnitude = hash < 0 ? 0 - static_cast<quint64>(hash) : static_cast<quint64>(hash);
    return QStringLiteral("KTV-") + QString::number(magnitude).left(8) + QStringLiteral("-SYS");
}

QString MachineHardwareInfo::specReport() const
{
    const QStringList lines{
        QStringLiteral("=== QUILLMOOR MACHINE DIAGNOSTIC REPORT ==="),
        QStringLiteral("Model Name: ") + modelName,
        QStringLiteral("Model Identifier: ") + modelIdentifier,
        QStringLiteral("Processor: ") + processor,
        QStringLiteral("OS Version: ") + osVersion,
        QStringLiteral("Total Cores: %1 Cores (Performance: %2 / Efficiency: %3)")
            .arg(cpuCores).arg(performanceCores).arg(efficiencyCores),
        QStringLiteral("GPU Cores: %1 Cores").arg(gpuCores),
        QStringLiteral("Neural Engine: ") + neuralEngine,
        // "16.0", not "16": the same shortest form the history export writes.
        QStringLiteral("Physical Memory: ") + MaintenanceActions::shortestDecimal(physicalMemoryGB) + QStringLiteral(" GB"),
        QStringLiteral("Memory Bandwidth: ") + memoryBandwidth,
        QStringLiteral("Serial ID: ") + serialNumber,
        QString(44, u'='),
    };
    return lines.join(u'\n');
}

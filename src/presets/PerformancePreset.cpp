#include "PerformancePreset.h"

const QList<PerformancePreset> &PerformancePreset::allCases()
{
    static const QList<PerformancePreset> cases{InferenceMax, LocalTraining, CompileMax, CreativeMax,
                                                GameMode, EcoDev, VanillaMac};
    return cases;
}

std::optional<PerformancePreset> PerformancePreset::fromRawValue(QStringView raw)
{
    for (const PerformancePreset &preset : allCases())
        if (preset.rawValue() == raw)
            return preset;
    return std::nullopt;
}

QString PerformancePreset::rawValue() const
{
    switch (m_case) {
    case InferenceMax: return QStringLiteral("Inference Max");
    case LocalTraining: return QStringLiteral("Local Training");
    case CompileMax: return QStringLiteral("Compile Max");
    case CreativeMax: return QStringLiteral("Creative Max");
    case GameMode: return QStringLiteral("Game Mode");
    case EcoDev: return QStringLiteral("Eco Dev");
    case VanillaMac: return QStringLiteral("Vanilla Mac");
    }
    return QStringLiteral("Vanilla Mac");
}

QString PerformancePreset::icon() const
{
    switch (m_case) {
    case InferenceMax: return QStringLiteral("bolt.fill");
    case LocalTraining: return QStringLiteral("cpu.fill");
    case CompileMax: return QStringLiteral("terminal.fill");
    case CreativeMax: return QStringLiteral("slider.horizontal.3");
    case GameMode: return QStringLiteral("gamecontroller.fill");
    case EcoDev: return QStringLiteral("leaf.fill");
    case VanillaMac: return QStringLiteral("desktopcomputer");
    }
    return QStringLiteral("desktopcomputer");
}

QString PerformancePreset::description() const
{
    switch (m_case) {
    case InferenceMax: return QStringLiteral("Signals OS to reclaim inactive caches, maximizing unified memory for model loading");
    case LocalTraining: return QStringLiteral("Prevents system sleep during builds using native IOPMAssertion API");
    case CompileMax: return QStringLiteral("Prioritizes compiler workloads while suspending background AI and database engines");
    case CreativeMax: return QStringLiteral("Flushes inactive memory/VRAM caches and prioritizes creative design & render processes");
    case GameMode: return QStringLiteral("Temporarily suspends all build, database, and model tools to free CPU cores and spools fans");
    case EcoDev: return QStringLiteral("Detects background developer/AI daemons and opens Terminal advisory to pause them");
    case VanillaMac: return QStringLiteral("Releases all active overrides and restores macOS default system behaviour");
    }
    return {};
}

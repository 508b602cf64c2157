#pragma once

// The services and records the screens read, declared to QML from here so the service
// library itself never links QtQml. Services are named types QML cannot create (the
// Services singleton hands them out); records are value types, so a binding such as
// `Services.stats.cpuUsage` or a delegate's `required property string name` is checked
// when the module is compiled rather than failing silently at run time.

#include "caches/BuildCacheService.h"
#include "caches/CacheRowInfo.h"
#include "caches/DuplicateWeights.h"
#include "caches/SDKVersionInfo.h"
#include "copilot/AIService.h"
#include "exporter/MetricsEndpoint.h"
#include "gateway/LocalAPILatencyService.h"
#include "gateway/LocalAPIProxyService.h"
#include "gateway/PortLatencyInfo.h"
#include "localai/InstalledModel.h"
#include "localai/LocalAIModel.h"
#include "localai/LocalAIService.h"
#include "localai/LocalPortInfo.h"
#include "localai/ModelCacheFile.h"
#include "localai/OrphanedCompanionInfo.h"
#include "localai/VectorDatabaseInfo.h"
#include "app/NotificationCenter.h"
#include "app/Preferences.h"
#include "app/ThemeManager.h"
#include "presets/PerformancePreset.h"
#include "presets/PresetManager.h"
#include "processes/DVRSnapshot.h"
#include "processes/ProcessInfoData.h"
#include "processes/ProcessMonitor.h"
#include "support/AutoUpdater.h"
#include "support/LaunchAtLoginManager.h"
#include "telemetry/ActiveConnection.h"
#include "telemetry/DriveHealthMonitor.h"
#include "telemetry/MachineHardwareInfo.h"
#include "telemetry/PingService.h"
#include "telemetry/SystemStatsProvider.h"

#include <QtQml/qqml.h>

// moc reads these as written, so each declaration is spelt out rather than made by a macro.


struct SystemStatsProviderForeign
{
    Q_GADGET
    QML_FOREIGN(SystemStatsProvider)
    QML_NAMED_ELEMENT(SystemStatsProvider)
    QML_UNCREATABLE("Reach SystemStatsProvider through Services.")
};

struct ProcessMonitorForeign
{
    Q_GADGET
    QML_FOREIGN(ProcessMonitor)
    QML_NAMED_ELEMENT(ProcessMonitor)
    QML_UNCREATABLE("Reach ProcessMonitor through Services.")
};

struct ThemeManagerForeign
{
    Q_GADGET
    QML_FOREIGN(ThemeManager)
    QML_NAMED_ELEMENT(ThemeManager)
    QML_UNCREATABLE("Reach ThemeManager through Services.")
};

struct PreferencesForeign
{
    Q_GADGET
    QML_FOREIGN(Preferences)
    QML_NAMED_ELEMENT(Preferences)
    QML_UNCREATABLE("Reach Preferences through Services.")
};

struct NotificationCenterForeign
{
    Q_GADGET
    QML_FOREIGN(NotificationCenter)
    QML_NAMED_ELEMENT(NotificationCenter)
    QML_UNCREATABLE("Reach NotificationCenter through Services.")
};

struct AIServiceForeign
{
    Q_GADGET
    QML_FOREIGN(AIService)
    QML_NAMED_ELEMENT(AIService)
    QML_UNCREATABLE("Reach AIService through Services.")
};

struct PresetManagerForeign
{
    Q_GADGET
    QML_FOREIGN(PresetManager)
    QML_NAMED_ELEMENT(PresetManager)
    QML_UNCREATABLE("Reach PresetManager through Services.")
};

struct LocalAIServiceForeign
{
    Q_GADGET
    QML_FOREIGN(LocalAIService)
    QML_NAMED_ELEMENT(LocalAIService)
    QML_UNCREATABLE("Reach LocalAIService through Services.")
};

struct BuildCacheServiceForeign
{
    Q_GADGET
    QML_FOREIGN(BuildCacheService)
    QML_NAMED_ELEMENT(BuildCacheService)
    QML_UNCREATABLE("Reach BuildCacheService through Services.")
};

struct LocalAPILatencyServiceForeign
{
    Q_GADGET
    QML_FOREIGN(LocalAPILatencyService)
    QML_NAMED_ELEMENT(LocalAPILatencyService)
    QML_UNCREATABLE("Reach LocalAPILatencyService through Services.")
};

struct MetricsEndpointForeign
{
    Q_GADGET
    QML_FOREIGN(MetricsEndpoint)
    QML_NAMED_ELEMENT(MetricsEndpoint)
    QML_UNCREATABLE("Reach MetricsEndpoint through Services.")
};

struct LocalAPIProxyServiceForeign
{
    Q_GADGET
    QML_FOREIGN(LocalAPIProxyService)
    QML_NAMED_ELEMENT(LocalAPIProxyService)
    QML_UNCREATABLE("Reach LocalAPIProxyService through Services.")
};

struct AutoUpdaterForeign
{
    Q_GADGET
    QML_FOREIGN(AutoUpdater)
    QML_NAMED_ELEMENT(AutoUpdater)
    QML_UNCREATABLE("Reach AutoUpdater through Services.")
};

struct LaunchAtLoginManagerForeign
{
    Q_GADGET
    QML_FOREIGN(LaunchAtLoginManager)
    QML_NAMED_ELEMENT(LaunchAtLoginManager)
    QML_UNCREATABLE("Reach LaunchAtLoginManager through Services.")
};

struct PingServiceForeign
{
    Q_GADGET
    QML_FOREIGN(PingService)
    QML_NAMED_ELEMENT(PingService)
    QML_UNCREATABLE("Reach PingService through Services.")
};

struct DriveHealthMonitorForeign
{
    Q_GADGET
    QML_FOREIGN(DriveHealthMonitor)
    QML_NAMED_ELEMENT(DriveHealthMonitor)
    QML_UNCREATABLE("Reach DriveHealthMonitor through Services.")
};

struct ProcessInfoDataForeign
{
    Q_GADGET
    QML_FOREIGN(ProcessInfoData)
    QML_VALUE_TYPE(processInfoData)
};

struct DVRSnapshotForeign
{
    Q_GADGET
    QML_FOREIGN(DVRSnapshot)
    QML_VALUE_TYPE(dvrSnapshot)
};

struct PerformancePresetForeign
{
    Q_GADGET
    QML_FOREIGN(PerformancePreset)
    QML_VALUE_TYPE(performancePreset)
};

struct MachineHardwareInfoForeign
{
    Q_GADGET
    QML_FOREIGN(MachineHardwareInfo)
    QML_VALUE_TYPE(machineHardwareInfo)
};

struct PortLatencyInfoForeign
{
    Q_GADGET
    QML_FOREIGN(PortLatencyInfo)
    QML_VALUE_TYPE(portLatencyInfo)
};

struct ModelThroughputForeign
{
    Q_GADGET
    QML_FOREIGN(ModelThroughput)
    QML_VALUE_TYPE(modelThroughput)
};

struct LocalAIModelForeign
{
    Q_GADGET
    QML_FOREIGN(LocalAIModel)
    QML_VALUE_TYPE(localAIModel)
};

struct VectorDatabaseInfoForeign
{
    Q_GADGET
    QML_FOREIGN(VectorDatabaseInfo)
    QML_VALUE_TYPE(vectorDatabaseInfo)
};

struct OrphanedCompanionInfoForeign
{
    Q_GADGET
    QML_FOREIGN(OrphanedCompanionInfo)
    QML_VALUE_TYPE(orphanedCompanionInfo)
};

struct LocalPortInfoForeign
{
    Q_GADGET
    QML_FOREIGN(LocalPortInfo)
    QML_VALUE_TYPE(localPortInfo)
};

struct ModelCacheFileForeign
{
    Q_GADGET
    QML_FOREIGN(ModelCacheFile)
    QML_VALUE_TYPE(modelCacheFile)
};

struct InstalledModelForeign
{
    Q_GADGET
    QML_FOREIGN(InstalledModel)
    QML_VALUE_TYPE(installedModel)
};

struct SDKVersionInfoForeign
{
    Q_GADGET
    QML_FOREIGN(SDKVersionInfo)
    QML_VALUE_TYPE(sdkVersionInfo)
};

struct ActiveConnectionForeign
{
    Q_GADGET
    QML_FOREIGN(ActiveConnection)
    QML_VALUE_TYPE(activeConnection)
};

struct DuplicateWeightsForeign
{
    Q_GADGET
    QML_FOREIGN(DuplicateWeights)
    QML_VALUE_TYPE(duplicateWeights)
};

struct CacheRowInfoForeign
{
    Q_GADGET
    QML_FOREIGN(CacheRowInfo)
    QML_VALUE_TYPE(cacheRowInfo)
};

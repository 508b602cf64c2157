// The one place where the app's single instances are made and handed what they need. A
// service never reaches for another through shared(): whatever it reads of another (the
// telemetry's figures, the local AI service's demo switch and ports) comes in here, as a
// callback in its sources. Tests build their services with fakes instead and never come here.

#include "Preferences.h"
#include "NotificationCenter.h"
#include "ThemeManager.h"
#include "caches/BuildCacheService.h"
#include "copilot/AIService.h"
#include "exporter/MetricsEndpoint.h"
#include "gateway/LocalAPILatencyService.h"
#include "gateway/LocalAPIProxyService.h"
#include "localai/LocalAIService.h"
#include "presets/PresetManager.h"
#include "support/AutoUpdater.h"
#include "support/LaunchAtLoginManager.h"
#include "telemetry/DriveHealthMonitor.h"
#include "telemetry/SystemStatsProvider.h"

#include <QCoreApplication>
#include <QSettings>

SystemStatsProvider &SystemStatsProvider::shared()
{
    static SystemStatsProvider *instance = new SystemStatsProvider(Preferences::shared(), TelemetrySources::forThisMachine());
    return *instance;
}

Preferences &Preferences::shared()
{
    static Preferences *instance = [] {
        auto *prefs = new Preferences(new QSettings(QStringLiteral("Quillmoor"), QStringLiteral("Quillmoor")));
        if (auto *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, prefs, &Preferences::flush);
        return prefs;
    }();
    return *instance;
}

NotificationCenter &NotificationCenter::shared()
{
    static NotificationCenter *instance = new NotificationCenter;
    return *instance;
}

ThemeManager &ThemeManager::shared()
{
    static ThemeManager *instance = new ThemeManager(Preferences::shared());
    return *instance;
}

PresetManager &PresetManager::shared()
{
    static PresetManager *instance = [] {
        PresetSources sources = PresetSources::forThisMachine();
        sources.purgeMemory = [] { SystemStatsProvider::shared().optimizeMemory(); };
        return new PresetManager(std::move(sources));
    }();
    return *instance;
}

AIService &AIService::shared()
{
    static AIService *instance = [] {
        AIServiceSources sources;
        sources.telemetry = [] {
            const SystemStatsProvider &stats = SystemStatsProvider::shared();
            return CopilotTelemetry{stats.cpuUsage(), stats.memoryPressure(), stats.socTemperature(),
                                    stats.batteryPercentage()};
        };
        return new AIService(std::move(sources));
    }();
    return *instance;
}

AutoUpdater &AutoUpdater::shared()
{
    static AutoUpdater *instance = [] {
        UpdaterSources sources;
        sources.server = serverFor(Preferences::shared().updateServerURL());
        return new AutoUpdater(std::move(sources));
    }();
    return *instance;
}

LaunchAtLoginManager &LaunchAtLoginManager::shared()
{
    static LaunchAtLoginManager *instance = new LaunchAtLoginManager;
    return *instance;
}

LocalAIService &LocalAIService::shared()
{
    static LocalAIService *instance = [] {
        LocalAISources sources;
        sources.isUnplugged = [] { return SystemStatsProvider::shared().isUnplugged(); };
        sources.smartPauseEnabled = [] { return Preferences::shared().smartPauseEnabled(); };
        // Only a figure a sensor gave this tick: the provider fills gaps with the last
        // figure or an estimate, neither of which may freeze a model server.
        sources.cpuTemperature = []() -> std::optional<double> {
            const SystemStatsProvider &stats = SystemStatsProvider::shared();
            if (!stats.socTemperatureMeasured())
                return std::nullopt;
            return stats.socTemperature();
        };
        sources.batteryPercent = []() -> std::optional<double> {
            const SystemStatsProvider &stats = SystemStatsProvider::shared();
            if (!stats.hasBattery())
                return std::nullopt;
            return stats.batteryPercentage();
        };
        auto *service = new LocalAIService(std::move(sources));
        // The shared service lives as long as the process: quitting must still thaw what
        // its protections froze.
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, service, [service] { service->releaseHolds(); });
        return service;
    }();
    return *instance;
}

BuildCacheService &BuildCacheService::shared()
{
    static BuildCacheService *instance = [] {
        BuildCacheSources sources;
        sources.demoMode = [] { return LocalAIService::shared().demoMode(); };
        return new BuildCacheService(std::move(sources));
    }();
    return *instance;
}

LocalAPILatencyService &LocalAPILatencyService::shared()
{
    static auto *instance = [] {
        LatencySources sources;
        sources.ports = [] { return LocalAIService::shared().activeLocalPorts(); };
        sources.demoMode = [] { return LocalAIService::shared().demoMode(); };
        return new LocalAPILatencyService(std::move(sources));
    }();
    return *instance;
}

LocalAPIProxyService &LocalAPIProxyService::shared()
{
    static auto *instance = new LocalAPIProxyService;
    return *instance;
}

DriveHealthMonitor &DriveHealthMonitor::shared()
{
    static auto *instance = new DriveHealthMonitor(DriveHealthSources::forThisMachine());
    return *instance;
}

MetricsEndpoint &MetricsEndpoint::shared()
{
    static auto *instance = [] {
        auto *endpoint = new MetricsEndpoint([] {
            MetricsSources sources;
            sources.stats = &SystemStatsProvider::shared();
            sources.localAI = &LocalAIService::shared();
            sources.proxy = &LocalAPIProxyService::shared();
            sources.caches = &BuildCacheService::shared();
            return sources;
        });
        // The switch and the address in the settings drive it; a failure stays in
        // errorString for the settings page to show.
        Preferences &prefs = Preferences::shared();
        const auto follow = [endpoint, &prefs] {
            if (prefs.metricsEndpointEnabled())
                endpoint->start(prefs.metricsEndpointAddress());
            else
                endpoint->stop();
        };
        QObject::connect(&prefs, &Preferences::metricsEndpointChanged, endpoint, follow);
        follow();
        return endpoint;
    }();
    return *instance;
}

#pragma once

#include "QmlTypes.h"
#include "RecordListModel.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>

class PersonaCatalog;
class QQmlEngine;
class QJSEngine;

// The services the screens read, typed, as the QML singleton "Services" of the module
// "Quillmoor", and the record lists they show as models that update their rows in place.
// Each engine gets the set installed on it, so a test's engine sees the services it built
// over fixtures and the app's engine the real ones. Services that start work of their own
// when created (the cache scanner, the latency probe…) are made on first use by a screen,
// not when the app starts; so are the list models.
class QmlServices : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Services)
    QML_SINGLETON
    Q_PROPERTY(SystemStatsProvider *stats READ stats CONSTANT)
    Q_PROPERTY(ProcessMonitor *processMonitor READ processMonitor CONSTANT)
    Q_PROPERTY(ThemeManager *theme READ theme CONSTANT)
    Q_PROPERTY(Preferences *preferences READ preferences CONSTANT)
    Q_PROPERTY(NotificationCenter *notifications READ notifications CONSTANT)
    Q_PROPERTY(AIService *aiService READ aiService CONSTANT)
    Q_PROPERTY(PresetManager *presets READ presets CONSTANT)
    Q_PROPERTY(PersonaCatalog *personas READ personas CONSTANT)
    Q_PROPERTY(LocalAIService *localAI READ localAI CONSTANT)
    Q_PROPERTY(BuildCacheService *buildCaches READ buildCaches CONSTANT)
    Q_PROPERTY(LocalAPILatencyService *latencyProbe READ latencyProbe CONSTANT)
    Q_PROPERTY(LocalAPIProxyService *proxy READ proxy CONSTANT)
    Q_PROPERTY(MetricsEndpoint *metrics READ metrics CONSTANT)
    Q_PROPERTY(AutoUpdater *updater READ updater CONSTANT)
    Q_PROPERTY(LaunchAtLoginManager *launchAtLogin READ launchAtLogin CONSTANT)
    Q_PROPERTY(PingService *ping READ ping CONSTANT)
    Q_PROPERTY(DriveHealthMonitor *driveHealth READ driveHealth CONSTANT)
    Q_PROPERTY(MachineHardwareInfo machine READ machine CONSTANT)

    Q_PROPERTY(RecordListModelBase *activeConnections READ activeConnections CONSTANT)
    Q_PROPERTY(RecordListModelBase *topProcesses READ topProcesses CONSTANT)
    Q_PROPERTY(RecordListModelBase *aiProcesses READ aiProcesses CONSTANT)
    Q_PROPERTY(RecordListModelBase *gpuProcesses READ gpuProcesses CONSTANT)
    Q_PROPERTY(RecordListModelBase *dvrSnapshots READ dvrSnapshots CONSTANT)
    Q_PROPERTY(RecordListModelBase *allPresets READ allPresets CONSTANT)
    Q_PROPERTY(RecordListModelBase *activePortLatencies READ activePortLatencies CONSTANT)
    Q_PROPERTY(RecordListModelBase *modelThroughput READ modelThroughput CONSTANT)
    Q_PROPERTY(RecordListModelBase *activeModels READ activeModels CONSTANT)
    Q_PROPERTY(RecordListModelBase *activeVectorDBs READ activeVectorDBs CONSTANT)
    Q_PROPERTY(RecordListModelBase *orphanedAICompanions READ orphanedAICompanions CONSTANT)
    Q_PROPERTY(RecordListModelBase *activeLocalPorts READ activeLocalPorts CONSTANT)
    Q_PROPERTY(RecordListModelBase *cachedModelFiles READ cachedModelFiles CONSTANT)
    Q_PROPERTY(RecordListModelBase *installedModels READ installedModels CONSTANT)
    Q_PROPERTY(RecordListModelBase *cacheRows READ cacheRows CONSTANT)
    Q_PROPERTY(RecordListModelBase *foundSDKVersions READ foundSDKVersions CONSTANT)

public:
    // A service handed to the set: one that exists already, or how to make it the first
    // time a screen asks for it.
    template<typename T>
    class Ref
    {
    public:
        Ref() = default;
        Ref(std::nullptr_t) {}
        Ref(T *instance) : m_instance(instance) {}
        template<typename Make, typename = std::enable_if_t<std::is_invocable_r_v<T *, Make>>>
        Ref(Make make) : m_make(std::move(make)) {}

        // This one where it was given, else one made by `make` when first asked for.
        Ref orElse(std::function<T *()> make) const { return m_instance || m_make ? *this : Ref(std::move(make)); }

        T *get() const
        {
            if (!m_instance && m_make)
                m_instance = std::exchange(m_make, {})();
            return m_instance;
        }

    private:
        mutable T *m_instance = nullptr;
        mutable std::function<T *()> m_make;
    };

    struct Set
    {
        Ref<SystemStatsProvider> stats;
        Ref<ProcessMonitor> processMonitor;
        Ref<ThemeManager> theme;
        Ref<Preferences> preferences;
        Ref<NotificationCenter> notifications;
        Ref<AIService> aiService;
        Ref<PresetManager> presets;
        Ref<PersonaCatalog> personas;   // unset: one of the set's own
        Ref<LocalAIService> localAI;
        Ref<BuildCacheService> buildCaches;
        Ref<LocalAPILatencyService> latencyProbe;
        Ref<LocalAPIProxyService> proxy;
        Ref<MetricsEndpoint> metrics;
        Ref<AutoUpdater> updater;
        Ref<LaunchAtLoginManager> launchAtLogin;
        Ref<PingService> ping;
        Ref<DriveHealthMonitor> driveHealth;
    };

    explicit QmlServices(Set services, QObject *parent = nullptr);

    // Gives `engine` its set, which the engine owns; install it before loading a view.
    static void install(QQmlEngine &engine, Set services);
    // The set installed on `engine`; null when none was.
    static QmlServices *installedOn(QQmlEngine &engine);

    // What the QML engine calls the first time a view of `engine` names Services.
    static QmlServices *create(QQmlEngine *engine, QJSEngine *);

    SystemStatsProvider *stats() const { return m_set.stats.get(); }
    ProcessMonitor *processMonitor() const { return m_set.processMonitor.get(); }
    ThemeManager *theme() const { return m_set.theme.get(); }
    Preferences *preferences() const { return m_set.preferences.get(); }
    NotificationCenter *notifications() const { return m_set.notifications.get(); }
    AIService *aiService() const { return m_set.aiService.get(); }
    PresetManager *presets() const { return m_set.presets.get(); }
    PersonaCatalog *personas() const { return m_set.personas.get(); }
    LocalAIService *localAI() const { return m_set.localAI.get(); }
    BuildCacheService *buildCaches() const { return m_set.buildCaches.get(); }
    LocalAPILatencyService *latencyProbe() const { return m_set.latencyProbe.get(); }
    LocalAPIProxyService *proxy() const { return m_set.proxy.get(); }
    MetricsEndpoint *metrics() const { return m_set.metrics.get(); }
    AutoUpdater *updater() const { return m_set.updater.get(); }
    LaunchAtLoginManager *launchAtLogin() const { return m_set.launchAtLogin.get(); }
    PingService *ping() const { return m_set.ping.get(); }
    DriveHealthMonitor *driveHealth() const { return m_set.driveHealth.get(); }
    // The machine's description, read once; empty without a telemetry service.
    MachineHardwareInfo machine() const;

    RecordListModelBase *activeConnections() const;
    RecordListModelBase *topProcesses() const;
    // The rows of the process table that are local AI or ML back ends (see isAIBackend).
    RecordListModelBase *aiProcesses() const;
    RecordListModelBase *gpuProcesses() const;
    RecordListModelBase *dvrSnapshots() const;
    RecordListModelBase *allPresets() const;
    RecordListModelBase *activePortLatencies() const;
    RecordListModelBase *modelThroughput() const;
    RecordListModelBase *activeModels() const;
    RecordListModelBase *activeVectorDBs() const;
    RecordListModelBase *orphanedAICompanions() const;
    RecordListModelBase *activeLocalPorts() const;
    RecordListModelBase *cachedModelFiles() const;
    RecordListModelBase *installedModels() const;
    RecordListModelBase *cacheRows() const;
    RecordListModelBase *foundSDKVersions() const;

    // A process whose name says it runs models or their tooling: Python and conda
    // environments, Ollama, llama.cpp and PyTorch.
    static bool isAIBackend(const QString &processName);

private:
    // The model following `read` on `service`, made and filled on first use and applied
    // again on every `changed`; null without the service.
    template<typename Service, typename Read, typename Changed>
    RecordListModelBase *follow(RecordListModelBase *&model, Service *service, Read read, Changed changed) const;

    Set m_set;
    mutable std::optional<MachineHardwareInfo> m_machine;
    mutable RecordListModelBase *m_activeConnections = nullptr;
    mutable RecordListModelBase *m_topProcesses = nullptr;
    mutable RecordListModelBase *m_aiProcesses = nullptr;
    mutable RecordListModelBase *m_gpuProcesses = nullptr;
    mutable RecordListModelBase *m_dvrSnapshots = nullptr;
    mutable RecordListModelBase *m_allPresets = nullptr;
    mutable RecordListModelBase *m_activePortLatencies = nullptr;
    mutable RecordListModelBase *m_modelThroughput = nullptr;
    mutable RecordListModelBase *m_activeModels = nullptr;
    mutable RecordListModelBase *m_activeVectorDBs = nullptr;
    mutable RecordListModelBase *m_orphanedAICompanions = nullptr;
    mutable RecordListModelBase *m_activeLocalPorts = nullptr;
    mutable RecordListModelBase *m_cachedModelFiles = nullptr;
    mutable RecordListModelBase *m_installedModels = nullptr;
    mutable RecordListModelBase *m_cacheRows = nullptr;
    mutable RecordListModelBase *m_foundSDKVersions = nullptr;
};

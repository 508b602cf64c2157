#include "QmlServices.h"

#include "PersonaCatalog.h"

#include <QQmlEngine>

#include <algorithm>

namespace {
constexpr char kEngineProperty[] = "quillmoorServices";
}

QmlServices::QmlServices(Set services, QObject *parent)
    : QObject(parent)
    , m_set(std::move(services))
{
    if (!m_set.personas.get())
        m_set.personas = new PersonaCatalog(this);
}

// The module's type registrations sit in a generated file of this library; naming its
// function here keeps the linker from dropping that file from the app and the tests.
extern void qml_register_types_Quillmoor();

void QmlServices::install(QQmlEngine &engine, Set services)
{
    volatile auto keepRegistrations = &qml_register_types_Quillmoor;
    Q_UNUSED(keepRegistrations);
    engine.setProperty(kEngineProperty, QVariant::fromValue(new QmlServices(std::move(services), &engine)));
}

QmlServices *QmlServices::installedOn(QQmlEngine &engine)
{
    return engine.property(kEngineProperty).value<QmlServices *>();
}

QmlServices *QmlServices::create(QQmlEngine *engine, QJSEngine *)
{
    auto *set = installedOn(*engine);
    // An engine nobody installed a set on gets an empty one, not a crash; said aloud, since
    // its screens will show nothing.
    if (!set) {
        qWarning("Quillmoor: a view asked for Services before any were installed on its engine");
        set = new QmlServices(Set{}, engine);
    }
    QQmlEngine::setObjectOwnership(set, QQmlEngine::CppOwnership);
    return set;
}

MachineHardwareInfo QmlServices::machine() const
{
    if (!m_machine) {
        if (!stats())
            return {};
        m_machine = stats()->getHardwareInfo();
    }
    return *m_machine;
}

template<typename Service, typename Read, typename Changed>
RecordListModelBase *QmlServices::follow(RecordListModelBase *&model, Service *service, Read read, Changed changed) const
{
    using Record = typename std::decay_t<std::invoke_result_t<Read, Service *>>::value_type;
    if (model || !service)
        return model;
    auto *records = new RecordListModel<Record>(const_cast<QmlServices *>(this));
    records->apply(std::invoke(read, service));
    if constexpr (!std::is_same_v<Changed, std::nullptr_t>)
        connect(service, changed, records, [records, service, read] { records->apply(std::invoke(read, service)); });
    QQmlEngine::setObjectOwnership(records, QQmlEngine::CppOwnership);
    model = records;
    return model;
}

RecordListModelBase *QmlServices::topProcesses() const
{
    return follow(m_topProcesses, processMonitor(), &ProcessMonitor::topProcesses, &ProcessMonitor::topProcessesChanged);
}

RecordListModelBase *QmlServices::gpuProcesses() const
{
    return follow(m_gpuProcesses, processMonitor(), &ProcessMonitor::gpuProcesses, &ProcessMonitor::gpuProcessesChanged);
}

bool QmlServices::isAIBackend(const QString &processName)
{
    static const QStringList words{QStringLiteral("python"), QStringLiteral("conda"), QStringLiteral("ollama"),
                                   QStringLiteral("llama"), QStringLiteral("pytorch"), QStringLiteral("miniconda")};
    const QString name = processName.toLower();
    return std::any_of(words.begin(), words.end(), [&name](const QString &word) { return name.contains(word); });
}

RecordListModelBase *QmlServices::aiProcesses() const
{
    return follow(
        m_aiProcesses, processMonitor(),
        [](ProcessMonitor *monitor) {
            QList<ProcessInfoData> rows = monitor->topProcesses();
            rows.removeIf([](const ProcessInfoData &row) { return !isAIBackend(row.name); });
            return rows;
        },
        &ProcessMonitor::topProcessesChanged);
}

RecordListModelBase *QmlServices::dvrSnapshots() const
{
    return follow(m_dvrSnapshots, processMonitor(), &ProcessMonitor::dvrSnapshots, &ProcessMonitor::dvrSnapshotsChanged);
}

RecordListModelBase *QmlServices::allPresets() const
{
    // The presets never change; the list is the one model that follows nothing.
    return follow(m_allPresets, presets(), [](PresetManager *) { return PresetManager::allPresets(); }, nullptr);
}

RecordListModelBase *QmlServices::activePortLatencies() const
{
    return follow(m_activePortLatencies, latencyProbe(), &LocalAPILatencyService::activePortLatencies,
                  &LocalAPILatencyService::activePortLatenciesChanged);
}

RecordListModelBase *QmlServices::modelThroughput() const
{
    return follow(m_modelThroughput, proxy(), &LocalAPIProxyService::modelThroughput,
                  &LocalAPIProxyService::modelThroughputChanged);
}

RecordListModelBase *QmlServices::activeModels() const
{
    return follow(m_activeModels, localAI(), &LocalAIService::activeModels, &LocalAIService::activeModelsChanged);
}

RecordListModelBase *QmlServices::activeVectorDBs() const
{
    return follow(m_activeVectorDBs, localAI(), &LocalAIService::activeVectorDBs, &LocalAIService::activeVectorDBsChanged);
}

RecordListModelBase *QmlServices::orphanedAICompanions() const
{
    return follow(m_orphanedAICompanions, localAI(), &LocalAIService::orphanedAICompanions, &LocalAIService::orphanedAICompanionsChanged);
}

RecordListModelBase *QmlServices::activeLocalPorts() const
{
    return follow(m_activeLocalPorts, localAI(), &LocalAIService::activeLocalPorts, &LocalAIService::activeLocalPortsChanged);
}

RecordListModelBase *QmlServices::cachedModelFiles() const
{
    return follow(m_cachedModelFiles, localAI(), &LocalAIService::cachedModelFiles, &LocalAIService::cachedModelFilesChanged);
}

RecordListModelBase *QmlServices::installedModels() const
{
    return follow(m_installedModels, localAI(), &LocalAIService::installedModels, &LocalAIService::installedModelsChanged);
}

RecordListModelBase *QmlServices::cacheRows() const
{
    return follow(m_cacheRows, buildCaches(), &BuildCacheService::cacheRows, &BuildCacheService::cacheRowsChanged);
}

RecordListModelBase *QmlServices::foundSDKVersions() const
{
    return follow(m_foundSDKVersions, buildCaches(), &BuildCacheService::foundSDKVersions, &BuildCacheService::foundSDKVersionsChanged);
}

RecordListModelBase *QmlServices::activeConnections() const
{
    return follow(m_activeConnections, stats(), &SystemStatsProvider::activeConnections,
                  &SystemStatsProvider::activeConnectionsChanged);
}

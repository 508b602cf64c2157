#include "LocalAIService.h"

#include "platform/ProcessControl.h"
#include "platform/UserPaths.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {
const QString kRunning = QStringLiteral("Running");
const QString kShielded = QStringLiteral("Suspended (Battery Shield)");
const QString kOllamaSystemStore = QStringLiteral("/usr/share/ollama/.ollama/models/blobs");

template<typename Row, typename Keep>
QList<Row> keptWhere(const QList<Row> &rows, Keep keep)
{
    QList<Row> kept;
    for (const Row &row : rows)
        if (keep(row))
            kept.append(row);
    return kept;
}
}

const QStringList &LocalAIService::compilerNames()
{
    static const QStringList names{QStringLiteral("xcodebuild"), QStringLiteral("swiftc"), QStringLiteral("clang"),
                                   QStringLiteral("swift-frontend"), QStringLiteral("make"), QStringLiteral("cmake")};
    return names;
}

const QStringList &LocalAIService::localAIProcessNames()
{
    static const QStringList names{QStringLiteral("ollama"), QStringLiteral("ollama_llama_server"),
                                   QStringLiteral("llama-runner"), QStringLiteral("deepseek")};
    return names;
}

LocalAIService::LocalAIService(LocalAISources sources, Polling polling, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_runner(m_sources.searchPath)
    , m_processReader(m_sources.procRoot)
{
    if (m_sources.homePath.isEmpty())
        m_sources.homePath = UserPaths().home();
    if (m_sources.ownPid == 0)
        m_sources.ownPid = ProcessControl::ownPid();
    m_ollamaUrl = m_sources.ollamaUrl.isEmpty() ? UserPaths(m_sources.homePath).ollamaServer() : m_sources.ollamaUrl;
    m_demo = std::make_unique<DemoWorkspace>(m_sources.now);
    m_live = std::make_unique<LiveWorkspace>(
        LiveWorkspaceSetup{m_ollamaUrl, m_sources.procRoot, m_sources.homePath, m_sources.ownPid,
                           [this] { return ollamaBlobDirs(); }, [this] { return huggingFaceHub(); }},
        m_runner);
    connect(m_live.get(), &LiveWorkspace::logged, this, &LocalAIService::log);
    m_containers = std::make_unique<ContainerWatch>(m_runner, m_sources.dockerSocket, m_sources.now);
    m_smartPause = std::make_unique<SmartPause>(
        SmartPauseInputs{m_sources.smartPauseEnabled, m_sources.cpuTemperature, m_sources.batteryPercent,
                         m_sources.isUnplugged},
        SmartPauseActions{[this] { return getPIDs(localAIProcessNames()); },
                          [this](int pid) { return freezeProcess(pid); },
                          [](int pid) { ProcessControl::resume(pid); },
                          [this](int pid) { return m_suspendedPIDs.contains(pid); },
                          [this](const QString &line) { log(line); }});
    m_installed = std::make_unique<InstalledModelWatch>(m_sources.now);
    m_installed->setMemory(DemoWorkspace::sampleFreeMemory());   // the demo is on at first
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { runPass(); });
    if (polling == Polling::Start)
        startPolling();
}

LocalAIService::~LocalAIService()
{
    releaseHolds();
}

void LocalAIService::releaseHolds()
{
    // Nothing would ever thaw a process this app froze once the app is gone: every hold
    // ends with the service, whichever protection took it.
    for (int pid : std::as_const(m_suspendedPIDs))
        ProcessControl::resume(pid);
    for (int pid : m_smartPause->held())
        ProcessControl::resume(pid);
}

LocalAIBackend &LocalAIService::backend()
{
    if (m_demoMode)
        return *m_demo;
    return *m_live;
}

void LocalAIService::startPolling()
{
    m_timer.start();
    runPass();
}

bool LocalAIService::runPass(Done done)
{
    if (m_passRunning)
        return false;
    m_passRunning = true;
    updateModels([this, done] {
        // Beside the pass, not a step of it: the installed list has its own pace.
        if (m_status != OllamaStatus::Offline && m_installed->due())
            refreshInstalledModels();
        checkAndApplyAutoSuspend();
        applySmartPause();
        pollVectorDatabases([this, done] {
            scanOrphanedCompanions();
            scanLocalPorts([this, done] {
                scanModelCache([this, done] {
                    applyBatteryShieldMode();
                    m_passRunning = false;
                    Q_EMIT passFinished();
                    if (done)
                        done();
                });
            });
        });
    });
    return true;
}

void LocalAIService::log(const QString &line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
    Q_EMIT logged(line);
}

QUrl LocalAIService::defaultOllamaUrl(const QString &ollamaHost)
{
    return UserPaths::ollamaServerFor(ollamaHost);
}

// ---- Listing and ejection -------------------------------------------------------------

void LocalAIService::updateModels(Done done)
{
    backend().listModels(m_activeModels, [this, done](LocalAIBackend::Listing listing) {
        m_installed->noticeStatus(m_status == OllamaStatus::Offline, listing.status == OllamaStatus::Offline);
        setStatus(listing.status, listing.reason);
        setActiveModels(listing.models);
        if (done)
            done();
    });
}

void LocalAIService::refreshInstalledModels(Done done)
{
    if (m_installed->reading()) {
        if (done)
            QTimer::singleShot(0, this, done);
        return;
    }
    m_installed->started();
    backend().listInstalled([this, done, demo = m_demoMode](LocalAIBackend::Installed answer) {
        m_installed->finished();
        // An answer from the backend the demo switch has since left is not this list's.
        if (demo == m_demoMode) {
            if (answer.models)
                announce(m_installed->setListing(*answer.models));
            else
                log(QStringLiteral("Installed models left as they were: ") + answer.error);
        }
        if (done)
            done();
    });
}

void LocalAIService::setFreeMemory(const std::optional<FreeMemory> &figures)
{
    m_measuredMemory = figures;
    if (!m_demoMode)
        announce(m_installed->setMemory(figures));
}

qint64 LocalAIService::fitGpuBudget() const
{
    const std::optional<FitBudget> &budget = m_installed->budget();
    return budget && budget->gpu ? *budget->gpu : -1;
}

qint64 LocalAIService::fitRamBudget() const
{
    const std::optional<FitBudget> &budget = m_installed->budget();
    return budget ? budget->ram : -1;
}

void LocalAIService::announce(InstalledModelWatch::Changes changes)
{
    if (changes.rows)
        Q_EMIT installedModelsChanged();
    if (changes.budget)
        Q_EMIT fitBudgetChanged();
}

void LocalAIService::ejectModel(const QString &name, Done done)
{
    backend().ejectModel(name, [this, name, done](After after) {
        if (after == After::Rescan) {
            updateModels(done);
            return;
        }
        if (after == After::RemoveRow) {
            const QList<LocalAIModel> kept = keptWhere(m_activeModels, [&](const LocalAIModel &m) { return m.name != name; });
            setActiveModels(kept);
            if (kept.isEmpty())
                setStatus(OllamaStatus::Idle);
        }
        if (done)
            done();
    });
}

void LocalAIService::ejectAll(Done done)
{
    QList<QString> names;
    for (const LocalAIModel &model : m_activeModels)
        names.append(model.name);
    ejectEach(std::move(names), std::move(done));
}

void LocalAIService::ejectEach(QList<QString> names, Done done)
{
    if (names.isEmpty()) {
        if (done)
            done();
        return;
    }
    const QString first = names.takeFirst();
    ejectModel(first, [this, names = std::move(names), done]() mutable { ejectEach(std::move(names), done); });
}

// ---- Protections -----------------------------------------------------------------------

void LocalAIService::checkAndApplyAutoSuspend()
{
    if (!m_compileAutoSuspendEnabled) {
        if (!m_suspendedPIDs.isEmpty())
            resumeSuspendedProcesses();
        return;
    }
    std::vector<std::string> compilers;
    for (const QString &name : compilerNames())
        compilers.push_back(name.toStdString());
    bool listed = false;
    const bool compiling = !m_processReader.pidsNamed(compilers, &listed).empty();
    if (!listed) {
        log(QStringLiteral("Failed to run pgrep: cannot list the processes in %1")
                .arg(QString::fromStdString(m_sources.procRoot)));
        return;
    }
    if (!compiling) {
        if (!m_suspendedPIDs.isEmpty())
            resumeSuspendedProcesses();
        return;
    }
    // Holding: what starts during the same compile is left alone.
    if (!m_suspendedPIDs.isEmpty())
        return;
    for (int pid : getPIDs(localAIProcessNames()))
        suspendProcess(pid);
}

bool LocalAIService::freezeProcess(int pid)
{
    if (pid < 2 || pid == m_sources.ownPid)
        return false;
    if (const int error = ProcessControl::stop(pid); error != 0) {
        log(QStringLiteral("Failed to suspend process %1: %2").arg(pid).arg(QString::fromStdString(ProcessControl::errorText(error))));
        return false;
    }
    return true;
}

void LocalAIService::suspendProcess(int pid)
{
    if (!freezeProcess(pid))
        return;
    QList<int> held = m_suspendedPIDs;
    held.append(pid);
    setSuspendedPIDs(held);
}

void LocalAIService::resumeSuspendedProcesses()
{
    // One the smart pause froze too stays stopped: it thaws it when the heat or the low
    // battery is over.
    for (int pid : std::as_const(m_suspendedPIDs))
        if (!m_smartPause->holds(pid))
            ProcessControl::resume(pid);
    setSuspendedPIDs({});
}

void LocalAIService::applySmartPause()
{
    if (m_smartPause->apply())
        Q_EMIT smartPauseActiveChanged();
}

void LocalAIService::applyBatteryShieldMode()
{
    if (!m_batteryShieldEnabled || !m_sources.isUnplugged || !m_sources.isUnplugged())
        return;
    if (!m_activeModels.isEmpty()) {
        QList<QString> names;
        for (const LocalAIModel &model : std::as_const(m_activeModels))
            names.append(model.name);
        ejectEach(names, {});
    }
    QList<VectorDatabaseInfo> rows = m_activeVectorDBs;
    bool changed = false;
    for (VectorDatabaseInfo &row : rows) {
        if (row.status != kRunning)
            continue;
        row.status = kShielded;
        changed = true;
        backend().pauseContainer(row.containerId);
    }
    if (changed)
        setActiveVectorDBs(rows);
    if (m_vmAutoSleepEnabled)
        backend().stopVM();
}

// ---- Clean-up actions --------------------------------------------------------------------

void LocalAIService::stopVectorDatabase(const QString &containerId, Done done)
{
    backend().stopContainer(containerId, [this, containerId, done](After after) {
        if (after == After::Rescan) {
            scanVectorDatabases(done);
            return;
        }
        if (after == After::RemoveRow)
            setActiveVectorDBs(keptWhere(m_activeVectorDBs, [&](const VectorDatabaseInfo &row) {
                return row.containerId != containerId;
            }));
        if (done)
            done();
    });
}

void LocalAIService::purgeOrphanedCompanions(Done done)
{
    QTimer::singleShot(kCompanionPurgeDelayMs, this, [this, done] {
        backend().killCompanions(m_orphanedAICompanions);
        setOrphanedAICompanions({});
        if (done)
            done();
    });
}

void LocalAIService::killProcessOnPort(int pid, Done done)
{
    // Pid 0 is a socket whose owner this user cannot see; 1 is init; ourselves, never.
    if (pid < 2 || pid == m_sources.ownPid) {
        log(QStringLiteral("Refusing to kill process %1").arg(pid));
        if (done)
            QTimer::singleShot(0, this, done);
        return;
    }
    if (backend().killProcess(pid) == After::Rescan) {
        scanLocalPorts(done);
        return;
    }
    setActiveLocalPorts(keptWhere(m_activeLocalPorts, [pid](const LocalPortInfo &row) { return row.pid != pid; }));
    if (done)
        done();
}

void LocalAIService::purgeModelCacheFile(const QString &path, Done done)
{
    // Judged against the models loaded as the deletion starts, not when the row was shown.
    backend().deleteModelFile(path, m_activeModels, [this, path, done](After after) {
        if (after == After::Rescan) {
            scanModelCache(done);
            return;
        }
        if (after == After::RemoveRow)
            setCachedModelFiles(keptWhere(m_cachedModelFiles, [&](const ModelCacheFile &row) { return row.path != path; }));
        if (done)
            done();
    });
}

void LocalAIService::stopColimaVM()
{
    backend().stopVM();
}

std::optional<QString> LocalAIService::deletableLocation(const QString &path, const QStringList &roots)
{
    return LiveWorkspace::deletableLocation(path, roots, UserPaths().home());
}

// ---- Scans ------------------------------------------------------------------------------

QList<VectorDatabaseInfo> LocalAIService::parseContainers(const QByteArray &output)
{
    return ContainerWatch::parse(output);
}

void LocalAIService::scanVectorDatabases(Done done)
{
    m_containers->scan([this, done](QList<VectorDatabaseInfo> rows) {
        setActiveVectorDBs(rows);
        if (done)
            done();
    });
}

void LocalAIService::pollVectorDatabases(Done done)
{
    m_containers->poll([this, done](QList<VectorDatabaseInfo> rows) {
        setActiveVectorDBs(rows);
        if (done)
            done();
    });
}

void LocalAIService::scanOrphanedCompanions()
{
    if (const auto rows = backend().companions(m_orphanedAICompanions))
        setOrphanedAICompanions(*rows);
}

QList<LocalPortInfo> LocalAIService::listeningPorts(const std::vector<SocketEntry> &sockets,
                                                    const std::unordered_map<std::uint64_t, int> &owners,
                                                    const std::function<QString(int)> &nameOf)
{
    return LiveWorkspace::listeningPorts(sockets, owners, nameOf);
}

void LocalAIService::scanLocalPorts(Done done)
{
    backend().scanPorts(m_activeLocalPorts, [this, done](std::optional<QList<LocalPortInfo>> rows) {
        if (rows)
            setActiveLocalPorts(*rows);
        if (done)
            done();
    });
}

QList<ModelCacheFile> LocalAIService::findModelFiles(const QStringList &ollamaBlobDirs, const QString &huggingFaceHub)
{
    return LiveWorkspace::findModelFiles(ollamaBlobDirs, huggingFaceHub);
}

void LocalAIService::scanModelCache(Done done)
{
    backend().scanModelFiles(m_cachedModelFiles, [this, done](std::optional<QList<ModelCacheFile>> files) {
        if (files)
            setCachedModelFiles(*files);
        if (done)
            done();
    });
}

QList<int> LocalAIService::getPIDs(const QStringList &names)
{
    std::vector<std::string> wanted;
    for (const QString &name : names)
        wanted.push_back(QFile::encodeName(name).toStdString());
    const std::vector<int> pids = m_processReader.pidsNamed(wanted);
    return QList<int>(pids.begin(), pids.end());
}

QStringList LocalAIService::ollamaBlobDirs() const
{
    if (m_sources.ollamaBlobDirs)
        return *m_sources.ollamaBlobDirs;
    QStringList dirs{QDir(UserPaths(m_sources.homePath).ollamaModels()).filePath(QStringLiteral("blobs"))};
    // Ollama's Linux installer runs it as a system service that keeps its models here.
    const QFileInfo system(kOllamaSystemStore);
    if (system.isDir() && system.isReadable() && !dirs.contains(kOllamaSystemStore))
        dirs.append(kOllamaSystemStore);
    return dirs;
}

QString LocalAIService::huggingFaceHub() const
{
    return m_sources.huggingFaceHub.isEmpty() ? UserPaths(m_sources.homePath).huggingFaceHub() : m_sources.huggingFaceHub;
}

// ---- Sample rows ---------------------------------------------------------------------------

QList<VectorDatabaseInfo> LocalAIService::sampleVectorDatabases() { return DemoWorkspace::sampleVectorDatabases(); }
QList<OrphanedCompanionInfo> LocalAIService::sampleCompanions() { return DemoWorkspace::sampleCompanions(); }
QList<LocalPortInfo> LocalAIService::samplePorts() { return DemoWorkspace::samplePorts(); }
QList<ModelCacheFile> LocalAIService::sampleModelFiles() { return DemoWorkspace::sampleModelFiles(); }

// ---- Fields --------------------------------------------------------------------------------

// Every assignment notifies, as the screens expect, even when the value is the same.
void LocalAIService::setStatus(OllamaStatus status, const QString &reason)
{
    m_status = status;
    m_statusReason = status == OllamaStatus::Offline ? reason : QString();
    Q_EMIT statusChanged();
}
void LocalAIService::setActiveModels(const QList<LocalAIModel> &models)
{
    m_activeModels = models;
    Q_EMIT activeModelsChanged();
    announce(m_installed->setLoaded(models));
}
void LocalAIService::setActiveVectorDBs(const QList<VectorDatabaseInfo> &rows) { m_activeVectorDBs = rows; Q_EMIT activeVectorDBsChanged(); }
void LocalAIService::setOrphanedAICompanions(const QList<OrphanedCompanionInfo> &rows) { m_orphanedAICompanions = rows; Q_EMIT orphanedAICompanionsChanged(); }
void LocalAIService::setActiveLocalPorts(const QList<LocalPortInfo> &rows) { m_activeLocalPorts = rows; Q_EMIT activeLocalPortsChanged(); }
void LocalAIService::setCachedModelFiles(const QList<ModelCacheFile> &rows)
{
    m_cachedModelFiles = rows;
    Q_EMIT cachedModelFilesChanged();
    QStringList blobs;
    for (const ModelCacheFile &row : rows)
        if (row.type == QLatin1String("Ollama"))
            blobs.append(row.path);
    m_installed->noticeStoreFiles(blobs);
}
void LocalAIService::setSuspendedPIDs(const QList<int> &pids) { m_suspendedPIDs = pids; Q_EMIT suspendedPIDsChanged(); }
void LocalAIService::setDemoMode(bool on)
{
    if (on != m_demoMode) {
        // The other side's installed models, and its machine, are not this one's.
        m_demoMode = on;
        const InstalledModelWatch::Changes cleared = m_installed->setListing({});
        const InstalledModelWatch::Changes judged =
            m_installed->setMemory(on ? std::optional(DemoWorkspace::sampleFreeMemory()) : m_measuredMemory);
        m_installed->request();
        announce({cleared.rows || judged.rows, cleared.budget || judged.budget});
    }
    Q_EMIT demoModeChanged();
}
void LocalAIService::setCompileAutoSuspendEnabled(bool on) { m_compileAutoSuspendEnabled = on; Q_EMIT compileAutoSuspendEnabledChanged(); }
void LocalAIService::setVmAutoSleepEnabled(bool on) { m_vmAutoSleepEnabled = on; Q_EMIT vmAutoSleepEnabledChanged(); }
void LocalAIService::setBuildTurboEnabled(bool on) { m_buildTurboEnabled = on; Q_EMIT buildTurboEnabledChanged(); }
void LocalAIService::setBatteryShieldEnabled(bool on) { m_batteryShieldEnabled = on; Q_EMIT batteryShieldEnabledChanged(); }

QList<qint64> LocalAIService::loadedModelSizes() const
{
    QList<qint64> sizes;
    for (const LocalAIModel &model : m_activeModels)
        sizes.append(model.size);
    return sizes;
}


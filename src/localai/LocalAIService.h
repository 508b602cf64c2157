#pragma once

#include "ContainerWatch.h"
#include "DemoWorkspace.h"
#include "InstalledModelWatch.h"
#include "LiveWorkspace.h"
#include "LocalAIModel.h"
#include "LocalPortInfo.h"
#include "ModelCacheFile.h"
#include "OllamaStatus.h"
#include "OrphanedCompanionInfo.h"
#include "SmartPause.h"
#include "VectorDatabaseInfo.h"
#include "platform/CommandRunner.h"
#include "platform/ProcessTableReader.h"
#include "platform/SocketTableReader.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Where the workspace is read from. Tests point these at a loopback server, fixture trees
// and fake tools.
struct LocalAISources
{
    QUrl ollamaUrl;                          // empty: OLLAMA_HOST, else http://127.0.0.1:11434
    std::optional<QStringList> searchPath;   // where docker and colima are looked up; unset: PATH
    std::string procRoot = "/proc";
    // The Docker daemon's default socket: its appearance ends a wait after failed scans.
    QString dockerSocket = QStringLiteral("/var/run/docker.sock");
    QString homePath;                        // empty: the user's home
    std::optional<QStringList> ollamaBlobDirs;   // unset: see LocalAIService::defaultOllamaBlobDirs
    QString huggingFaceHub;                  // empty: UserPaths::huggingFaceHub
    std::function<bool()> isUnplugged;       // unset: always on mains power
    // The smart pause's inputs (see SmartPauseInputs): its switch (unset: off), the CPU
    // package temperature in °C when measured, the battery's charge when there is one.
    std::function<bool()> smartPauseEnabled;
    std::function<std::optional<double>()> cpuTemperature;
    std::function<std::optional<double>()> batteryPercent;
    std::function<QDateTime()> now;          // unset: the clock
    int ownPid = 0;                          // 0: this process
};

// The local AI workspace: the models the local Ollama server has loaded, vector-database
// containers, listening ports, large model files, and the protections that act on them.
// A pass every two seconds lists the models, runs the compile guard and the smart pause,
// rescans the rest and applies the battery shield, each step finishing before the next starts. With demoMode
// on, the listing and most scans work on built-in sample rows instead: the demo is one
// backend, the machine the other, and the switch picks which one each step asks.
class LocalAIService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<LocalAIModel> activeModels READ activeModels NOTIFY activeModelsChanged)
    Q_PROPERTY(QString status READ statusText NOTIFY statusChanged)
    // Why the status reads Offline: "Not running", "Error <HTTP status>", "Not answering"
    // or "Unreadable reply"; empty while the server answers.
    Q_PROPERTY(QString statusReason READ statusReason NOTIFY statusChanged)
    Q_PROPERTY(bool demoMode READ demoMode WRITE setDemoMode NOTIFY demoModeChanged)
    Q_PROPERTY(bool compileAutoSuspendEnabled READ compileAutoSuspendEnabled WRITE setCompileAutoSuspendEnabled NOTIFY compileAutoSuspendEnabledChanged)
    Q_PROPERTY(QList<int> suspendedPIDs READ suspendedPIDs NOTIFY suspendedPIDsChanged)
    Q_PROPERTY(bool smartPauseActive READ smartPauseActive NOTIFY smartPauseActiveChanged)
    Q_PROPERTY(QList<int> smartPausedPIDs READ smartPausedPIDs NOTIFY smartPauseActiveChanged)
    Q_PROPERTY(QList<VectorDatabaseInfo> activeVectorDBs READ activeVectorDBs NOTIFY activeVectorDBsChanged)
    Q_PROPERTY(QList<OrphanedCompanionInfo> orphanedAICompanions READ orphanedAICompanions NOTIFY orphanedAICompanionsChanged)
    Q_PROPERTY(QList<LocalPortInfo> activeLocalPorts READ activeLocalPorts NOTIFY activeLocalPortsChanged)
    Q_PROPERTY(QList<ModelCacheFile> cachedModelFiles READ cachedModelFiles NOTIFY cachedModelFilesChanged)
    // The models the server has installed, each with where it would run if loaded now.
    Q_PROPERTY(QList<InstalledModel> installedModels READ installedModels NOTIFY installedModelsChanged)
    // The memory those verdicts were judged against, in bytes (see ModelFit): free now plus
    // what the loaded models would release; -1 where there is no figure.
    Q_PROPERTY(qint64 fitGpuBudget READ fitGpuBudget NOTIFY fitBudgetChanged)
    Q_PROPERTY(qint64 fitRamBudget READ fitRamBudget NOTIFY fitBudgetChanged)
    Q_PROPERTY(bool vmAutoSleepEnabled READ vmAutoSleepEnabled WRITE setVmAutoSleepEnabled NOTIFY vmAutoSleepEnabledChanged)
    Q_PROPERTY(bool buildTurboEnabled READ buildTurboEnabled WRITE setBuildTurboEnabled NOTIFY buildTurboEnabledChanged)
    Q_PROPERTY(bool canStopVM READ canStopVM CONSTANT)
    Q_PROPERTY(bool batteryShieldEnabled READ batteryShieldEnabled WRITE setBatteryShieldEnabled NOTIFY batteryShieldEnabledChanged)

public:
    enum class Polling { Start, Manual };
    using Done = std::function<void()>;

    static constexpr int kIntervalMs = 2000;
    static constexpr int kContainerRetryMaxMs = ContainerWatch::kRetryMaxMs;
    static constexpr int kListingTimeoutMs = LiveWorkspace::kListingTimeoutMs;
    static constexpr int kEjectTimeoutMs = LiveWorkspace::kEjectTimeoutMs;
    static constexpr int kInstalledTimeoutMs = LiveWorkspace::kInstalledTimeoutMs;
    static constexpr qint64 kInstalledRefreshSecs = InstalledModelWatch::kRefreshSecs;
    static constexpr int kCompanionPurgeDelayMs = 1500;
    static constexpr qint64 kOllamaBlobThreshold = LiveWorkspace::kOllamaBlobThreshold;   // bytes; larger files are listed
    static constexpr qint64 kHuggingFaceThreshold = LiveWorkspace::kHuggingFaceThreshold;

    static const QStringList &compilerNames();
    static const QStringList &localAIProcessNames();

    // Polling::Start starts the loop at once (a pass now, then every two seconds); tests
    // use Polling::Manual and call runPass() or the steps themselves.
    explicit LocalAIService(LocalAISources sources = {}, Polling polling = Polling::Start, QObject *parent = nullptr);
    ~LocalAIService() override;

    static LocalAIService &shared();

    void startPolling();
    // Stops the service's own timer, for a caller that runs the passes on a clock it
    // already has (the application runs them on the telemetry's tick).
    void stopPolling() { m_timer.stop(); }
    // One pass. False, and nothing done, while the previous pass is still running: a
    // slow pass must not overlap the next, which would send its freezes again.
    bool runPass(Done done = {});
    bool isPassRunning() const { return m_passRunning; }

    // The listing; `done` once activeModels and status are assigned.
    void updateModels(Done done = {});
    // Reads the installed models now; `done` once the answer is in (or at once while a read
    // is under way). A pass reads them only when InstalledModelWatch says it is time, and
    // not while the server is Offline. A failed read leaves the list as it was and logs why.
    void refreshInstalledModels(Done done = {});
    // The memory free now, which the app hands in from the telemetry on every sample; null
    // where there are no figures. The demo judges against its sample machine instead.
    void setFreeMemory(const std::optional<FreeMemory> &figures);
    Q_INVOKABLE void ejectModel(const QString &name) { ejectModel(name, {}); }
    void ejectModel(const QString &name, Done done);
    // Every model loaded now, each asked once, one after the other.
    Q_INVOKABLE void ejectAll() { ejectAll({}); }
    void ejectAll(Done done);

    // Lets every process a protection froze run again; the service does so when it ends,
    // and the app when it quits.
    void releaseHolds();

    // Protections, run by every pass.
    void checkAndApplyAutoSuspend();
    void applySmartPause();
    void applyBatteryShieldMode();

    // Clean-up actions started from the screens.
    Q_INVOKABLE void stopVectorDatabase(const QString &containerId) { stopVectorDatabase(containerId, {}); }
    void stopVectorDatabase(const QString &containerId, Done done);
    Q_INVOKABLE void purgeOrphanedCompanions() { purgeOrphanedCompanions(Done{}); }
    void purgeOrphanedCompanions(Done done);
    Q_INVOKABLE void killProcessOnPort(int pid) { killProcessOnPort(pid, {}); }
    void killProcessOnPort(int pid, Done done);
    // Deletes a large model file, unless a model loaded now was loaded from it (or from
    // another name of the same file); then `logged` says which model, and it stays.
    Q_INVOKABLE void purgeModelCacheFile(const QString &path) { purgeModelCacheFile(path, {}); }
    void purgeModelCacheFile(const QString &path, Done done);
    Q_INVOKABLE void stopColimaVM();
    // Whether there is a container VM tool to stop: colima found on the search path.
    bool canStopVM() const { return !m_runner.resolve(QStringLiteral("colima")).isEmpty(); }

    // Scans; each replaces its list.
    void scanVectorDatabases(Done done = {});
    // The pass's container scan. While the container tool keeps failing, it is run again
    // only after a wait, and in between the list is what a failed run gives: as soon as
    // the daemon's socket appears, or after 300 seconds; where the socket is there (the
    // daemon refuses this user, say) after 4, 8, 16 … up to 300 seconds. One success
    // brings back the two-second rhythm.
    void pollVectorDatabases(Done done = {});
    void scanOrphanedCompanions();
    void scanLocalPorts(Done done = {});
    void scanModelCache(Done done = {});
    // Ids of the running processes with exactly these names, in name order.
    QList<int> getPIDs(const QStringList &names);

    // Pure pieces of the scans.
    static QList<VectorDatabaseInfo> parseContainers(const QByteArray &output);
    static QList<LocalPortInfo> listeningPorts(const std::vector<SocketEntry> &sockets,
                                               const std::unordered_map<std::uint64_t, int> &owners,
                                               const std::function<QString(int pid)> &nameOf);
    static QList<ModelCacheFile> findModelFiles(const QStringList &ollamaBlobDirs, const QString &huggingFaceHub);
    // The item purgeModelCacheFile may delete for `path`: the path with its folders and
    // ".." resolved, provided it lies strictly inside one of `roots`, is not the user's
    // home or above it, and, when it is a link, points inside one too. Null otherwise.
    static std::optional<QString> deletableLocation(const QString &path, const QStringList &roots);

    static QList<VectorDatabaseInfo> sampleVectorDatabases();
    static QList<OrphanedCompanionInfo> sampleCompanions();
    static QList<LocalPortInfo> samplePorts();
    static QList<ModelCacheFile> sampleModelFiles();

    // The server's address: OLLAMA_HOST as Ollama reads it (see UserPaths::ollamaServerFor),
    // else http://127.0.0.1:11434.
    static QUrl defaultOllamaUrl(const QString &ollamaHost);
    // $OLLAMA_MODELS/blobs or ~/.ollama/models/blobs (UserPaths::ollamaModels: a relative
    // value is ignored), and the system service's store.
    QStringList ollamaBlobDirs() const;
    QString huggingFaceHub() const;
    QStringList modelCacheRoots() const { return ollamaBlobDirs() << huggingFaceHub(); }
    QUrl ollamaUrl() const { return m_ollamaUrl; }

    QList<LocalAIModel> activeModels() const { return m_activeModels; }
    OllamaStatus status() const { return m_status; }
    QString statusText() const { return m_status.rawValue(); }
    QString statusReason() const { return m_statusReason; }
    bool demoMode() const { return m_demoMode; }
    void setDemoMode(bool on);
    bool compileAutoSuspendEnabled() const { return m_compileAutoSuspendEnabled; }
    void setCompileAutoSuspendEnabled(bool on);
    // The two freezing protections keep their holds apart. suspendedPIDs is the compile
    // guard's alone: the optimizer counts it as "VRAM Shield Active", which a pause for
    // heat is not. smartPausedPIDs is the smart pause's. A process may be in both; each
    // thaws only what the other no longer holds, so neither lets go of the other's.
    QList<int> suspendedPIDs() const { return m_suspendedPIDs; }
    bool smartPauseActive() const { return m_smartPause->active(); }
    QList<int> smartPausedPIDs() const { return m_smartPause->held(); }
    QList<VectorDatabaseInfo> activeVectorDBs() const { return m_activeVectorDBs; }
    QList<OrphanedCompanionInfo> orphanedAICompanions() const { return m_orphanedAICompanions; }
    QList<LocalPortInfo> activeLocalPorts() const { return m_activeLocalPorts; }
    QList<ModelCacheFile> cachedModelFiles() const { return m_cachedModelFiles; }
    QList<InstalledModel> installedModels() const { return m_installed->rows(); }
    qint64 fitGpuBudget() const;
    qint64 fitRamBudget() const;
    bool vmAutoSleepEnabled() const { return m_vmAutoSleepEnabled; }
    void setVmAutoSleepEnabled(bool on);
    bool buildTurboEnabled() const { return m_buildTurboEnabled; }
    void setBuildTurboEnabled(bool on);
    bool batteryShieldEnabled() const { return m_batteryShieldEnabled; }
    void setBatteryShieldEnabled(bool on);
    // Sizes of the loaded models, for the telemetry estimates.
    QList<qint64> loadedModelSizes() const;


    CommandRunner &commandRunner() { return m_runner; }

Q_SIGNALS:
    void activeModelsChanged();
    void statusChanged();
    void demoModeChanged();
    void compileAutoSuspendEnabledChanged();
    void suspendedPIDsChanged();
    void smartPauseActiveChanged();
    void activeVectorDBsChanged();
    void orphanedAICompanionsChanged();
    void activeLocalPortsChanged();
    void cachedModelFilesChanged();
    void installedModelsChanged();
    void fitBudgetChanged();
    void vmAutoSleepEnabledChanged();
    void buildTurboEnabledChanged();
    void batteryShieldEnabledChanged();
    void passFinished();
    void logged(const QString &line);

private:
    using After = LocalAIBackend::After;
    LocalAIBackend &backend();
    void log(const QString &line);
    void setStatus(OllamaStatus status, const QString &reason = {});
    void setActiveModels(const QList<LocalAIModel> &models);
    void setActiveVectorDBs(const QList<VectorDatabaseInfo> &rows);
    void setOrphanedAICompanions(const QList<OrphanedCompanionInfo> &rows);
    void setActiveLocalPorts(const QList<LocalPortInfo> &rows);
    void setCachedModelFiles(const QList<ModelCacheFile> &rows);
    void setSuspendedPIDs(const QList<int> &pids);
    void announce(InstalledModelWatch::Changes changes);
    void suspendProcess(int pid);
    bool freezeProcess(int pid);
    void resumeSuspendedProcesses();
    void ejectEach(QList<QString> names, Done done);

    LocalAISources m_sources;
    QUrl m_ollamaUrl;
    CommandRunner m_runner;
    ProcessTableReader m_processReader;
    QTimer m_timer;
    bool m_passRunning = false;
    std::unique_ptr<DemoWorkspace> m_demo;
    std::unique_ptr<LiveWorkspace> m_live;
    std::unique_ptr<ContainerWatch> m_containers;
    std::unique_ptr<SmartPause> m_smartPause;
    std::unique_ptr<InstalledModelWatch> m_installed;
    std::optional<FreeMemory> m_measuredMemory;

    QList<LocalAIModel> m_activeModels;
    OllamaStatus m_status = OllamaStatus::Offline;
    QString m_statusReason;
    bool m_demoMode = true;
    bool m_compileAutoSuspendEnabled = false;
    QList<int> m_suspendedPIDs;
    QList<VectorDatabaseInfo> m_activeVectorDBs;
    QList<OrphanedCompanionInfo> m_orphanedAICompanions;
    QList<LocalPortInfo> m_activeLocalPorts;
    QList<ModelCacheFile> m_cachedModelFiles;
    bool m_vmAutoSleepEnabled = false;
    bool m_buildTurboEnabled = false;
    bool m_batteryShieldEnabled = false;
};

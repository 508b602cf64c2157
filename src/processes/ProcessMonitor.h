#pragma once

#include "DVRSnapshot.h"
#include "ProcessInfoData.h"
#include "platform/DesktopEntryIndex.h"
#include "platform/DrmClientReader.h"
#include "platform/NvmlLibrary.h"
#include "platform/ProcessTableReader.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Where the process table comes from. Tests point these at fixture trees.
struct ProcessSources
{
    std::string procRoot = "/proc";
    std::optional<QStringList> dataDirs;   // folders holding applications/*.desktop; unset: the desktop's own
    int ownPid = 0;                        // 0: this process
    std::string sysRoot = "/sys";          // DRM devices' power state
    bool drmClients = true;                // read GPU memory from DRM fdinfo
    // NVIDIA's per-process list, from the NVML handle the app keeps open; unset, or an
    // absent answer: no NVIDIA figures.
    std::function<std::optional<std::vector<NvmlProcessMemory>>()> nvmlProcesses;
};

// The short table of the busiest processes, the processes the user froze, a per-name
// battery drain figure and a four-minute history of the table. It samples every two
// seconds straight from /proc: the CPU figure of a row is its share of one core over the
// interval since the previous sample.
class ProcessMonitor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<ProcessInfoData> topProcesses READ topProcesses NOTIFY topProcessesChanged)
    Q_PROPERTY(QList<int> suspendedPids READ suspendedPidList NOTIFY suspendedPidsChanged)
    Q_PROPERTY(QVariantMap batteryShameList READ batteryShameListForQml NOTIFY batteryShameListChanged)
    Q_PROPERTY(QList<DVRSnapshot> dvrSnapshots READ dvrSnapshots NOTIFY dvrSnapshotsChanged)
    Q_PROPERTY(bool isPaused READ isPaused WRITE setIsPaused NOTIFY isPausedChanged)
    // The processes holding GPU memory, largest first; those a driver lists without a
    // figure come last.
    Q_PROPERTY(QList<ProcessInfoData> gpuProcesses READ gpuProcesses NOTIFY gpuProcessesChanged)
    // Whether any driver gives per-process figures here: NVML answered, or a DRM client
    // record was readable. Without, an empty list means "cannot tell", not "nobody".
    Q_PROPERTY(bool gpuFiguresAvailable READ gpuFiguresAvailable NOTIFY gpuProcessesChanged)
    // The GPU memory of the processes named "ollama" (the runners that hold the models;
    // "ollama_llama_server" in older releases), as the driver counts it, for setting beside
    // what Ollama itself says.
    Q_PROPERTY(qint64 ollamaGpuMemoryBytes READ ollamaGpuMemoryBytes NOTIFY gpuProcessesChanged)
    Q_PROPERTY(bool ollamaGpuMemoryReported READ ollamaGpuMemoryReported NOTIFY gpuProcessesChanged)

public:
    enum class Polling { Start, Manual };

    static constexpr int kUnfrozenRows = 8;
    static constexpr int kMaxSnapshots = 120;
    static constexpr int kIntervalMs = 2000;

    // Reads the table once so the first sample already has an interval to measure, and
    // with Polling::Start starts the two-second timer (first sample two seconds from now).
    // The whole machine's CPU use, recorded with each history snapshot; unset: 0.
    using Figure = std::function<double()>;
    explicit ProcessMonitor(Figure machineCpuUsage = {}, ProcessSources sources = {},
                            Polling polling = Polling::Start, QObject *parent = nullptr);
    ~ProcessMonitor() override;

    QList<ProcessInfoData> topProcesses() const { return m_topProcesses; }
    QSet<int> suspendedPids() const { return m_suspendedPids; }
    QHash<QString, double> batteryShameList() const { return m_batteryShameList; }
    QList<DVRSnapshot> dvrSnapshots() const { return m_dvrSnapshots; }
    bool isPaused() const { return m_isPaused; }
    void setIsPaused(bool paused);
    QList<ProcessInfoData> gpuProcesses() const { return m_gpuProcesses; }
    // The DRM client pass costs a few hundred microseconds a sample, so it runs only while a
    // screen shows who holds the GPU: each such screen watches while it exists, and the
    // first to start is answered at once from the last sample. NVML's list, one call, is
    // read on every sample.
    Q_INVOKABLE void watchGpu(bool watching);
    int gpuWatchers() const { return m_gpuWatchers; }
    bool gpuFiguresAvailable() const { return m_gpuFiguresPublished; }
    qint64 ollamaGpuMemoryBytes() const { return m_ollamaGpuMemoryBytes; }
    bool ollamaGpuMemoryReported() const { return m_ollamaGpuMemoryReported; }

    QList<int> suspendedPidList() const;
    QVariantMap batteryShameListForQml() const;

    // Freezes the process with SIGSTOP, or thaws one this program froze with SIGCONT.
    // The init process, the kernel, this program and the desktop's own display server,
    // compositor, session bus and service manager are refused.
    Q_INVOKABLE void toggleSuspend(int pid);
    // Sets the nice value of one process.
    Q_INVOKABLE void setPriority(int pid, int priority);

    // One sample; the timer calls it.
    void updateProcesses();

    // Whether freezing the process would freeze the desktop itself, by its program name.
    static bool isProtectedName(const QString &name);
    bool isProtected(int pid);

    bool isIconIndexReady() const { return m_iconIndexReady; }

    using UniformSource = std::function<double(double low, double high)>;
    void setUniformSource(UniformSource source) { m_uniform = std::move(source); }

Q_SIGNALS:
    void topProcessesChanged();
    void suspendedPidsChanged();
    void batteryShameListChanged();
    void dvrSnapshotsChanged();
    void isPausedChanged();
    void gpuProcessesChanged();
    void iconIndexReady();
    // Each line this service prints, also as a signal.
    void logged(const QString &line);

private:
    struct Previous { std::uint64_t ticks = 0; std::uint64_t startTime = 0; };
    struct Busy { double cpu; int pid; std::uint32_t index; };
    struct GpuUse { bool reported = false; std::uint64_t bytes = 0; };
    struct ShownPath;

    // What the drivers say each process holds on the GPU this sample.
    std::unordered_map<int, GpuUse> readGpuUse();
    void publishGpuProcesses(const std::unordered_map<int, GpuUse> &use,
                             std::unordered_map<int, ShownPath> &shownPaths);
    ProcessInfoData rowFor(ProcessStat &stat, double cpu, std::unordered_map<int, ShownPath> &shownPaths);

    // Reads all stat files; fills m_busy with each process's CPU share since the last read.
    bool measure();
    void log(const QString &line);
    QString iconFor(const QString &fullPath, const QString &name);
    double uniform(double low, double high) const;

    Figure m_machineCpuUsage;
    ProcessTableReader m_reader;
    int m_ownPid;
    QTimer m_timer;
    UniformSource m_uniform;

    std::vector<ProcessStat> m_table;
    std::vector<Busy> m_busy;
    std::unordered_map<int, Previous> m_previous;
    std::unordered_map<int, Previous> m_next;
    QElapsedTimer m_clock;

    DesktopEntryIndex m_iconIndex;
    bool m_iconIndexReady = false;
    QFutureWatcher<DesktopEntryIndex> m_iconIndexWatcher;
    QHash<QString, QString> m_iconCache;
    // The paths of the rows shown last time: the same process (same start time and short
    // name, so neither a reused pid nor an exec) keeps its path without another lookup.
    struct ShownPath
    {
        std::uint64_t startTime = 0;
        std::string comm;
        std::string path;
    };
    std::unordered_map<int, ShownPath> m_shownPaths;

    QList<ProcessInfoData> m_topProcesses;
    QSet<int> m_suspendedPids;
    QHash<QString, double> m_batteryShameList;
    QList<DVRSnapshot> m_dvrSnapshots;
    bool m_isPaused = false;

    std::function<std::optional<std::vector<NvmlProcessMemory>>()> m_nvmlProcesses;
    std::unique_ptr<DrmClientReader> m_drm;
    std::vector<DrmCandidate> m_drmCandidates;
    int m_gpuWatchers = 0;
    QList<ProcessInfoData> m_gpuProcesses;
    bool m_gpuFiguresAvailable = false;
    bool m_gpuFiguresPublished = false;
    qint64 m_ollamaGpuMemoryBytes = 0;
    bool m_ollamaGpuMemoryReported = false;
};

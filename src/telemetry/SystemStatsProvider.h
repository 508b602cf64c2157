#pragma once

#include "AcceleratorSurvey.h"
#include "ActiveConnection.h"
#include "AddressWatcher.h"
#include "BatteryInfo.h"
#include "BatteryMonitor.h"
#include "ConnectionScanner.h"
#include "CpuAlert.h"
#include "HuggingFaceHub.h"
#include "MachineHardwareInfo.h"
#include "MaintenanceActions.h"
#include "NpuMonitor.h"
#include "PagingMonitor.h"
#include "PowerMeter.h"
#include "SampleHistory.h"
#include "SensorSampler.h"
#include "TelemetrySources.h"
#include "platform/CpuFrequencyReader.h"
#include "platform/CpuTimesReader.h"
#include "platform/DiskStatsReader.h"
#include "platform/FileSystemStats.h"
#include "platform/MemInfoReader.h"
#include "platform/NetDevReader.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class DesktopNotifier;
class LowPowerMode;
class Preferences;

// The single observable telemetry model. A one-second timer runs updateStats(), which
// reads the kernel's counters (files only: nothing is spawned on the tick) and publishes
// every figure as a property. Screens and other services read these and never sample the
// system themselves.
//
// The CPU, memory, network and disk figures are read here; the rest is done by small
// classes beside it, each publishing into this face's properties: SensorSampler
// (temperatures, GPU load, throttling, fans), BatteryMonitor, AddressWatcher,
// ConnectionScanner, HuggingFaceHub, MaintenanceActions (memory purge, junk, CSV export),
// LowPowerMode and CpuAlert.
//
// Units: GB is bytes / 2^30, percentages are 0...100, network rates are KiB per tick
// (one tick per second), disk rates MiB per tick.
class SystemStatsProvider : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double cpuUsage READ cpuUsage NOTIFY cpuUsageChanged)
    Q_PROPERTY(double cpuUserUsage READ cpuUserUsage NOTIFY cpuUserUsageChanged)
    Q_PROPERTY(double cpuSystemUsage READ cpuSystemUsage NOTIFY cpuSystemUsageChanged)
    Q_PROPERTY(QList<double> cpuHistory READ cpuHistory NOTIFY cpuHistoryChanged)
    Q_PROPERTY(QList<double> perCoreUsage READ perCoreUsage NOTIFY perCoreUsageChanged)
    Q_PROPERTY(int eCoreCount READ eCoreCount CONSTANT)
    Q_PROPERTY(int pCoreCount READ pCoreCount CONSTANT)
    Q_PROPERTY(QList<bool> efficiencyCores READ efficiencyCores CONSTANT)
    Q_PROPERTY(double cpuFrequencyGHz READ cpuFrequencyGHz NOTIFY cpuFrequencyGHzChanged)
    Q_PROPERTY(double eClusterUsage READ eClusterUsage NOTIFY eClusterUsageChanged)
    Q_PROPERTY(double pClusterUsage READ pClusterUsage NOTIFY pClusterUsageChanged)
    Q_PROPERTY(double aneUsage READ aneUsage NOTIFY aneUsageChanged)
    Q_PROPERTY(double anePowerDraw READ anePowerDraw NOTIFY anePowerDrawChanged)
    Q_PROPERTY(bool anePowerDrawMeasured READ anePowerDrawMeasured CONSTANT)
    Q_PROPERTY(bool aneUsageMeasured READ aneUsageMeasured NOTIFY aneUsageMeasuredChanged)
    Q_PROPERTY(double aiVramUsed READ aiVramUsed NOTIFY aiVramUsedChanged)
    Q_PROPERTY(double aiVramTotal READ aiVramTotal NOTIFY aiVramTotalChanged)
    Q_PROPERTY(bool aiVramTotalMeasured READ aiVramTotalMeasured CONSTANT)
    Q_PROPERTY(bool hostVramSplitAlert READ hostVramSplitAlert NOTIFY hostVramSplitAlertChanged)
    Q_PROPERTY(double gpuUsage READ gpuUsage NOTIFY gpuUsageChanged)
    Q_PROPERTY(bool gpuUsageMeasured READ gpuUsageMeasured NOTIFY gpuUsageMeasuredChanged)
    Q_PROPERTY(double gpuMemoryUsed READ gpuMemoryUsed NOTIFY gpuMemoryUsedChanged)
    Q_PROPERTY(double gpuMemoryTotal READ gpuMemoryTotal NOTIFY gpuMemoryTotalChanged)
    Q_PROPERTY(qint64 gpuCoreCount READ gpuCoreCount NOTIFY gpuCoreCountChanged)
    Q_PROPERTY(bool gpuCoreCountMeasured READ gpuCoreCountMeasured NOTIFY gpuCoreCountMeasuredChanged)
    Q_PROPERTY(double memoryUsed READ memoryUsed NOTIFY memoryUsedChanged)
    Q_PROPERTY(double memoryTotal READ memoryTotal NOTIFY memoryTotalChanged)
    Q_PROPERTY(double memoryPressure READ memoryPressure NOTIFY memoryPressureChanged)
    Q_PROPERTY(double memoryWired READ memoryWired NOTIFY memoryWiredChanged)
    Q_PROPERTY(double memoryCompressed READ memoryCompressed NOTIFY memoryCompressedChanged)
    Q_PROPERTY(double memoryApp READ memoryApp NOTIFY memoryAppChanged)
    Q_PROPERTY(double memorySwap READ memorySwap NOTIFY memorySwapChanged)
    Q_PROPERTY(double networkUpload READ networkUpload NOTIFY networkUploadChanged)
    Q_PROPERTY(double networkDownload READ networkDownload NOTIFY networkDownloadChanged)
    Q_PROPERTY(QString localIP READ localIP NOTIFY localIPChanged)
    Q_PROPERTY(QString publicIP READ publicIP NOTIFY publicIPChanged)
    Q_PROPERTY(double diskUsed READ diskUsed NOTIFY diskUsedChanged)
    Q_PROPERTY(double diskTotal READ diskTotal NOTIFY diskTotalChanged)
    Q_PROPERTY(double diskRead READ diskRead NOTIFY diskReadChanged)
    Q_PROPERTY(double diskWrite READ diskWrite NOTIFY diskWriteChanged)
    Q_PROPERTY(bool diskThroughputMeasured READ diskThroughputMeasured NOTIFY diskThroughputMeasuredChanged)
    Q_PROPERTY(QList<ActiveConnection> activeConnections READ activeConnections NOTIFY activeConnectionsChanged)
    Q_PROPERTY(double socTemperature READ socTemperature NOTIFY socTemperatureChanged)
    Q_PROPERTY(double powerDraw READ powerDraw NOTIFY powerDrawChanged)
    Q_PROPERTY(int batteryPercentage READ batteryPercentage NOTIFY batteryPercentageChanged)
    Q_PROPERTY(bool batteryIsCharging READ batteryIsCharging NOTIFY batteryIsChargingChanged)
    Q_PROPERTY(int batteryTimeToEmpty READ batteryTimeToEmpty NOTIFY batteryTimeToEmptyChanged)
    Q_PROPERTY(double batteryTemperature READ batteryTemperature CONSTANT)
    Q_PROPERTY(bool isUnplugged READ isUnplugged NOTIFY isUnpluggedChanged)
    Q_PROPERTY(bool forceTurboCooling READ forceTurboCooling WRITE setForceTurboCooling NOTIFY forceTurboCoolingChanged)
    Q_PROPERTY(bool turboCoolingAvailable READ turboCoolingAvailable NOTIFY turboCoolingAvailableChanged)
    Q_PROPERTY(QList<double> fanRPMs READ fanRPMs NOTIFY fanRPMsChanged)
    Q_PROPERTY(bool fanRPMsMeasured READ fanRPMsMeasured NOTIFY fanRPMsMeasuredChanged)
    Q_PROPERTY(double ssdTemperature READ ssdTemperature NOTIFY ssdTemperatureChanged)
    Q_PROPERTY(double gpuTemperature READ gpuTemperature NOTIFY gpuTemperatureChanged)
    Q_PROPERTY(double throttlingStatus READ throttlingStatus NOTIFY throttlingStatusChanged)
    Q_PROPERTY(bool isLowPowerModeEnabled READ isLowPowerModeEnabled WRITE setIsLowPowerModeEnabled NOTIFY isLowPowerModeEnabledChanged)
    Q_PROPERTY(bool lowPowerModeAvailable READ lowPowerModeAvailable NOTIFY lowPowerModeAvailableChanged)
    Q_PROPERTY(double optimizedMemoryReleased READ optimizedMemoryReleased NOTIFY optimizedMemoryReleasedChanged)
    Q_PROPERTY(double cleanedJunkTotal READ cleanedJunkTotal NOTIFY cleanedJunkTotalChanged)
    Q_PROPERTY(double huggingFaceCacheSizeInGB READ huggingFaceCacheSizeInGB NOTIFY huggingFaceCacheSizeInGBChanged)
    Q_PROPERTY(bool isOptimizingMemory READ isOptimizingMemory NOTIFY isOptimizingMemoryChanged)
    Q_PROPERTY(QString memoryOptimizationError READ memoryOptimizationError NOTIFY memoryOptimizationFinished)
    Q_PROPERTY(double junkFoundInGB READ junkFoundInGB NOTIFY junkFoundInGBChanged)
    Q_PROPERTY(bool isScanningJunk READ isScanningJunk NOTIFY isScanningJunkChanged)
    Q_PROPERTY(bool isCleaningJunk READ isCleaningJunk NOTIFY isCleaningJunkChanged)
    Q_PROPERTY(bool isPurgingHuggingFaceCache READ isPurgingHuggingFaceCache NOTIFY isPurgingHuggingFaceCacheChanged)
    Q_PROPERTY(double efficiencyRatio READ efficiencyRatio NOTIFY efficiencyRatioChanged)
    Q_PROPERTY(double baselineCpuUsage READ baselineCpuUsage NOTIFY sampled)
    Q_PROPERTY(double baselineTemp READ baselineTemp NOTIFY sampled)
    // Memory and power figures of the dashboard's memory and power pages.
    Q_PROPERTY(double memoryKernel READ memoryKernel NOTIFY memoryKernelChanged)
    Q_PROPERTY(double memorySwapTotal READ memorySwapTotal NOTIFY memorySwapTotalChanged)
    Q_PROPERTY(QList<double> memoryPressureHistory READ memoryPressureHistory NOTIFY memoryPressureHistoryChanged)
    Q_PROPERTY(bool pagingMeasured READ pagingMeasured NOTIFY pagingChanged)
    Q_PROPERTY(bool swapPagingMeasured READ swapPagingMeasured NOTIFY pagingChanged)
    Q_PROPERTY(double pageInRate READ pageInRate NOTIFY pagingChanged)
    Q_PROPERTY(double pageOutRate READ pageOutRate NOTIFY pagingChanged)
    Q_PROPERTY(double swapInRate READ swapInRate NOTIFY pagingChanged)
    Q_PROPERTY(double swapOutRate READ swapOutRate NOTIFY pagingChanged)
    Q_PROPERTY(qint64 pagedInBytes READ pagedInBytes NOTIFY pagingChanged)
    Q_PROPERTY(qint64 pagedOutBytes READ pagedOutBytes NOTIFY pagingChanged)
    Q_PROPERTY(qint64 swappedInBytes READ swappedInBytes NOTIFY pagingChanged)
    Q_PROPERTY(qint64 swappedOutBytes READ swappedOutBytes NOTIFY pagingChanged)
    Q_PROPERTY(bool powerDrawMeasured READ powerDrawMeasured NOTIFY powerDrawMeasuredChanged)
    Q_PROPERTY(QString powerDrawSource READ powerDrawSource NOTIFY powerDrawMeasuredChanged)
    Q_PROPERTY(bool hasBattery READ hasBattery NOTIFY hasBatteryChanged)

public:
    enum class Polling { Start, Manual };
    // One telemetry pass a second.
    static constexpr int kIntervalMs = 1000;

    static constexpr int kHistoryLength = 60;

    // Construction sets every field to its initial value, reads the CPU layout and, with
    // Polling::Start, starts the one-second timer. Tests use Polling::Manual and call
    // updateStats() themselves.
    explicit SystemStatsProvider(Preferences &preferences, TelemetrySources sources = {},
                                 Polling polling = Polling::Start, QObject *parent = nullptr);
    ~SystemStatsProvider() override;

    static SystemStatsProvider &shared();

    // One sampling pass.
    Q_INVOKABLE void updateStats();

    // Sizes in bytes of the models the local model server has loaded (none until it is set).
    using LoadedModelSizes = std::function<QList<qint64>()>;
    void setLoadedModelSizesSource(LoadedModelSizes source) { m_loadedModelSizes = std::move(source); }

    // The local AI service's build-turbo and demo switches, read by the fan logic and the
    // compiler probe; unset, both off.
    using FlagSource = std::function<bool()>;
    void setBuildTurboSource(FlagSource source) { m_sensors.setBuildTurboSource(std::move(source)); }
    void setDemoModeSource(FlagSource source) { m_sensors.setDemoModeSource(std::move(source)); }

    // The internal battery; absent on a machine without one.
    std::optional<BatteryInfo> getBatteryInfo() const { return m_battery.read(); }

    // Whether a compiler runs: a substring test of every process name. Never in demo mode.
    bool isCompilerRunning() { return m_sensors.isCompilerRunning(); }

    // SIGKILL to a connection's owner, by the pid text of its row (ConnectionScanner::killOwner).
    Q_INVOKABLE void killConnectionProcess(const QString &pid);
    // The connections are listed only while a screen showing them watches.
    Q_INVOKABLE void watchConnections(bool watching) { m_connections.watch(watching); }

    // Starts a public-address fetch unless one is out; tests call it to skip the pacing.
    void fetchPublicIP() { m_addresses.fetchPublic(); }

    Q_INVOKABLE MachineHardwareInfo getHardwareInfo() const;

    // While the local AI demo switch is on, an empty or absent hub reads as a sample figure
    // so the demonstration screens have something to purge; live, it reads what is there.
    static constexpr double kDemoHuggingFaceCacheGB = HuggingFaceHub::kDemoFigureGB;
    void setShowsDemoHubFigure(bool shown);

    // A uniform draw over the closed interval [low, high]; replaceable for tests.
    using UniformSource = std::function<double(double low, double high)>;
    void setUniformSource(UniformSource source) { m_uniform = std::move(source); }

    // Where the high-CPU alert goes; the session bus unless set.
    void setNotificationBus(const QDBusConnection &bus) { m_cpuAlert.setBus(bus); }
    DesktopNotifier *notifier() { return m_cpuAlert.notifier(); }

    // Writes the last minute of CPU history to a CSV file in the temporary folder and
    // returns its path; empty when the file could not be written.
    Q_INVOKABLE QString exportHistoryToCSV();

    // Drops the kernel's clean caches and compacts memory, then publishes how much more
    // memory is available (optimizedMemoryReleased) or, when that could not be done, why
    // (memoryOptimizationError).
    Q_INVOKABLE void optimizeMemory();
    // Measures the deletable clutter (junkFoundInGB).
    Q_INVOKABLE void scanJunk();
    // Deletes what the last scan found, adds the bytes released to cleanedJunkTotal and
    // scans again.
    Q_INVOKABLE void cleanJunkFiles();
    // Re-measures the Hugging Face hub folder now.
    Q_INVOKABLE void refreshHuggingFaceCacheSize();
    // Deletes the hub folder's contents and adds the bytes released to cleanedJunkTotal.
    Q_INVOKABLE void purgeHuggingFaceCache();
    // $HF_HUB_CACHE, else $HF_HOME/hub, else $XDG_CACHE_HOME/huggingface/hub, else
    // ~/.cache/huggingface/hub.
    QString huggingFaceHubPath() const { return m_hub.path(); }

    int eCoreCount() const { return m_eCoreCount; }
    int pCoreCount() const { return m_pCoreCount; }

    double cpuUsage() const { return m_cpuUsage; }
    // The parts of cpuUsage spent in user space (with niced work) and in the kernel (with
    // interrupts), in percent of all CPU time; a guest's stolen time is in neither.
    double cpuUserUsage() const { return m_cpuUserUsage; }
    double cpuSystemUsage() const { return m_cpuSystemUsage; }
    QList<double> cpuHistory() const { return m_cpuHistory; }
    QList<double> perCoreUsage() const { return m_perCoreUsage; }
    // Per entry of perCoreUsage: whether that CPU is an efficiency core.
    QList<bool> efficiencyCores() const;
    // The mean current clock from cpufreq, rounded to 10 MHz; 0 where cpufreq is absent.
    double cpuFrequencyGHz() const { return m_cpuFrequencyGHz; }
    double eClusterUsage() const { return m_eClusterUsage; }
    double pClusterUsage() const { return m_pClusterUsage; }
    double aneUsage() const { return m_aneUsage; }
    double anePowerDraw() const { return m_anePowerDraw; }
    // True while aneUsage is the NPU's busy share over the last tick; false where there is
    // no NPU or no busy counter, and aneUsage is an estimate. anePowerDraw is always one.
    bool aneUsageMeasured() const { return m_aneUsageMeasured; }
    // No Linux driver reports an NPU's power, and the safe share of memory for models is a
    // rule of thumb (three quarters), not a limit the kernel gives: both are estimates on
    // every machine, and say so like every other estimate.
    static constexpr bool anePowerDrawMeasured() { return false; }
    static constexpr bool aiVramTotalMeasured() { return false; }
    double aiVramUsed() const { return m_aiVramUsed; }
    double aiVramTotal() const { return m_aiVramTotal; }
    bool hostVramSplitAlert() const { return m_hostVramSplitAlert; }
    double gpuUsage() const { return m_gpuUsage; }
    bool gpuUsageMeasured() const { return m_gpuUsageMeasured; }
    double gpuMemoryUsed() const { return m_gpuMemoryUsed; }
    double gpuMemoryTotal() const { return m_gpuMemoryTotal; }
    qint64 gpuCoreCount() const { return m_gpuCoreCount; }
    // True when NVML counted the cores; otherwise gpuCoreCount is twice the CPU count.
    bool gpuCoreCountMeasured() const { return m_gpuCoreCountMeasured; }
    std::optional<std::vector<NvmlProcessMemory>> gpuProcessMemory() const { return m_accelerators.gpuProcesses(); }   // NVML's; none without NVIDIA
    double memoryUsed() const { return m_memoryUsed; }
    double memoryTotal() const { return m_memoryTotal; }
    double memoryPressure() const { return m_memoryPressure; }
    double memoryWired() const { return m_memoryWired; }
    double memoryCompressed() const { return m_memoryCompressed; }
    double memoryApp() const { return m_memoryApp; }
    double memorySwap() const { return m_memorySwap; }
    double networkUpload() const { return m_networkUpload; }
    double networkDownload() const { return m_networkDownload; }
    QString localIP() const { return m_localIP; }
    QString publicIP() const { return m_publicIP; }
    double diskUsed() const { return m_diskUsed; }
    double diskTotal() const { return m_diskTotal; }
    double diskRead() const { return m_diskRead; }
    double diskWrite() const { return m_diskWrite; }
    // False while diskRead/diskWrite are estimates because the kernel's counters are unreadable.
    bool diskThroughputMeasured() const { return m_diskThroughputMeasured; }
    QList<ActiveConnection> activeConnections() const { return m_activeConnections; }
    double socTemperature() const { return m_socTemperature; }
    double powerDraw() const { return m_powerDraw; }
    int batteryPercentage() const { return m_batteryPercentage; }
    bool batteryIsCharging() const { return m_batteryIsCharging; }
    int batteryTimeToEmpty() const { return m_batteryTimeToEmpty; }
    double batteryTemperature() const { return m_batteryTemperature; }
    bool isUnplugged() const { return m_isUnplugged; }
    bool forceTurboCooling() const { return m_forceTurboCooling; }
    void setForceTurboCooling(bool on);
    bool turboCoolingAvailable() const { return m_sensors.fanControlAvailable(); }
    QList<double> fanRPMs() const { return m_fanRPMs; }
    bool fanRPMsMeasured() const { return m_fanRPMsMeasured; }
    double ssdTemperature() const { return m_ssdTemperature; }
    double gpuTemperature() const { return m_gpuTemperature; }
    double throttlingStatus() const { return m_throttlingStatus; }
    bool isLowPowerModeEnabled() const { return m_isLowPowerModeEnabled; }
    void setIsLowPowerModeEnabled(bool on);
    bool lowPowerModeAvailable() const { return m_lowPowerModeAvailable; }
    double optimizedMemoryReleased() const { return m_optimizedMemoryReleased; }
    double cleanedJunkTotal() const { return m_cleanedJunkTotal; }
    double huggingFaceCacheSizeInGB() const { return m_huggingFaceCacheSizeInGB; }
    bool isOptimizingMemory() const { return m_isOptimizingMemory; }
    QString memoryOptimizationError() const { return m_memoryOptimizationError; }
    double junkFoundInGB() const { return m_junkFoundInGB; }
    bool isScanningJunk() const { return m_isScanningJunk; }
    bool isCleaningJunk() const { return m_isCleaningJunk; }
    bool isPurgingHuggingFaceCache() const { return m_isPurgingHuggingFaceCache; }

    // CPU use per watt; with no power reading, the CPU use itself.
    double efficiencyRatio() const { return m_powerDraw > 0 ? m_cpuUsage / m_powerDraw : m_cpuUsage; }
    double baselineCpuUsage() const;
    double baselineTemp() const;

    // Memory and power: the kernel's own memory (Slab + KernelStack + PageTables, GB), the
    // swap size (GB), the last kMemoryPressureHistoryLength pressure samples (oldest first,
    // growing from none at start), the paging counters and rates (PagingMonitor), and
    // whether powerDraw is a measurement and of what (PowerMeter): without one, it is 0.
    static constexpr int kMemoryPressureHistoryLength = 120;
    double memoryKernel() const { return m_memoryKernel; }
    double memorySwapTotal() const { return m_memorySwapTotal; }
    QList<double> memoryPressureHistory() const { return m_memoryPressureHistory; }
    bool pagingMeasured() const { return m_paging.measured; }
    bool swapPagingMeasured() const { return m_paging.swapMeasured; }
    double pageInRate() const { return m_paging.pageInRate; }
    double pageOutRate() const { return m_paging.pageOutRate; }
    double swapInRate() const { return m_paging.swapInRate; }
    double swapOutRate() const { return m_paging.swapOutRate; }
    qint64 pagedInBytes() const { return m_paging.pagedInBytes; }
    qint64 pagedOutBytes() const { return m_paging.pagedOutBytes; }
    qint64 swappedInBytes() const { return m_paging.swappedInBytes; }
    qint64 swappedOutBytes() const { return m_paging.swappedOutBytes; }
    bool powerDrawMeasured() const { return m_power.measured; }
    QString powerDrawSource() const { return m_power.source; }
    bool hasBattery() const { return m_hasBattery; }

Q_SIGNALS:
    void cpuUsageChanged();
    void cpuUserUsageChanged();
    void cpuSystemUsageChanged();
    void cpuHistoryChanged();
    void perCoreUsageChanged();
    void cpuFrequencyGHzChanged();
    void eClusterUsageChanged();
    void pClusterUsageChanged();
    void aneUsageChanged();
    void anePowerDrawChanged();
    void aneUsageMeasuredChanged();
    void aiVramUsedChanged();
    void aiVramTotalChanged();
    void hostVramSplitAlertChanged();
    void gpuUsageChanged();
    void gpuUsageMeasuredChanged();
    void gpuMemoryUsedChanged();
    void gpuMemoryTotalChanged();
    void gpuCoreCountChanged();
    void gpuCoreCountMeasuredChanged();
    void memoryUsedChanged();
    void memoryTotalChanged();
    void memoryPressureChanged();
    void memoryWiredChanged();
    void memoryCompressedChanged();
    void memoryAppChanged();
    void memorySwapChanged();
    void networkUploadChanged();
    void networkDownloadChanged();
    void localIPChanged();
    void publicIPChanged();
    void diskUsedChanged();
    void diskTotalChanged();
    void diskReadChanged();
    void diskWriteChanged();
    void diskThroughputMeasuredChanged();
    void activeConnectionsChanged();
    void socTemperatureChanged();
    void powerDrawChanged();
    void batteryPercentageChanged();
    void batteryIsChargingChanged();
    void batteryTimeToEmptyChanged();
    void isUnpluggedChanged();
    void forceTurboCoolingChanged();
    void fanRPMsChanged();
    void fanRPMsMeasuredChanged();
    void turboCoolingAvailableChanged();
    void ssdTemperatureChanged();
    void gpuTemperatureChanged();
    void throttlingStatusChanged();
    void isLowPowerModeEnabledChanged();
    void lowPowerModeAvailableChanged();
    // The power profile daemon refused a switch, or none answers.
    void lowPowerModeFailed(const QString &error);
    // A connection scan has published its rows.
    void connectionsScanned();
    void publicIPFetched(bool succeeded);
    void optimizedMemoryReleasedChanged();
    void cleanedJunkTotalChanged();
    void huggingFaceCacheSizeInGBChanged();
    void efficiencyRatioChanged();
    void isOptimizingMemoryChanged();
    void memoryOptimizationFinished(bool succeeded);
    void junkFoundInGBChanged();
    void isScanningJunkChanged();
    void isCleaningJunkChanged();
    void junkScanFinished();
    void junkCleanFinished(double freedGB);
    void isPurgingHuggingFaceCacheChanged();
    void huggingFaceCacheSizeMeasured();
    void huggingFaceCachePurged(double freedGB);
    // Emitted once at the end of every pass, after all fields are assigned.
    void sampled();
    void memoryKernelChanged();
    void memorySwapTotalChanged();
    void memoryPressureHistoryChanged();
    void pagingChanged();
    void powerDrawMeasuredChanged();
    void hasBatteryChanged();

private:
    void determineCoreCounts();
    void startPolling();

    void updateCPU();
    // False when the memory figures could not be read (they keep their values).
    bool updateMemory();
    void updateNetwork();
    void updateSensors();
    void updateBattery();
    void updateDisk();
    void updateDiskUsage();
    void updateEstimates();
    void onMemoryPurged(bool done, double gainedGB, const QString &message);
    void onJunkDone(bool cleaned, double freedGB, double foundGB);
    void onHubPurged(double freedGB, double shownGB);

    double uniform(double low, double high) const;

    template <typename T>
    void assign(T &field, const T &value, void (SystemStatsProvider::*changed)())
    {
        if (field == value)
            return;
        field = value;
        Q_EMIT(this->*changed)();
    }

    Preferences &m_preferences;
    QTimer m_timer;
    LoadedModelSizes m_loadedModelSizes;
    UniformSource m_uniform;
    SensorSampler::Draw m_draw;   // uniform(), as the sensor sampler takes it

    std::string m_sysRoot;
    std::string m_procRoot;
    std::string m_etcRoot;
    std::string m_homePath;
    CpuTimesReader m_cpuReader;
    CpuFrequencyReader m_frequencyReader;
    double m_cpuFrequencyGHz = 0;
    MemInfoReader m_memReader;
    NetDevReader m_netReader;
    DiskStatsReader m_diskStatsReader;
    std::function<std::optional<FileSystemUsage>()> m_homeUsage;

    // Per-CPU tick arrays of this and the previous pass, swapped rather than copied.
    std::vector<CpuTicks> m_previousTicks;
    std::vector<CpuTicks> m_currentTicks;
    bool m_cpuPrimed = false;
    std::vector<char> m_isEfficiencyCpu;   // indexed by CPU id
    int m_eCoreCount = 0;
    int m_pCoreCount = 0;

    struct NetworkPair { std::uint64_t up = 0; std::uint64_t down = 0; };
    std::optional<NetworkPair> m_lastNetworkStats;
    std::optional<DiskTotals> m_lastDiskTotals;

    double m_cpuUsage = 0;
    double m_cpuUserUsage = 0;
    double m_cpuSystemUsage = 0;
    QList<double> m_cpuHistory;
    QList<double> m_perCoreUsage;
    double m_eClusterUsage = 0;
    double m_pClusterUsage = 0;
    double m_aneUsage = 0;
    double m_anePowerDraw = 0;
    bool m_aneUsageMeasured = false;
    double m_aiVramUsed = 0;
    double m_aiVramTotal = 0;
    bool m_hostVramSplitAlert = false;
    double m_gpuUsage = 0;
    bool m_gpuUsageMeasured = false;
    double m_gpuMemoryUsed = 0;
    double m_gpuMemoryTotal = 0;
    qint64 m_gpuCoreCount = 16;
    bool m_gpuCoreCountMeasured = false;
    double m_memoryUsed = 0;
    double m_memoryTotal = 0;
    double m_memoryPressure = 0;
    double m_memoryWired = 0;
    double m_memoryCompressed = 0;
    double m_memoryApp = 0;
    double m_memorySwap = 0;
    double m_networkUpload = 0;
    double m_networkDownload = 0;
    QString m_localIP = QStringLiteral("127.0.0.1");
    QString m_publicIP = QStringLiteral("Checking...");
    double m_diskUsed = 0;
    double m_diskTotal = 0;
    double m_diskRead = 0;
    double m_diskWrite = 0;
    bool m_diskThroughputMeasured = true;
    QList<ActiveConnection> m_activeConnections;
    double m_socTemperature = 0;
    double m_powerDraw = 0;
    int m_batteryPercentage = 0;
    bool m_batteryIsCharging = false;
    int m_batteryTimeToEmpty = 0;
    double m_batteryTemperature = 0;
    bool m_isUnplugged = false;
    bool m_forceTurboCooling = false;
    QList<double> m_fanRPMs{0.0};
    bool m_fanRPMsMeasured = false;
    double m_ssdTemperature = 0;
    double m_gpuTemperature = 0;
    double m_throttlingStatus = 0;
    bool m_isLowPowerModeEnabled = false;
    bool m_lowPowerModeAvailable = false;
    double m_optimizedMemoryReleased = 0;
    double m_cleanedJunkTotal = 0;
    double m_huggingFaceCacheSizeInGB = 0;
    bool m_isOptimizingMemory = false;
    QString m_memoryOptimizationError;
    double m_junkFoundInGB = 0;
    bool m_isScanningJunk = false;
    bool m_isCleaningJunk = false;
    bool m_isPurgingHuggingFaceCache = false;
    double m_memoryKernel = 0;
    double m_memorySwapTotal = 0;
    QList<double> m_memoryPressureHistory;
    PagingFigures m_paging;
    PowerFigure m_power;
    bool m_hasBattery = false;
    PagingMonitor m_pagingMonitor;
    PowerMeter m_powerMeter;
    AcceleratorSurvey m_accelerators;
    NpuMonitor m_npu;

    // The helpers publish into the fields above, so they come after them: they are made
    // once those exist and gone (their workers waited for) before those are.
    SensorSampler m_sensors;
    BatteryMonitor m_battery;
    AddressWatcher m_addresses;
    ConnectionScanner m_connections;
    HuggingFaceHub m_hub;
    MaintenanceActions m_maintenance;
    CpuAlert m_cpuAlert;
    std::unique_ptr<LowPowerMode> m_lowPowerMode;

    // ---- Where the temperatures come from, and the charts' histories -------------------
    // One block, so the sensors, fans and network pages read from one place.
    Q_PROPERTY(bool socTemperatureMeasured READ socTemperatureMeasured NOTIFY temperatureSourcesChanged)
    Q_PROPERTY(bool gpuTemperatureMeasured READ gpuTemperatureMeasured NOTIFY temperatureSourcesChanged)
    Q_PROPERTY(bool ssdTemperatureMeasured READ ssdTemperatureMeasured NOTIFY temperatureSourcesChanged)
    Q_PROPERTY(QList<double> temperatureHistory READ temperatureHistory NOTIFY historiesChanged)
    Q_PROPERTY(QList<double> fanHistory READ fanHistory NOTIFY historiesChanged)
    Q_PROPERTY(QList<double> uploadHistory READ uploadHistory NOTIFY historiesChanged)
    Q_PROPERTY(QList<double> downloadHistory READ downloadHistory NOTIFY historiesChanged)

public:
    // Two minutes at one sample a tick.
    static constexpr int kChartHistoryLength = 120;

    // Whether this tick's figure came from a sensor. Not measured, the GPU and SSD figures
    // are estimates and the SoC figure is the last reading standing (0 before any).
    bool socTemperatureMeasured() const { return m_socTemperatureMeasured; }
    bool gpuTemperatureMeasured() const { return m_gpuTemperatureMeasured; }
    bool ssdTemperatureMeasured() const { return m_ssdTemperatureMeasured; }
    // One sample a tick, oldest first, up to kChartHistoryLength: the SoC temperature, the
    // fastest fan (RPM) and the network rates (KiB per second), as published that tick.
    QList<double> temperatureHistory() const { return m_temperatureHistory.values(); }
    QList<double> fanHistory() const { return m_fanHistory.values(); }
    QList<double> uploadHistory() const { return m_uploadHistory.values(); }
    QList<double> downloadHistory() const { return m_downloadHistory.values(); }

Q_SIGNALS:
    void temperatureSourcesChanged();
    void historiesChanged();

private:
    void recordHistories();

    bool m_socTemperatureMeasured = false;
    bool m_gpuTemperatureMeasured = false;
    bool m_ssdTemperatureMeasured = false;
    SampleHistory m_temperatureHistory{kChartHistoryLength};
    SampleHistory m_fanHistory{kChartHistoryLength};
    SampleHistory m_uploadHistory{kChartHistoryLength};
    SampleHistory m_downloadHistory{kChartHistoryLength};
};

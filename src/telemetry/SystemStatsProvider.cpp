#include "SystemStatsProvider.h"

#include "LowPowerMode.h"
#include "app/Preferences.h"
#include "platform/CpuTopologyReader.h"
#include "platform/MachineInfoReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <unistd.h>

namespace {
constexpr double kBytesPerGB = 1073741824.0;
constexpr double kBytesPerMB = 1048576.0;

double toGB(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / kBytesPerGB;
}

std::string homeDirectory(const std::string &configured)
{
    if (!configured.empty())
        return configured;
    return QFile::encodeName(QDir::homePath()).toStdString();
}

JunkRoots junkRootsFor(const TelemetrySources &sources, const std::string &home)
{
    JunkRoots roots;
    roots.home = home;
    roots.tmp = sources.tmpPath;
    roots.crash = sources.crashPath;
    roots.uid = static_cast<unsigned>(::getuid());
    return roots;
}
}

SystemStatsProvider::SystemStatsProvider(Preferences &preferences, TelemetrySources sources, Polling polling,
                                         QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_draw([this](double low, double high) { return uniform(low, high); })
    , m_sysRoot(sources.sysRoot)
    , m_procRoot(sources.procRoot)
    , m_etcRoot(sources.etcRoot)
    , m_homePath(homeDirectory(sources.homePath))
    , m_cpuReader(sources.procRoot)
    , m_frequencyReader(sources.sysRoot)
    , m_memReader(sources.procRoot, sources.sysRoot)
    , m_netReader(sources.procRoot)
    , m_diskStatsReader(sources.procRoot, sources.sysRoot)
    , m_homeUsage(sources.homeUsage ? sources.homeUsage : [fs = FileSystemStats(m_homePath)] { return fs.read(); })
    , m_cpuHistory(kHistoryLength, 0.0)
    , m_pagingMonitor(sources.procRoot, sources.pagingIntervalMs)
    , m_powerMeter(sources.sysRoot)
    , m_accelerators(sources.sysRoot, sources.accelerators, sources.nvmlLibrary)
    , m_npu(m_accelerators.npuBusyTimePath(), std::move(sources.steadyMicroseconds))
    , m_sensors(sources.sysRoot, sources.procRoot, sources.nvmlLibrary)
    , m_battery(sources.sysRoot)
    , m_addresses(sources.procRoot, std::move(sources.interfaceAddresses), sources.publicAddressUrl,
                  {[this](const QString &address) { assign(m_localIP, address, &SystemStatsProvider::localIPChanged); },
                   [this](bool ok, const QString &address) {
                       if (ok)
                           assign(m_publicIP, address, &SystemStatsProvider::publicIPChanged);
                       Q_EMIT publicIPFetched(ok);
                   }})
    , m_connections(sources.procRoot, [this](const QList<ActiveConnection> &rows) {
        assign(m_activeConnections, rows, &SystemStatsProvider::activeConnectionsChanged);
        Q_EMIT connectionsScanned();
    })
    , m_hub(QFile::decodeName(QByteArray::fromStdString(m_homePath)),
            {[this](double shownGB) {
                 assign(m_huggingFaceCacheSizeInGB, shownGB, &SystemStatsProvider::huggingFaceCacheSizeInGBChanged);
                 Q_EMIT huggingFaceCacheSizeMeasured();
             },
             [this](double freedGB, double shownGB) { onHubPurged(freedGB, shownGB); }})
    , m_maintenance({sources.memoryPurgeHelper, sources.pkexecPath, sources.elevateMemoryPurge},
                    junkRootsFor(sources, m_homePath), [this] { return m_memReader.read().available; },
                    {[this](bool done, double gainedGB, const QString &message) { onMemoryPurged(done, gainedGB, message); },
                     [this](bool cleaned, double freedGB, double foundGB) { onJunkDone(cleaned, freedGB, foundGB); }})
{
    // The singleton is never destroyed, so fans forced to full duty are handed back here.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { m_sensors.releaseFans(); });

    m_lowPowerMode = std::make_unique<LowPowerMode>(
        sources.powerProfilesBus,
        LowPowerMode::Sinks{
            [this](bool available) {
                assign(m_lowPowerModeAvailable, available, &SystemStatsProvider::lowPowerModeAvailableChanged);
            },
            [this](bool enabled) {
                assign(m_isLowPowerModeEnabled, enabled, &SystemStatsProvider::isLowPowerModeEnabledChanged);
            },
            [this](const QString &error) {
                // The switch shows what the daemon has, not what was asked for.
                Q_EMIT isLowPowerModeEnabledChanged();
                Q_EMIT lowPowerModeFailed(error);
            }});

    determineCoreCounts();
    if (polling == Polling::Start)
        startPolling();
}

// Out of line: LowPowerMode is only declared in the header. The helpers wait for their
// own workers as they go.
SystemStatsProvider::~SystemStatsProvider() = default;

void SystemStatsProvider::determineCoreCounts()
{
    const CpuTopology topology = CpuTopologyReader(m_sysRoot, m_procRoot).read();
    m_isEfficiencyCpu.clear();
    if (topology.cpuCount <= 0) {
        // Nothing says how many CPUs there are: assume four of each, efficiency first.
        m_eCoreCount = 4;
        m_pCoreCount = 4;
        m_isEfficiencyCpu.assign(4, 1);
        return;
    }
    m_eCoreCount = static_cast<int>(topology.efficiencyCpus.size());
    m_pCoreCount = static_cast<int>(topology.performanceCpus.size());
    for (int cpu : topology.efficiencyCpus) {
        if (static_cast<size_t>(cpu) >= m_isEfficiencyCpu.size())
            m_isEfficiencyCpu.resize(cpu + 1, 0);
        m_isEfficiencyCpu[cpu] = 1;
    }
}

void SystemStatsProvider::startPolling()
{
    // A precise timer keeps ticks a second apart, which the per-tick rates rely on.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &SystemStatsProvider::updateStats);
    m_timer.start();
}

double SystemStatsProvider::uniform(double low, double high) const
{
    if (m_uniform)
        return m_uniform(low, high);
    const double unit = QRandomGenerator::global()->generate() / double(std::numeric_limits<quint32>::max());
    return low + (high - low) * unit;
}

void SystemStatsProvider::updateStats()
{
    const double efficiencyBefore = efficiencyRatio();

    updateCPU();
    if (updateMemory()) {
        m_memoryPressureHistory.append(m_memoryPressure);
        if (m_memoryPressureHistory.size() > kMemoryPressureHistoryLength)
            m_memoryPressureHistory.removeFirst();
        Q_EMIT memoryPressureHistoryChanged();
    }
    assign(m_paging, m_pagingMonitor.sample(), &SystemStatsProvider::pagingChanged);
    updateNetwork();
    updateSensors();
    updateBattery();
    updateDisk();
    m_addresses.poll();
    m_connections.poll();
    updateEstimates();
    recordHistories();

    const qint64 cores = m_accelerators.gpuCoreCount().value_or(static_cast<qint64>(m_eCoreCount + m_pCoreCount) * 2);
    assign(m_gpuCoreCount, cores < 1 ? qint64(16) : cores, &SystemStatsProvider::gpuCoreCountChanged);
    assign(m_gpuCoreCountMeasured, m_accelerators.gpuCoreCount().has_value(), &SystemStatsProvider::gpuCoreCountMeasuredChanged);

    m_cpuAlert.check(m_cpuUsage, m_preferences.cpuAlertThreshold());

    if (efficiencyRatio() != efficiencyBefore)
        Q_EMIT efficiencyRatioChanged();
    Q_EMIT sampled();
}

QList<bool> SystemStatsProvider::efficiencyCores() const
{
    QList<bool> flags;
    const qsizetype cores = std::max<qsizetype>(m_perCoreUsage.size(), static_cast<qsizetype>(m_isEfficiencyCpu.size()));
    for (qsizetype i = 0; i < cores; ++i)
        flags.append(static_cast<size_t>(i) < m_isEfficiencyCpu.size() && m_isEfficiencyCpu[static_cast<size_t>(i)]);
    return flags;
}

void SystemStatsProvider::updateCPU()
{
    if (m_frequencyReader.reportingCpus() > 0)
        assign(m_cpuFrequencyGHz, std::round(m_frequencyReader.meanGHz() * 100.0) / 100.0,
               &SystemStatsProvider::cpuFrequencyGHzChanged);
    if (!m_cpuReader.read(m_currentTicks))
        return;

    if (m_cpuPrimed) {
        double efficiencySum = 0, performanceSum = 0, userSum = 0, systemSum = 0;
        QList<double> perCore;
        perCore.reserve(static_cast<qsizetype>(m_currentTicks.size()));
        size_t hint = 0;
        for (const CpuTicks &now : m_currentTicks) {
            // Both arrays are in CPU order, so the match is almost always at the hint.
            const CpuTicks *before = nullptr;
            if (hint < m_previousTicks.size() && m_previousTicks[hint].id == now.id) {
                before = &m_previousTicks[hint];
            } else {
                const auto it = std::find_if(m_previousTicks.begin(), m_previousTicks.end(),
                                             [&](const CpuTicks &t) { return t.id == now.id; });
                if (it != m_previousTicks.end()) {
                    before = &*it;
                    hint = static_cast<size_t>(it - m_previousTicks.begin());
                }
            }
            ++hint;

            double load = 0;   // a CPU that just came online has no interval yet
            if (before) {
                const CpuLoadDelta d = CpuTimesReader::delta(*before, now);
                const double total = static_cast<double>(std::max<std::uint64_t>(d.busy + d.idle, 1));
                load = static_cast<double>(d.busy) / total;
                userSum += static_cast<double>(d.user) / total;
                systemSum += static_cast<double>(d.system) / total;
            }
            const bool efficiency = static_cast<size_t>(now.id) < m_isEfficiencyCpu.size() && m_isEfficiencyCpu[now.id];
            (efficiency ? efficiencySum : performanceSum) += load;
            perCore.append(load * 100.0);
        }

        const double n = static_cast<double>(m_currentTicks.size());
        assign(m_eClusterUsage, efficiencySum / std::max(m_eCoreCount, 1) * 100.0, &SystemStatsProvider::eClusterUsageChanged);
        assign(m_pClusterUsage, performanceSum / std::max(m_pCoreCount, 1) * 100.0, &SystemStatsProvider::pClusterUsageChanged);
        assign(m_cpuUsage, (efficiencySum + performanceSum) / n * 100.0, &SystemStatsProvider::cpuUsageChanged);
        assign(m_cpuUserUsage, userSum / n * 100.0, &SystemStatsProvider::cpuUserUsageChanged);
        assign(m_cpuSystemUsage, systemSum / n * 100.0, &SystemStatsProvider::cpuSystemUsageChanged);
        assign(m_perCoreUsage, perCore, &SystemStatsProvider::perCoreUsageChanged);

        m_cpuHistory.removeFirst();
        m_cpuHistory.append(m_cpuUsage);
        Q_EMIT cpuHistoryChanged();

        const double b = m_preferences.baselineCpuUsage();
        m_preferences.setBaselineCpuUsage(b == 0 ? m_cpuUsage : b * 0.999 + m_cpuUsage * 0.001);
        // Sensors are read after the CPU, so this averages the previous tick's temperature.
        const double t = m_preferences.baselineTemp();
        m_preferences.setBaselineTemp(t == 0 ? m_socTemperature : t * 0.999 + m_socTemperature * 0.001);
    }

    std::swap(m_previousTicks, m_currentTicks);
    m_cpuPrimed = true;
}

bool SystemStatsProvider::updateMemory()
{
    const MemInfo info = m_memReader.read();
    if (info.valid) {
        const std::int64_t inUse = static_cast<std::int64_t>(info.total) - static_cast<std::int64_t>(info.available);
        const std::int64_t app = std::max<std::int64_t>(
            inUse - static_cast<std::int64_t>(info.wired) - static_cast<std::int64_t>(info.compressed), 0);

        const double wired = toGB(info.wired);
        const double appGB = toGB(static_cast<std::uint64_t>(app));
        const double compressed = toGB(info.compressed);
        const double total = toGB(info.total);
        const double used = wired + appGB + compressed;
        const double pressure = total > 0 ? used / total * 100.0 : 0.0;

        assign(m_memoryWired, wired, &SystemStatsProvider::memoryWiredChanged);
        assign(m_memoryApp, appGB, &SystemStatsProvider::memoryAppChanged);
        assign(m_memoryCompressed, compressed, &SystemStatsProvider::memoryCompressedChanged);
        assign(m_memoryTotal, total, &SystemStatsProvider::memoryTotalChanged);
        assign(m_memoryUsed, used, &SystemStatsProvider::memoryUsedChanged);
        assign(m_memoryPressure, pressure, &SystemStatsProvider::memoryPressureChanged);
        assign(m_memoryKernel, toGB(info.kernel), &SystemStatsProvider::memoryKernelChanged);

        qint64 loadedBytes = 0;
        if (m_loadedModelSizes)
            for (qint64 size : m_loadedModelSizes())
                loadedBytes += std::max<qint64>(size, 0);
        const double aiTotal = total * 0.75;
        const double aiUsed = static_cast<double>(loadedBytes) / kBytesPerGB;
        assign(m_aiVramTotal, aiTotal, &SystemStatsProvider::aiVramTotalChanged);
        assign(m_aiVramUsed, aiUsed, &SystemStatsProvider::aiVramUsedChanged);
        assign(m_hostVramSplitAlert, pressure > 85.0 || aiUsed / std::max(aiTotal, 1.0) > 0.9,
               &SystemStatsProvider::hostVramSplitAlertChanged);
    }
    if (info.swapValid) {
        const std::uint64_t swapUsed = info.swapTotal > info.swapFree ? info.swapTotal - info.swapFree : 0;
        assign(m_memorySwap, toGB(swapUsed), &SystemStatsProvider::memorySwapChanged);
        assign(m_memorySwapTotal, toGB(info.swapTotal), &SystemStatsProvider::memorySwapTotalChanged);
    }
    return info.valid;
}

void SystemStatsProvider::updateNetwork()
{
    const std::optional<NetTotals> totals = m_netReader.read();
    if (!totals)
        return;
    if (m_lastNetworkStats) {
        // A total below the last one means an interface went away or was reset: that tick
        // reads 0 and the new totals become the reference.
        auto rate = [](std::uint64_t now, std::uint64_t before) {
            return now >= before ? static_cast<double>(now - before) / 1024.0 : 0.0;
        };
        assign(m_networkDownload, rate(totals->received, m_lastNetworkStats->down), &SystemStatsProvider::networkDownloadChanged);
        assign(m_networkUpload, rate(totals->sent, m_lastNetworkStats->up), &SystemStatsProvider::networkUploadChanged);
    }
    m_lastNetworkStats = NetworkPair{totals->sent, totals->received};
}

void SystemStatsProvider::updateDiskUsage()
{
    // The total is the user's share, as df's Use% counts it, so used / total and
    // total - used (what the user can still write) come out as df shows them.
    if (const std::optional<FileSystemUsage> usage = m_homeUsage()) {
        assign(m_diskTotal, toGB(usage->userCapacityBytes()), &SystemStatsProvider::diskTotalChanged);
        assign(m_diskUsed, toGB(usage->usedBytes), &SystemStatsProvider::diskUsedChanged);
    }
}

void SystemStatsProvider::updateDisk()
{
    updateDiskUsage();
    m_hub.poll();

    const std::optional<DiskTotals> totals = m_diskStatsReader.read();
    assign(m_diskThroughputMeasured, totals.has_value(), &SystemStatsProvider::diskThroughputMeasuredChanged);
    if (!totals) {
        // Without the kernel's counters the panel still moves, and says it is an estimate.
        m_lastDiskTotals.reset();
        assign(m_diskRead, uniform(0.1, 5.0), &SystemStatsProvider::diskReadChanged);
        assign(m_diskWrite, uniform(0.1, 2.0), &SystemStatsProvider::diskWriteChanged);
        return;
    }
    if (m_lastDiskTotals) {
        auto rate = [](std::uint64_t now, std::uint64_t before) {
            return now >= before ? static_cast<double>(now - before) / kBytesPerMB : 0.0;
        };
        assign(m_diskRead, rate(totals->bytesRead, m_lastDiskTotals->bytesRead), &SystemStatsProvider::diskReadChanged);
        assign(m_diskWrite, rate(totals->bytesWritten, m_lastDiskTotals->bytesWritten), &SystemStatsProvider::diskWriteChanged);
    }
    m_lastDiskTotals = totals;
}

void SystemStatsProvider::updateEstimates()
{
    // Most machines have no NPU, or one whose driver keeps no busy counter, and most GPUs
    // report no load either, so those panels show estimates that follow whether a model is
    // loaded. An NPU or GPU whose driver reports its load keeps the measured figure.
    const bool modelsLoaded = m_loadedModelSizes && !m_loadedModelSizes().isEmpty();
    double ane = 0, anePower = 0, gpu = 0;
    if (!modelsLoaded) {
        ane = uniform(0.0, 0.5);
        anePower = 0.02;
        gpu = uniform(0.5, 2.5);
    } else if (!m_isLowPowerModeEnabled) {
        ane = uniform(35.0, 75.0);
        anePower = uniform(2.1, 4.8);
        gpu = uniform(25.0, 65.0);
    } else {
        ane = uniform(15.0, 35.0);
        anePower = std::max(uniform(2.1, 4.8) / 3.0, 0.5);
        gpu = uniform(10.0, 25.0);
    }
    const std::optional<double> npuBusy = m_npu.sample();
    assign(m_aneUsageMeasured, npuBusy.has_value(), &SystemStatsProvider::aneUsageMeasuredChanged);
    assign(m_aneUsage, npuBusy.value_or(ane), &SystemStatsProvider::aneUsageChanged);
    assign(m_anePowerDraw, anePower, &SystemStatsProvider::anePowerDrawChanged);
    if (!m_gpuUsageMeasured)
        assign(m_gpuUsage, gpu, &SystemStatsProvider::gpuUsageChanged);
}

// ---- Sensors and battery -----------------------------------------------------------------

void SystemStatsProvider::updateSensors()
{
    const SensorReading r = m_sensors.sample(m_socTemperature, m_forceTurboCooling, m_draw);
    if (r.socTemperature)
        assign(m_socTemperature, *r.socTemperature, &SystemStatsProvider::socTemperatureChanged);
    assign(m_gpuTemperature, r.gpuTemperature, &SystemStatsProvider::gpuTemperatureChanged);
    assign(m_ssdTemperature, r.ssdTemperature, &SystemStatsProvider::ssdTemperatureChanged);
    assign(m_throttlingStatus, r.throttling, &SystemStatsProvider::throttlingStatusChanged);
    const bool sources[] = {r.socTemperature.has_value(), r.gpuTemperatureMeasured, r.ssdTemperatureMeasured};
    bool *const fields[] = {&m_socTemperatureMeasured, &m_gpuTemperatureMeasured, &m_ssdTemperatureMeasured};
    bool sourcesChanged = false;
    for (int i = 0; i < 3; ++i)
        sourcesChanged |= std::exchange(*fields[i], sources[i]) != sources[i];
    if (sourcesChanged)
        Q_EMIT temperatureSourcesChanged();

    assign(m_gpuUsageMeasured, r.gpu.usagePercent.has_value(), &SystemStatsProvider::gpuUsageMeasuredChanged);
    if (r.gpu.usagePercent)
        assign(m_gpuUsage, *r.gpu.usagePercent, &SystemStatsProvider::gpuUsageChanged);
    assign(m_gpuMemoryUsed, r.gpu.memoryUsed ? toGB(*r.gpu.memoryUsed) : 0.0, &SystemStatsProvider::gpuMemoryUsedChanged);
    assign(m_gpuMemoryTotal, r.gpu.memoryTotal ? toGB(*r.gpu.memoryTotal) : 0.0, &SystemStatsProvider::gpuMemoryTotalChanged);

    assign(m_fanRPMsMeasured, r.fanRPMsMeasured, &SystemStatsProvider::fanRPMsMeasuredChanged);
    assign(m_fanRPMs, r.fanRPMs, &SystemStatsProvider::fanRPMsChanged);
}

void SystemStatsProvider::recordHistories()
{
    // No reading and nothing to estimate from is a gap in the chart, not a 0 °C or 0 RPM.
    constexpr double noReading = std::numeric_limits<double>::quiet_NaN();
    const bool temperatureKnown = m_socTemperatureMeasured || m_socTemperature > 0;
    m_temperatureHistory.append(temperatureKnown ? m_socTemperature : noReading);
    // Without a tachometer the fan figure is read off the temperature (or the forced duty);
    // with neither it is nothing.
    const bool fanKnown = !m_fanRPMs.isEmpty() && (m_fanRPMsMeasured || temperatureKnown || m_forceTurboCooling);
    m_fanHistory.append(fanKnown ? *std::max_element(m_fanRPMs.begin(), m_fanRPMs.end()) : noReading);
    m_uploadHistory.append(m_networkUpload);
    m_downloadHistory.append(m_networkDownload);
    Q_EMIT historiesChanged();
}

void SystemStatsProvider::setForceTurboCooling(bool on)
{
    const bool wasAvailable = m_sensors.fanControlAvailable();
    if (on && m_sensors.findFanControl() != wasAvailable)
        Q_EMIT turboCoolingAvailableChanged();   // outputs found since start-up
    if (on && !m_sensors.fanControlAvailable()) {
        // Nothing can drive the fans: the switch stays off rather than claim they spin.
        Q_EMIT turboCoolingAvailableChanged();
        Q_EMIT forceTurboCoolingChanged();
        return;
    }
    assign(m_forceTurboCooling, on, &SystemStatsProvider::forceTurboCoolingChanged);
    // Switching on takes effect at once; off, the next tick decides whether a build still
    // holds the fans.
    if (on)
        m_sensors.applyFanControl(true);
}

void SystemStatsProvider::updateBattery()
{
    const std::vector<PowerSupply> supplies = m_battery.supplies();
    const std::optional<BatteryInfo> info = BatteryMonitor::infoFrom(supplies);
    assign(m_hasBattery, info.has_value(), &SystemStatsProvider::hasBatteryChanged);
    // The draw is what a discharging battery or the RAPL counters measure, else 0 and
    // marked unmeasured: a charging battery's figure is what goes into it.
    const PowerFigure power = m_powerMeter.sample(supplies);
    assign(m_powerDraw, power.watts, &SystemStatsProvider::powerDrawChanged);
    assign(m_power, power, &SystemStatsProvider::powerDrawMeasuredChanged);
    if (!info)
        return;
    assign(m_batteryPercentage, static_cast<int>(info->percentage), &SystemStatsProvider::batteryPercentageChanged);
    assign(m_batteryIsCharging, info->isCharging, &SystemStatsProvider::batteryIsChargingChanged);
    assign(m_batteryTimeToEmpty, static_cast<int>(info->timeToEmpty), &SystemStatsProvider::batteryTimeToEmptyChanged);
    assign(m_isUnplugged, info->isUnplugged, &SystemStatsProvider::isUnpluggedChanged);
}

// ---- Connections, power profile ----------------------------------------------------------

void SystemStatsProvider::killConnectionProcess(const QString &pid)
{
    m_connections.killOwner(pid);
}

void SystemStatsProvider::setIsLowPowerModeEnabled(bool on)
{
    if (on == m_isLowPowerModeEnabled)
        return;
    m_lowPowerMode->request(on);
}

// ---- Machine description -----------------------------------------------------------------

MachineHardwareInfo SystemStatsProvider::getHardwareInfo() const
{
    const MachineInfoReader reader(m_sysRoot, m_procRoot, m_etcRoot);
    MachineHardwareInfo info;
    info.modelIdentifier = QString::fromStdString(reader.modelIdentifier());
    info.modelName = MachineHardwareInfo::modelNameFor(info.modelIdentifier);
    const QString brand = QString::fromStdString(reader.processorName()).trimmed();
    info.processor = brand.isEmpty() ? QStringLiteral("Unknown processor") : brand;
    info.physicalMemoryGB = toGB(MemInfoReader(m_procRoot, m_sysRoot).read().total);
    info.cpuCores = CpuTopologyReader(m_sysRoot, m_procRoot).read().cpuCount;
    // The counts the topology gave: a machine whose cores are all alike has no efficiency
    // cores, and saying it has four would describe some other machine.
    info.performanceCores = std::max(m_pCoreCount, 0);
    info.efficiencyCores = std::max(m_eCoreCount, 0);
    info.gpuCores = static_cast<int>(m_gpuCoreCount);
    info.neuralEngine = MachineHardwareInfo::neuralEngineFor(brand);
    info.memoryBandwidth = MachineHardwareInfo::memoryBandwidthFor(brand);
    const QString os = QString::fromStdString(reader.osPrettyName());
    const QString kernel = QString::fromStdString(reader.kernelRelease());
    info.osVersion = os.isEmpty() ? QStringLiteral("Linux") : os;
    if (!kernel.isEmpty())
        info.osVersion += QStringLiteral(", kernel ") + kernel;
    info.serialNumber = MachineHardwareInfo::serialNumberFor(info.modelIdentifier);
    m_accelerators.describe(info);
    return info;
}

// ---- Maintenance -------------------------------------------------------------------------

QString SystemStatsProvider::exportHistoryToCSV()
{
    return MaintenanceActions::exportHistory(m_cpuHistory);
}

void SystemStatsProvider::optimizeMemory()
{
    if (m_isOptimizingMemory)
        return;
    assign(m_isOptimizingMemory, true, &SystemStatsProvider::isOptimizingMemoryChanged);
    m_maintenance.purgeMemory();
}

void SystemStatsProvider::onMemoryPurged(bool done, double gainedGB, const QString &message)
{
    if (done) {
        assign(m_optimizedMemoryReleased, gainedGB, &SystemStatsProvider::optimizedMemoryReleasedChanged);
        m_memoryOptimizationError.clear();
    } else {
        m_memoryOptimizationError = message;
    }
    updateMemory();
    assign(m_isOptimizingMemory, false, &SystemStatsProvider::isOptimizingMemoryChanged);
    Q_EMIT memoryOptimizationFinished(done);
}

void SystemStatsProvider::scanJunk()
{
    if (m_maintenance.junkBusy())
        return;
    assign(m_isScanningJunk, true, &SystemStatsProvider::isScanningJunkChanged);
    m_maintenance.scanJunk();
}

void SystemStatsProvider::cleanJunkFiles()
{
    if (m_maintenance.junkBusy() || !m_maintenance.hasJunkScan())
        return;
    assign(m_isCleaningJunk, true, &SystemStatsProvider::isCleaningJunkChanged);
    m_maintenance.cleanJunk();
}

void SystemStatsProvider::onJunkDone(bool cleaned, double freedGB, double foundGB)
{
    assign(m_junkFoundInGB, foundGB, &SystemStatsProvider::junkFoundInGBChanged);
    if (cleaned) {
        assign(m_cleanedJunkTotal, m_cleanedJunkTotal + freedGB, &SystemStatsProvider::cleanedJunkTotalChanged);
        updateDiskUsage();
        assign(m_isCleaningJunk, false, &SystemStatsProvider::isCleaningJunkChanged);
        Q_EMIT junkCleanFinished(freedGB);
    } else {
        assign(m_isScanningJunk, false, &SystemStatsProvider::isScanningJunkChanged);
        Q_EMIT junkScanFinished();
    }
}

void SystemStatsProvider::refreshHuggingFaceCacheSize()
{
    m_hub.refresh();
}

void SystemStatsProvider::setShowsDemoHubFigure(bool shown)
{
    assign(m_huggingFaceCacheSizeInGB, m_hub.setShowsDemoFigure(shown), &SystemStatsProvider::huggingFaceCacheSizeInGBChanged);
}

void SystemStatsProvider::purgeHuggingFaceCache()
{
    if (m_hub.purging())
        return;
    assign(m_isPurgingHuggingFaceCache, true, &SystemStatsProvider::isPurgingHuggingFaceCacheChanged);
    m_hub.purge();
}

void SystemStatsProvider::onHubPurged(double freedGB, double shownGB)
{
    assign(m_cleanedJunkTotal, m_cleanedJunkTotal + freedGB, &SystemStatsProvider::cleanedJunkTotalChanged);
    assign(m_huggingFaceCacheSizeInGB, shownGB, &SystemStatsProvider::huggingFaceCacheSizeInGBChanged);
    updateDiskUsage();
    assign(m_isPurgingHuggingFaceCache, false, &SystemStatsProvider::isPurgingHuggingFaceCacheChanged);
    Q_EMIT huggingFaceCachePurged(freedGB);
}

double SystemStatsProvider::baselineCpuUsage() const
{
    return m_preferences.baselineCpuUsage();
}

double SystemStatsProvider::baselineTemp() const
{
    return m_preferences.baselineTemp();
}

#include "SystemStatsProvider.h"

#include "HIDMonitor.h"
#include "app/QmlRecords.h"
#include "app/Preferences.h"
#include "platform/CpuTopologyReader.h"
#include "platform/DesktopNotifier.h"
#include "platform/MachineInfoReader.h"
#include "platform/MemoryPurger.h"
#include "platform/PowerProfilesClient.h"
#include "platform/ProcessControl.h"
#include "platform/ProcessTableReader.h"

#include <QDir>
#include <QFile>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <unistd.h>

namespace {
constexpr double kBytesPerGB = 1073741824.0;
constexpr double kBytesPerMB = 1048576.0;

double toGB(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / kBytesPerGB;
}

constexpr qint64 kHubWalkIntervalMs = 10000;
constexpr qint64 kPublicIPRefreshMs = 60000;
constexpr qint64 kPublicIPRetryMs = 10000;
constexpr int kPublicIPTimeoutMs = 10000;

std::string homeDirectory(const std::string &configured)
{
    if (!configured.empty())
        return configured;
    return QFile::encodeName(QDir::homePath()).toStdString();
}
}

SystemStatsProvider::SystemStatsProvider(Preferences &preferences, TelemetrySources sources, Polling polling,
                                         QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_cpuReader(sources.procRoot)
    , m_frequencyReader(sources.sysRoot)
    , m_memReader(sources.procRoot, sources.sysRoot)
    , m_netReader(sources.procRoot)
    , m_diskStatsReader(sources.procRoot, sources.sysRoot)
    , m_homeFileSystem(homeDirectory(sources.homePath))
    , m_homePath(homeDirectory(sources.homePath))
    , m_sysRoot(sources.sysRoot)
    , m_procRoot(sources.procRoot)
    , m_hidMonitor(std::make_unique<HIDMonitor>(sources.sysRoot, sources.nvmlLibrary))
    , m_fanControl(sources.sysRoot)
    , m_powerSupplies(sources.sysRoot)
    , m_addressReader(sources.procRoot)
    , m_socketReader(sources.procRoot)
    , m_cpuHistory(kHistoryLength, 0.0)
{
    m_sources = std::move(sources);
    m_junkRoots.home = m_homePath;
    m_junkRoots.tmp = m_sources.tmpPath;
    m_junkRoots.crash = m_sources.crashPath;
    m_junkRoots.uid = static_cast<unsigned>(::getuid());

    connect(&m_hubSizeWatcher, &QFutureWatcher<std::uint64_t>::finished, this, [this] {
        // A walk that began before a purge measured what the purge has since deleted.
        if (m_walkGeneration != m_hubGeneration)
            return;
        m_sinceHubWalk.start();
        publishHubFigure(toGB(m_hubSizeWatcher.result()));
        Q_EMIT huggingFaceCacheSizeMeasured();
    });
    connect(&m_hubPurgeWatcher, &QFutureWatcher<PurgeOutcome>::finished, this, [this] {
        const PurgeOutcome outcome = m_hubPurgeWatcher.result();
        const double freed = toGB(outcome.freed);
        assign(m_cleanedJunkTotal, m_cleanedJunkTotal + freed, &SystemStatsProvider::cleanedJunkTotalChanged);
        m_sinceHubWalk.start();
        publishHubFigure(toGB(outcome.remaining));
        updateDiskUsage();
        assign(m_isPurgingHuggingFaceCache, false, &SystemStatsProvider::isPurgingHuggingFaceCacheChanged);
        Q_EMIT huggingFaceCachePurged(freed);
    });
    connect(&m_junkWatcher, &QFutureWatcher<JunkOutcome>::finished, this, [this] {
        JunkOutcome outcome = m_junkWatcher.result();
        const bool cleaned = m_isCleaningJunk;
        const double freed = toGB(outcome.freed);
        assign(m_junkFoundInGB, toGB(outcome.scan.bytes), &SystemStatsProvider::junkFoundInGBChanged);
        m_lastJunkScan = std::move(outcome.scan);
        if (cleaned) {
            assign(m_cleanedJunkTotal, m_cleanedJunkTotal + freed, &SystemStatsProvider::cleanedJunkTotalChanged);
            updateDiskUsage();
            assign(m_isCleaningJunk, false, &SystemStatsProvider::isCleaningJunkChanged);
            Q_EMIT junkCleanFinished(freed);
        } else {
            assign(m_isScanningJunk, false, &SystemStatsProvider::isScanningJunkChanged);
            Q_EMIT junkScanFinished();
        }
    });

    connect(&m_connectionWatcher, &QFutureWatcher<ConnectionScan>::finished, this, [this] {
        ConnectionScan scan = m_connectionWatcher.result();
        m_connectionOwners = std::move(scan.owners);
        m_unplacedSockets = std::move(scan.unplaced);
        if (scan.rows.isEmpty())
            scan.rows.append(placeholderConnection());
        assign(m_activeConnections, scan.rows, &SystemStatsProvider::activeConnectionsChanged);
        Q_EMIT connectionsScanned();
        if (m_connectionRescanPending) {
            m_connectionRescanPending = false;
            startConnectionScan();
        }
    });

    m_fanControl.refresh();
    // The singleton is never destroyed, so fans forced to full duty are handed back here.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { m_fanControl.release(); });

    if (m_sources.powerProfilesBus) {
        m_powerProfiles = std::make_unique<PowerProfilesClient>(*m_sources.powerProfilesBus);
        connect(m_powerProfiles.get(), &PowerProfilesClient::probed, this, [this](bool available) {
            assign(m_lowPowerModeAvailable, available, &SystemStatsProvider::lowPowerModeAvailableChanged);
            if (available)
                setLowPowerFromProfile(m_powerProfiles->activeProfile());
        });
        connect(m_powerProfiles.get(), &PowerProfilesClient::activeProfileChanged, this,
                &SystemStatsProvider::setLowPowerFromProfile);
        connect(m_powerProfiles.get(), &PowerProfilesClient::profileSet, this, [this](bool ok, const QString &error) {
            if (ok)
                return;
            std::printf("Failed to switch the power profile: %s\n", qPrintable(error));
            std::fflush(stdout);
            // The switch shows what the daemon has, not what was asked for.
            Q_EMIT isLowPowerModeEnabledChanged();
            Q_EMIT lowPowerModeFailed(error);
        });
        m_powerProfiles->probe();
    }

    determineCoreCounts();
    if (polling == Polling::Start)
        startPolling();
}

SystemStatsProvider::~SystemStatsProvider()
{
    // The workers only touch the file system, but their results land on this object.
    m_hubSizeWatcher.waitForFinished();
    m_hubPurgeWatcher.waitForFinished();
    m_junkWatcher.waitForFinished();
    m_connectionWatcher.waitForFinished();
}

TelemetrySources TelemetrySources::forThisMachine()
{
    TelemetrySources sources;
    sources.publicAddressUrl = QUrl(QStringLiteral("https://api.ipify.org"));
    sources.powerProfilesBus = QDBusConnection::systemBus();
    sources.nvmlLibrary = "libnvidia-ml.so.1";
    return sources;
}

SystemStatsProvider &SystemStatsProvider::shared()
{
    static SystemStatsProvider *instance = new SystemStatsProvider(Preferences::shared(), TelemetrySources::forThisMachine());
    return *instance;
}

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
    m_timer.setInterval(1000);
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
    updateMemory();
    updateNetwork();
    updateSensors();
    updateBattery();
    updateDisk();
    updateIPs();
    updateConnections();
    updateEstimates();

    const qint64 cores = static_cast<qint64>(m_eCoreCount + m_pCoreCount) * 2;
    assign(m_gpuCoreCount, cores < 1 ? qint64(16) : cores, &SystemStatsProvider::gpuCoreCountChanged);

    checkCPUAlerts();

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
        double efficiencySum = 0;
        double performanceSum = 0;
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
                const std::uint64_t total = d.busy + d.idle;
                load = static_cast<double>(d.busy) / static_cast<double>(total == 0 ? 1 : total);
            }
            const bool efficiency = static_cast<size_t>(now.id) < m_isEfficiencyCpu.size() && m_isEfficiencyCpu[now.id];
            (efficiency ? efficiencySum : performanceSum) += load;
            perCore.append(load * 100.0);
        }

        const double n = static_cast<double>(m_currentTicks.size());
        assign(m_eClusterUsage, efficiencySum / std::max(m_eCoreCount, 1) * 100.0, &SystemStatsProvider::eClusterUsageChanged);
        assign(m_pClusterUsage, performanceSum / std::max(m_pCoreCount, 1) * 100.0, &SystemStatsProvider::pClusterUsageChanged);
        assign(m_cpuUsage, (efficiencySum + performanceSum) / n * 100.0, &SystemStatsProvider::cpuUsageChanged);
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

void SystemStatsProvider::updateMemory()
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
    }
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
    if (const std::optional<FileSystemUsage> usage = m_homeFileSystem.read()) {
        assign(m_diskTotal, toGB(usage->totalBytes), &SystemStatsProvider::diskTotalChanged);
        assign(m_diskUsed, toGB(usage->usedBytes), &SystemStatsProvider::diskUsedChanged);
    }
}

void SystemStatsProvider::updateDisk()
{
    updateDiskUsage();
    updateHuggingFaceCacheSize();

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
    // No counter of the neural engine's load exists, and most GPUs expose none either, so
    // those panels show estimates that follow whether a model is loaded. A GPU whose
    // driver reports its load keeps the measured figure (updateSensors).
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
    assign(m_aneUsage, ane, &SystemStatsProvider::aneUsageChanged);
    assign(m_anePowerDraw, anePower, &SystemStatsProvider::anePowerDrawChanged);
    if (!m_gpuUsageMeasured)
        assign(m_gpuUsage, gpu, &SystemStatsProvider::gpuUsageChanged);
}

// ---- Sensors and fans -------------------------------------------------------------------

void SystemStatsProvider::updateSensors()
{
    m_hidMonitor->refresh();
    if (const std::optional<double> soc = m_hidMonitor->readTemperature(QStringLiteral("Tp09")))
        assign(m_socTemperature, *soc, &SystemStatsProvider::socTemperatureChanged);
    const std::optional<double> gpu = m_hidMonitor->readTemperature(QStringLiteral("Tg05"));
    assign(m_gpuTemperature, gpu ? *gpu : m_socTemperature * 0.9 + uniform(-2.0, 2.0),
           &SystemStatsProvider::gpuTemperatureChanged);
    const std::optional<double> ssd = m_hidMonitor->readTemperature(QStringLiteral("Ts01"));
    assign(m_ssdTemperature, ssd ? *ssd : 35.0 + uniform(-1.0, 3.0), &SystemStatsProvider::ssdTemperatureChanged);

    // The kernel counts throttle events per CPU where it can; the share of CPUs that
    // throttled since the last tick beats guessing from the temperature.
    const std::vector<std::uint64_t> counts = m_hidMonitor->readThrottleCounts();
    double throttling = 0;
    if (!counts.empty()) {
        if (counts.size() == m_lastThrottleCounts.size()) {
            size_t rising = 0;
            for (size_t i = 0; i < counts.size(); ++i)
                rising += counts[i] > m_lastThrottleCounts[i];
            throttling = static_cast<double>(rising) / static_cast<double>(counts.size()) * 100.0;
        }
        m_lastThrottleCounts = counts;
    } else if (m_socTemperature > 95) {
        throttling = (m_socTemperature - 95) * 5;
    }
    assign(m_throttlingStatus, throttling, &SystemStatsProvider::throttlingStatusChanged);

    const GpuLoad load = m_hidMonitor->readGpuLoad();
    assign(m_gpuUsageMeasured, load.usagePercent.has_value(), &SystemStatsProvider::gpuUsageMeasuredChanged);
    if (load.usagePercent)
        assign(m_gpuUsage, *load.usagePercent, &SystemStatsProvider::gpuUsageChanged);
    assign(m_gpuMemoryUsed, load.memoryUsed ? toGB(*load.memoryUsed) : 0.0, &SystemStatsProvider::gpuMemoryUsedChanged);
    assign(m_gpuMemoryTotal, load.memoryTotal ? toGB(*load.memoryTotal) : 0.0, &SystemStatsProvider::gpuMemoryTotalChanged);

    // The compiler probe lists every process, so it runs only when its answer matters.
    const bool buildTurbo = m_buildTurbo && m_buildTurbo();
    const bool forced = m_forceTurboCooling || (buildTurbo && isCompilerRunning());
    applyFanControl(forced);

    const std::vector<double> measured = m_hidMonitor->readFanRpms();
    assign(m_fanRPMsMeasured, !measured.empty(), &SystemStatsProvider::fanRPMsMeasuredChanged);
    QList<double> fans;
    if (!measured.empty()) {
        fans = QList<double>(measured.begin(), measured.end());
    } else if (m_fanControl.forced()) {
        // Driven to full duty with no tachometer to read back.
        fans.append(6800 + uniform(-50.0, 50.0));
    } else if (m_socTemperature <= 55) {
        fans.append(0.0);
    } else {
        fans.append(std::min((m_socTemperature - 55) * 120 + 1200, 7200.0));
    }
    assign(m_fanRPMs, fans, &SystemStatsProvider::fanRPMsChanged);
}

void SystemStatsProvider::applyFanControl(bool forced)
{
    if (forced && !m_fanControl.forced()) {
        if (!m_fanControl.force()) {
            std::printf("Failed to drive the fans: no PWM output took full duty\n");
            std::fflush(stdout);
        }
    } else if (!forced && m_fanControl.forced()) {
        m_fanControl.release();
    }
}

const std::vector<std::string> &SystemStatsProvider::compilerSubstrings()
{
    static const std::vector<std::string> names{"swiftc", "rustc", "clang", "xcodebuild", "cargo", "gcc"};
    return names;
}

bool SystemStatsProvider::namesContainCompiler(const std::string &names)
{
    std::string lower(names);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const std::string &needle : compilerSubstrings())
        if (lower.find(needle) != std::string::npos)
            return true;
    return false;
}

bool SystemStatsProvider::isCompilerRunning()
{
    if (m_demoMode && m_demoMode())
        return false;
    if (!m_processReader)
        m_processReader = std::make_unique<ProcessTableReader>(m_procRoot);
    std::vector<ProcessStat> table;
    if (!m_processReader->readAll(table))
        return false;
    std::string names;
    for (const ProcessStat &p : table) {
        names += p.comm;
        names += '\n';
    }
    return namesContainCompiler(names);
}

// ---- Battery -----------------------------------------------------------------------------

std::optional<BatteryInfo> SystemStatsProvider::batteryInfoFrom(const std::vector<PowerSupply> &supplies)
{
    const PowerSupply *battery = PowerSupplyReader::machineBattery(supplies);
    if (!battery)
        return std::nullopt;

    BatteryInfo info;
    info.percentage = PowerSupplyReader::chargePercent(*battery).value_or(0);

    info.isCharging = battery->status == "Charging";

    bool anyExternal = false;
    bool externalOnline = false;
    for (const PowerSupply &s : supplies) {
        if (s.type != "Mains" && s.type.compare(0, 3, "USB") != 0)
            continue;
        anyExternal = true;
        externalOnline = externalOnline || s.online.value_or(false);
    }
    // Some machines list no adapter at all; the battery's own status is all there is.
    info.isUnplugged = anyExternal ? !externalOnline : battery->status == "Discharging";

    if (battery->status == "Discharging") {
        if (battery->energyNow && battery->powerNow && *battery->powerNow != 0)
            info.timeToEmpty = static_cast<qint64>(static_cast<double>(*battery->energyNow) / std::abs(static_cast<double>(*battery->powerNow)) * 60.0);
        else if (battery->chargeNow && battery->currentNow && *battery->currentNow != 0)
            info.timeToEmpty = static_cast<qint64>(static_cast<double>(*battery->chargeNow) / std::abs(static_cast<double>(*battery->currentNow)) * 60.0);
    }

    if (battery->powerNow)
        info.wattage = std::abs(static_cast<double>(*battery->powerNow)) / 1e6;
    else if (battery->voltageNow && battery->currentNow)
        info.wattage = std::abs(static_cast<double>(*battery->voltageNow)) * std::abs(static_cast<double>(*battery->currentNow)) / 1e12;
    return info;
}

std::optional<BatteryInfo> SystemStatsProvider::getBatteryInfo() const
{
    return batteryInfoFrom(m_powerSupplies.read());
}

void SystemStatsProvider::updateBattery()
{
    const std::optional<BatteryInfo> info = getBatteryInfo();
    if (!info)
        return;
    assign(m_batteryPercentage, static_cast<int>(info->percentage), &SystemStatsProvider::batteryPercentageChanged);
    assign(m_batteryIsCharging, info->isCharging, &SystemStatsProvider::batteryIsChargingChanged);
    assign(m_batteryTimeToEmpty, static_cast<int>(info->timeToEmpty), &SystemStatsProvider::batteryTimeToEmptyChanged);
    assign(m_powerDraw, info->wattage, &SystemStatsProvider::powerDrawChanged);
    assign(m_isUnplugged, info->isUnplugged, &SystemStatsProvider::isUnpluggedChanged);
}

// ---- Addresses ---------------------------------------------------------------------------

QString SystemStatsProvider::pickLocalIP(const std::vector<InterfaceAddress> &addresses, const std::string &defaultInterface)
{
    QString onRoute;
    QString anyOther;
    for (const InterfaceAddress &a : addresses) {
        if (a.ipv6)
            continue;
        if (!defaultInterface.empty() && a.interface == defaultInterface)
            onRoute = QString::fromStdString(a.address);
        if (a.address.compare(0, 4, "127.") != 0)
            anyOther = QString::fromStdString(a.address);
    }
    if (!onRoute.isEmpty())
        return onRoute;
    return anyOther.isEmpty() ? QStringLiteral("127.0.0.1") : anyOther;
}

void SystemStatsProvider::updateIPs()
{
    // Addresses are enumerated again only after the kernel announces a change, which it
    // does on the routing socket the reader listens to: the same answer every tick for a
    // fraction of the cost.
    if (m_sources.interfaceAddresses) {
        assign(m_localIP, pickLocalIP(m_sources.interfaceAddresses(), m_addressReader.defaultRouteInterface()),
               &SystemStatsProvider::localIPChanged);
    } else if (m_addressReader.changed()) {
        assign(m_localIP, pickLocalIP(InterfaceAddressReader::enumerate(), m_addressReader.defaultRouteInterface()),
               &SystemStatsProvider::localIPChanged);
    }

    if (m_sources.publicAddressUrl.isEmpty() || m_publicIPReply)
        return;
    const bool checking = m_publicIP == QLatin1String("Checking...");
    if (!m_sincePublicIPFetch.isValid()
        || m_sincePublicIPFetch.elapsed() >= (checking ? kPublicIPRetryMs : kPublicIPRefreshMs))
        fetchPublicIP();
}

void SystemStatsProvider::fetchPublicIP()
{
    if (m_sources.publicAddressUrl.isEmpty() || m_publicIPReply)
        return;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    m_sincePublicIPFetch.start();
    QNetworkRequest request(m_sources.publicAddressUrl);
    request.setTransferTimeout(kPublicIPTimeoutMs);
    m_publicIPReply = m_network->get(request);
    connect(m_publicIPReply, &QNetworkReply::finished, this, [this, reply = m_publicIPReply] {
        reply->deleteLater();
        m_publicIPReply = nullptr;
        const QString body = QString::fromUtf8(reply->readAll()).trimmed();
        // A captive portal answers with a page of its own; only an address is shown.
        const bool ok = reply->error() == QNetworkReply::NoError && !QHostAddress(body).isNull();
        if (ok)
            assign(m_publicIP, body, &SystemStatsProvider::publicIPChanged);
        Q_EMIT publicIPFetched(ok);
    });
}

// ---- Connections -------------------------------------------------------------------------

bool SystemStatsProvider::isLoopbackAddress(const std::string &address)
{
    return address.compare(0, 4, "127.") == 0 || address == "::1" || address.compare(0, 11, "::ffff:127.") == 0;
}

bool SystemStatsProvider::isListedConnection(const SocketEntry &entry)
{
    return entry.state == SocketEntry::kEstablished && !isLoopbackAddress(entry.localAddress) && !isLoopbackAddress(entry.remoteAddress);
}

QString SystemStatsProvider::renderEndpointPair(const SocketEntry &entry)
{
    auto endpoint = [&](const std::string &address, int port) {
        const QString host = QString::fromStdString(address);
        return (entry.ipv6 ? u'[' + host + u']' : host) + u':' + QString::number(port);
    };
    return endpoint(entry.localAddress, entry.localPort) + QStringLiteral("->") + endpoint(entry.remoteAddress, entry.remotePort);
}

ActiveConnection SystemStatsProvider::placeholderConnection()
{
    return {QStringLiteral("No external connections"), QStringLiteral("IDLE"), QStringLiteral("System"), QStringLiteral("0")};
}

QList<ActiveConnection> SystemStatsProvider::connectionRows(const std::vector<SocketEntry> &entries, const OwnerCache &owners)
{
    QList<ActiveConnection> rows;
    for (const SocketEntry &e : entries) {
        if (!isListedConnection(e))
            continue;
        ActiveConnection row{renderEndpointPair(e), QStringLiteral("ESTABLISHED"), QStringLiteral("?"), QStringLiteral("0")};
        if (const auto it = owners.find(e.inode); it != owners.end() && e.inode != 0) {
            row.processName = it->second.second;
            row.pid = QString::number(it->second.first);
        }
        rows.append(row);
        if (rows.size() == kMaxConnections)
            break;
    }
    return rows;
}

void SystemStatsProvider::updateConnections()
{
    startConnectionScan(true);
}

void SystemStatsProvider::startConnectionScan(bool whenChanged)
{
    if (m_connectionWatcher.isRunning())
        return;
    // Read before the listing, so a change during it shows at the next tick.
    const std::optional<TcpActivity> activity = m_socketReader.readTcpActivity();
    if (whenChanged && activity && activity == m_scannedTcpActivity && ++m_quietConnectionTicks < kConnectionRecheckTicks)
        return;
    m_quietConnectionTicks = 0;
    m_scannedTcpActivity = activity;
    m_connectionWatcher.setFuture(QtConcurrent::run(
        [reader = m_socketReader, owners = m_connectionOwners, unplaced = m_unplacedSockets]() mutable {
        const std::vector<SocketEntry> entries = reader.readTcp(1u << SocketEntry::kEstablished);
        // Only the sockets that make it into the rows need an owner.
        std::unordered_set<std::uint64_t> shown;
        for (const SocketEntry &e : entries) {
            if (shown.size() == static_cast<size_t>(kMaxConnections))
                break;
            if (isListedConnection(e))
                shown.insert(e.inode);
        }
        shown.erase(0);   // not yet accepted: no process holds it

        ConnectionScan scan;
        std::unordered_set<std::uint64_t> wanted;
        for (std::uint64_t inode : shown) {
            if (const auto it = owners.find(inode); it != owners.end())
                scan.owners.emplace(inode, it->second);
            else if (unplaced.count(inode))
                scan.unplaced.insert(inode);
            else
                wanted.insert(inode);
        }
        if (!wanted.empty()) {
            const std::unordered_map<std::uint64_t, int> found = reader.owners(wanted);
            for (std::uint64_t inode : wanted) {
                const auto it = found.find(inode);
                if (it == found.end()) {
                    scan.unplaced.insert(inode);
                    continue;
                }
                scan.owners.emplace(inode, std::make_pair(it->second, QString::fromStdString(reader.commandName(it->second))));
            }
        }
        scan.rows = connectionRows(entries, scan.owners);
        return scan;
    }));
}

void SystemStatsProvider::killConnectionProcess(const QString &pidText)
{
    bool ok = false;
    const int pid = pidText.toInt(&ok);
    // toInt also takes surrounding spaces; the text must be a plain signed number.
    static const QRegularExpression plain(QStringLiteral("^[+-]?[0-9]+$"));
    if (!ok || pid <= 0 || !plain.match(pidText).hasMatch())
        return;
    if (pid == 1 || pid == ProcessControl::ownPid()) {
        std::printf("Refusing to kill process %d\n", pid);
        std::fflush(stdout);
        return;
    }
    if (const int error = ProcessControl::sendSignal(pid, SIGKILL); error != 0) {
        std::printf("Failed to kill connection PID %d: %s\n", pid, ProcessControl::errorText(error).c_str());
        std::fflush(stdout);
        return;
    }
    if (m_connectionWatcher.isRunning())
        m_connectionRescanPending = true;
    else
        startConnectionScan();
}

// ---- Machine description -----------------------------------------------------------------

MachineHardwareInfo SystemStatsProvider::getHardwareInfo() const
{
    const MachineInfoReader reader(m_sysRoot, m_procRoot, m_sources.etcRoot);
    MachineHardwareInfo info;
    info.modelIdentifier = QString::fromStdString(reader.modelIdentifier());
    info.modelName = MachineHardwareInfo::modelNameFor(info.modelIdentifier);
    const QString brand = QString::fromStdString(reader.processorName()).trimmed();
    info.processor = brand.isEmpty() ? QStringLiteral("Unknown processor") : brand;
    info.physicalMemoryGB = toGB(MemInfoReader(m_procRoot, m_sysRoot).read().total);
    info.cpuCores = CpuTopologyReader(m_sysRoot, m_procRoot).read().cpuCount;
    info.performanceCores = m_pCoreCount < 1 ? 4 : m_pCoreCount;
    info.efficiencyCores = m_eCoreCount < 1 ? 4 : m_eCoreCount;
    info.gpuCores = static_cast<int>(m_gpuCoreCount);
    info.neuralEngine = MachineHardwareInfo::neuralEngineFor(brand);
    info.memoryBandwidth = MachineHardwareInfo::memoryBandwidthFor(brand);
    const QString os = QString::fromStdString(reader.osPrettyName());
    const QString kernel = QString::fromStdString(reader.kernelRelease());
    info.osVersion = os.isEmpty() ? QStringLiteral("Linux") : os;
    if (!kernel.isEmpty())
        info.osVersion += QStringLiteral(", kernel ") + kernel;
    info.serialNumber = MachineHardwareInfo::serialNumberFor(info.modelIdentifier);
    return info;
}

void SystemStatsProvider::setNotificationBus(const QDBusConnection &bus)
{
    m_notifier.reset();
    m_notificationBus = bus;
}

DesktopNotifier *SystemStatsProvider::notifier()
{
    if (!m_notifier)
        m_notifier = std::make_unique<DesktopNotifier>(m_notificationBus.value_or(QDBusConnection::sessionBus()),
                                                       QStringLiteral("Quillmoor"));
    return m_notifier.get();
}

void SystemStatsProvider::checkCPUAlerts()
{
    if (!(m_cpuUsage > m_preferences.cpuAlertThreshold()))
        return;
    // One fixed key, so each alert replaces the bubble of the previous one.
    notifier()->notify(QStringLiteral("HighCPU"), QStringLiteral("High CPU Usage Alert"),
                       QStringLiteral("System CPU usage is at %1%. Consider checking intensive processes.")
                           .arg(static_cast<qint64>(m_cpuUsage)));
}

QString SystemStatsProvider::shortestDecimal(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (!text.contains(u'.') && !text.contains(u'e'))
        text += QStringLiteral(".0");
    return text;
}

QString SystemStatsProvider::historyFileName(const QDateTime &now)
{
    return QStringLiteral("Quillmoor_History_") + shortestDecimal(now.toMSecsSinceEpoch() / 1000.0) + QStringLiteral(".csv");
}

QByteArray SystemStatsProvider::historyCsv(const QList<double> &history, const QDateTime &now)
{
    QString text = QStringLiteral("Timestamp,CPUUsage%\n");
    const QDateTime utc = now.toUTC();
    const qsizetype count = history.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QDateTime stamp = utc.addSecs(static_cast<qint64>(i) - count);
        text += stamp.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000,")
              + shortestDecimal(history[i]) + u'\n';
    }
    return text.toUtf8();
}

QString SystemStatsProvider::exportHistoryToCSV()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // An unusable temporary folder comes back empty, which must not mean the current one.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        std::printf("Failed to write CSV: no temporary folder\n");
        std::fflush(stdout);
        return {};
    }
    const QString path = QDir(folder).filePath(historyFileName(now));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(historyCsv(m_cpuHistory, now)) < 0 || !file.commit()) {
        std::printf("Failed to write CSV: %s\n", file.errorString().toLocal8Bit().constData());
        std::fflush(stdout);
        return {};
    }
    return path;
}

void SystemStatsProvider::optimizeMemory()
{
    if (m_isOptimizingMemory)
        return;
    if (!m_memoryPurger) {
        m_memoryPurger = std::make_unique<MemoryPurger>(
            m_sources.memoryPurgeHelper, m_sources.pkexecPath,
            m_sources.elevateMemoryPurge.value_or(MemoryPurger::defaultElevate()));
        connect(m_memoryPurger.get(), &MemoryPurger::finished, this,
                [this](MemoryPurger::Outcome outcome, const QString &message) {
            const MemInfo after = m_memReader.read();
            if (outcome == MemoryPurger::Outcome::Done) {
                const std::uint64_t gained = after.available > m_availableBeforePurge ? after.available - m_availableBeforePurge : 0;
                assign(m_optimizedMemoryReleased, toGB(gained), &SystemStatsProvider::optimizedMemoryReleasedChanged);
                m_memoryOptimizationError.clear();
            } else {
                m_memoryOptimizationError = message;
            }
            updateMemory();
            assign(m_isOptimizingMemory, false, &SystemStatsProvider::isOptimizingMemoryChanged);
            Q_EMIT memoryOptimizationFinished(outcome == MemoryPurger::Outcome::Done);
        });
    }
    m_availableBeforePurge = m_memReader.read().available;
    assign(m_isOptimizingMemory, true, &SystemStatsProvider::isOptimizingMemoryChanged);
    m_memoryPurger->start();
}

void SystemStatsProvider::scanJunk()
{
    if (m_junkWatcher.isRunning())
        return;
    assign(m_isScanningJunk, true, &SystemStatsProvider::isScanningJunkChanged);
    const JunkScanner scanner(m_junkRoots);
    m_junkWatcher.setFuture(QtConcurrent::run([scanner] { return JunkOutcome{0, scanner.scan()}; }));
}

void SystemStatsProvider::cleanJunkFiles()
{
    if (m_junkWatcher.isRunning() || !m_lastJunkScan)
        return;
    assign(m_isCleaningJunk, true, &SystemStatsProvider::isCleaningJunkChanged);
    const JunkScanner scanner(m_junkRoots);
    m_junkWatcher.setFuture(QtConcurrent::run([scanner, found = *m_lastJunkScan] {
        const std::uint64_t freed = JunkScanner::clean(found);
        return JunkOutcome{freed, scanner.scan()};
    }));
}

QString SystemStatsProvider::huggingFaceHubPath() const
{
    return huggingFaceHubFor(QFile::decodeName(QByteArray::fromStdString(m_homePath)));
}

QString SystemStatsProvider::huggingFaceHubFor(const QString &homePath,
                                               const std::function<QString(const char *)> &environment)
{
    const auto variable = [&](const char *name) {
        const QString value = environment ? environment(name) : qEnvironmentVariable(name);
        return QDir::isAbsolutePath(value) ? value : QString();
    };
    const QString hubCache = variable("HF_HUB_CACHE");
    if (!hubCache.isEmpty())
        return hubCache;
    const QString hfHome = variable("HF_HOME");
    if (!hfHome.isEmpty())
        return QDir(hfHome).filePath(QStringLiteral("hub"));
    const QString cacheHome = variable("XDG_CACHE_HOME");
    return QDir(cacheHome.isEmpty() ? QDir(homePath).filePath(QStringLiteral(".cache")) : cacheHome)
        .filePath(QStringLiteral("huggingface/hub"));
}

void SystemStatsProvider::updateHuggingFaceCacheSize()
{
    // The walk can take a while over a large hub, so it is never repeated every tick.
    if (m_sinceHubWalk.isValid() && m_sinceHubWalk.elapsed() < kHubWalkIntervalMs)
        return;
    refreshHuggingFaceCacheSize();
}

void SystemStatsProvider::refreshHuggingFaceCacheSize()
{
    if (m_hubSizeWatcher.isRunning() || m_hubPurgeWatcher.isRunning())
        return;
    const std::string hub = QFile::encodeName(huggingFaceHubPath()).toStdString();
    // Stamped at the start too, so a walk slower than a tick is not queued again.
    m_sinceHubWalk.start();
    m_walkGeneration = m_hubGeneration;
    m_hubSizeWatcher.setFuture(QtConcurrent::run([hub] { return FileTree::totalSize(hub); }));
}

void SystemStatsProvider::setShowsDemoHubFigure(bool shown)
{
    m_showsDemoHubFigure = shown;
    publishHubFigure(m_measuredHubGB);
}

void SystemStatsProvider::publishHubFigure(double measuredGB)
{
    m_measuredHubGB = measuredGB;
    const double shown = measuredGB <= 0 && m_showsDemoHubFigure ? kDemoHuggingFaceCacheGB : measuredGB;
    assign(m_huggingFaceCacheSizeInGB, shown, &SystemStatsProvider::huggingFaceCacheSizeInGBChanged);
}

void SystemStatsProvider::purgeHuggingFaceCache()
{
    if (m_hubPurgeWatcher.isRunning())
        return;
    ++m_hubGeneration;
    assign(m_isPurgingHuggingFaceCache, true, &SystemStatsProvider::isPurgingHuggingFaceCacheChanged);
    const std::string hub = QFile::encodeName(huggingFaceHubPath()).toStdString();
    m_hubPurgeWatcher.setFuture(QtConcurrent::run([hub] {
        PurgeOutcome outcome;
        outcome.freed = FileTree::removeContents(hub);
        outcome.remaining = FileTree::totalSize(hub);
        return outcome;
    }));
}

QVariantList SystemStatsProvider::activeConnectionsForQml() const
{
    return toVariantList(m_activeConnections);
}

void SystemStatsProvider::setForceTurboCooling(bool on)
{
    if (on && !m_fanControl.available() && !m_fanControl.refresh()) {
        // Nothing can drive the fans: the switch stays off rather than claim they spin.
        Q_EMIT turboCoolingAvailableChanged();
        Q_EMIT forceTurboCoolingChanged();
        return;
    }
    assign(m_forceTurboCooling, on, &SystemStatsProvider::forceTurboCoolingChanged);
    // Switching on takes effect at once; off, the next tick decides whether a build still
    // holds the fans.
    if (on)
        applyFanControl(true);
}

void SystemStatsProvider::setIsLowPowerModeEnabled(bool on)
{
    if (on == m_isLowPowerModeEnabled)
        return;
    if (!m_powerProfiles || !m_powerProfiles->available()) {
        Q_EMIT isLowPowerModeEnabledChanged();
        Q_EMIT lowPowerModeFailed(QStringLiteral("no power profile daemon"));
        return;
    }
    if (on) {
        const QString active = m_powerProfiles->activeProfile();
        m_profileBeforeLowPower = active.isEmpty() || active == PowerProfilesClient::kPowerSaver ? QStringLiteral("balanced") : active;
        m_powerProfiles->setActiveProfile(PowerProfilesClient::kPowerSaver);
    } else {
        m_powerProfiles->setActiveProfile(m_profileBeforeLowPower.isEmpty() ? QStringLiteral("balanced") : m_profileBeforeLowPower);
    }
}

void SystemStatsProvider::setLowPowerFromProfile(const QString &profile)
{
    assign(m_isLowPowerModeEnabled, profile == PowerProfilesClient::kPowerSaver,
           &SystemStatsProvider::isLowPowerModeEnabledChanged);
}

double SystemStatsProvider::baselineCpuUsage() const
{
    return m_preferences.baselineCpuUsage();
}

double SystemStatsProvider::baselineTemp() const
{
    return m_preferences.baselineTemp();
}

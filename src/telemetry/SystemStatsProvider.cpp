#include "SystemStatsProvider.h"

#include "app/QmlRecords.h"
#include "app/Preferences.h"
#include "platform/CpuTopologyReader.h"
#include "platform/DesktopNotifier.h"
#include "platform/MemoryPurger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <charconv>
#include <cmath>
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
    , m_memReader(sources.procRoot, sources.sysRoot)
    , m_netReader(sources.procRoot)
    , m_diskStatsReader(sources.procRoot, sources.sysRoot)
    , m_homeFileSystem(homeDirectory(sources.homePath))
    , m_homePath(homeDirectory(sources.homePath))
    , m_sysRoot(sources.sysRoot)
    , m_procRoot(sources.procRoot)
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
}

SystemStatsProvider &SystemStatsProvider::shared()
{
    static SystemStatsProvider *instance = new SystemStatsProvider(Preferences::shared());
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

void SystemStatsProvider::updateCPU()
{
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
    // No counter of the accelerator's load is readable here, so the neural-engine and GPU
    // panels show estimates that follow whether a model is loaded.
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
    assign(m_gpuUsage, gpu, &SystemStatsProvider::gpuUsageChanged);
}

// Temperatures, fans, battery, addresses and connections have samplers of their own that
// are not part of this build yet; until then their fields keep the initial values.
void SystemStatsProvider::updateSensors() {}
void SystemStatsProvider::updateBattery() {}
void SystemStatsProvider::updateIPs() {}
void SystemStatsProvider::updateConnections() {}

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

QString SystemStatsProvider::huggingFaceHubFor(const QString &homePath)
{
    const QString hubCache = qEnvironmentVariable("HF_HUB_CACHE");
    if (!hubCache.isEmpty())
        return hubCache;
    const QString hfHome = qEnvironmentVariable("HF_HOME");
    if (!hfHome.isEmpty())
        return QDir(hfHome).filePath(QStringLiteral("hub"));
    return QDir(homePath).filePath(QStringLiteral(".cache/huggingface/hub"));
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
    assign(m_forceTurboCooling, on, &SystemStatsProvider::forceTurboCoolingChanged);
}

void SystemStatsProvider::setIsLowPowerModeEnabled(bool on)
{
    assign(m_isLowPowerModeEnabled, on, &SystemStatsProvider::isLowPowerModeEnabledChanged);
}

double SystemStatsProvider::baselineCpuUsage() const
{
    return m_preferences.baselineCpuUsage();
}

double SystemStatsProvider::baselineTemp() const
{
    return m_preferences.baselineTemp();
}

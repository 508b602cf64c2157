#pragma once

// A small machine for the screens' tests: a fixture /proc and /sys that the real telemetry
// service and process table read with manual polling, and a private PATH whose `whatis`
// answers the co-pilot and counts how often it was asked.

#include "app/NotificationCenter.h"
#include "app/Preferences.h"
#include "app/ThemeManager.h"
#include "caches/BuildCacheService.h"
#include "copilot/AIService.h"
#include "exporter/MetricsEndpoint.h"
#include "gateway/LocalAPILatencyService.h"
#include "gateway/LocalAPIProxyService.h"
#include "localai/LocalAIService.h"
#include "presets/PresetManager.h"
#include "processes/ProcessMonitor.h"
#include "support/FixtureTree.h"
#include "support/MetricsFixture.h"
#include "telemetry/SystemStatsProvider.h"
#include "ui/QmlServices.h"

#include <QFile>
#include <QSettings>

#include <cstdint>
#include <functional>
#include <memory>

class ScreenFixture
{
public:
    // Four CPUs, 0-1 performance and 2-3 efficiency, at 2.41 GHz; a coretemp package at
    // 61.7 °C with one fan at 2150 RPM (or no fan sensor at all); 16 GiB of memory with 8 free.
    // `machine` adds to the fixture /sys and /dev before the telemetry first reads them
    // (a GPU or an NPU, say). The clock the telemetry times counters by moves a second a sample.
    explicit ScreenFixture(bool withFan = true, const std::function<void(FixtureTree &)> &machine = {})
    {
        tree.write("sys/devices/system/cpu/online", "0-3\n");
        tree.write("sys/devices/cpu_core/cpus", "0-1\n");
        tree.write("sys/devices/cpu_atom/cpus", "2-3\n");
        for (int cpu = 0; cpu < 4; ++cpu)
            tree.write(QStringLiteral("sys/devices/system/cpu/cpu%1/cpufreq/scaling_cur_freq").arg(cpu), "2410000\n");
        tree.write("sys/class/hwmon/hwmon0/name", "coretemp\n");
        tree.write("sys/class/hwmon/hwmon0/temp1_label", "Package id 0\n");
        tree.write("sys/class/hwmon/hwmon0/temp1_input", "61700\n");
        tree.write("sys/class/hwmon/hwmon1/name", "thinkpad\n");
        if (withFan)
            tree.write("sys/class/hwmon/hwmon1/fan1_input", "2150\n");
        setCpuTicks({0, 0, 0, 0});
        setMemory(16, 8);
        tree.write("proc/net/dev", netDev(0, 0));
        tree.write("proc/diskstats", diskStats(0, 0));
        // No connection open: the kernel's table with its header and no rows.
        tree.write("proc/net/tcp", "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n");

        const QString bin = tree.path("bin");
        QDir().mkpath(bin);
        writeExecutable(bin + "/whatis", "#!/bin/sh\necho asked >> '" + tree.path("whatis.log").toUtf8()
                                             + "'\necho \"$1 (1)  - compiles things\"\n");

        preferences = std::make_unique<Preferences>(new QSettings(tree.path("p.conf"), QSettings::IniFormat));
        preferences->setAdvancedMode(false);
        theme = std::make_unique<ThemeManager>(*preferences);
        TelemetrySources sources;
        sources.procRoot = tree.root("proc");
        sources.sysRoot = tree.root("sys");
        sources.homePath = tree.root("");
        // Only the fixture's accelerators: none of this machine's devices or Vulkan drivers.
        QDir().mkpath(tree.path("dev"));
        sources.accelerators.devRoot = tree.root("dev");
        sources.accelerators.vulkanIcdDirs = {tree.root("icd.d")};
        sources.steadyMicroseconds = [this] { return clockUs; };
        if (machine)
            machine(tree);
        stats = std::make_unique<SystemStatsProvider>(*preferences, sources, SystemStatsProvider::Polling::Manual);
        stats->setUniformSource([](double low, double) { return low; });
        stats->updateStats();
        ProcessSources processSources;
        processSources.procRoot = tree.root("proc");
        processSources.dataDirs = QStringList{tree.path("share")};
        processes = std::make_unique<ProcessMonitor>([this] { return stats->cpuUsage(); }, processSources,
                                                     ProcessMonitor::Polling::Manual);
        AIServiceSources aiSources;
        aiSources.searchPath = QStringList{bin};
        aiSources.explainDelayMs = 0;
        ai = std::make_unique<AIService>(aiSources);
        presets = std::make_unique<PresetManager>();   // no logind, no power daemon, no terminal
    }

    QmlServices::Set services()
    {
        QmlServices::Set set;
        set.stats = stats.get();
        set.processMonitor = processes.get();
        set.theme = theme.get();
        set.preferences = preferences.get();
        set.notifications = &notifications;
        set.aiService = ai.get();
        set.presets = presets.get();
        // The local AI workspace, made when a screen first asks for it.
        set.localAI = QmlServices::Ref<LocalAIService>([this] { return aiWorkspace(); });
        set.buildCaches = QmlServices::Ref<BuildCacheService>([this] { return cacheService(); });
        set.latencyProbe = QmlServices::Ref<LocalAPILatencyService>([this] {
            LatencySources sources;
            sources.ports = [this] { return aiWorkspace()->activeLocalPorts(); };
            sources.demoMode = [this] { return aiWorkspace()->demoMode(); };
            latency = std::make_unique<LocalAPILatencyService>(sources, LocalAPILatencyService::Polling::Manual);
            return latency.get();
        });
        set.proxy = QmlServices::Ref<LocalAPIProxyService>([this] {
            RelayTarget nowhere;
            nowhere.port = 9;
            proxy = std::make_unique<LocalAPIProxyService>(nowhere);
            return proxy.get();
        });
        // The metrics endpoint over the fixture machine; it listens only when a test says so.
        set.metrics = QmlServices::Ref<MetricsEndpoint>([this] {
            MetricsSources sources = fixtureMetricsSources(tree);
            sources.stats = stats.get();
            metrics = std::make_unique<MetricsEndpoint>(sources);
            return metrics.get();
        });
        return set;
    }

    // The model service of the fixture machine: its sandbox on, no model server, no
    // container tool, the fixture's /proc and home.
    LocalAIService *aiWorkspace()
    {
        if (!localAI) {
            LocalAISources sources;
            sources.ollamaUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
            sources.searchPath = QStringList{};
            sources.procRoot = tree.root("proc");
            sources.homePath = tree.path();
            localAI = std::make_unique<LocalAIService>(sources, LocalAIService::Polling::Manual);
        }
        return localAI.get();
    }
    // The cache service over the fixture's home only: none of this machine's caches or
    // environment.
    BuildCacheService *cacheService()
    {
        if (!caches) {
            BuildCacheSources sources;
            sources.homePath = tree.path();
            sources.environment = [](const char *) { return QString(); };
            sources.ollamaServiceStores = {};
            caches = std::make_unique<BuildCacheService>(sources, BuildCacheService::Polling::Manual);
        }
        return caches.get();
    }

    // Per-CPU busy shares of the next pass, in percent: one more second of ticks.
    void sample(const QList<int> &busyPercent)
    {
        clockUs += 1'000'000;
        for (int i = 0; i < 4; ++i) {
            m_busy[i] += busyPercent.value(i);
            m_idle[i] += 100 - busyPercent.value(i);
        }
        writeTicks();
        stats->updateStats();
    }
    void setCpuTicks(const QList<int> &busy)
    {
        for (int i = 0; i < 4; ++i) {
            m_busy[i] = busy.value(i);
            m_idle[i] = 0;
        }
        writeTicks();
    }
    void setMemory(quint64 totalGiB, quint64 availableGiB, quint64 swapUsedGiB = 0)
    {
        const quint64 kib = 1024 * 1024;
        tree.write("proc/meminfo", QStringLiteral("MemTotal: %1 kB\nMemAvailable: %2 kB\nUnevictable: 0 kB\n"
                                                  "SUnreclaim: 0 kB\nKernelStack: 0 kB\nPageTables: 0 kB\n"
                                                  "SwapTotal: %3 kB\nSwapFree: %4 kB\n")
                                       .arg(totalGiB * kib).arg(availableGiB * kib).arg(8 * kib)
                                       .arg((8 - swapUsedGiB) * kib).toUtf8());
    }
    static QByteArray netDev(quint64 rx, quint64 tx)
    {
        return QStringLiteral("Inter-|   Receive |  Transmit\n face |bytes |bytes\n"
                              "  eth0: %1 0 0 0 0 0 0 0 %2 0 0 0 0 0 0 0\n").arg(rx).arg(tx).toUtf8();
    }
    static QByteArray diskStats(quint64 sectorsRead, quint64 sectorsWritten)
    {
        return QStringLiteral("   8 0 sda 1 0 %1 0 1 0 %2 0 0 0 0\n").arg(sectorsRead).arg(sectorsWritten).toUtf8();
    }

    // A process of the fixture table: its CPU ticks so far and its resident pages.
    void writeProcess(int pid, const QByteArray &comm, quint64 ticks, quint64 residentPages = 0)
    {
        tree.write(QStringLiteral("proc/%1/stat").arg(pid),
                   QByteArray::number(pid) + " (" + comm + ") S 1 1 1 0 -1 0 0 0 0 0 " + QByteArray::number(ticks)
                       + " 0 0 0 20 0 1 0 100 0 " + QByteArray::number(residentPages) + " 0\n");
    }
    void removeProcess(int pid) { QDir(tree.path(QStringLiteral("proc/%1").arg(pid))).removeRecursively(); }

    int whatisCalls() const
    {
        QFile log(tree.path("whatis.log"));
        return log.open(QIODevice::ReadOnly) ? log.readAll().count('\n') : 0;
    }

    FixtureTree tree;
    std::int64_t clockUs = 1'000'000;
    NotificationCenter notifications;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<ThemeManager> theme;
    std::unique_ptr<SystemStatsProvider> stats;
    std::unique_ptr<ProcessMonitor> processes;
    std::unique_ptr<AIService> ai;
    std::unique_ptr<PresetManager> presets;
    // Declared after the tree and the telemetry they read, so they go first.
    std::unique_ptr<LocalAIService> localAI;
    std::unique_ptr<BuildCacheService> caches;
    std::unique_ptr<LocalAPILatencyService> latency;
    std::unique_ptr<LocalAPIProxyService> proxy;
    std::unique_ptr<MetricsEndpoint> metrics;

private:
    void writeTicks()
    {
        QByteArray stat;
        for (int i = 0; i < 4; ++i)
            stat += QStringLiteral("cpu%1 %2 0 0 %3 0 0 0 0 0 0\n").arg(i).arg(m_busy[i]).arg(m_idle[i]).toUtf8();
        tree.write("proc/stat", stat);
    }
    static void writeExecutable(const QString &path, const QByteArray &text)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    quint64 m_busy[4] = {};
    quint64 m_idle[4] = {};
};

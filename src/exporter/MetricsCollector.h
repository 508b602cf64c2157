#pragma once

#include "MetricFamily.h"
#include "platform/CpuTimesReader.h"
#include "platform/DiskStatsReader.h"
#include "platform/MemInfoReader.h"
#include "platform/NetDevReader.h"

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class BuildCacheService;
class LocalAIService;
class LocalAPIProxyService;
class SystemStatsProvider;

// What a scrape reads. The kernel's counters are read at the scrape itself, as they stand;
// the services give what only they know (the CPU share of the last pass, the battery, the
// GPU, Ollama's models, the relay, the caches). A service left unset is not exported.
struct MetricsSources
{
    std::string procRoot = "/proc";
    std::string sysRoot = "/sys";
    QString homePath;   // empty: the user's home
    SystemStatsProvider *stats = nullptr;
    LocalAIService *localAI = nullptr;
    LocalAPIProxyService *proxy = nullptr;
    BuildCacheService *caches = nullptr;
    QString version;    // empty: this build's
};

// Gathers one scrape's families from the machine and the services, in catalog order.
// Only measured figures go in: an estimate the screens mark "≈", a sample row of the demo
// switch, or a size before the first walk has finished is left out, never exported as if
// it were measured.
class MetricsCollector
{
public:
    explicit MetricsCollector(MetricsSources sources);
    ~MetricsCollector();
    MetricsCollector(const MetricsCollector &) = delete;
    MetricsCollector &operator=(const MetricsCollector &) = delete;

    QList<MetricFamily> collect();

private:
    void addCpu(QList<MetricFamily> &out);
    void addMemory(QList<MetricFamily> &out);
    void addNetworkAndDisks(QList<MetricFamily> &out);
    void addFileSystem(QList<MetricFamily> &out);
    void addSensors(QList<MetricFamily> &out);
    void addPowerAndGpu(QList<MetricFamily> &out);
    void addLocalAI(QList<MetricFamily> &out);
    void addThroughput(QList<MetricFamily> &out);
    void addCaches(QList<MetricFamily> &out);

    MetricsSources m_sources;
    QPointer<SystemStatsProvider> m_stats;
    QPointer<LocalAIService> m_localAI;
    QPointer<LocalAPIProxyService> m_proxy;
    QPointer<BuildCacheService> m_caches;
    CpuTimesReader m_cpuReader;
    MemInfoReader m_memReader;
    NetDevReader m_netReader;
    DiskStatsReader m_diskReader;
    std::vector<CpuTicks> m_ticks;
    std::vector<InterfaceCounters> m_interfaces;
    std::vector<DiskCounters> m_disks;
    QString m_gpuName;
    bool m_gpuNamed = false;
};

#include "MetricsCollector.h"

#include "MetricCatalog.h"
#include "caches/BuildCacheService.h"
#include "gateway/LocalAPIProxyService.h"
#include "localai/LocalAIService.h"
#include "platform/FileSystemStats.h"
#include "platform/HwmonReader.h"
#include "platform/ProcessTableReader.h"
#include "platform/UserPaths.h"
#include "telemetry/SystemStatsProvider.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cmath>

namespace {
constexpr double kBytesPerGiB = 1024.0 * 1024.0 * 1024.0;

MetricFamily &family(QList<MetricFamily> &out, const char *name)
{
    out.append(MetricFamily{&MetricCatalog::get(QLatin1String(name)), {}});
    return out.last();
}

void gauge(QList<MetricFamily> &out, const char *name, double value, MetricLabels labels = {})
{
    family(out, name).samples.append({std::move(labels), value});
}

QString text(const std::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// "temp3" from ".../temp3_input", "fan1" from ".../fan1_input".
QString inputName(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (const std::size_t underscore = name.rfind('_'); underscore != std::string::npos)
        name.resize(underscore);
    return text(name);
}

QString folderName(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return text(slash == std::string::npos ? path : path.substr(slash + 1));
}
}

MetricsCollector::MetricsCollector(MetricsSources sources)
    : m_sources(std::move(sources))
    , m_stats(m_sources.stats)
    , m_localAI(m_sources.localAI)
    , m_proxy(m_sources.proxy)
    , m_caches(m_sources.caches)
    , m_cpuReader(m_sources.procRoot)
    , m_memReader(m_sources.procRoot, m_sources.sysRoot)
    , m_netReader(m_sources.procRoot)
    , m_diskReader(m_sources.procRoot, m_sources.sysRoot)
{
    if (m_sources.homePath.isEmpty())
        m_sources.homePath = UserPaths().home();
    if (m_sources.version.isEmpty())
        m_sources.version = QStringLiteral(QUILLMOOR_VERSION);
}

MetricsCollector::~MetricsCollector() = default;

QList<MetricFamily> MetricsCollector::collect()
{
    QList<MetricFamily> out;
    // Each family is added once at most and filled through a reference: room for all of
    // them up front keeps those references valid while later ones are added.
    out.reserve(MetricCatalog::all().size());
    addCpu(out);
    addMemory(out);
    addNetworkAndDisks(out);
    addFileSystem(out);
    addSensors(out);
    addPowerAndGpu(out);
    addLocalAI(out);
    addCaches(out);
    gauge(out, "quillmoor_build", 1, {{QStringLiteral("version"), m_sources.version}});
    // Families left without a sample are not written, so the reader never sees them.
    out.removeIf([](const MetricFamily &f) { return f.samples.isEmpty(); });
    return out;
}

void MetricsCollector::addCpu(QList<MetricFamily> &out)
{
    static const std::array<const char *, CpuTicks::CounterCount> modes{
        "user", "nice", "system", "idle", "iowait", "irq", "softirq", "steal"};
    if (m_cpuReader.read(m_ticks)) {
        const double perTick = 1.0 / static_cast<double>(ProcessTableReader::ticksPerSecond());
        MetricFamily &seconds = family(out, "quillmoor_cpu_seconds");
        seconds.samples.reserve(static_cast<qsizetype>(m_ticks.size() * modes.size()));
        for (const CpuTicks &cpu : m_ticks)
            for (std::size_t m = 0; m < modes.size(); ++m)
                seconds.samples.append({{{QStringLiteral("cpu"), QString::number(cpu.id)},
                                         {QStringLiteral("mode"), QLatin1String(modes[m])}},
                                        static_cast<double>(cpu.counters[m]) * perTick});
    }
    if (m_stats)
        gauge(out, "quillmoor_cpu_usage_ratio", m_stats->cpuUsage() / 100.0);
}

void MetricsCollector::addMemory(QList<MetricFamily> &out)
{
    const MemInfo info = m_memReader.read();
    if (info.valid) {
        const double total = static_cast<double>(info.total);
        const double available = static_cast<double>(info.available);
        const double used = std::max(total - available, 0.0);
        gauge(out, "quillmoor_memory_total_bytes", total);
        gauge(out, "quillmoor_memory_available_bytes", available);
        gauge(out, "quillmoor_memory_used_bytes", used);
        if (total > 0)
            gauge(out, "quillmoor_memory_pressure_ratio", used / total);
    }
    if (info.swapValid) {
        gauge(out, "quillmoor_memory_swap_total_bytes", static_cast<double>(info.swapTotal));
        gauge(out, "quillmoor_memory_swap_used_bytes",
              static_cast<double>(info.swapTotal > info.swapFree ? info.swapTotal - info.swapFree : 0));
    }
}

void MetricsCollector::addNetworkAndDisks(QList<MetricFamily> &out)
{
    if (m_netReader.read(&m_interfaces)) {
        MetricFamily &received = family(out, "quillmoor_network_receive_bytes");
        for (const InterfaceCounters &i : m_interfaces)
            received.samples.append({{{QStringLiteral("device"), text(i.name)}}, static_cast<double>(i.received)});
        MetricFamily &sent = family(out, "quillmoor_network_transmit_bytes");
        for (const InterfaceCounters &i : m_interfaces)
            sent.samples.append({{{QStringLiteral("device"), text(i.name)}}, static_cast<double>(i.sent)});
    }
    if (m_diskReader.read(&m_disks)) {
        MetricFamily &read = family(out, "quillmoor_disk_read_bytes");
        for (const DiskCounters &d : m_disks)
            read.samples.append({{{QStringLiteral("device"), text(d.name)}}, static_cast<double>(d.bytesRead)});
        MetricFamily &written = family(out, "quillmoor_disk_written_bytes");
        for (const DiskCounters &d : m_disks)
            written.samples.append({{{QStringLiteral("device"), text(d.name)}}, static_cast<double>(d.bytesWritten)});
    }
}

void MetricsCollector::addFileSystem(QList<MetricFamily> &out)
{
    const std::optional<FileSystemUsage> usage = FileSystemStats(QFile::encodeName(m_sources.homePath).toStdString()).read();
    if (!usage)
        return;
    const MetricLabels labels{{QStringLiteral("path"), m_sources.homePath}};
    gauge(out, "quillmoor_filesystem_size_bytes", static_cast<double>(usage->totalBytes), labels);
    gauge(out, "quillmoor_filesystem_avail_bytes", static_cast<double>(usage->availableBytes), labels);
}

void MetricsCollector::addSensors(QList<MetricFamily> &out)
{
    MetricFamily &temperatures = family(out, "quillmoor_temperature_celsius");
    MetricFamily &fans = family(out, "quillmoor_fan_speed_rpm");
    for (const HwmonChip &chip : HwmonReader(m_sources.sysRoot).chips()) {
        // A runtime-suspended device (a sleeping discrete GPU) would be woken by reading it.
        if (HwmonReader::isSuspended(chip.device))
            continue;
        const QString chipFolder = folderName(chip.path);
        const QString chipName = text(chip.name);
        for (const HwmonTemperature &t : chip.temperatures) {
            if (const std::optional<double> celsius = HwmonReader::readCelsius(t.input))
                temperatures.samples.append({{{QStringLiteral("chip"), chipFolder},
                                              {QStringLiteral("chip_name"), chipName},
                                              {QStringLiteral("sensor"), inputName(t.input)},
                                              {QStringLiteral("label"), text(t.label)}},
                                             *celsius});
        }
        for (const std::string &fan : chip.fans) {
            if (const std::optional<double> rpm = HwmonReader::readRpm(fan))
                fans.samples.append({{{QStringLiteral("chip"), chipFolder},
                                      {QStringLiteral("chip_name"), chipName},
                                      {QStringLiteral("fan"), inputName(fan)}},
                                     *rpm});
        }
    }
}

void MetricsCollector::addPowerAndGpu(QList<MetricFamily> &out)
{
    if (!m_stats)
        return;
    if (m_stats->hasBattery()) {
        gauge(out, "quillmoor_battery_charge_ratio", m_stats->batteryPercentage() / 100.0);
        gauge(out, "quillmoor_battery_charging", m_stats->batteryIsCharging() ? 1 : 0);
    }
    if (m_stats->powerDrawMeasured())
        gauge(out, "quillmoor_power_draw_watts", m_stats->powerDraw(),
              {{QStringLiteral("source"), m_stats->powerDrawSource()}});

    if (!m_gpuNamed) {
        m_gpuName = m_stats->getHardwareInfo().gpuName;
        m_gpuNamed = true;
    }
    const MetricLabels gpu{{QStringLiteral("gpu"), m_gpuName}};
    if (m_stats->gpuUsageMeasured())
        gauge(out, "quillmoor_gpu_busy_ratio", m_stats->gpuUsage() / 100.0, gpu);
    // The provider keeps GPU memory in GiB, and 0 where the driver reports none.
    if (m_stats->gpuMemoryTotal() > 0) {
        gauge(out, "quillmoor_gpu_memory_used_bytes", std::round(m_stats->gpuMemoryUsed() * kBytesPerGiB), gpu);
        gauge(out, "quillmoor_gpu_memory_total_bytes", std::round(m_stats->gpuMemoryTotal() * kBytesPerGiB), gpu);
    }
}

void MetricsCollector::addLocalAI(QList<MetricFamily> &out)
{
    if (m_proxy) {
        gauge(out, "quillmoor_proxy_up", m_proxy->isRunning() ? 1 : 0);
        family(out, "quillmoor_proxy_requests").samples.append({{}, static_cast<double>(m_proxy->requestCount())});
        addThroughput(out);
    }
    // The demo switch shows sample models: nothing of them is exported.
    if (!m_localAI || m_localAI->demoMode())
        return;
    gauge(out, "quillmoor_ollama_up", m_localAI->status() == OllamaStatus::Offline ? 0 : 1);
    const QList<LocalAIModel> models = m_localAI->activeModels();
    MetricFamily &size = family(out, "quillmoor_ollama_model_size_bytes");
    MetricFamily &vram = family(out, "quillmoor_ollama_model_vram_bytes");
    MetricFamily &context = family(out, "quillmoor_ollama_model_context_length");
    MetricFamily &expiry = family(out, "quillmoor_ollama_model_expiry_timestamp_seconds");
    if (m_localAI->status() != OllamaStatus::Offline) {
        MetricFamily &installed = family(out, "quillmoor_ollama_installed_model_bytes");
        for (const InstalledModel &model : m_localAI->installedModels())
            if (!model.remote)
                installed.samples.append({{{QStringLiteral("model"), model.name}}, static_cast<double>(model.size)});
    }
    for (const LocalAIModel &model : models) {
        const MetricLabels labels{{QStringLiteral("model"), model.name}};
        size.samples.append({labels, static_cast<double>(model.size)});
        vram.samples.append({labels, static_cast<double>(model.sizeVram)});
        if (model.contextLength > 0)
            context.samples.append({labels, static_cast<double>(model.contextLength)});
        // A model kept loaded for ever carries a far-future date: it has no expiry to show.
        if (model.expiresAt && model.expiresAt->isValid()
            && LocalAIModel::expiryText(*model.expiresAt, QDateTime::currentDateTimeUtc()) != QLatin1String("Forever"))
            expiry.samples.append({labels, static_cast<double>(model.expiresAt->toMSecsSinceEpoch()) / 1000.0});
    }
}

void MetricsCollector::addCaches(QList<MetricFamily> &out)
{
    // Sizes read before the first walk ends are zeros, and the demo's are samples.
    if (!m_caches || !m_caches->sizesMeasured())
        return;
    MetricFamily &sizes = family(out, "quillmoor_cache_size_bytes");
    for (const CacheRowInfo &row : m_caches->cacheRows()) {
        if (row.onThisPlatform)
            sizes.samples.append({{{QStringLiteral("cache"), row.key}, {QStringLiteral("group"), row.group}},
                                  static_cast<double>(row.sizeBytes)});
    }
    sizes.samples.append({{{QStringLiteral("cache"), QStringLiteral("huggingFaceHub")}, {QStringLiteral("group"), QStringLiteral("models")}},
                          std::round(m_caches->huggingfaceCacheSizeGB() * kBytesPerGiB)});
    sizes.samples.append({{{QStringLiteral("cache"), QStringLiteral("ollamaModels")}, {QStringLiteral("group"), QStringLiteral("models")}},
                          std::round(m_caches->ollamaCacheSizeGB() * kBytesPerGiB)});
}

void MetricsCollector::addThroughput(QList<MetricFamily> &out)
{
    const QList<ModelThroughput> rows = m_proxy->modelThroughput();
    if (rows.isEmpty())
        return;
    MetricFamily &generations = family(out, "quillmoor_proxy_generations");
    MetricFamily &prompt = family(out, "quillmoor_proxy_prompt_tokens");
    MetricFamily &generated = family(out, "quillmoor_proxy_generated_tokens");
    MetricFamily &load = family(out, "quillmoor_proxy_load_seconds");
    MetricFamily &promptEval = family(out, "quillmoor_proxy_prompt_eval_seconds");
    MetricFamily &generation = family(out, "quillmoor_proxy_generation_seconds");
    for (const ModelThroughput &row : rows) {
        const MetricLabels labels{{QStringLiteral("model"), row.model}};
        generations.samples.append({labels, static_cast<double>(row.requests)});
        prompt.samples.append({labels, static_cast<double>(row.promptTokens)});
        generated.samples.append({labels, static_cast<double>(row.generatedTokens)});
        load.samples.append({labels, row.loadSeconds()});
        promptEval.samples.append({labels, row.promptEvalSeconds()});
        generation.samples.append({labels, row.generationSeconds()});
    }
}

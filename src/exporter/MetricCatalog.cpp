#include "MetricCatalog.h"

#include <QtGlobal>

namespace {
using enum MetricType;

QList<MetricDefinition> table()
{
    return {
        {"quillmoor_cpu_seconds", Counter, "seconds", "Seconds each CPU spent in each mode.",
         "/proc/stat per-CPU ticks over USER_HZ"},
        {"quillmoor_cpu_usage_ratio", Gauge, "ratio", "Share of all CPUs busy between the last two telemetry readings (1 s apart in the app, 5 s in quillmoor-exporter).",
         "SystemStatsProvider.cpuUsage"},
        {"quillmoor_memory_total_bytes", Gauge, "bytes", "Physical memory.", "/proc/meminfo MemTotal"},
        {"quillmoor_memory_available_bytes", Gauge, "bytes", "Memory available to new work without swapping.",
         "/proc/meminfo MemAvailable"},
        {"quillmoor_memory_used_bytes", Gauge, "bytes", "Memory in use: total less available.",
         "/proc/meminfo MemTotal - MemAvailable"},
        {"quillmoor_memory_pressure_ratio", Gauge, "ratio", "Share of physical memory in use.",
         "/proc/meminfo (MemTotal - MemAvailable) / MemTotal"},
        {"quillmoor_memory_swap_total_bytes", Gauge, "bytes", "Swap space.", "/proc/meminfo SwapTotal"},
        {"quillmoor_memory_swap_used_bytes", Gauge, "bytes", "Swap space in use.", "/proc/meminfo SwapTotal - SwapFree"},
        {"quillmoor_network_receive_bytes", Counter, "bytes", "Bytes received per network interface.",
         "/proc/net/dev"},
        {"quillmoor_network_transmit_bytes", Counter, "bytes", "Bytes sent per network interface.", "/proc/net/dev"},
        {"quillmoor_disk_read_bytes", Counter, "bytes", "Bytes read per physical disk.", "/proc/diskstats"},
        {"quillmoor_disk_written_bytes", Counter, "bytes", "Bytes written per physical disk.", "/proc/diskstats"},
        {"quillmoor_filesystem_size_bytes", Gauge, "bytes", "Size of the file system holding the home folder.",
         "statvfs of the home folder"},
        {"quillmoor_filesystem_avail_bytes", Gauge, "bytes",
         "Space an unprivileged user may still write on the file system holding the home folder.",
         "statvfs of the home folder"},
        {"quillmoor_temperature_celsius", Gauge, "celsius", "Temperature per hardware sensor.",
         "/sys/class/hwmon temp*_input"},
        {"quillmoor_fan_speed_rpm", Gauge, "rpm", "Fan speed per fan.", "/sys/class/hwmon fan*_input"},
        {"quillmoor_battery_charge_ratio", Gauge, "ratio", "Charge of the internal battery.",
         "SystemStatsProvider.batteryPercentage"},
        {"quillmoor_battery_charging", Gauge, "", "1 while the internal battery charges.",
         "SystemStatsProvider.batteryIsCharging"},
        {"quillmoor_power_draw_watts", Gauge, "watts", "Power the machine draws, where measured.",
         "SystemStatsProvider.powerDraw when powerDrawMeasured"},
        {"quillmoor_gpu_busy_ratio", Gauge, "ratio", "Share of time the GPU was busy, as its driver reports it.",
         "SystemStatsProvider.gpuUsage when gpuUsageMeasured"},
        {"quillmoor_gpu_memory_used_bytes", Gauge, "bytes", "GPU memory in use, as its driver reports it.",
         "SystemStatsProvider.gpuMemoryUsed"},
        {"quillmoor_gpu_memory_total_bytes", Gauge, "bytes", "GPU memory, as its driver reports it.",
         "SystemStatsProvider.gpuMemoryTotal"},
        {"quillmoor_ollama_up", Gauge, "", "1 while the local Ollama server answers.", "LocalAIService.status"},
        {"quillmoor_ollama_model_size_bytes", Gauge, "bytes", "Memory each loaded model takes.",
         "Ollama /api/ps size"},
        {"quillmoor_ollama_model_vram_bytes", Gauge, "bytes", "GPU memory each loaded model takes.",
         "Ollama /api/ps size_vram"},
        {"quillmoor_ollama_model_context_length", Gauge, "", "Context length each loaded model was loaded with.",
         "Ollama /api/ps context_length"},
        {"quillmoor_ollama_model_expiry_timestamp_seconds", Gauge, "seconds",
         "When each loaded model unloads, as a Unix time; absent for a model kept loaded.",
         "Ollama /api/ps expires_at"},
        {"quillmoor_ollama_installed_model_bytes", Gauge, "bytes",
         "Size of the files of each model Ollama has installed; cloud models, which take none, are left out.",
         "Ollama /api/tags size"},
        {"quillmoor_proxy_up", Gauge, "", "1 while the local API relay listens.", "LocalAPIProxyService.isRunning"},
        {"quillmoor_proxy_requests", Counter, "", "Requests the local API relay has passed on since the app started.",
         "LocalAPIProxyService.requestCount"},
        {"quillmoor_proxy_generations", Counter, "",
         "Generate and chat replies the relay saw end, per model, whether or not they carried Ollama's figures.",
         "LocalAPIProxyService.modelThroughput requests"},
        {"quillmoor_proxy_prompt_tokens", Counter, "", "Prompt tokens Ollama evaluated for requests through the relay, per model.",
         "Ollama prompt_eval_count in each reply's last object"},
        {"quillmoor_proxy_generated_tokens", Counter, "", "Tokens Ollama generated for requests through the relay, per model.",
         "Ollama eval_count in each reply's last object"},
        {"quillmoor_proxy_load_seconds", Counter, "seconds", "Time Ollama spent loading the model for requests through the relay, per model.",
         "Ollama load_duration"},
        {"quillmoor_proxy_prompt_eval_seconds", Counter, "seconds", "Time Ollama spent evaluating prompts for requests through the relay, per model.",
         "Ollama prompt_eval_duration"},
        {"quillmoor_proxy_generation_seconds", Counter, "seconds",
         "Time Ollama spent generating tokens for requests through the relay, per model; rate(generated tokens) / rate(this) is tokens per second.",
         "Ollama eval_duration"},
        {"quillmoor_cache_size_bytes", Gauge, "bytes", "Disk space each developer or model cache takes.",
         "BuildCacheService.cacheRows"},
        {"quillmoor_build", Info, "", "The Quillmoor version exporting these figures.", "QUILLMOOR_VERSION"},
    };
}
}

const QList<MetricDefinition> &MetricCatalog::all()
{
    static const QList<MetricDefinition> definitions = table();
    return definitions;
}

const MetricDefinition &MetricCatalog::get(QAnyStringView name)
{
    for (const MetricDefinition &definition : all())
        if (QAnyStringView::compare(definition.name, name) == 0)
            return definition;
    qFatal("no metric named %s in the catalog", qPrintable(name.toString()));
}

QString MetricFamily::sampleName() const
{
    switch (definition->type) {
    case MetricType::Counter: return definition->name + QStringLiteral("_total");
    case MetricType::Info: return definition->name + QStringLiteral("_info");
    case MetricType::Gauge: break;
    }
    return definition->name;
}

// How long one scrape body takes to write, on a scrape the size of a large workstation's
// (64 CPUs, 8 interfaces, 8 disks, 32 sensors, 6 loaded models, 25 caches), in both text
// formats; and how long collecting one takes on this machine. Prints medians.

#include "exporter/MetricCatalog.h"
#include "exporter/MetricsCollector.h"
#include "exporter/MetricsFormatter.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {
QList<MetricFamily> largeScrape()
{
    QList<MetricFamily> out;
    const auto add = [&](const char *name) -> MetricFamily & {
        out.append(MetricFamily{&MetricCatalog::get(QLatin1String(name)), {}});
        return out.last();
    };
    MetricFamily &cpu = add("quillmoor_cpu_seconds");
    for (int c = 0; c < 64; ++c)
        for (const char *mode : {"user", "nice", "system", "idle", "iowait", "irq", "softirq", "steal"})
            cpu.samples.append({{{"cpu", QString::number(c)}, {"mode", mode}}, 123456.78 + c});
    add("quillmoor_cpu_usage_ratio").samples.append({{}, 0.4231});
    for (const char *name : {"quillmoor_memory_total_bytes", "quillmoor_memory_available_bytes", "quillmoor_memory_used_bytes",
                             "quillmoor_memory_pressure_ratio", "quillmoor_memory_swap_total_bytes", "quillmoor_memory_swap_used_bytes"})
        add(name).samples.append({{}, 68719476736.0});
    for (const char *name : {"quillmoor_network_receive_bytes", "quillmoor_network_transmit_bytes"}) {
        MetricFamily &f = add(name);
        for (int i = 0; i < 8; ++i)
            f.samples.append({{{"device", QStringLiteral("enp%1s0").arg(i)}}, 98765432109.0 + i});
    }
    for (const char *name : {"quillmoor_disk_read_bytes", "quillmoor_disk_written_bytes"}) {
        MetricFamily &f = add(name);
        for (int i = 0; i < 8; ++i)
            f.samples.append({{{"device", QStringLiteral("nvme%1n1").arg(i)}}, 1234567890123.0 + i});
    }
    MetricFamily &temps = add("quillmoor_temperature_celsius");
    for (int i = 0; i < 32; ++i)
        temps.samples.append({{{"chip", QStringLiteral("hwmon%1").arg(i / 8)}, {"chip_name", "coretemp"},
                               {"sensor", QStringLiteral("temp%1").arg(i)}, {"label", QStringLiteral("Core %1").arg(i)}},
                              41.5 + i});
    for (const char *name : {"quillmoor_ollama_model_size_bytes", "quillmoor_ollama_model_vram_bytes",
                             "quillmoor_ollama_model_context_length", "quillmoor_ollama_model_expiry_timestamp_seconds"}) {
        MetricFamily &f = add(name);
        for (int i = 0; i < 6; ++i)
            f.samples.append({{{"model", QStringLiteral("qwen2.5-coder:%1b").arg(i * 7)}}, 4683075271.0 * i});
    }
    MetricFamily &caches = add("quillmoor_cache_size_bytes");
    for (int i = 0; i < 25; ++i)
        caches.samples.append({{{"cache", QStringLiteral("cache%1Size").arg(i)}, {"group", "developer"}}, 2840000000.0 + i});
    add("quillmoor_build").samples.append({{{"version", "0.1.0"}}, 1});
    return out;
}

double medianMicros(const std::function<void()> &work, int runs)
{
    std::vector<double> times;
    times.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1000.0);
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[static_cast<size_t>(runs / 2)];
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QList<MetricFamily> scrape = largeScrape();
    qsizetype samples = 0;
    for (const MetricFamily &f : scrape)
        samples += f.samples.size();
    qsizetype bytes = 0;
    const double classic = medianMicros([&] { bytes = MetricsFormatter::prometheus(scrape).size(); }, 2000);
    const double open = medianMicros([&] { MetricsFormatter::openMetrics(scrape); }, 2000);
    std::printf("format, %lld samples, %lld bytes: classic %.1f us, OpenMetrics %.1f us (target <= 1000 us)\n",
                static_cast<long long>(samples), static_cast<long long>(bytes), classic, open);

    MetricsCollector collector(MetricsSources{});
    int collected = 0;
    const double collect = medianMicros([&] { collected = static_cast<int>(collector.collect().size()); }, 500);
    std::printf("collect on this machine (kernel counters and sensors, no services): %.1f us, %d families\n", collect, collected);
    return 0;
}

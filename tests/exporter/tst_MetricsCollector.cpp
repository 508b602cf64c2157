#include "app/Preferences.h"
#include "caches/BuildCacheService.h"
#include "exporter/MetricsCollector.h"
#include "localai/LocalAIService.h"
#include "support/FakeHttpServer.h"
#include "support/FixtureTree.h"
#include "support/MetricsFixture.h"
#include "telemetry/SystemStatsProvider.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <optional>
#include <unistd.h>

namespace {
// The value of the one sample of `name` whose labels include all of `match`.
std::optional<double> valueOf(const QList<MetricFamily> &families, const QString &name, const MetricLabels &match = {})
{
    for (const MetricFamily &family : families) {
        if (family.sampleName() != name)
            continue;
        for (const MetricSample &sample : family.samples) {
            bool all = true;
            for (const auto &label : match)
                all = all && sample.labels.contains(label);
            if (all)
                return sample.value;
        }
    }
    return std::nullopt;
}

QStringList namesOf(const QList<MetricFamily> &families)
{
    QStringList names;
    for (const MetricFamily &family : families)
        names << family.sampleName();
    return names;
}

void await(const std::function<void(std::function<void()>)> &start)
{
    bool finished = false;
    start([&] { finished = true; });
    QVERIFY(QTest::qWaitFor([&] { return finished; }, 10000));
}
}

class TestMetricsCollector : public QObject
{
    Q_OBJECT

    FixtureTree machine;
    MetricsSources fixtureSources() const
    {
        MetricsSources s = fixtureMetricsSources(machine, QStringLiteral("home"));
        s.version = QStringLiteral("9.8.7");
        return s;
    }

private Q_SLOTS:
    void initTestCase()
    {
        machine.write("proc/stat", "cpu  10 0 10 100 0 0 0 0 0 0\n"
                                   "cpu0 250 5 100 1000 20 3 2 1 0 0\n"
                                   "cpu1 150 0 50 2000 0 0 0 0 0 0\n"
                                   "intr 1 2 3\n");
        machine.write("proc/meminfo", "MemTotal:       16000000 kB\nMemFree:         1000000 kB\n"
                                      "MemAvailable:    4000000 kB\nSwapTotal:       2000000 kB\n"
                                      "SwapFree:        1500000 kB\n");
        machine.write("proc/net/dev",
                      "Inter-|   Receive                                                |  Transmit\n"
                      " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
                      "    lo: 5000000000 10 0 0 0 0 0 0 5000000000 10 0 0 0 0 0 0\n"
                      "  eth0: 123456 20 0 0 0 0 0 0 654321 30 0 0 0 0 0 0\n");
        // sda is a disk, sda1 its partition, loop0 a layer: only the disk is counted.
        machine.write("proc/diskstats", "   8       0 sda 100 0 2048 10 50 0 4096 20 0 30 30 0 0 0 0\n"
                                        "   8       1 sda1 100 0 2048 10 50 0 4096 20 0 30 30 0 0 0 0\n"
                                        "   7       0 loop0 5 0 10 1 0 0 0 0 0 1 1 0 0 0 0\n");
        machine.mkdir("sys/block/sda/device");
        machine.mkdir("sys/block/loop0");
        machine.write("sys/class/hwmon/hwmon0/name", "coretemp\n");
        machine.write("sys/class/hwmon/hwmon0/temp1_input", "45500\n");
        machine.write("sys/class/hwmon/hwmon0/temp1_label", "Package id 0\n");
        machine.write("sys/class/hwmon/hwmon0/temp2_input", "not a number\n");
        machine.write("sys/class/hwmon/hwmon0/fan1_input", "1200\n");
        // A discrete GPU asleep: reading its sensor would wake it, so it is passed over.
        machine.write("sys/class/hwmon/hwmon1/name", "amdgpu\n");
        machine.write("sys/class/hwmon/hwmon1/temp1_input", "30000\n");
        machine.write("sys/class/hwmon/hwmon1/device/power/runtime_status", "suspended\n");
        machine.mkdir("home");
    }

    void kernelCountersAsTheyStand()
    {
        MetricsCollector collector(fixtureSources());
        const QList<MetricFamily> families = collector.collect();
        const double tick = 1.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));

        QCOMPARE(valueOf(families, "quillmoor_cpu_seconds_total", {{"cpu", "0"}, {"mode", "user"}}), 250 * tick);
        QCOMPARE(valueOf(families, "quillmoor_cpu_seconds_total", {{"cpu", "0"}, {"mode", "steal"}}), 1 * tick);
        QCOMPARE(valueOf(families, "quillmoor_cpu_seconds_total", {{"cpu", "1"}, {"mode", "idle"}}), 2000 * tick);
        QCOMPARE(valueOf(families, "quillmoor_memory_total_bytes"), 16000000.0 * 1024);
        QCOMPARE(valueOf(families, "quillmoor_memory_available_bytes"), 4000000.0 * 1024);
        QCOMPARE(valueOf(families, "quillmoor_memory_used_bytes"), 12000000.0 * 1024);
        QCOMPARE(valueOf(families, "quillmoor_memory_pressure_ratio"), 0.75);
        QCOMPARE(valueOf(families, "quillmoor_memory_swap_used_bytes"), 500000.0 * 1024);
        // Counters past 32 bits come through whole.
        QCOMPARE(valueOf(families, "quillmoor_network_receive_bytes_total", {{"device", "lo"}}), 5000000000.0);
        QCOMPARE(valueOf(families, "quillmoor_network_transmit_bytes_total", {{"device", "eth0"}}), 654321.0);
        QCOMPARE(valueOf(families, "quillmoor_disk_read_bytes_total", {{"device", "sda"}}), 2048.0 * 512);
        QCOMPARE(valueOf(families, "quillmoor_disk_written_bytes_total", {{"device", "sda"}}), 4096.0 * 512);
        QVERIFY(!valueOf(families, "quillmoor_disk_read_bytes_total", {{"device", "sda1"}}));
        QVERIFY(!valueOf(families, "quillmoor_disk_read_bytes_total", {{"device", "loop0"}}));
        QVERIFY(valueOf(families, "quillmoor_filesystem_size_bytes", {{"path", machine.path("home")}}).value_or(0) > 0);

        QCOMPARE(valueOf(families, "quillmoor_temperature_celsius", {{"chip", "hwmon0"}, {"sensor", "temp1"}, {"label", "Package id 0"}}), 45.5);
        QVERIFY(!valueOf(families, "quillmoor_temperature_celsius", {{"sensor", "temp2"}}));
        QVERIFY(!valueOf(families, "quillmoor_temperature_celsius", {{"chip", "hwmon1"}}));
        QCOMPARE(valueOf(families, "quillmoor_fan_speed_rpm", {{"chip_name", "coretemp"}, {"fan", "fan1"}}), 1200.0);
        QCOMPARE(valueOf(families, "quillmoor_build_info", {{"version", "9.8.7"}}), 1.0);

        // Without services, nothing they alone know is made up.
        for (const char *absent : {"quillmoor_cpu_usage_ratio", "quillmoor_ollama_up", "quillmoor_proxy_up",
                                   "quillmoor_cache_size_bytes", "quillmoor_gpu_busy_ratio"})
            QVERIFY2(!namesOf(families).contains(absent), absent);

        // Read again, a counter that moved shows its new total.
        machine.write("proc/net/dev",
                      "Inter-|   Receive\n face |bytes\n"
                      "    lo: 5000001000 10 0 0 0 0 0 0 5000000000 10 0 0 0 0 0 0\n");
        QCOMPARE(valueOf(collector.collect(), "quillmoor_network_receive_bytes_total", {{"device", "lo"}}), 5000001000.0);
        QVERIFY(!valueOf(collector.collect(), "quillmoor_network_receive_bytes_total", {{"device", "eth0"}}));
    }

    void estimatesAndDemoRowsAreLeftOut()
    {
        QTemporaryDir settingsDir;
        Preferences preferences(new QSettings(settingsDir.filePath("q.ini"), QSettings::IniFormat));
        TelemetrySources telemetry;
        telemetry.procRoot = machine.root("proc");
        telemetry.sysRoot = machine.root("sys");
        telemetry.homePath = machine.root("home");
        SystemStatsProvider stats(preferences, telemetry, SystemStatsProvider::Polling::Manual);
        stats.setUniformSource([](double, double high) { return high; });
        stats.updateStats();
        machine.write("proc/stat", "cpu0 350 5 100 1100 20 3 2 1 0 0\ncpu1 150 0 50 2000 0 0 0 0 0 0\n");
        stats.updateStats();
        // The screens show an estimated GPU load and temperature here; neither is exported.
        QVERIFY(!stats.gpuUsageMeasured());
        QVERIFY(!stats.powerDrawMeasured());

        LocalAISources ai;
        ai.ollamaUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
        ai.searchPath = QStringList{};
        LocalAIService localAI(ai, LocalAIService::Polling::Manual);
        localAI.setDemoMode(true);
        await([&](auto done) { localAI.updateModels(done); });

        BuildCacheSources cacheSources;
        cacheSources.homePath = machine.path("home");
        cacheSources.environment = [](const char *) { return QString(); };
        cacheSources.ollamaServiceStores = {};
        bool demo = true;
        cacheSources.demoMode = [&] { return demo; };
        BuildCacheService caches(cacheSources, BuildCacheService::Polling::Manual);

        MetricsSources sources = fixtureSources();
        sources.stats = &stats;
        sources.localAI = &localAI;
        sources.caches = &caches;
        MetricsCollector collector(sources);

        QList<MetricFamily> families = collector.collect();
        // CPU 0 went 100 busy ticks in 200: one CPU of two half busy.
        QCOMPARE(valueOf(families, "quillmoor_cpu_usage_ratio"), 0.25);
        for (const char *absent : {"quillmoor_gpu_busy_ratio", "quillmoor_gpu_memory_used_bytes", "quillmoor_power_draw_watts",
                                   "quillmoor_battery_charge_ratio", "quillmoor_ollama_up",
                                   "quillmoor_ollama_model_size_bytes", "quillmoor_cache_size_bytes"})
            QVERIFY2(!namesOf(families).contains(absent), absent);

        // Sample cache figures of the demo are not measurements either; nor are the zeros
        // before the first walk has finished.
        await([&](auto done) { caches.scanCaches(done); });
        QVERIFY(!namesOf(collector.collect()).contains("quillmoor_cache_size_bytes"));
        demo = false;
        machine.write("home/.cache/pip/wheel.whl", QByteArray(10000, 'x'));
        QVERIFY(!namesOf(collector.collect()).contains("quillmoor_cache_size_bytes"));
        await([&](auto done) { caches.scanCaches(done); });
        families = collector.collect();
        QVERIFY(valueOf(families, "quillmoor_cache_size_bytes", {{"cache", "pipCacheSize"}}).value_or(0) >= 10000);
        QCOMPARE(valueOf(families, "quillmoor_cache_size_bytes", {{"cache", "npmCacheSize"}}), 0.0);

        // Live again, with no server: Ollama is down, and no model row is kept.
        localAI.setDemoMode(false);
        await([&](auto done) { localAI.updateModels(done); });
        families = collector.collect();
        QCOMPARE(valueOf(families, "quillmoor_ollama_up"), 0.0);
        QVERIFY(!namesOf(families).contains("quillmoor_ollama_model_size_bytes"));
    }

    void loadedModelsFromTheServer()
    {
        FakeHttpServer ollama;
        const QDateTime soon = QDateTime::currentDateTimeUtc().addSecs(240);
        const QJsonArray models{
            QJsonObject{{"name", "qwen2:7b"}, {"model", "qwen2:7b"}, {"size", 5000000000.0}, {"size_vram", 3000000000.0},
                        {"context_length", 8192}, {"expires_at", soon.toString(Qt::ISODate)}},
            QJsonObject{{"name", "llama3:8b"}, {"model", "llama3:8b"}, {"size", 6000000000.0}, {"size_vram", 0},
                        {"expires_at", "2318-01-01T00:00:00Z"}}};
        ollama.reply(200, QJsonDocument(QJsonObject{{"models", models}}).toJson());
        LocalAISources ai;
        ai.ollamaUrl = ollama.url();
        ai.searchPath = QStringList{};
        LocalAIService localAI(ai, LocalAIService::Polling::Manual);
        localAI.setDemoMode(false);
        await([&](auto done) { localAI.updateModels(done); });
        QCOMPARE(localAI.activeModels().size(), 2);

        MetricsSources sources = fixtureSources();
        sources.localAI = &localAI;
        MetricsCollector collector(sources);
        const QList<MetricFamily> families = collector.collect();
        QCOMPARE(valueOf(families, "quillmoor_ollama_up"), 1.0);
        QCOMPARE(valueOf(families, "quillmoor_ollama_model_size_bytes", {{"model", "qwen2:7b"}}), 5000000000.0);
        QCOMPARE(valueOf(families, "quillmoor_ollama_model_vram_bytes", {{"model", "qwen2:7b"}}), 3000000000.0);
        QCOMPARE(valueOf(families, "quillmoor_ollama_model_vram_bytes", {{"model", "llama3:8b"}}), 0.0);
        QCOMPARE(valueOf(families, "quillmoor_ollama_model_context_length", {{"model", "qwen2:7b"}}), 8192.0);
        // The server answers /api/tags with the same list: both models are installed too.
        await([&](auto done) { localAI.refreshInstalledModels(done); });
        QCOMPARE(localAI.installedModels().size(), 2);
        const QList<MetricFamily> withInstalled = collector.collect();
        QCOMPARE(valueOf(withInstalled, "quillmoor_ollama_installed_model_bytes", {{"model", "llama3:8b"}}), 6000000000.0);
        QCOMPARE(valueOf(withInstalled, "quillmoor_ollama_installed_model_bytes", {{"model", "qwen2:7b"}}), 5000000000.0);
        QVERIFY(!valueOf(families, "quillmoor_ollama_model_context_length", {{"model", "llama3:8b"}}));
        QCOMPARE(valueOf(families, "quillmoor_ollama_model_expiry_timestamp_seconds", {{"model", "qwen2:7b"}}),
                 static_cast<double>(soon.toSecsSinceEpoch()));
        // Kept loaded for ever: no expiry to give.
        QVERIFY(!valueOf(families, "quillmoor_ollama_model_expiry_timestamp_seconds", {{"model", "llama3:8b"}}));
    }
};

QTEST_GUILESS_MAIN(TestMetricsCollector)
#include "tst_MetricsCollector.moc"

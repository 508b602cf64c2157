#include "app/Preferences.h"
#include "support/FixtureTree.h"
#include "telemetry/AcceleratorSurvey.h"
#include "telemetry/NpuMonitor.h"
#include "telemetry/SystemStatsProvider.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <memory>

namespace {
const QString kBusyFile = QStringLiteral("sys/class/accel/accel0/device/npu_busy_time_us");

void link(const FixtureTree &tree, const QString &relative, const char *driver)
{
    tree.mkdir(QFileInfo(relative).path());
    std::filesystem::create_symlink(std::string("../../../bus/pci/drivers/") + driver, tree.root(relative));
}

void writeIntelNpu(const FixtureTree &tree, const QByteArray &busyMicroseconds)
{
    link(tree, "sys/class/accel/accel0/device/driver", "intel_vpu");
    tree.write(kBusyFile, busyMicroseconds + '\n');
}

void writeNvidiaCard(const FixtureTree &tree)
{
    tree.write("sys/class/drm/card0/device/vendor", "0x10de\n");
    tree.write("sys/class/drm/card0/device/device", "0x2786\n");
    link(tree, "sys/class/drm/card0/device/driver", "nvidia");
    tree.write("dev/nvidiactl", "");
}
}

class TestAccelerators : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;
    std::int64_t clockUs = 0;

    TelemetrySources sources(std::string nvml = {})
    {
        TelemetrySources s;
        s.procRoot = tree->root("proc");
        s.sysRoot = tree->root("sys");
        s.homePath = tree->root("");
        s.nvmlLibrary = std::move(nvml);
        s.accelerators.devRoot = tree->root("dev");
        s.accelerators.vulkanIcdDirs = {tree->root("icd.d")};
        s.steadyMicroseconds = [this] { return clockUs; };
        return s;
    }

    std::unique_ptr<SystemStatsProvider> makeProvider(std::string nvml = {})
    {
        auto stats = std::make_unique<SystemStatsProvider>(*prefs, sources(std::move(nvml)),
                                                           SystemStatsProvider::Polling::Manual);
        // The estimate's top draw: 0.5 % with no model loaded, so it cannot pass for a reading.
        stats->setUniformSource([](double, double high) { return high; });
        return stats;
    }

    NpuMonitor monitor() { return NpuMonitor(tree->root(kBusyFile), [this] { return clockUs; }); }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
        tree->mkdir("proc");
        tree->mkdir("sys");
        tree->mkdir("dev");
        tree->write("sys/devices/system/cpu/online", "0-3\n");
        clockUs = 5'000'000;
    }
    void cleanup()
    {
        prefs.reset();
        tree.reset();
    }

    void npuBusyShareBetweenReadings()
    {
        writeIntelNpu(*tree, "1000");
        NpuMonitor npu = monitor();
        // A quarter of the second busy.
        clockUs += 1'000'000;
        tree->write(kBusyFile, "251000\n");
        QCOMPARE(npu.sample().value_or(-1), 25.0);
        // Idle for half a second.
        clockUs += 500'000;
        QCOMPARE(npu.sample().value_or(-1), 0.0);
        // The counter read a moment after the clock: never above 100.
        clockUs += 1'000'000;
        tree->write(kBusyFile, "1252000\n");
        QCOMPARE(npu.sample().value_or(-1), 100.0);
        // No time passed: nothing to divide by.
        QVERIFY(!npu.sample());
    }

    void npuCounterGoneOrReset()
    {
        writeIntelNpu(*tree, "900000");
        NpuMonitor npu = monitor();
        // The driver was reloaded and its counter began again: that interval is unknown,
        // the next one is measured from the new count.
        clockUs += 1'000'000;
        tree->write(kBusyFile, "100\n");
        QVERIFY(!npu.sample());
        clockUs += 1'000'000;
        tree->write(kBusyFile, "500100\n");
        QCOMPARE(npu.sample().value_or(-1), 50.0);
        // Unreadable, then readable again: measured from the first good reading.
        tree->remove(kBusyFile);
        clockUs += 1'000'000;
        QVERIFY(!npu.sample());
        tree->write(kBusyFile, "600100\n");
        clockUs += 1'000'000;
        QVERIFY(!npu.sample());
        tree->write(kBusyFile, "800100\n");
        clockUs += 1'000'000;
        QCOMPARE(npu.sample().value_or(-1), 20.0);

        NpuMonitor none;
        QVERIFY(!none.sample());
    }

    void providerMeasuresNpu()
    {
        writeIntelNpu(*tree, "2000000");
        auto stats = makeProvider();
        QVERIFY(!stats->aneUsageMeasured());
        QSignalSpy measuredSpy(stats.get(), &SystemStatsProvider::aneUsageMeasuredChanged);
        clockUs += 1'000'000;
        tree->write(kBusyFile, "2400000\n");
        stats->updateStats();
        QVERIFY(stats->aneUsageMeasured());
        QCOMPARE(measuredSpy.count(), 1);
        QCOMPARE(stats->aneUsage(), 40.0);
        clockUs += 2'000'000;
        tree->write(kBusyFile, "2500000\n");
        stats->updateStats();
        QCOMPARE(stats->aneUsage(), 5.0);
        QCOMPARE(measuredSpy.count(), 1);
        QCOMPARE(stats->getHardwareInfo().npuName, QStringLiteral("Intel NPU"));

        // The counter stops answering: back to the estimate, and saying so.
        tree->remove(kBusyFile);
        clockUs += 1'000'000;
        stats->updateStats();
        QVERIFY(!stats->aneUsageMeasured());
        QCOMPARE(measuredSpy.count(), 2);
        QCOMPARE(stats->aneUsage(), 0.5);
    }

    void providerWithoutNpuEstimates()
    {
        auto stats = makeProvider();
        stats->updateStats();
        QVERIFY(!stats->aneUsageMeasured());
        QCOMPARE(stats->aneUsage(), 0.5);
        QCOMPARE(stats->anePowerDraw(), 0.02);
        const MachineHardwareInfo info = stats->getHardwareInfo();
        QCOMPARE(info.npuName, QString());
        QCOMPARE(info.gpuName, QString());
        QCOMPARE(info.gpuComputeStack, QString());
        QCOMPARE(info.gpuDriver, QString());

        // An NPU whose driver keeps no counter is named but not measured.
        link(*tree, "sys/class/accel/accel0/device/driver", "amdxdna");
        auto xdna = makeProvider();
        xdna->updateStats();
        QVERIFY(!xdna->aneUsageMeasured());
        QCOMPARE(xdna->aneUsage(), 0.5);
        QCOMPARE(xdna->getHardwareInfo().npuName, QStringLiteral("AMD XDNA NPU"));
    }

    void nvidiaCoresFromNvml()
    {
        writeNvidiaCard(*tree);
        auto stats = makeProvider(FAKE_NVML_PATH);
        QSignalSpy measuredSpy(stats.get(), &SystemStatsProvider::gpuCoreCountMeasuredChanged);
        stats->updateStats();
        QVERIFY(stats->gpuCoreCountMeasured());
        QCOMPARE(measuredSpy.count(), 1);
        QCOMPARE(stats->gpuCoreCount(), 5888);
        const MachineHardwareInfo info = stats->getHardwareInfo();
        QCOMPARE(info.gpuName, QStringLiteral("NVIDIA GeForce RTX 4070"));
        QCOMPARE(info.gpuDriver, QStringLiteral("nvidia"));
        QCOMPARE(info.gpuComputeStack, QStringLiteral("CUDA"));
        QCOMPARE(info.gpuCores, 5888);
        // The existing description stays as it was.
        QCOMPARE(info.cpuCores, 4);

        // An older driver names the card but counts no cores: twice the CPUs, unmeasured.
        auto legacy = makeProvider(FAKE_NVML_LEGACY_PATH);
        legacy->updateStats();
        QVERIFY(!legacy->gpuCoreCountMeasured());
        QCOMPARE(legacy->gpuCoreCount(), 8);
        QCOMPARE(legacy->getHardwareInfo().gpuName, QStringLiteral("NVIDIA GeForce RTX 4070"));

        // No NVML at all: the card is still found, by its maker and driver.
        auto bare = makeProvider();
        bare->updateStats();
        QVERIFY(!bare->gpuCoreCountMeasured());
        QCOMPARE(bare->gpuCoreCount(), 8);
        QCOMPARE(bare->getHardwareInfo().gpuName, QStringLiteral("NVIDIA GPU (nvidia)"));
    }

    void nvmlNotLoadedWithoutNvidiaCard()
    {
        // NVML answering for a GPU sysfs does not list (a stale library in a container)
        // must not name a card the machine does not show.
        const AcceleratorSurvey survey(tree->root("sys"), sources().accelerators, FAKE_NVML_PATH);
        QVERIFY(!survey.gpu());
        QVERIFY(!survey.gpuCoreCount());
        MachineHardwareInfo info;
        info.gpuName = QStringLiteral("stale");
        survey.describe(info);
        QCOMPARE(info.gpuName, QString());
    }
};

QTEST_GUILESS_MAIN(TestAccelerators)
#include "tst_Accelerators.moc"

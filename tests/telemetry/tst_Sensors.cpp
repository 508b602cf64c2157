#include "app/Preferences.h"
#include "platform/NvmlLibrary.h"
#include "platform/PowerSupplyReader.h"
#include "support/FixtureTree.h"
#include "support/StdoutCapture.h"
#include "telemetry/HIDMonitor.h"
#include "telemetry/SensorSampler.h"
#include "telemetry/SystemStatsProvider.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <limits>
#include <memory>

Q_DECLARE_METATYPE(BatteryInfo)
Q_DECLARE_METATYPE(PowerSupply)

namespace {
constexpr double kGB = 1073741824.0;

QByteArray statLine(int pid, const QByteArray &comm)
{
    return QByteArray::number(pid) + " (" + comm + ") S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 100 0 0\n";
}

// A ThinkPad-like laptop: coretemp, an NVMe drive, one fan with a PWM output, an i915
// GPU without temperature inputs, and ACPI zones.
void writeIntelLaptop(const FixtureTree &tree, int packageMilli = 61000)
{
    tree.write("sys/class/hwmon/hwmon0/name", "coretemp\n");
    tree.write("sys/class/hwmon/hwmon0/temp1_label", "Package id 0\n");
    tree.write("sys/class/hwmon/hwmon0/temp1_input", QByteArray::number(packageMilli) + '\n');
    tree.write("sys/class/hwmon/hwmon0/temp2_label", "Core 0\n");
    tree.write("sys/class/hwmon/hwmon0/temp2_input", "58000\n");
    tree.write("sys/class/hwmon/hwmon1/name", "nvme\n");
    tree.write("sys/class/hwmon/hwmon1/temp2_label", "Sensor 1\n");
    tree.write("sys/class/hwmon/hwmon1/temp2_input", "50000\n");
    tree.write("sys/class/hwmon/hwmon1/temp1_label", "Composite\n");
    tree.write("sys/class/hwmon/hwmon1/temp1_input", "41850\n");
    tree.write("sys/class/hwmon/hwmon2/name", "thinkpad\n");
    tree.write("sys/class/hwmon/hwmon2/fan1_input", "2900\n");
    tree.write("sys/class/hwmon/hwmon10/name", "i915\n");
    tree.write("sys/class/thermal/thermal_zone0/type", "acpitz\n");
    tree.write("sys/class/thermal/thermal_zone0/temp", "50000\n");
    tree.write("sys/class/thermal/thermal_zone1/type", "x86_pkg_temp\n");
    tree.write("sys/class/thermal/thermal_zone1/temp", "61000\n");
}

// A desktop: k10temp, amdgpu with its load counters, a Super I/O chip with two fans and
// a PWM output, a SATA drive through drivetemp. No battery.
void writeAmdDesktop(const FixtureTree &tree)
{
    tree.write("sys/class/hwmon/hwmon0/name", "k10temp\n");
    tree.write("sys/class/hwmon/hwmon0/temp3_label", "Tccd1\n");
    tree.write("sys/class/hwmon/hwmon0/temp3_input", "65000\n");
    tree.write("sys/class/hwmon/hwmon0/temp1_label", "Tctl\n");
    tree.write("sys/class/hwmon/hwmon0/temp1_input", "70500\n");
    tree.write("sys/class/hwmon/hwmon1/name", "amdgpu\n");
    tree.write("sys/class/hwmon/hwmon1/temp2_label", "junction\n");
    tree.write("sys/class/hwmon/hwmon1/temp2_input", "60000\n");
    tree.write("sys/class/hwmon/hwmon1/temp1_label", "edge\n");
    tree.write("sys/class/hwmon/hwmon1/temp1_input", "55000\n");
    tree.write("sys/class/hwmon/hwmon1/fan1_input", "1100\n");
    tree.write("sys/class/hwmon/hwmon1/device/gpu_busy_percent", "37\n");
    tree.write("sys/class/hwmon/hwmon1/device/mem_info_vram_used", "2147483648\n");
    tree.write("sys/class/hwmon/hwmon1/device/mem_info_vram_total", "8589934592\n");
    tree.write("sys/class/hwmon/hwmon1/device/power/runtime_status", "active\n");
    tree.write("sys/class/hwmon/hwmon2/name", "nct6775\n");
    tree.write("sys/class/hwmon/hwmon2/fan1_input", "800\n");
    tree.write("sys/class/hwmon/hwmon2/fan2_input", "0\n");
    tree.write("sys/class/hwmon/hwmon2/pwm1", "100\n");
    tree.write("sys/class/hwmon/hwmon2/pwm1_enable", "5\n");
    tree.write("sys/class/hwmon/hwmon3/name", "drivetemp\n");
    tree.write("sys/class/hwmon/hwmon3/temp1_input", "38000\n");
}

QByteArray contents(const FixtureTree &tree, const QString &relative)
{
    QFile f(tree.path(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray("<missing>");
}
}

class TestSensors : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;

    std::unique_ptr<SystemStatsProvider> makeProvider(std::string nvml = {})
    {
        TelemetrySources sources;
        sources.procRoot = tree->root("proc");
        sources.sysRoot = tree->root("sys");
        sources.homePath = tree->root("");
        sources.nvmlLibrary = std::move(nvml);
        auto stats = std::make_unique<SystemStatsProvider>(*prefs, sources, SystemStatsProvider::Polling::Manual);
        stats->setUniformSource([](double, double high) { return high; });
        return stats;
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
        tree->mkdir("proc");
        tree->mkdir("sys");
    }
    void cleanup()
    {
        prefs.reset();
        tree.reset();
    }

    void intelLaptopSensors()
    {
        writeIntelLaptop(*tree);
        HIDMonitor monitor(tree->root("sys"));
        QVERIFY(monitor.hasThermalServices());
        QCOMPARE(monitor.readTemperature(QStringLiteral("Tp09")).value_or(-1), 61.0);
        QCOMPARE(monitor.readTemperature(QStringLiteral("Ts01")).value_or(-1), 41.85);
        // The i915 chip has no temperature input; the GPU is not given the CPU's reading.
        QVERIFY(!monitor.readTemperature(QStringLiteral("Tg05")));
        QVERIFY(!monitor.readTemperature(QStringLiteral("Xx99")));

        auto stats = makeProvider();
        stats->updateStats();
        QCOMPARE(stats->socTemperature(), 61.0);
        QCOMPARE(stats->ssdTemperature(), 41.85);
        QCOMPARE(stats->gpuTemperature(), 61.0 * 0.9 + 2.0);   // the estimate, top of its draw
        QCOMPARE(stats->fanRPMs(), QList<double>{2900.0});
        QVERIFY(stats->fanRPMsMeasured());
        QVERIFY(!stats->gpuUsageMeasured());
    }

    void cpuSensorFallbacks()
    {
        // Without coretemp the package zone answers; without that, the ACPI zone.
        tree->write("sys/class/thermal/thermal_zone0/type", "acpitz\n");
        tree->write("sys/class/thermal/thermal_zone0/temp", "47000\n");
        tree->write("sys/class/thermal/thermal_zone1/type", "x86_pkg_temp\n");
        tree->write("sys/class/thermal/thermal_zone1/temp", "0\n");   // 0 counts as missing
        HIDMonitor monitor(tree->root("sys"));
        QCOMPARE(monitor.readTemperature(QStringLiteral("Tp09")).value_or(-1), 47.0);
        tree->write("sys/class/thermal/thermal_zone1/temp", "63500\n");
        QCOMPARE(monitor.readTemperature(QStringLiteral("Tp09")).value_or(-1), 63.5);
        QVERIFY(!monitor.readTemperature(QStringLiteral("Ts01")));
    }

    void amdDesktopSensorsAndGpuLoad()
    {
        writeAmdDesktop(*tree);
        auto stats = makeProvider();
        stats->setLoadedModelSizesSource([] { return QList<qint64>{qint64(4 * kGB)}; });
        stats->updateStats();
        QCOMPARE(stats->socTemperature(), 70.5);
        QCOMPARE(stats->gpuTemperature(), 55.0);
        QCOMPARE(stats->ssdTemperature(), 38.0);
        // Measured load wins over the loaded-model estimate (which would read 65 here).
        QVERIFY(stats->gpuUsageMeasured());
        QCOMPARE(stats->gpuUsage(), 37.0);
        QCOMPARE(stats->gpuMemoryUsed(), 2.0);
        QCOMPARE(stats->gpuMemoryTotal(), 8.0);
        QCOMPARE(stats->fanRPMs(), (QList<double>{1100.0, 800.0, 0.0}));
        QVERIFY(stats->turboCoolingAvailable());

        // A runtime-suspended GPU is not woken to be read: estimates stand in.
        tree->write("sys/class/hwmon/hwmon1/device/power/runtime_status", "suspended\n");
        stats->updateStats();
        QVERIFY(!stats->gpuUsageMeasured());
        QCOMPARE(stats->gpuUsage(), 65.0);
        QCOMPARE(stats->gpuTemperature(), 70.5 * 0.9 + 2.0);
        QCOMPARE(stats->gpuMemoryTotal(), 0.0);
    }

    void machineWithNothing()
    {
        StdoutCapture out;
        auto stats = makeProvider();
        for (int i = 0; i < 3; ++i)
            stats->updateStats();
        QCOMPARE(out.text().count("HIDMonitor: No thermal services found.\n"), 1);
        QCOMPARE(stats->socTemperature(), 0.0);
        // Built on no package reading at all: the room's floor, not 0 °C plus the jitter.
        QCOMPARE(stats->gpuTemperature(), SensorSampler::kAmbientFloor);
        QVERIFY(!stats->gpuTemperatureMeasured());
        QCOMPARE(stats->ssdTemperature(), 38.0);
        QCOMPARE(stats->fanRPMs(), QList<double>{0.0});
        QVERIFY(!stats->fanRPMsMeasured());
        QVERIFY(!stats->turboCoolingAvailable());
        QCOMPARE(stats->throttlingStatus(), 0.0);
    }

    void fanCurveAndThrottleFormula_data()
    {
        QTest::addColumn<int>("milli");
        QTest::addColumn<double>("fan");
        QTest::addColumn<double>("throttling");
        QTest::newRow("55") << 55000 << 0.0 << 0.0;
        QTest::newRow("56") << 56000 << 1320.0 << 0.0;
        QTest::newRow("95") << 95000 << 6000.0 << 0.0;
        QTest::newRow("97") << 97000 << 6240.0 << 10.0;
        QTest::newRow("100") << 100000 << 6600.0 << 25.0;
        QTest::newRow("106") << 106000 << 7200.0 << 55.0;
        QTest::newRow("120") << 120000 << 7200.0 << 125.0;
    }
    void fanCurveAndThrottleFormula()
    {
        QFETCH(int, milli);
        tree->write("sys/class/thermal/thermal_zone0/type", "x86_pkg_temp\n");
        tree->write("sys/class/thermal/thermal_zone0/temp", QByteArray::number(milli) + '\n');
        auto stats = makeProvider();
        stats->updateStats();
        QTEST(stats->fanRPMs().value(0), "fan");
        QTEST(stats->throttlingStatus(), "throttling");
    }

    void kernelThrottleCountersWinOverTheFormula()
    {
        tree->write("sys/class/thermal/thermal_zone0/type", "x86_pkg_temp\n");
        tree->write("sys/class/thermal/thermal_zone0/temp", "99000\n");
        for (const char *cpu : {"cpu0", "cpu1"}) {
            tree->write(QStringLiteral("sys/devices/system/cpu/%1/thermal_throttle/core_throttle_count").arg(QLatin1String(cpu)), "4\n");
            tree->write(QStringLiteral("sys/devices/system/cpu/%1/thermal_throttle/package_throttle_count").arg(QLatin1String(cpu)), "1\n");
        }
        auto stats = makeProvider();
        stats->updateStats();
        QCOMPARE(stats->throttlingStatus(), 0.0);   // nothing to compare with yet
        tree->write("sys/devices/system/cpu/cpu1/thermal_throttle/package_throttle_count", "2\n");
        stats->updateStats();
        QCOMPARE(stats->throttlingStatus(), 50.0);
        stats->updateStats();
        QCOMPARE(stats->throttlingStatus(), 0.0);
    }

    void forcedCoolingDrivesAndRestoresThePwm()
    {
        writeAmdDesktop(*tree);
        auto stats = makeProvider();
        stats->setForceTurboCooling(true);
        QVERIFY(stats->forceTurboCooling());
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon2/pwm1_enable"), QByteArray("1"));
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon2/pwm1"), QByteArray("255"));
        stats->updateStats();
        QCOMPARE(stats->fanRPMs().size(), 3);   // still what the tachometers read
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon2/pwm1"), QByteArray("255"));

        stats->setForceTurboCooling(false);
        stats->updateStats();
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon2/pwm1"), QByteArray("100"));
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon2/pwm1_enable"), QByteArray("5"));
    }

    void forcedCoolingWithoutTachometerShowsFullSpeed()
    {
        tree->write("sys/class/hwmon/hwmon0/name", "pwmfan\n");
        tree->write("sys/class/hwmon/hwmon0/pwm1", "40\n");
        auto stats = makeProvider();
        stats->setForceTurboCooling(true);
        stats->updateStats();
        QCOMPARE(stats->fanRPMs(), QList<double>{6850.0});
        QVERIFY(!stats->fanRPMsMeasured());
        stats->setForceTurboCooling(false);
        stats->updateStats();
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon0/pwm1"), QByteArray("40"));
        QCOMPARE(stats->fanRPMs(), QList<double>{0.0});
    }

    void forcedCoolingIsRefusedWithoutAnOutput()
    {
        writeIntelLaptop(*tree, 40000);
        auto stats = makeProvider();
        QSignalSpy toggled(stats.get(), &SystemStatsProvider::forceTurboCoolingChanged);
        stats->setForceTurboCooling(true);
        QVERIFY(!stats->forceTurboCooling());
        QCOMPARE(toggled.count(), 1);   // so a bound switch snaps back
        stats->updateStats();
        QCOMPARE(stats->fanRPMs(), QList<double>{2900.0});   // not a made-up 6800
    }

    void buildTurboFollowsTheCompilerProbe()
    {
        writeAmdDesktop(*tree);
        tree->write("proc/100/stat", statLine(100, "bash"));
        tree->write("proc/200/stat", statLine(200, "cargo-watch"));
        auto stats = makeProvider();
        bool buildTurbo = true;
        bool demo = false;
        stats->setBuildTurboSource([&] { return buildTurbo; });
        stats->setDemoModeSource([&] { return demo; });
        QVERIFY(stats->isCompilerRunning());   // the substring rule: a watcher counts
        stats->updateStats();
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon2/pwm1"), QByteArray("255"));

        demo = true;   // demo mode never lists processes
        QVERIFY(!stats->isCompilerRunning());
        stats->updateStats();
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon2/pwm1"), QByteArray("100"));

        demo = false;
        QVERIFY(QDir(tree->path("proc/200")).removeRecursively());
        QVERIFY(!stats->isCompilerRunning());
        tree->write("proc/300/stat", statLine(300, "cc1plus"));
        QVERIFY(!stats->isCompilerRunning());
        tree->write("proc/301/stat", statLine(301, "x86_64-linux-gnu-GCC"));
        QVERIFY(stats->isCompilerRunning());
        buildTurbo = false;
        stats->updateStats();
        QCOMPARE(contents(*tree, "sys/class/hwmon/hwmon2/pwm1"), QByteArray("100"));
    }

    void nvidiaThroughNvml()
    {
        NvmlLibrary missing("/nonexistent/libnvidia-ml.so.1");
        QVERIFY(!missing.available());
        QVERIFY(!missing.temperature());
        QVERIFY(!missing.sample().utilisation);

        NvmlLibrary fake(FAKE_NVML_PATH);
        QVERIFY(fake.available());
        const NvmlSample sample = fake.sample();
        QCOMPARE(fake.temperature().value_or(-1), 64.0);
        QCOMPARE(sample.utilisation.value_or(-1), 42.0);

        auto stats = makeProvider(FAKE_NVML_PATH);
        stats->updateStats();
        QCOMPARE(stats->gpuTemperature(), 64.0);
        QVERIFY(stats->gpuUsageMeasured());
        QCOMPARE(stats->gpuUsage(), 42.0);
        QCOMPARE(stats->gpuMemoryUsed(), 3.0);
        QCOMPARE(stats->gpuMemoryTotal(), 12.0);
    }

    void batteryRules_data()
    {
        QTest::addColumn<QList<PowerSupply>>("supplies");
        QTest::addColumn<bool>("present");
        QTest::addColumn<BatteryInfo>("expected");

        auto battery = [](const char *status) {
            PowerSupply s;
            s.name = "BAT0";
            s.type = "Battery";
            s.status = status;
            return s;
        };
        auto adapter = [](const char *type, bool online) {
            PowerSupply s;
            s.name = type;
            s.type = type;
            s.online = online;
            return s;
        };

        PowerSupply capacity = battery("Discharging");
        capacity.capacity = 84;
        capacity.energyNow = 42'000'000;
        capacity.powerNow = 10'500'000;
        QTest::newRow("capacity, energy over power, on battery")
            << QList<PowerSupply>{adapter("Mains", false), capacity} << true << BatteryInfo{84, false, 240, 10.5, true};

        PowerSupply energy = battery("Charging");
        energy.energyNow = 42'000'000;
        energy.energyFull = 50'000'000;
        QTest::newRow("energy ratio, charging on mains")
            << QList<PowerSupply>{adapter("Mains", true), energy} << true << BatteryInfo{84, true, 0, 0, false};

        PowerSupply charge = battery("Discharging");
        charge.chargeNow = 3'000'000;
        charge.chargeFull = 4'000'000;
        charge.voltageNow = 12'000'000;
        charge.currentNow = -1'500'000;
        QTest::newRow("charge ratio, volts times amps, USB-C offline")
            << QList<PowerSupply>{adapter("USB_C", false), charge} << true << BatteryInfo{75, false, 120, 18.0, true};

        // Energy at int64's top over a drain of 1 µW is some 5.5e20 minutes, past what the
        // time holds: not a time at all.
        PowerSupply garbled = battery("Discharging");
        garbled.energyNow = std::numeric_limits<std::int64_t>::max();
        garbled.powerNow = 1;
        QTest::newRow("minutes past int64 are not known")
            << QList<PowerSupply>{garbled} << true << BatteryInfo{0, false, 0, 1e-6, true};
        PowerSupply garbledCharge = battery("Discharging");
        garbledCharge.chargeNow = std::numeric_limits<std::int64_t>::min();
        garbledCharge.currentNow = -1;
        QTest::newRow("negative minutes past int64 are not known")
            << QList<PowerSupply>{garbledCharge} << true << BatteryInfo{0, false, 0, 0, true};

        PowerSupply emptyFull = battery("Full");
        emptyFull.chargeNow = 10;
        emptyFull.chargeFull = 0;
        QTest::newRow("full capacity 0 keeps 0")
            << QList<PowerSupply>{adapter("USB", true), emptyFull} << true << BatteryInfo{0, false, 0, 0, false};

        QTest::newRow("no files: the defaults, no adapter listed")
            << QList<PowerSupply>{battery("Unknown")} << true << BatteryInfo{0, false, 0, 0, false};
        QTest::newRow("no adapter listed, discharging")
            << QList<PowerSupply>{battery("Discharging")} << true << BatteryInfo{0, false, 0, 0, true};

        PowerSupply mouse = battery("Discharging");
        mouse.name = "hidpp_battery_0";
        mouse.scope = "Device";
        mouse.capacity = 30;
        QTest::newRow("a mouse battery is not the machine's")
            << QList<PowerSupply>{adapter("Mains", true), mouse} << false << BatteryInfo{};
        QTest::newRow("desktop") << QList<PowerSupply>{adapter("Mains", true)} << false << BatteryInfo{};
    }
    void batteryRules()
    {
        QFETCH(QList<PowerSupply>, supplies);
        QFETCH(bool, present);
        QFETCH(BatteryInfo, expected);
        const std::optional<BatteryInfo> info =
            BatteryMonitor::infoFrom(std::vector<PowerSupply>(supplies.begin(), supplies.end()));
        QCOMPARE(info.has_value(), present);
        if (!info)
            return;
        QCOMPARE(info->percentage, expected.percentage);
        QCOMPARE(info->isCharging, expected.isCharging);
        QCOMPARE(info->timeToEmpty, expected.timeToEmpty);
        QCOMPARE(info->wattage, expected.wattage);
        QCOMPARE(info->isUnplugged, expected.isUnplugged);
    }

    void batteryFromSysfs()
    {
        // Peripheral batteries sort first here and must be passed over.
        tree->write("sys/class/power_supply/0000-mouse/type", "Battery\n");
        tree->write("sys/class/power_supply/0000-mouse/scope", "Device\n");
        tree->write("sys/class/power_supply/0000-mouse/capacity", "15\n");
        tree->write("sys/class/power_supply/AC/type", "Mains\n");
        tree->write("sys/class/power_supply/AC/online", "0\n");
        tree->write("sys/class/power_supply/BAT0/type", "Battery\n");
        tree->write("sys/class/power_supply/BAT0/status", "Discharging\n");
        tree->write("sys/class/power_supply/BAT0/capacity", "67\n");
        tree->write("sys/class/power_supply/BAT0/energy_now", "30000000\n");
        tree->write("sys/class/power_supply/BAT0/power_now", "15000000\n");

        const std::vector<PowerSupply> supplies = PowerSupplyReader(tree->root("sys")).read();
        QCOMPARE(supplies.size(), size_t(3));
        QCOMPARE(QByteArray::fromStdString(supplies[2].name), QByteArray("BAT0"));
        QCOMPARE(supplies[2].energyNow.value_or(0), 30000000);
        QVERIFY(!supplies[2].chargeNow);
        QCOMPARE(supplies[1].online.value_or(true), false);

        auto stats = makeProvider();
        QSignalSpy unplugged(stats.get(), &SystemStatsProvider::isUnpluggedChanged);
        stats->updateStats();
        QCOMPARE(stats->batteryPercentage(), 67);
        QCOMPARE(stats->batteryTimeToEmpty(), 120);
        QCOMPARE(stats->powerDraw(), 15.0);
        QVERIFY(stats->isUnplugged());
        QCOMPARE(unplugged.count(), 1);

        tree->write("sys/class/power_supply/AC/online", "1\n");
        tree->write("sys/class/power_supply/BAT0/status", "Charging\n");
        stats->updateStats();
        QVERIFY(!stats->isUnplugged());
        QVERIFY(stats->batteryIsCharging());
        QCOMPARE(stats->batteryTimeToEmpty(), 0);

        // The battery goes away (a desktop, or a removed pack): the last figures stay.
        QVERIFY(QDir(tree->path("sys/class/power_supply/BAT0")).removeRecursively());
        QVERIFY(!stats->getBatteryInfo());
        stats->updateStats();
        QCOMPARE(stats->batteryPercentage(), 67);
    }
};

QTEST_GUILESS_MAIN(TestSensors)
#include "tst_Sensors.moc"

#include "app/Preferences.h"
#include "support/FixtureTree.h"
#include "telemetry/PagingMonitor.h"
#include "telemetry/PowerMeter.h"
#include "telemetry/SystemStatsProvider.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
constexpr double kGB = 1073741824.0;

QByteArray vmstat(quint64 inKiB, quint64 outKiB, quint64 swapInPages, quint64 swapOutPages)
{
    return QStringLiteral("nr_free_pages 1\npgpgin %1\npgpgout %2\npswpin %3\npswpout %4\n")
        .arg(inKiB).arg(outKiB).arg(swapInPages).arg(swapOutPages).toUtf8();
}

PowerSupply battery(const std::string &status)
{
    PowerSupply s;
    s.name = "BAT0";
    s.type = "Battery";
    s.status = status;
    return s;
}
}

class TestMemoryPower : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;
    qint64 nowMs = 1000;

    void writeZone(const QString &zone, const QByteArray &name, quint64 energyUj, quint64 rangeUj = 262143328850)
    {
        tree->write("sys/class/powercap/" + zone + "/name", name + "\n");
        tree->write("sys/class/powercap/" + zone + "/energy_uj", QByteArray::number(energyUj) + "\n");
        tree->write("sys/class/powercap/" + zone + "/max_energy_range_uj", QByteArray::number(rangeUj) + "\n");
    }
    PowerMeter::Clock clock() { return [this] { return nowMs; }; }

    std::unique_ptr<SystemStatsProvider> makeProvider()
    {
        TelemetrySources sources;
        sources.procRoot = tree->root("proc");
        sources.sysRoot = tree->root("sys");
        sources.homePath = tree->root("");
        sources.pagingIntervalMs = 0;
        return std::make_unique<SystemStatsProvider>(*prefs, sources, SystemStatsProvider::Polling::Manual);
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("p.conf"), QSettings::IniFormat));
        nowMs = 1000;
    }

    // Totals are the counters as they stand; rates are over the clock's interval, none on
    // the first sample, and a counter that goes back gives 0 rather than a huge figure.
    void pagingRatesAndTotals()
    {
        tree->write("proc/vmstat", vmstat(1000, 2000, 10, 20));
        PagingMonitor monitor(tree->root("proc"), 0, [this] { return nowMs; }, 4096);
        PagingFigures f = monitor.sample();
        QVERIFY(f.measured && f.swapMeasured);
        QCOMPARE(f.pagedInBytes, qint64(1000) * 1024);
        QCOMPARE(f.swappedOutBytes, qint64(20) * 4096);
        QCOMPARE(f.pageInRate, 0.0);

        nowMs += 2000;
        tree->write("proc/vmstat", vmstat(1000 + 800, 2000 + 100, 10 + 4, 20 + 50));
        f = monitor.sample();
        QCOMPARE(f.pageInRate, 400.0);
        QCOMPARE(f.pageOutRate, 50.0);
        QCOMPARE(f.swapInRate, 4 * 4.0 / 2);
        QCOMPARE(f.swapOutRate, 50 * 4.0 / 2);
        QCOMPARE(f.pagedOutBytes, qint64(2100) * 1024);

        // Sampled twice in the same millisecond: the rates stand, nothing divides by 0.
        f = monitor.sample();
        QCOMPARE(f.pageInRate, 400.0);

        nowMs += 1000;
        tree->write("proc/vmstat", vmstat(10, 2100, 14, 70));
        f = monitor.sample();
        QCOMPARE(f.pageInRate, 0.0);
        QCOMPARE(f.pageOutRate, 0.0);
        QCOMPARE(f.pagedInBytes, qint64(10) * 1024);
    }

    // Between readings the last figures stand and the file is not read; the next reading's
    // rates cover the whole interval.
    void pagingReadEveryInterval()
    {
        tree->write("proc/vmstat", vmstat(1000, 2000, 0, 0));
        PagingMonitor monitor(tree->root("proc"), 5000, [this] { return nowMs; }, 4096);
        const PagingFigures first = monitor.sample();
        nowMs += 2000;
        tree->write("proc/vmstat", vmstat(6000, 2000, 0, 0));
        QCOMPARE(monitor.sample(), first);
        nowMs += 3000;
        const PagingFigures next = monitor.sample();
        QCOMPARE(next.pagedInBytes, qint64(6000) * 1024);
        QCOMPARE(next.pageInRate, 1000.0);
    }

    void pagingUnreadableIsNotMeasured()
    {
        PagingMonitor monitor(tree->root("proc"), 0, [this] { return nowMs; }, 4096);
        QCOMPARE(monitor.sample(), PagingFigures{});

        // No swap counters: paging is measured, swap is not, and claims no rate.
        tree->write("proc/vmstat", "pgpgin 1\npgpgout 2\n");
        PagingFigures f = monitor.sample();
        QVERIFY(f.measured);
        QVERIFY(!f.swapMeasured);
        QCOMPARE(f.swappedInBytes, qint64(0));

        // The file goes: figures drop back to unmeasured, then start a fresh interval.
        tree->remove("proc/vmstat");
        nowMs += 1000;
        QVERIFY(!monitor.sample().measured);
        tree->write("proc/vmstat", "pgpgin 5000\npgpgout 2\n");
        nowMs += 1000;
        f = monitor.sample();
        QVERIFY(f.measured);
        QCOMPARE(f.pageInRate, 0.0);
    }

    void dischargingBatteryIsTheDraw()
    {
        PowerSupply b = battery("Discharging");
        b.powerNow = -12500000;   // some firmware signs the discharge
        QCOMPARE(PowerMeter::dischargeWatts(b).value_or(-1), 12.5);
        b.powerNow.reset();
        b.currentNow = 1500000;
        b.voltageNow = 12000000;
        QCOMPARE(PowerMeter::dischargeWatts(b).value_or(-1), 18.0);
        b.voltageNow.reset();
        QVERIFY(!PowerMeter::dischargeWatts(b));

        // Charging, full or idle on mains: the figure is what goes into the battery.
        for (const char *status : {"Charging", "Full", "Not charging", "Unknown"}) {
            PowerSupply other = battery(status);
            other.powerNow = 20000000;
            QVERIFY2(!PowerMeter::dischargeWatts(other), status);
        }
    }

    // The RAPL counters give watts over the clock's interval, across a wrap; the first
    // reading measures nothing.
    void raplPowerAcrossWrap()
    {
        const quint64 range = 262143328850;
        writeZone("intel-rapl:0", "package-0", range - 3000000);
        PowerMeter meter(tree->root("sys"), clock());
        PowerFigure f = meter.sample({});
        QVERIFY(!f.measured);
        QCOMPARE(f.watts, 0.0);

        nowMs += 500;
        writeZone("intel-rapl:0", "package-0", 2000000);   // wrapped: 3 J + 2 J in 0.5 s
        f = meter.sample({});
        QVERIFY(f.measured);
        QCOMPARE(f.source, QStringLiteral("rapl"));
        QCOMPARE(f.watts, 10.0);

        // On mains with a charging battery the counters still tell the draw.
        PowerSupply charging = battery("Charging");
        charging.powerNow = 30000000;
        nowMs += 1000;
        writeZone("intel-rapl:0", "package-0", 9000000);
        f = meter.sample({charging});
        QCOMPARE(f.source, QStringLiteral("rapl"));
        QCOMPARE(f.watts, 7.0);

        // Discharging, the battery's figure is the machine's whole draw and wins.
        PowerSupply discharging = battery("Discharging");
        discharging.powerNow = 14000000;
        nowMs += 1000;
        writeZone("intel-rapl:0", "package-0", 12000000);
        f = meter.sample({discharging});
        QCOMPARE(f, (PowerFigure{14.0, true, QStringLiteral("battery")}));
    }

    void raplPackagesAddUpUnlessThePlatformZoneIsThere()
    {
        writeZone("intel-rapl:0", "package-0", 0);
        writeZone("intel-rapl:1", "package-1", 0);
        PowerMeter meter(tree->root("sys"), clock());
        meter.sample({});
        nowMs += 1000;
        writeZone("intel-rapl:0", "package-0", 4000000);
        writeZone("intel-rapl:1", "package-1", 6000000);
        QCOMPARE(meter.sample({}).watts, 10.0);

        // psys covers both packages and the rest of the platform: it alone is the figure.
        tree = std::make_unique<FixtureTree>();
        writeZone("intel-rapl:0", "package-0", 0);
        writeZone("intel-rapl:1", "psys", 0);
        PowerMeter platform(tree->root("sys"), clock());
        platform.sample({});
        nowMs += 2000;
        writeZone("intel-rapl:0", "package-0", 4000000);
        writeZone("intel-rapl:1", "psys", 30000000);
        QCOMPARE(platform.sample({}).watts, 15.0);
    }

    // Unreadable counters (the usual root-only energy_uj), a counter gone back with no
    // range, a long gap or a changed set of zones: nothing is measured for that interval.
    void raplIntervalsThatCannotBeTrusted()
    {
        PowerMeter meter(tree->root("sys"), clock());
        QCOMPARE(meter.sample({}), PowerFigure{});

        writeZone("intel-rapl:0", "package-0", 5000000, 0);
        PowerMeter noRange(tree->root("sys"), clock());
        noRange.sample({});
        nowMs += 1000;
        writeZone("intel-rapl:0", "package-0", 1000000, 0);
        QVERIFY(!noRange.sample({}).measured);
        nowMs += 1000;
        writeZone("intel-rapl:0", "package-0", 3000000, 0);
        QCOMPARE(noRange.sample({}).watts, 2.0);   // started again from the last reading

        nowMs += 120 * 1000;   // back from sleep: the counter may have gone round
        writeZone("intel-rapl:0", "package-0", 4000000, 0);
        QVERIFY(!noRange.sample({}).measured);

        tree->remove("sys/class/powercap/intel-rapl:0/energy_uj");
        nowMs += 1000;
        QCOMPARE(noRange.sample({}), PowerFigure{});
    }

    // The face publishes the kernel's memory, swap size, paging and power with their flags.
    void providerPublishesMemoryAndPower()
    {
        tree->write("proc/meminfo", "MemTotal: 16777216 kB\nMemAvailable: 8388608 kB\nSlab: 524288 kB\n"
                                    "SUnreclaim: 262144 kB\nKernelStack: 16384 kB\nPageTables: 65536 kB\n"
                                    "SwapTotal: 4194304 kB\nSwapFree: 3145728 kB\n");
        tree->write("proc/vmstat", vmstat(100, 200, 1, 2));
        auto stats = makeProvider();
        QSignalSpy paging(stats.get(), &SystemStatsProvider::pagingChanged);
        stats->updateStats();
        QCOMPARE(stats->memoryKernel(), (524288.0 + 16384 + 65536) * 1024 / kGB);
        QCOMPARE(stats->memorySwapTotal(), 4.0);
        QCOMPARE(stats->memorySwap(), 1.0);
        QVERIFY(stats->pagingMeasured());
        QCOMPARE(stats->pagedInBytes(), qint64(100) * 1024);
        QCOMPARE(paging.count(), 1);
        QCOMPARE(stats->memoryPressureHistory(), QList<double>{50.0});

        // No battery and no readable counters: no draw is claimed.
        QVERIFY(!stats->hasBattery());
        QVERIFY(!stats->powerDrawMeasured());
        QCOMPARE(stats->powerDraw(), 0.0);
        QVERIFY(stats->powerDrawSource().isEmpty());

        tree->write("sys/class/power_supply/BAT0/type", "Battery\n");
        tree->write("sys/class/power_supply/BAT0/status", "Discharging\n");
        tree->write("sys/class/power_supply/BAT0/capacity", "41\n");
        tree->write("sys/class/power_supply/BAT0/current_now", "2000000\n");
        tree->write("sys/class/power_supply/BAT0/voltage_now", "11000000\n");
        QSignalSpy measured(stats.get(), &SystemStatsProvider::powerDrawMeasuredChanged);
        stats->updateStats();
        QVERIFY(stats->hasBattery());
        QVERIFY(stats->powerDrawMeasured());
        QCOMPARE(stats->powerDrawSource(), QStringLiteral("battery"));
        QCOMPARE(stats->powerDraw(), 22.0);
        QCOMPARE(stats->batteryPercentage(), 41);
        QCOMPARE(measured.count(), 1);

        // Plugged in and charging, with nothing else readable: the draw is unknown, not
        // the charging figure.
        tree->write("sys/class/power_supply/BAT0/status", "Charging\n");
        stats->updateStats();
        QVERIFY(!stats->powerDrawMeasured());
        QCOMPARE(stats->powerDraw(), 0.0);
        QVERIFY(stats->batteryIsCharging());

        // vmstat goes: paging is no longer claimed.
        tree->remove("proc/vmstat");
        stats->updateStats();
        QVERIFY(!stats->pagingMeasured());
    }

    // The pressure history keeps the newest 120 samples, oldest first, and takes none from
    // a pass whose memory could not be read.
    void pressureHistoryIsARing()
    {
        auto stats = makeProvider();
        QSignalSpy changed(stats.get(), &SystemStatsProvider::memoryPressureHistoryChanged);
        stats->updateStats();
        QVERIFY(stats->memoryPressureHistory().isEmpty());
        QCOMPARE(changed.count(), 0);

        for (int i = 0; i < 125; ++i) {
            // i % 100 GiB of 100 in use: pressure i % 100.
            tree->write("proc/meminfo", QStringLiteral("MemTotal: %1 kB\nMemAvailable: %2 kB\n")
                                            .arg(100 * 1048576).arg((100 - i % 100) * 1048576).toUtf8());
            stats->updateStats();
        }
        const QList<double> history = stats->memoryPressureHistory();
        QCOMPARE(history.size(), SystemStatsProvider::kMemoryPressureHistoryLength);
        QCOMPARE(history.first(), 5.0);
        QCOMPARE(history.last(), 24.0);
        QCOMPARE(changed.count(), 125);
    }
};

QTEST_GUILESS_MAIN(TestMemoryPower)
#include "tst_MemoryPower.moc"

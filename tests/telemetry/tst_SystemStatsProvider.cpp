#include "app/Preferences.h"
#include "support/FixtureTree.h"
#include "telemetry/SystemStatsProvider.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

namespace {
constexpr double kGB = 1073741824.0;

QByteArray cpuLine(int id, quint64 user, quint64 system, quint64 idle, quint64 nice = 0, quint64 iowait = 0)
{
    return QStringLiteral("cpu%1 %2 %3 %4 %5 %6 0 0 0 0 0\n").arg(id).arg(user).arg(nice).arg(system).arg(idle).arg(iowait).toUtf8();
}

// kB figures for a meminfo file.
QByteArray meminfo(quint64 totalKb, quint64 availableKb, quint64 wiredKb = 0, quint64 zswapKb = 0,
                   quint64 swapTotalKb = 0, quint64 swapFreeKb = 0)
{
    return QStringLiteral("MemTotal: %1 kB\nMemAvailable: %2 kB\nUnevictable: %3 kB\nSUnreclaim: 0 kB\n"
                          "KernelStack: 0 kB\nPageTables: 0 kB\nZswap: %4 kB\nSwapTotal: %5 kB\nSwapFree: %6 kB\n")
        .arg(totalKb).arg(availableKb).arg(wiredKb).arg(zswapKb).arg(swapTotalKb).arg(swapFreeKb).toUtf8();
}

QByteArray netDev(quint64 rx, quint64 tx)
{
    return QStringLiteral("Inter-|   Receive |  Transmit\n face |bytes |bytes\n"
                          "    lo: %1 0 0 0 0 0 0 0 %2 0 0 0 0 0 0 0\n").arg(rx).arg(tx).toUtf8();
}

QByteArray diskStats(quint64 sectorsRead, quint64 sectorsWritten)
{
    return QStringLiteral("   8 0 sda 1 0 %1 0 1 0 %2 0 0 0 0\n   8 1 sda1 1 0 %1 0 1 0 %2 0 0 0 0\n")
        .arg(sectorsRead).arg(sectorsWritten).toUtf8();
}
}

class TestSystemStatsProvider : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;

    std::unique_ptr<SystemStatsProvider> makeProvider()
    {
        TelemetrySources sources;
        sources.procRoot = tree->root("proc");
        sources.sysRoot = tree->root("sys");
        sources.homePath = tree->root("");
        return std::make_unique<SystemStatsProvider>(*prefs, sources, SystemStatsProvider::Polling::Manual);
    }

    // Eight CPUs as a hybrid part: 0-3 performance, 4-7 efficiency.
    void writeHybridTopology()
    {
        tree->write("sys/devices/system/cpu/online", "0-7\n");
        tree->write("sys/devices/cpu_core/cpus", "0-3\n");
        tree->write("sys/devices/cpu_atom/cpus", "4-7\n");
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
        tree->write("proc/meminfo", meminfo(32 * 1024 * 1024, 16 * 1024 * 1024));
        tree->write("proc/net/dev", netDev(0, 0));
        tree->write("proc/diskstats", diskStats(0, 0));
        tree->mkdir("sys/block/sda/device");
    }
    void cleanup()
    {
        prefs.reset();
        tree.reset();
    }

    void initialValuesBeforeTheFirstTick()
    {
        auto stats = makeProvider();
        QCOMPARE(stats->cpuHistory(), QList<double>(60, 0.0));
        QCOMPARE(stats->gpuCoreCount(), 16);
        QCOMPARE(stats->fanRPMs(), QList<double>{0.0});
        QCOMPARE(stats->localIP(), QStringLiteral("127.0.0.1"));
        QCOMPARE(stats->publicIP(), QStringLiteral("Checking..."));
        QCOMPARE(stats->cpuUsage(), 0.0);
        QVERIFY(stats->activeConnections().isEmpty());
        QCOMPARE(stats->optimizedMemoryReleased(), 0.0);
        QCOMPARE(stats->cleanedJunkTotal(), 0.0);
    }

    void firstTickPrimesSecondTickMeasures()
    {
        writeHybridTopology();
        QByteArray stat = "cpu 0 0 0 0\n";
        for (int i = 0; i < 8; ++i)
            stat += cpuLine(i, 100, 100, 100);
        tree->write("proc/stat", stat);
        auto stats = makeProvider();
        QSignalSpy historySpy(stats.get(), &SystemStatsProvider::cpuHistoryChanged);

        stats->updateStats();
        QCOMPARE(stats->cpuUsage(), 0.0);
        QCOMPARE(historySpy.count(), 0);
        QVERIFY(stats->perCoreUsage().isEmpty());

        // Performance CPUs fully busy, efficiency CPUs idle.
        stat = "cpu 0 0 0 0\n";
        for (int i = 0; i < 4; ++i)
            stat += cpuLine(i, 150, 150, 100);
        for (int i = 4; i < 8; ++i)
            stat += cpuLine(i, 100, 100, 200);
        tree->write("proc/stat", stat);
        stats->updateStats();

        QCOMPARE(stats->eCoreCount(), 4);
        QCOMPARE(stats->pCoreCount(), 4);
        QCOMPARE(stats->pClusterUsage(), 100.0);
        QCOMPARE(stats->eClusterUsage(), 0.0);
        QCOMPARE(stats->cpuUsage(), 50.0);
        QCOMPARE(stats->perCoreUsage(), (QList<double>{100, 100, 100, 100, 0, 0, 0, 0}));
        QCOMPARE(historySpy.count(), 1);
        QCOMPARE(stats->cpuHistory().size(), 60);
        QCOMPARE(stats->cpuHistory().last(), 50.0);
        QCOMPARE(stats->cpuHistory().first(), 0.0);
        QCOMPARE(stats->gpuCoreCount(), 16);
    }

    // User and system time come from the kernel's counters of the same interval as the
    // total: nice counts as user, irq and softirq as system, steal as neither.
    void userAndSystemSplitFromTheTicks()
    {
        const QByteArray zero = "cpu0 0 0 0 0 0 0 0 0\ncpu1 0 0 0 0 0 0 0 0\n";
        tree->write("proc/stat", zero);
        auto stats = makeProvider();
        stats->updateStats();
        QCOMPARE(stats->cpuUserUsage(), 0.0);
        QCOMPARE(stats->cpuSystemUsage(), 0.0);

        // cpu0 of 100 ticks: user 30 + nice 10, system 15 + irq 3 + softirq 2, idle 40.
        // cpu1 of 200 ticks: user 20, system 10, iowait 10, steal 20, idle 140.
        tree->write("proc/stat", "cpu0 30 10 15 40 0 3 2 0\ncpu1 20 0 10 140 10 0 0 20\n");
        stats->updateStats();
        QCOMPARE(stats->cpuUsage(), (60.0 + 25.0) / 2);
        QCOMPARE(stats->cpuUserUsage(), (40.0 + 10.0) / 2);
        QCOMPARE(stats->cpuSystemUsage(), (20.0 + 5.0) / 2);

        // An idle interval brings both back to nothing.
        tree->write("proc/stat", "cpu0 30 10 15 140 0 3 2 0\ncpu1 20 0 10 340 10 0 0 20\n");
        stats->updateStats();
        QCOMPARE(stats->cpuUserUsage(), 0.0);
        QCOMPARE(stats->cpuSystemUsage(), 0.0);
    }

    void clustersFollowMembershipNotNumbering()
    {
        // Efficiency CPUs interleaved with performance ones: each CPU sums into its own cluster.
        tree->write("sys/devices/system/cpu/online", "0-3\n");
        tree->write("sys/devices/cpu_core/cpus", "0,2\n");
        tree->write("sys/devices/cpu_atom/cpus", "1,3\n");
        tree->write("proc/stat", cpuLine(0, 0, 0, 0) + cpuLine(1, 0, 0, 0) + cpuLine(2, 0, 0, 0) + cpuLine(3, 0, 0, 0));
        auto stats = makeProvider();
        stats->updateStats();
        tree->write("proc/stat", cpuLine(0, 0, 0, 100) + cpuLine(1, 100, 0, 0) + cpuLine(2, 0, 0, 100) + cpuLine(3, 50, 0, 50));
        stats->updateStats();
        QCOMPARE(stats->eClusterUsage(), 75.0);
        QCOMPARE(stats->pClusterUsage(), 0.0);
        QCOMPARE(stats->cpuUsage(), 37.5);
        QCOMPARE(stats->gpuCoreCount(), 8);
    }

    void homogeneousMachineNeverExceedsHundred()
    {
        tree->write("sys/devices/system/cpu/online", "0-15\n");
        QByteArray before, after;
        for (int i = 0; i < 16; ++i) {
            before += cpuLine(i, 0, 0, 0);
            after += cpuLine(i, 90, 10, 0);
        }
        tree->write("proc/stat", before);
        auto stats = makeProvider();
        QCOMPARE(stats->eCoreCount(), 0);
        QCOMPARE(stats->pCoreCount(), 16);
        stats->updateStats();
        tree->write("proc/stat", after);
        stats->updateStats();
        QCOMPARE(stats->pClusterUsage(), 100.0);
        QCOMPARE(stats->eClusterUsage(), 0.0);
        QCOMPARE(stats->cpuUsage(), 100.0);
        QCOMPARE(stats->gpuCoreCount(), 32);
    }

    void idleAndBackwardsCounters()
    {
        tree->write("sys/devices/system/cpu/online", "0-1\n");
        tree->write("proc/stat", cpuLine(0, 500, 500, 1000, 0, 300) + cpuLine(1, 10, 10, 10));
        auto stats = makeProvider();
        stats->updateStats();
        // CPU 0: iowait went backwards, only real idle time moved. CPU 1: nothing moved.
        tree->write("proc/stat", cpuLine(0, 500, 500, 1100, 0, 100) + cpuLine(1, 10, 10, 10));
        stats->updateStats();
        QCOMPARE(stats->perCoreUsage(), (QList<double>{0, 0}));
        QCOMPARE(stats->cpuUsage(), 0.0);

        // A user counter going backwards does not produce a negative or huge load.
        tree->write("proc/stat", cpuLine(0, 400, 600, 1200, 0, 100) + cpuLine(1, 10, 10, 10));
        stats->updateStats();
        QCOMPARE(stats->perCoreUsage().at(0), 50.0);
    }

    void unreadableStatLeavesCpuFieldsAlone()
    {
        tree->write("sys/devices/system/cpu/online", "0\n");
        tree->write("proc/stat", cpuLine(0, 0, 0, 0));
        auto stats = makeProvider();
        stats->updateStats();
        tree->write("proc/stat", cpuLine(0, 30, 0, 70));
        stats->updateStats();
        QCOMPARE(stats->cpuUsage(), 30.0);
        const QList<double> history = stats->cpuHistory();

        tree->write("proc/stat", "cpu0 garbage\n");
        stats->updateStats();
        QCOMPARE(stats->cpuUsage(), 30.0);
        QCOMPARE(stats->cpuHistory(), history);
        tree->remove("proc/stat");
        stats->updateStats();
        QCOMPARE(stats->cpuHistory(), history);
    }

    void noCpuCountFallsBackToFourAndFour()
    {
        auto stats = makeProvider();   // neither sysfs nor /proc/stat
        QCOMPARE(stats->eCoreCount(), 4);
        QCOMPARE(stats->pCoreCount(), 4);
        stats->updateStats();
        QCOMPARE(stats->gpuCoreCount(), 16);
    }

    void memoryAgreesWithFree()
    {
        // 16 GiB total, 6 GiB available, 1 GiB wired, 0.5 GiB in zswap: 10 GiB in use.
        tree->write("proc/meminfo", meminfo(16 * 1048576, 6 * 1048576, 1048576, 524288, 2 * 1048576, 1048576));
        auto stats = makeProvider();
        stats->updateStats();
        QCOMPARE(stats->memoryTotal(), 16.0);
        QCOMPARE(stats->memoryWired(), 1.0);
        QCOMPARE(stats->memoryCompressed(), 0.5);
        QCOMPARE(stats->memoryApp(), 8.5);
        QCOMPARE(stats->memoryUsed(), 10.0);
        QCOMPARE(stats->memoryPressure(), 62.5);
        QCOMPARE(stats->memorySwap(), 1.0);
        QCOMPARE(stats->aiVramTotal(), 12.0);
        QCOMPARE(stats->aiVramUsed(), 0.0);
        QVERIFY(!stats->hostVramSplitAlert());
    }

    void noZswapMeansNoCompressedMemory()
    {
        tree->write("proc/meminfo", meminfo(8 * 1048576, 4 * 1048576));
        auto stats = makeProvider();
        stats->updateStats();
        // No floor invents compressed memory the machine does not have.
        QCOMPARE(stats->memoryCompressed(), 0.0);
        QCOMPARE(stats->memoryApp(), 4.0);
    }

    void garbledMeminfoKeepsValues()
    {
        tree->write("proc/meminfo", meminfo(16 * 1048576, 8 * 1048576, 0, 0, 4 * 1048576, 3 * 1048576));
        auto stats = makeProvider();
        stats->updateStats();
        QCOMPARE(stats->memoryUsed(), 8.0);
        QCOMPARE(stats->memorySwap(), 1.0);

        tree->write("proc/meminfo", "MemTotal: 16777216 kB\nMemAv");
        stats->updateStats();
        QCOMPARE(stats->memoryUsed(), 8.0);
        QCOMPARE(stats->memoryTotal(), 16.0);
        QCOMPARE(stats->memorySwap(), 1.0);

        tree->remove("proc/meminfo");
        stats->updateStats();
        QCOMPARE(stats->memoryPressure(), 50.0);
    }

    void aiSplitThresholds_data()
    {
        QTest::addColumn<quint64>("totalKb");
        QTest::addColumn<quint64>("availableKb");
        QTest::addColumn<QList<qint64>>("models");
        QTest::addColumn<bool>("alert");
        const quint64 gib = 1048576;
        QTest::newRow("pressure exactly 85") << 20 * gib << 3 * gib << QList<qint64>{} << false;
        QTest::newRow("pressure 85.1") << 20 * gib << quint64(20 * gib * 0.149) << QList<qint64>{} << true;
        QTest::newRow("no models, low pressure") << 32 * gib << 16 * gib << QList<qint64>{} << false;
        QTest::newRow("29 GB of models on 32 GB") << 32 * gib << 16 * gib << QList<qint64>{qint64(20 * kGB), qint64(9 * kGB)} << true;
        QTest::newRow("21 GB of models on 32 GB") << 32 * gib << 16 * gib << QList<qint64>{qint64(21 * kGB)} << false;
    }
    void aiSplitThresholds()
    {
        QFETCH(quint64, totalKb);
        QFETCH(quint64, availableKb);
        QFETCH(QList<qint64>, models);
        QFETCH(bool, alert);
        tree->write("proc/meminfo", meminfo(totalKb, availableKb));
        auto stats = makeProvider();
        stats->setLoadedModelSizesSource([models] { return models; });
        stats->updateStats();
        QCOMPARE(stats->aiVramTotal(), totalKb / 1048576.0 * 0.75);
        double loaded = 0;
        for (qint64 m : models)
            loaded += m / kGB;
        QCOMPARE(stats->aiVramUsed(), loaded);
        QCOMPARE(stats->hostVramSplitAlert(), alert);
    }

    void networkThroughput()
    {
        tree->write("proc/net/dev", netDev(1000000, 500000));
        auto stats = makeProvider();
        stats->updateStats();
        QCOMPARE(stats->networkDownload(), 0.0);   // first tick primes
        QCOMPARE(stats->networkUpload(), 0.0);

        tree->write("proc/net/dev", netDev(1000000 + 2048000, 500000 + 10240));
        stats->updateStats();
        QCOMPARE(stats->networkDownload(), 2000.0);
        QCOMPARE(stats->networkUpload(), 10.0);

        // An interface went away: that tick reads 0 and the lower totals become the reference.
        tree->write("proc/net/dev", netDev(1024, 0));
        stats->updateStats();
        QCOMPARE(stats->networkDownload(), 0.0);
        QCOMPARE(stats->networkUpload(), 0.0);
        tree->write("proc/net/dev", netDev(1024 + 4096, 2048));
        stats->updateStats();
        QCOMPARE(stats->networkDownload(), 4.0);
        QCOMPARE(stats->networkUpload(), 2.0);

        // Unreadable: rates unchanged.
        tree->write("proc/net/dev", "Inter-| garbage\n");
        stats->updateStats();
        QCOMPARE(stats->networkDownload(), 4.0);
    }

    void diskThroughputFromKernelCounters()
    {
        auto stats = makeProvider();
        stats->setUniformSource([](double, double) { return 99.0; });
        stats->updateStats();
        QVERIFY(stats->diskThroughputMeasured());
        QCOMPARE(stats->diskRead(), 0.0);

        // 2 MiB read, 1 MiB written on the disk; the partition line must not double it.
        tree->write("proc/diskstats", diskStats(4096, 2048));
        stats->updateStats();
        QCOMPARE(stats->diskRead(), 2.0);
        QCOMPARE(stats->diskWrite(), 1.0);

        tree->remove("proc/diskstats");
        stats->updateStats();
        QVERIFY(!stats->diskThroughputMeasured());
        QCOMPARE(stats->diskRead(), 99.0);
        QCOMPARE(stats->diskWrite(), 99.0);
    }

    void diskUsageOfHome()
    {
        auto stats = makeProvider();
        stats->updateStats();
        QVERIFY(stats->diskTotal() > 0);
        QVERIFY(stats->diskUsed() > 0);
        QVERIFY(stats->diskUsed() <= stats->diskTotal());
    }

    // An ext4 volume keeps blocks back for root: df counts them as neither used nor
    // available, and the published figures must give df's percentage and free space.
    void diskUseAsDfCountsIt()
    {
        // 1,000,000 blocks of 4 KiB; 814,000 in use; 51,000 free only to root.
        const FileSystemBlocks blocks{1'000'000, 186'000, 135'000, 4096};
        TelemetrySources sources;
        sources.procRoot = tree->root("proc");
        sources.sysRoot = tree->root("sys");
        sources.homePath = tree->root("");
        sources.homeUsage = [blocks] { return std::optional<FileSystemUsage>(FileSystemStats::usageOf(blocks)); };
        SystemStatsProvider stats(*prefs, sources, SystemStatsProvider::Polling::Manual);
        stats.updateStats();

        // df: Used = (f_blocks - f_bfree) x f_frsize, Avail = f_bavail x f_frsize,
        // Use% = Used / (Used + Avail).
        const double usedBytes = (1'000'000.0 - 186'000.0) * 4096;
        const double availableBytes = 135'000.0 * 4096;
        QCOMPARE(stats.diskUsed(), usedBytes / kGB);
        QCOMPARE(stats.diskUsed() / stats.diskTotal() * 100, usedBytes / (usedBytes + availableBytes) * 100);
        QCOMPARE(stats.diskTotal() - stats.diskUsed(), availableBytes / kGB);
        QCOMPARE(std::ceil(stats.diskUsed() / stats.diskTotal() * 100), 86.0);   // df prints 86%
    }

    void estimatesFollowLoadedModels()
    {
        auto stats = makeProvider();
        QList<double> draws;
        stats->setUniformSource([&draws](double low, double high) {
            draws << low << high;
            return high;
        });
        stats->updateStats();
        QCOMPARE(stats->anePowerDraw(), 0.02);
        QCOMPARE(stats->aneUsage(), 0.5);
        QCOMPARE(stats->gpuUsage(), 2.5);

        QList<qint64> loaded{qint64(4 * kGB)};
        stats->setLoadedModelSizesSource([&loaded] { return loaded; });
        stats->updateStats();
        QCOMPARE(stats->aneUsage(), 75.0);
        QCOMPARE(stats->anePowerDraw(), 4.8);
        QCOMPARE(stats->gpuUsage(), 65.0);
    }

    void defaultDrawsStayInRange()
    {
        auto stats = makeProvider();
        for (int i = 0; i < 200; ++i) {
            stats->updateStats();
            QVERIFY(stats->aneUsage() >= 0 && stats->aneUsage() <= 0.5);
            QVERIFY(stats->gpuUsage() >= 0.5 && stats->gpuUsage() <= 2.5);
        }
    }

    void efficiencyRatioWithoutPowerIsCpuUsage()
    {
        tree->write("sys/devices/system/cpu/online", "0\n");
        tree->write("proc/stat", cpuLine(0, 0, 0, 0));
        auto stats = makeProvider();
        stats->updateStats();
        tree->write("proc/stat", cpuLine(0, 40, 0, 60));
        QSignalSpy spy(stats.get(), &SystemStatsProvider::efficiencyRatioChanged);
        stats->updateStats();
        QCOMPARE(stats->powerDraw(), 0.0);
        QCOMPARE(stats->efficiencyRatio(), 40.0);
        QCOMPARE(spy.count(), 1);
    }

    void baselinesAverageAndPersist()
    {
        tree->write("sys/devices/system/cpu/online", "0\n");
        tree->write("proc/stat", cpuLine(0, 0, 0, 0));
        {
            auto stats = makeProvider();
            stats->updateStats();
            QCOMPARE(stats->baselineCpuUsage(), 0.0);   // priming tick stores nothing
            tree->write("proc/stat", cpuLine(0, 80, 0, 20));
            stats->updateStats();
            QCOMPARE(stats->baselineCpuUsage(), 80.0);   // first value is taken as is
            tree->write("proc/stat", cpuLine(0, 80, 0, 120));
            stats->updateStats();
            QCOMPARE(stats->baselineCpuUsage(), 80.0 * 0.999);
        }
        prefs->flush();
        Preferences reread(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
        QCOMPARE(reread.baselineCpuUsage(), 80.0 * 0.999);
        QCOMPARE(reread.baselineTemp(), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestSystemStatsProvider)
#include "tst_SystemStatsProvider.moc"

#include "app/Preferences.h"
#include "support/FixtureTree.h"
#include "telemetry/SampleHistory.h"
#include "telemetry/SensorSampler.h"
#include "telemetry/SystemStatsProvider.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

// Which temperatures are read and which are estimated, that an estimate never reads below
// the room's temperature, and the charts' histories kept by the telemetry service.
class TestSensorEstimates : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;
    double drawn = 0;        // what every uniform draw returns...
    bool drawLow = false;    // ...unless this asks for each interval's low end

    std::unique_ptr<SystemStatsProvider> makeProvider()
    {
        TelemetrySources sources;
        sources.procRoot = tree->root("proc");
        sources.sysRoot = tree->root("sys");
        sources.homePath = tree->root("");
        auto stats = std::make_unique<SystemStatsProvider>(*prefs, sources, SystemStatsProvider::Polling::Manual);
        stats->setUniformSource([this](double low, double) { return drawLow ? low : drawn; });
        return stats;
    }
    void writePackage(int milli) const
    {
        tree->write("sys/class/hwmon/hwmon0/name", "coretemp\n");
        tree->write("sys/class/hwmon/hwmon0/temp1_label", "Package id 0\n");
        tree->write("sys/class/hwmon/hwmon0/temp1_input", QByteArray::number(milli) + '\n');
    }
    void writeNetDev(quint64 rx, quint64 tx) const
    {
        tree->write("proc/net/dev", QStringLiteral("Inter-|   Receive |  Transmit\n face |bytes |bytes\n"
                                                   "  eth0: %1 0 0 0 0 0 0 0 %2 0 0 0 0 0 0 0\n")
                                        .arg(rx).arg(tx).toUtf8());
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
        tree->mkdir("proc");
        tree->mkdir("sys");
        drawn = 0;
        drawLow = false;
    }
    void cleanup()
    {
        prefs.reset();
        tree.reset();
    }

    // An NVMe drive and an amdgpu card are read; without them both figures are estimates,
    // and the flags say which, as the sensors come and go.
    void measuredAndEstimatedTemperatures()
    {
        writePackage(64000);
        tree->write("sys/class/hwmon/hwmon1/name", "amdgpu\n");
        tree->write("sys/class/hwmon/hwmon1/temp1_label", "edge\n");
        tree->write("sys/class/hwmon/hwmon1/temp1_input", "52000\n");
        tree->write("sys/class/hwmon/hwmon2/name", "nvme\n");
        tree->write("sys/class/hwmon/hwmon2/temp1_label", "Composite\n");
        tree->write("sys/class/hwmon/hwmon2/temp1_input", "44850\n");
        auto stats = makeProvider();
        QVERIFY(!stats->socTemperatureMeasured() && !stats->gpuTemperatureMeasured() && !stats->ssdTemperatureMeasured());
        QSignalSpy sources(stats.get(), &SystemStatsProvider::temperatureSourcesChanged);
        stats->updateStats();
        QVERIFY(stats->socTemperatureMeasured());
        QVERIFY(stats->gpuTemperatureMeasured());
        QVERIFY(stats->ssdTemperatureMeasured());
        QCOMPARE(stats->gpuTemperature(), 52.0);
        QCOMPARE(stats->ssdTemperature(), 44.85);
        QCOMPARE(sources.count(), 1);
        stats->updateStats();
        QCOMPARE(sources.count(), 1);   // nothing changed, nothing said

        // A reading of 0 counts as no sensor: the GPU figure becomes the package estimate.
        tree->write("sys/class/hwmon/hwmon1/temp1_input", "0\n");
        drawn = 1.5;
        stats->updateStats();
        QVERIFY(!stats->gpuTemperatureMeasured());
        QCOMPARE(stats->gpuTemperature(), 64.0 * 0.9 + 1.5);
        QVERIFY(stats->ssdTemperatureMeasured());
        QCOMPARE(sources.count(), 2);

        // The drive's sensor file goes away (the drive was pulled): an idle drive's figure.
        tree->remove("sys/class/hwmon/hwmon2/temp1_input");
        stats->updateStats();
        QVERIFY(!stats->ssdTemperatureMeasured());
        QCOMPARE(stats->ssdTemperature(), 35.0 + 1.5);

        // The package sensor stops answering: its last reading stands, marked as not read.
        tree->remove("sys/class/hwmon/hwmon0/temp1_input");
        stats->updateStats();
        QVERIFY(!stats->socTemperatureMeasured());
        QCOMPARE(stats->socTemperature(), 64.0);
        QCOMPARE(sources.count(), 4);
    }

    // On a machine with no GPU or drive sensor both figures are estimates. Before any
    // package reading (no sensor, or one that reads 0) the GPU's is built on 0 °C; that,
    // its jitter, or a draw far outside the usual range must not read below the room.
    void estimatesNeverGoBelowAmbient_data()
    {
        QTest::addColumn<int>("package");   // millidegrees; -1: no package sensor at all
        QTest::addColumn<bool>("low");
        QTest::addColumn<double>("draw");
        QTest::addColumn<double>("gpu");
        QTest::addColumn<double>("ssd");
        const double floor = SensorSampler::kAmbientFloor;
        QTest::newRow("no sensor, low ends") << -1 << true << 0.0 << floor << 34.0;   // -2 and -1
        QTest::newRow("no sensor, zero") << -1 << false << 0.0 << floor << 35.0;
        QTest::newRow("no sensor, far below") << -1 << false << -100.0 << floor << floor;
        QTest::newRow("no sensor, above") << -1 << false << 2.0 << floor << 37.0;
        QTest::newRow("package reads 0") << 0 << false << 1.0 << floor << 36.0;
        QTest::newRow("cold package") << 12000 << false << 1.0 << floor << 36.0;
        QTest::newRow("warm package") << 50000 << false << 1.0 << 50.0 * 0.9 + 1.0 << 36.0;
    }
    void estimatesNeverGoBelowAmbient()
    {
        QFETCH(int, package);
        QFETCH(bool, low);
        QFETCH(double, draw);
        if (package >= 0)
            writePackage(package);
        drawLow = low;
        drawn = draw;
        auto stats = makeProvider();
        for (int i = 0; i < 3; ++i) {
            stats->updateStats();
            QVERIFY(stats->gpuTemperature() >= SensorSampler::kAmbientFloor);
            QVERIFY(stats->ssdTemperature() >= SensorSampler::kAmbientFloor);
        }
        QTEST(stats->gpuTemperature(), "gpu");
        QTEST(stats->ssdTemperature(), "ssd");
        QVERIFY(!stats->gpuTemperatureMeasured());
        QVERIFY(!stats->ssdTemperatureMeasured());
        QCOMPARE(stats->socTemperatureMeasured(), package > 0);
    }

    // A fan output that appears after start-up (a udev rule applied, a module loaded) is
    // found when the override is asked for, and the switch hears that it became available.
    void fanOutputFoundLaterIsAnnounced()
    {
        writePackage(40000);
        auto stats = makeProvider();
        QVERIFY(!stats->turboCoolingAvailable());
        tree->write("sys/class/hwmon/hwmon1/name", "nct6775\n");
        tree->write("sys/class/hwmon/hwmon1/pwm1", "90\n");
        tree->write("sys/class/hwmon/hwmon1/pwm1_enable", "2\n");
        QSignalSpy available(stats.get(), &SystemStatsProvider::turboCoolingAvailableChanged);
        stats->setForceTurboCooling(true);
        QCOMPARE(available.count(), 1);
        QVERIFY(stats->turboCoolingAvailable());
        QVERIFY(stats->forceTurboCooling());
        QFile duty(tree->path("sys/class/hwmon/hwmon1/pwm1"));
        QVERIFY(duty.open(QIODevice::ReadOnly));
        QCOMPARE(duty.readAll().trimmed(), QByteArray("255"));
        stats->setForceTurboCooling(false);
        stats->updateStats();
        QCOMPARE(available.count(), 1);
    }

    // The ring keeps the newest samples, oldest first, and never grows past its capacity.
    void ringKeepsTheNewest()
    {
        SampleHistory ring(3);
        QVERIFY(ring.values().isEmpty());
        for (double v : {1.0, 2.0})
            ring.append(v);
        QCOMPARE(ring.values(), (QList<double>{1, 2}));
        const QList<double> held = ring.values();   // a screen's copy
        for (double v : {3.0, 4.0, 5.0})
            ring.append(v);
        QCOMPARE(ring.values(), (QList<double>{3, 4, 5}));
        QCOMPARE(held, (QList<double>{1, 2}));   // untouched by later samples
        QCOMPARE(SampleHistory(0).capacity(), 1);
    }

    // One sample a tick of what the tick published: the network rates, the fastest fan and
    // the package temperature, capped at two minutes.
    void historiesFollowTheTicksAndStopAt120()
    {
        writePackage(50000);
        tree->write("sys/class/hwmon/hwmon1/name", "nct6775\n");
        tree->write("sys/class/hwmon/hwmon1/fan1_input", "800\n");
        tree->write("sys/class/hwmon/hwmon1/fan2_input", "0\n");
        tree->write("sys/class/hwmon/hwmon1/fan3_input", "1100\n");
        writeNetDev(0, 0);
        auto stats = makeProvider();
        QVERIFY(stats->uploadHistory().isEmpty() && stats->temperatureHistory().isEmpty());
        QSignalSpy changed(stats.get(), &SystemStatsProvider::historiesChanged);

        const int ticks = SystemStatsProvider::kChartHistoryLength + 10;
        for (int i = 1; i <= ticks; ++i) {
            // Tick i moves i KiB down and 2i KiB up.
            const quint64 sum = quint64(i) * (i + 1) / 2 * 1024;
            writeNetDev(sum, 2 * sum);
            writePackage(50000 + i * 100);
            stats->updateStats();
        }
        QCOMPARE(changed.count(), ticks);
        for (const QList<double> &history : {stats->uploadHistory(), stats->downloadHistory(),
                                             stats->fanHistory(), stats->temperatureHistory()})
            QCOMPARE(history.size(), SystemStatsProvider::kChartHistoryLength);

        // The first tick primes the counters (0 KiB/s); ticks 11...130 remain.
        QCOMPARE(stats->downloadHistory().first(), 11.0);
        QCOMPARE(stats->downloadHistory().last(), double(ticks));
        QCOMPARE(stats->uploadHistory().last(), 2.0 * ticks);
        QCOMPARE(stats->downloadHistory().last(), stats->networkDownload());
        QCOMPARE(stats->temperatureHistory().first(), 50.0 + 11 * 0.1);
        QCOMPARE(stats->temperatureHistory().last(), stats->socTemperature());
        QCOMPARE(stats->fanHistory().last(), 1100.0);

        // Without a tachometer the history holds the curve's estimate, as the figure does.
        for (int fan = 1; fan <= 3; ++fan)
            tree->remove(QStringLiteral("sys/class/hwmon/hwmon1/fan%1_input").arg(fan));
        stats->updateStats();
        QVERIFY(!stats->fanRPMsMeasured());
        QCOMPARE(stats->fanHistory().last(), stats->fanRPMs().value(0));
        QCOMPARE(stats->fanHistory().size(), SystemStatsProvider::kChartHistoryLength);
    }

    // A machine with no temperature and no fan sensor: the chart histories hold gaps, not a
    // flat 0 °C and 0 RPM that would read as measured.
    void historiesHoldGapsWithoutAnyReading()
    {
        writeNetDev(0, 0);
        auto stats = makeProvider();
        stats->updateStats();
        stats->updateStats();
        QVERIFY(!stats->socTemperatureMeasured() && !stats->fanRPMsMeasured());
        QCOMPARE(stats->temperatureHistory().size(), 2);
        for (double sample : stats->temperatureHistory())
            QVERIFY(std::isnan(sample));
        for (double sample : stats->fanHistory())
            QVERIFY(std::isnan(sample));
        QCOMPARE(stats->downloadHistory().last(), 0.0);   // no traffic is a reading
    }
};

QTEST_GUILESS_MAIN(TestSensorEstimates)
#include "tst_SensorEstimates.moc"

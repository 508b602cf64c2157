#include "platform/PowerSupplyReader.h"
#include "platform/RaplReader.h"
#include "platform/VmStatReader.h"
#include "support/FixtureTree.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

class TestPowerAndPagingReaders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Figures at and past the edges of 64 bits are refused, not wrapped or negated into
    // nonsense, and a charge far above full reads as full.
    void powerSupplyFiguresAtTheEdges()
    {
        FixtureTree tree;
        const QString bat = QStringLiteral("sys/class/power_supply/BAT0/");
        tree.write(bat + "type", "Battery\n");
        tree.write(bat + "power_now", "-9223372036854775808\n");
        tree.write(bat + "voltage_now", "9223372036854775807\n");
        tree.write(bat + "current_now", "-9223372036854775807\n");
        tree.write(bat + "energy_now", "9223372036854775807\n");
        tree.write(bat + "energy_full", "1\n");
        tree.write(bat + "charge_now", "18446744073709551615\n");
        const std::vector<PowerSupply> supplies = PowerSupplyReader(tree.root("sys")).read();
        QCOMPARE(supplies.size(), size_t(1));
        const PowerSupply &b = supplies.front();
        QVERIFY(!b.powerNow);
        QVERIFY(!b.chargeNow);
        QCOMPARE(b.voltageNow, std::optional<std::int64_t>(INT64_MAX));
        QCOMPARE(b.currentNow, std::optional<std::int64_t>(-INT64_MAX));
        QCOMPARE(PowerSupplyReader::chargePercent(b), std::optional<std::int64_t>(100));

        PowerSupply worn;
        worn.energyNow = 50;
        worn.energyFull = 200;
        QCOMPARE(PowerSupplyReader::chargePercent(worn), std::optional<std::int64_t>(25));
        worn.energyNow = -5;
        QCOMPARE(PowerSupplyReader::chargePercent(worn), std::optional<std::int64_t>(0));
    }

    // One reader kept across passes, as the telemetry keeps it: a charger that comes and
    // goes, a battery whose figures move, and one supply leaving while another stays.
    void powerSuppliesFollowedAcrossReads()
    {
        FixtureTree tree;
        const QString bat = QStringLiteral("sys/class/power_supply/BAT0/");
        tree.write(bat + "type", "Battery\n");
        tree.write(bat + "capacity", "80\n");
        tree.write(bat + "status", "Discharging\n");
        PowerSupplyReader reader(tree.root("sys"));
        std::vector<PowerSupply> supplies = reader.read();
        QCOMPARE(supplies.size(), size_t(1));
        QCOMPARE(supplies[0].capacity, std::optional<std::int64_t>(80));

        const QString usb = QStringLiteral("sys/class/power_supply/ucsi-source-psy-USBC000:001/");
        tree.write(usb + "type", "USB\n");
        tree.write(usb + "online", "1\n");
        tree.write(bat + "capacity", "81\n");
        tree.write(bat + "status", "Charging\n");
        supplies = reader.read();
        QCOMPARE(supplies.size(), size_t(2));
        QCOMPARE(supplies[0].name, std::string("BAT0"));
        QCOMPARE(supplies[0].capacity, std::optional<std::int64_t>(81));
        QCOMPARE(supplies[0].status, std::string("Charging"));
        QCOMPARE(supplies[1].type, std::string("USB"));
        QCOMPARE(supplies[1].online, std::optional<bool>(true));

        QVERIFY(QDir(tree.path(usb)).removeRecursively());
        tree.remove(bat + "capacity");   // a driver that stops reporting a figure
        supplies = reader.read();
        QCOMPARE(supplies.size(), size_t(1));
        QVERIFY(!supplies[0].capacity);

        // Back under the same name with other figures: read as it is now.
        tree.write(usb + "type", "USB\n");
        tree.write(usb + "online", "0\n");
        supplies = reader.read();
        QCOMPARE(supplies.size(), size_t(2));
        QCOMPARE(supplies[1].online, std::optional<bool>(false));

        // Every supply gone: an empty listing, and the next one finds a newcomer.
        QVERIFY(QDir(tree.path(usb)).removeRecursively());
        QVERIFY(QDir(tree.path(bat)).removeRecursively());
        QVERIFY(reader.read().empty());
        tree.write(QStringLiteral("sys/class/power_supply/AC/type"), "Mains\n");
        supplies = reader.read();
        QCOMPARE(supplies.size(), size_t(1));
        QCOMPARE(supplies[0].name, std::string("AC"));
    }

    // Read as the telemetry does, every second: the class directory and the attribute
    // files are held, not opened again on each read.
    void realSuppliesHoldTheirDescriptors()
    {
        if (!QFileInfo(QStringLiteral("/sys/class/power_supply")).isDir())
            QSKIP("no /sys/class/power_supply here");
        const auto descriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
        const auto before = descriptors();
        PowerSupplyReader reader("/sys");
        const std::vector<PowerSupply> first = reader.read();
        const auto held = descriptors();
        QVERIFY(held > before);   // at least the directory
        for (int i = 0; i < 3; ++i) {
            const std::vector<PowerSupply> again = reader.read();
            QCOMPARE(again.size(), first.size());
            QCOMPARE(descriptors(), held);
        }
    }

    void vmstatCounters()
    {
        const VmStat s = VmStatReader::parse("nr_free_pages 100\npgpgin 123456\npgpgout 7890\n"
                                             "pswpin 12\npswpout 345\npgpgin_other 1\npgfault 99999999\n");
        QVERIFY(s.valid);
        QCOMPARE(s.pagedInKiB, 123456ull);
        QCOMPARE(s.pagedOutKiB, 7890ull);
        QVERIFY(s.swapValid);
        QCOMPARE(s.swappedInPages, 12ull);
        QCOMPARE(s.swappedOutPages, 345ull);
    }

    void vmstatPartialOrGarbled()
    {
        // A kernel without swap support has no pswp lines: paging still counts.
        VmStat s = VmStatReader::parse("pgpgin 10\npgpgout 20\n");
        QVERIFY(s.valid);
        QVERIFY(!s.swapValid);

        // One of the pair alone, or a value that is no number, is not a reading.
        s = VmStatReader::parse("pgpgin 10\npgpgout lots\npswpin 1\n");
        QVERIFY(!s.valid);
        QVERIFY(!s.swapValid);
        QVERIFY(!VmStatReader::parse("").valid);
    }

    void vmstatFromFile()
    {
        FixtureTree tree;
        VmStatReader missing(tree.root("proc"));
        QVERIFY(!missing.read().valid);

        tree.write("proc/vmstat", "pgpgin 5\npgpgout 6\npswpin 7\npswpout 8\n");
        VmStatReader reader(tree.root("proc"));
        const VmStat s = reader.read();
        QVERIFY(s.valid && s.swapValid);
        QCOMPARE(s.pagedOutKiB, 6ull);
        QCOMPARE(s.swappedOutPages, 8ull);
    }

    void raplEnergyAcrossWrap_data()
    {
        QTest::addColumn<quint64>("before");
        QTest::addColumn<quint64>("after");
        QTest::addColumn<quint64>("range");
        QTest::addColumn<bool>("known");
        QTest::addColumn<quint64>("energy");
        QTest::newRow("rising") << quint64(1000) << quint64(4500) << quint64(262143328850) << true << quint64(3500);
        QTest::newRow("unchanged") << quint64(7) << quint64(7) << quint64(100) << true << quint64(0);
        QTest::newRow("wrapped") << quint64(262143000000) << quint64(671150) << quint64(262143328850) << true
                                 << quint64(328850 + 671150);
        QTest::newRow("wrapped to zero") << quint64(90) << quint64(0) << quint64(100) << true << quint64(10);
        QTest::newRow("back without a range") << quint64(500) << quint64(100) << quint64(0) << false << quint64(0);
        QTest::newRow("beyond its range") << quint64(500) << quint64(100) << quint64(400) << false << quint64(0);
    }
    void raplEnergyAcrossWrap()
    {
        QFETCH(quint64, before);
        QFETCH(quint64, after);
        QFETCH(quint64, range);
        QFETCH(bool, known);
        QFETCH(quint64, energy);
        const std::optional<std::uint64_t> uj = RaplReader::energyBetween(before, after, range);
        QCOMPARE(uj.has_value(), known);
        if (known)
            QCOMPARE(quint64(*uj), energy);
    }

    // Only the top-level zones with a readable counter count; subzones, the MMIO twin of a
    // package and unreadable counters are left out.
    void raplZonesFromSysfs()
    {
        FixtureTree tree;
        auto zone = [&](const QString &dir, const QByteArray &name, const QByteArray &energy, const QByteArray &range) {
            tree.write("sys/class/powercap/" + dir + "/name", name + "\n");
            if (!energy.isNull())
                tree.write("sys/class/powercap/" + dir + "/energy_uj", energy + "\n");
            if (!range.isNull())
                tree.write("sys/class/powercap/" + dir + "/max_energy_range_uj", range + "\n");
        };
        QVERIFY(RaplReader(tree.root("sys")).read().empty());

        zone("intel-rapl:1", "package-1", "2000", "9000");
        zone("intel-rapl:0", "package-0", "1000", QByteArray());
        zone("intel-rapl:0:0", "core", "500", "9000");
        zone("intel-rapl-mmio:0", "package-0", "1000", "9000");
        zone("intel-rapl:2", "dram", "garbage", "9000");
        tree.mkdir("sys/class/powercap/intel-rapl");   // the control type itself
        RaplReader reader(tree.root("sys"));
        const std::vector<RaplZone> zones = reader.read();
        QCOMPARE(zones.size(), size_t(2));
        QCOMPARE(QByteArray::fromStdString(zones[0].zone), QByteArray("intel-rapl:0"));
        QCOMPARE(QByteArray::fromStdString(zones[0].name), QByteArray("package-0"));
        QCOMPARE(zones[0].energyUj, 1000ull);
        QCOMPARE(zones[0].maxRangeUj, 0ull);
        QCOMPARE(zones[1].energyUj, 2000ull);
        QCOMPARE(zones[1].maxRangeUj, 9000ull);

        // A counter that can no longer be read (root-only) drops out on the next reading.
        tree.remove("sys/class/powercap/intel-rapl:1/energy_uj");
        QCOMPARE(reader.read().size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestPowerAndPagingReaders)
#include "tst_PowerAndPagingReaders.moc"

#include "app/Preferences.h"
#include "platform/MachineInfoReader.h"
#include "support/FixtureTree.h"
#include "telemetry/MachineHardwareInfo.h"
#include "telemetry/SystemStatsProvider.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTest>

class TestMachineHardwareInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modelNames_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("name");
        QTest::newRow("MacBookPro18,3") << "MacBookPro18,3" << "MacBook Pro";
        QTest::newRow("MacBookAir10,1") << "MacBookAir10,1" << "MacBook Air";
        QTest::newRow("MacStudio") << "MacStudio1,1" << "Mac Studio";
        QTest::newRow("MacMini") << "MacMini9,1" << "Mac mini";
        QTest::newRow("MacPro") << "MacPro7,1" << "Mac Pro";
        QTest::newRow("iMac") << "iMac21,1" << "iMac";
        QTest::newRow("no family prefix") << "Mac14,13" << "Mac14,13";
        QTest::newRow("a PC") << "ThinkPad X1 Carbon Gen 9" << "ThinkPad X1 Carbon Gen 9";
        QTest::newRow("firmware names none") << "" << "Unknown model";
    }
    void modelNames()
    {
        QFETCH(QString, identifier);
        QTEST(MachineHardwareInfo::modelNameFor(identifier), "name");
    }

    void processorTables_data()
    {
        QTest::addColumn<QString>("brand");
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("bandwidth");
        QTest::newRow("M3 Max") << "Apple M3 Max" << "16-Core Apple Neural Engine (Up to 15.8 TOPS)" << "300 - 400 GB/s";
        QTest::newRow("M2 Ultra") << "Apple M2 Ultra" << "32-Core Apple Neural Engine (Up to 31.6 TOPS)" << "100 GB/s";
        QTest::newRow("M1") << "Apple M1" << "16-Core Apple Neural Engine" << "68.25 GB/s";
        QTest::newRow("M1 Pro") << "Apple M1 Pro" << "16-Core Apple Neural Engine (Up to 15.8 TOPS)" << "200 GB/s";
        QTest::newRow("M4 Pro") << "Apple M4 Pro" << "16-Core Apple Neural Engine (Up to 15.8 TOPS)" << "273 GB/s";
        QTest::newRow("M4 Max") << "Apple M4 Max" << "16-Core Apple Neural Engine (Up to 15.8 TOPS)" << "410 GB/s";
        QTest::newRow("Intel") << "Intel(R) Core(TM) i7-1185G7 @ 3.00GHz" << "Intel CPU (No Apple Neural Engine)" << "Dual-Channel System RAM";
        QTest::newRow("AMD") << "AMD Ryzen 9 7950X 16-Core Processor" << "AMD CPU (No Apple Neural Engine)" << "Dual-Channel System RAM";
        QTest::newRow("ARM board") << "Qualcomm Snapdragon X Elite" << "Qualcomm CPU (No Apple Neural Engine)" << "Dual-Channel System RAM";
        QTest::newRow("empty") << "" << "CPU (No Apple Neural Engine)" << "Dual-Channel System RAM";
    }
    void processorTables()
    {
        QFETCH(QString, brand);
        QTEST(MachineHardwareInfo::neuralEngineFor(brand), "engine");
        QTEST(MachineHardwareInfo::memoryBandwidthFor(brand), "bandwidth");
    }

    void serialForm()
    {
        static const QRegularExpression form(QStringLiteral("^KTV-[0-9]{1,8}-SYS$"));
        for (const QString &id : {QStringLiteral("MacBookPro18,3"), QString(), QStringLiteral("Standard PC (Q35 + ICH9, 2009)")}) {
            const QString serial = MachineHardwareInfo::serialNumberFor(id);
            QVERIFY2(form.match(serial).hasMatch(), qPrintable(serial));
            QCOMPARE(MachineHardwareInfo::serialNumberFor(id), serial);   // stable within a run
        }
    }

    // The copied report: twelve lines in a fixed order, nothing after the closing rule.
    void specReportLines()
    {
        MachineHardwareInfo info;
        info.modelName = QStringLiteral("MacBook Pro");
        info.modelIdentifier = QStringLiteral("MacBookPro18,3");
        info.processor = QStringLiteral("Apple M1 Pro");
        info.osVersion = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
        info.cpuCores = 10;
        info.performanceCores = 4;
        info.efficiencyCores = 6;
        info.gpuCores = 20;
        info.neuralEngine = MachineHardwareInfo::neuralEngineFor(info.processor);
        info.physicalMemoryGB = 16;
        info.memoryBandwidth = MachineHardwareInfo::memoryBandwidthFor(info.processor);
        info.serialNumber = QStringLiteral("KTV-12345678-SYS");

        const QString report = info.specReport();
        QVERIFY(!report.endsWith(u'\n'));
        const QStringList lines = report.split(u'\n');
        QCOMPARE(lines, (QStringList{
            "=== QUILLMOOR MACHINE DIAGNOSTIC REPORT ===",
            "Model Name: MacBook Pro",
            "Model Identifier: MacBookPro18,3",
            "Processor: Apple M1 Pro",
            "OS Version: Debian GNU/Linux 12 (bookworm)",
            "Total Cores: 10 Cores (Performance: 4 / Efficiency: 6)",
            "GPU Cores: 20 Cores",
            "Neural Engine: 16-Core Apple Neural Engine (Up to 15.8 TOPS)",
            "Physical Memory: 16.0 GB",
            "Memory Bandwidth: 200 GB/s",
            "Serial ID: KTV-12345678-SYS",
            "============================================",
        }));
        QCOMPARE(lines.last().size(), 44);

        // A size that is not whole keeps its digits, without padding or rounding.
        info.physicalMemoryGB = 15.5;
        QVERIFY(info.specReport().contains("\nPhysical Memory: 15.5 GB\n"));
        info.physicalMemoryGB = 7.7568359375;
        QVERIFY(info.specReport().contains("\nPhysical Memory: 7.7568359375 GB\n"));
    }

    void readsTheMachine()
    {
        FixtureTree tree;
        tree.write("sys/class/dmi/id/product_name", "20XW0055US\n");
        tree.write("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: 11th Gen Intel(R) Core(TM) i7-1185G7 @ 3.00GHz  \n\n"
                                   "processor\t: 1\nmodel name\t: ignored\n");
        tree.write("proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
        tree.write("proc/meminfo", "MemTotal: 16777216 kB\nMemAvailable: 8388608 kB\n");
        tree.write("etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n");
        tree.write("sys/devices/system/cpu/online", "0-7\n");
        tree.write("sys/devices/cpu_core/cpus", "0-3\n");
        tree.write("sys/devices/cpu_atom/cpus", "4-7\n");

        const MachineInfoReader reader(tree.root("sys"), tree.root("proc"), tree.root("etc"));
        QCOMPARE(reader.modelIdentifier(), std::string("20XW0055US"));
        QCOMPARE(reader.osPrettyName(), std::string("Debian GNU/Linux 12 (bookworm)"));

        Preferences prefs(new QSettings(tree.path("prefs.conf"), QSettings::IniFormat));
        TelemetrySources sources;
        sources.procRoot = tree.root("proc");
        sources.sysRoot = tree.root("sys");
        sources.etcRoot = tree.root("etc");
        sources.homePath = tree.root("");
        SystemStatsProvider stats(prefs, sources, SystemStatsProvider::Polling::Manual);
        const MachineHardwareInfo info = stats.getHardwareInfo();
        QCOMPARE(info.modelIdentifier, QStringLiteral("20XW0055US"));
        QCOMPARE(info.modelName, QStringLiteral("20XW0055US"));
        QCOMPARE(info.processor, QStringLiteral("11th Gen Intel(R) Core(TM) i7-1185G7 @ 3.00GHz"));
        QCOMPARE(info.neuralEngine, QStringLiteral("Intel CPU (No Apple Neural Engine)"));
        QCOMPARE(info.memoryBandwidth, QStringLiteral("Dual-Channel System RAM"));
        QCOMPARE(info.physicalMemoryGB, 16.0);
        QCOMPARE(info.cpuCores, 8);
        QCOMPARE(info.performanceCores, 4);
        QCOMPARE(info.efficiencyCores, 4);
        QCOMPARE(info.gpuCores, 16);
        QCOMPARE(info.osVersion, QStringLiteral("Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64"));
        QVERIFY(info.serialNumber.startsWith(QLatin1String("KTV-")));
        QVERIFY(info.specReport().contains("\nTotal Cores: 8 Cores (Performance: 4 / Efficiency: 4)\n"));

        // Cores all alike: every one is a performance core and none is an efficiency core.
        FixtureTree uniform;
        uniform.write("sys/devices/system/cpu/online", "0-1\n");
        TelemetrySources plain;
        plain.procRoot = uniform.root("proc");
        plain.sysRoot = uniform.root("sys");
        plain.etcRoot = uniform.root("etc");
        plain.homePath = uniform.root("");
        SystemStatsProvider plainStats(prefs, plain, SystemStatsProvider::Polling::Manual);
        const MachineHardwareInfo two = plainStats.getHardwareInfo();
        QCOMPARE(two.cpuCores, 2);
        QCOMPARE(two.performanceCores, 2);
        QCOMPARE(two.efficiencyCores, 0);
        QVERIFY(two.specReport().contains("\nTotal Cores: 2 Cores (Performance: 2 / Efficiency: 0)\n"));

        // An ARM board: the device tree names it, cpuinfo has no model name.
        FixtureTree arm;
        arm.write("sys/firmware/devicetree/base/model", QByteArray("Raspberry Pi 4 Model B Rev 1.4\0", 31));
        arm.write("proc/cpuinfo", "processor\t: 0\nBogoMIPS\t: 108.00\nCPU implementer\t: 0x41\n\nHardware\t: BCM2835\n");
        const MachineInfoReader board(arm.root("sys"), arm.root("proc"), arm.root("etc"));
        QCOMPARE(board.modelIdentifier(), std::string("Raspberry Pi 4 Model B Rev 1.4"));
        QCOMPARE(board.processorName(), std::string("BCM2835"));
        QCOMPARE(board.osPrettyName(), std::string());
    }

    void osReleaseQuoting()
    {
        QCOMPARE(MachineInfoReader::osReleaseValue("PRETTY_NAME='Arch Linux'\n", "PRETTY_NAME"), std::string("Arch Linux"));
        QCOMPARE(MachineInfoReader::osReleaseValue("PRETTY_NAME=Fedora\n", "PRETTY_NAME"), std::string("Fedora"));
        QCOMPARE(MachineInfoReader::osReleaseValue("PRETTY_NAME=\"A \\\"quoted\\\" name\"\n", "PRETTY_NAME"),
                 std::string("A \"quoted\" name"));
        QCOMPARE(MachineInfoReader::osReleaseValue("PRETTY_NAMES=no\nNAME=x\n", "PRETTY_NAME"), std::string());
    }
};

QTEST_GUILESS_MAIN(TestMachineHardwareInfo)
#include "tst_MachineHardwareInfo.moc"
